# The clipboard relay of the X displays.
hv_fuzz(fuzz_xclip SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_xclip.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../xde/recording_device.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../xde/engine_fakes.cpp
    LIBS hv_xde_di hv_ui_di hv_fb hv_core_di hv_zlib)
if(TARGET fuzz_xclip)
    target_include_directories(fuzz_xclip PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
