# The server's properties through the engine's dispatch and the plug-in
# registry.
hv_fuzz(fuzz_xprop SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_xprop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../xde/recording_device.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../xde/engine_fakes.cpp
    LIBS hv_xde_di hv_ui_di hv_fb hv_core_di hv_zlib)
if(TARGET fuzz_xprop)
    target_include_directories(fuzz_xprop PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
