# Device-channel replies against plain zlib (host).
hv_bench(bench_iochan SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_iochan.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/device_fakes.cpp LIBS hv_devices_di hv_core_di)
