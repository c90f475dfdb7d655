# Connection set-ups and throughput through real proxies under Wine, against
# curl through the same proxies.
if(HV_WIN32)
    get_property(routes_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," routes_app_group ${routes_app_libs})
    hv_bench(bench_routes WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_routes.cpp LIBS
        "$<LINK_GROUP:RESCAN,${routes_app_group}>" hv_openssl hv_zlib ws2_32)
endif()
