# Keys from xdotool to the wire against a plain window forwarding its keys
# (Wine).
if(HV_WIN32)
    get_property(keylat_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," keylat_app_group ${keylat_app_libs})
    hv_bench(bench_keylat WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_keylat.cpp
        LIBS "$<LINK_GROUP:RESCAN,${keylat_app_group}>" hv_gsoap hv_openssl hv_zlib ws2_32)
endif()
