# Framed messages through the buffer layer (host), and over loopback under
# Wine (a plain program that prints its figures).
hv_bench(bench_diio SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_diio.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp LIBS hv_core_di)
if(TARGET bench_diio)
    target_include_directories(bench_diio PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
if(HV_WIN32)
    # The client's libraries call each other both ways: link them as one group.
    get_property(chan_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," chan_app_group ${chan_app_libs})
    hv_bench(bench_loopback WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_loopback.cpp
        LIBS "$<LINK_GROUP:RESCAN,${chan_app_group}>" hv_openssl hv_zlib ws2_32)
endif()
