# The terminal engine under Wine: a dump from the T-AIP peer, painted
# against unpainted.
if(HV_WIN32)
    get_property(tde_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," tde_app_group ${tde_app_libs})
    hv_bench(bench_taip WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_taip.cpp
        LIBS "$<LINK_GROUP:RESCAN,${tde_app_group}>" hv_gsoap hv_openssl hv_zlib ws2_32)
endif()
