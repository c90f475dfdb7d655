# The TLS layer over loopback under Wine: handshakes and bulk transfer
# against the host's openssl s_time and speed.
if(HV_WIN32)
    get_property(tls_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," tls_app_group ${tls_app_libs})
    hv_bench(bench_tls WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_tls.cpp
        $<TARGET_OBJECTS:hv_resources_rc>
        LIBS "$<LINK_GROUP:RESCAN,${tls_app_group}>" hv_gsoap hv_openssl hv_zlib ws2_32 crypt32)
endif()
