# The logger's file and window under Wine.
if(HV_WIN32)
    get_property(log_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," log_app_group ${log_app_libs})
    hv_bench(bench_log WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_log.cpp
        $<TARGET_OBJECTS:hv_resources_rc>
        LIBS "$<LINK_GROUP:RESCAN,${log_app_group}>" hv_gsoap hv_openssl hv_zlib ws2_32)
endif()
