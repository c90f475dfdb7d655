# The X display's GDI mirror: mirrored fills against fb plus PatBlt (Wine).
if(HV_WIN32)
    get_property(xmirror_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," xmirror_app_group ${xmirror_app_libs})
    hv_bench(bench_xmirror WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_xmirror.cpp
        LIBS "$<LINK_GROUP:RESCAN,${xmirror_app_group}>" hv_gsoap hv_openssl hv_zlib ws2_32)
endif()
