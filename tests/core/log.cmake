hv_test(test_log SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_dilog.cpp LIBS hv_log)
