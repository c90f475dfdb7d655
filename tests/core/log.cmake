hv_test(test_log SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_dilog.cpp LIBS hv_log)
if(HV_WIN32)
    # A zone named the way the system names it, not in the C runtime's syntax.
    add_test(NAME test_log.zone_named_tz
        COMMAND test_log --gtest_filter=LogEntry.StampsTheWindowsLocalTime)
    set_tests_properties(test_log.zone_named_tz PROPERTIES TIMEOUT 300
        ENVIRONMENT "TZ=Europe/Berlin")
endif()
