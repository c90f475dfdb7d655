# Framed messages through the buffer layer (host), and over loopback under
# Wine (a plain program that prints its figures).
hv_bench(bench_diio SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_diio.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp LIBS hv_core_di)
if(TARGET bench_diio)
    target_include_directories(bench_diio PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
if(HV_WIN32)
    add_executable(bench_loopback ${CMAKE_CURRENT_LIST_DIR}/bench_loopback.cpp)
    target_link_libraries(bench_loopback PRIVATE
        "$<LINK_GROUP:RESCAN,hv_net_dd,hv_tde_dd,hv_ui_dd,hv_core_dd,hv_net_di,hv_tde_di,hv_ui_di,hv_core_di>"
        hv_openssl hv_zlib ws2_32)
    target_compile_definitions(bench_loopback PRIVATE HV_PEERS_DIR="${PROJECT_SOURCE_DIR}/tests/peers")
    target_link_options(bench_loopback PRIVATE -mconsole)
endif()
