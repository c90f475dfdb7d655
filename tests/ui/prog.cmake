# The progress window: its portable half over recording fakes (both trees),
# and the real dialog under Wine with stand-ins for what it calls.
hv_test(test_diprog
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_diprog.cpp ${CMAKE_CURRENT_LIST_DIR}/prog_fakes.cpp
    LIBS hv_prog_di)
if(HV_WIN32)
    hv_test(test_ddprog
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ddprog.cpp
        ${PROJECT_SOURCE_DIR}/src/resources/progress.rc
        LIBS hv_prog_pending hv_prog_dd hv_prog_di hv_core_dd)
endif()
hv_fuzz(fuzz_progdetails
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_progdetails.cpp ${CMAKE_CURRENT_LIST_DIR}/prog_fakes.cpp
    LIBS hv_prog_di)
