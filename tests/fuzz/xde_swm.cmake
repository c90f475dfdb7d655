# The X display engine in seamless sessions: the engine's run with frame
# events, drags and the focus hand-over's timers.
hv_fuzz(fuzz_xde_swm SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_xde_engine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../xde/recording_device.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../xde/engine_fakes.cpp
    LIBS hv_xde_di hv_ui_di hv_fb hv_core_di hv_zlib)
if(TARGET fuzz_xde_swm)
    target_include_directories(fuzz_xde_swm PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(fuzz_xde_swm PRIVATE HV_FUZZ_FLAGS2=1)
endif()
