# The X display engine over the recording device.
foreach(target fuzz_xde_engine fuzz_xde_property)
    hv_fuzz(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../xde/recording_device.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../xde/engine_fakes.cpp
        LIBS hv_xde_di hv_ui_di hv_fb hv_core_di hv_zlib)
    if(TARGET ${target})
        target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    endif()
endforeach()
