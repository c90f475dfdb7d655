# Routes, the fetch, SOCKS 5, the password cache and the login-dialog frames,
# each over the faked socket and services of tests/fakes.
foreach(target fuzz_http_reply fuzz_connect_reply fuzz_socks fuzz_route_spec fuzz_passcache)
    hv_fuzz(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/route_fakes.cpp LIBS hv_net_di hv_core_di)
    if(TARGET ${target})
        target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    endif()
endforeach()
hv_fuzz(fuzz_laip SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_laip.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp ${CMAKE_CURRENT_LIST_DIR}/../fakes/laip_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/route_fakes.cpp LIBS hv_net_di hv_core_di)
if(TARGET fuzz_laip)
    target_include_directories(fuzz_laip PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
# Web-service replies through the generated reader and the call road:
hv_fuzz(fuzz_ws_reply SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_ws_reply.cpp LIBS hv_net_ws)
if(TARGET fuzz_ws_reply)
    target_include_directories(fuzz_ws_reply PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
