# The IO request channel, device requests and the serial class.
foreach(target fuzz_io_channel fuzz_iaip fuzz_serial)
    hv_fuzz(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/device_fakes.cpp LIBS hv_devices_di hv_core_di)
    if(TARGET ${target})
        target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    endif()
endforeach()
# Smart-card calls on the scripted PC/SC service.
hv_fuzz(fuzz_scard_calls SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_scard_calls.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../devices/fake_pcsc.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/device_fakes.cpp LIBS hv_devices_di hv_core_di)
if(TARGET fuzz_scard_calls)
    target_include_directories(fuzz_scard_calls PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
