# The IO request channel, device requests and the serial class.
foreach(target fuzz_io_channel fuzz_iaip fuzz_serial)
    hv_fuzz(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/device_fakes.cpp LIBS hv_devices_di hv_core_di)
    if(TARGET ${target})
        target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    endif()
endforeach()
# The print channel.
hv_fuzz(fuzz_paip SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_paip.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/print_fakes.cpp LIBS hv_devices_di hv_session_di hv_core_di)
if(TARGET fuzz_paip)
    target_include_directories(fuzz_paip PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
