# Drive mapping reads and writes against plain ReadFile/WriteFile (Wine).
hv_bench(bench_cdm WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_cdm.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/device_fakes.cpp LIBS hv_devices_dd hv_devices_di hv_core_di)
if(TARGET bench_cdm)
    target_include_directories(bench_cdm PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
