# The X display's Windows side: slot-16 repaints against BitBlt (Wine).
if(HV_WIN32)
    get_property(xwin_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," xwin_app_group ${xwin_app_libs})
    hv_bench(bench_xwin WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_xwin.cpp
        LIBS "$<LINK_GROUP:RESCAN,${xwin_app_group}>" hv_gsoap hv_openssl hv_zlib ws2_32)
endif()
