# Audio output latency against a plain waveOut program (Wine, a sound device).
hv_bench(bench_audio WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_audio.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/device_fakes.cpp
    LIBS hv_devices_dd hv_devices_di hv_core_di hv_zlib winmm)
if(TARGET bench_audio)
    target_include_directories(bench_audio PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
