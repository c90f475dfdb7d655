# The clipboard relay under Wine: paste and upload against plain clipboard
# and socket transfers.
if(HV_WIN32)
    get_property(xclip_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," xclip_app_group ${xclip_app_libs})
    hv_bench(bench_xclip WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_xclip.cpp
        LIBS "$<LINK_GROUP:RESCAN,${xclip_app_group}>" hv_gsoap hv_openssl hv_zlib ws2_32)
endif()
