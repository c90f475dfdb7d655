# Seamless windows under Wine: windows created, mapped and destroyed
# through the fake server against plain Windows calls.
if(HV_WIN32)
    get_property(swm_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," swm_app_group ${swm_app_libs})
    hv_bench(bench_swm WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_swm.cpp
        LIBS "$<LINK_GROUP:RESCAN,${swm_app_group}>" hv_gsoap hv_openssl hv_zlib ws2_32)
endif()
