# The IO request channel, device requests and the serial class.
# Each runs under a memory limit: input that makes the client hold far more
# than it received fails the run.
foreach(target fuzz_io_channel fuzz_iaip fuzz_serial)
    hv_fuzz(${target} RSS_MB 256 SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/device_fakes.cpp LIBS hv_devices_di hv_core_di)
    if(TARGET ${target})
        target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    endif()
endforeach()
# Drive mapping requests over the in-memory file layer.
hv_fuzz(fuzz_file_requests SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_file_requests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp ${CMAKE_CURRENT_LIST_DIR}/../fakes/cdm_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/device_fakes.cpp
    LIBS hv_devices_di hv_core_di)
if(TARGET fuzz_file_requests)
    target_include_directories(fuzz_file_requests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
# Audio requests over the scripted output device.
hv_fuzz(fuzz_audio_requests SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_audio_requests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp ${CMAKE_CURRENT_LIST_DIR}/../fakes/audio_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/device_fakes.cpp LIBS hv_devices_di hv_core_di)
if(TARGET fuzz_audio_requests)
    target_include_directories(fuzz_audio_requests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
# The print channel.
hv_fuzz(fuzz_paip SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_paip.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/print_fakes.cpp LIBS hv_devices_di hv_session_di hv_core_di)
if(TARGET fuzz_paip)
    target_include_directories(fuzz_paip PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
# Smart-card calls on the scripted PC/SC service.
hv_fuzz(fuzz_scard_calls RSS_MB 256 SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_scard_calls.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../devices/fake_pcsc.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/device_fakes.cpp LIBS hv_devices_di hv_core_di)
if(TARGET fuzz_scard_calls)
    target_include_directories(fuzz_scard_calls PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
# The print queue and its channel under any order of requests, connections,
# messages, time, the user's pause and the session's end, over days of a few
# hundred steps (two bytes each).
hv_fuzz(fuzz_print_orders MAX_LEN 800 SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_print_orders.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/print_fakes.cpp LIBS hv_devices_di hv_session_di hv_core_di)
if(TARGET fuzz_print_orders)
    target_include_directories(fuzz_print_orders PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
