# Device-channel replies against plain zlib (host).
hv_bench(bench_iochan SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_iochan.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/device_fakes.cpp LIBS hv_devices_di hv_core_di)
# Device-channel replies to io_peer and serial reads from a paced line
# (Wine), through the client's own channel factory.
if(HV_WIN32)
    get_property(iochan_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," iochan_app_group ${iochan_app_libs})
    hv_bench(bench_iochan_wine WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_iochan_wine.cpp
        LIBS "$<LINK_GROUP:RESCAN,${iochan_app_group}>" hv_gsoap hv_openssl hv_zlib ws2_32)
endif()
