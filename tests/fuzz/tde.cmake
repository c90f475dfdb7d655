# The terminal engine's reader, handlers and painter.
hv_fuzz(fuzz_taip SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_taip.cpp
    ${PROJECT_SOURCE_DIR}/tests/tde/td_recorder.cpp ${PROJECT_SOURCE_DIR}/tests/fakes/chan_fakes.cpp
    LIBS hv_tde_di hv_core_di)
if(TARGET fuzz_taip)
    target_include_directories(fuzz_taip PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
