# Seamless windows on the Windows side, included by tests/xde/CMakeLists.txt.
if(HV_WIN32)
    # Seamless windows on real windows: taskbar calls (recorded), styles,
    # the drag outline read back from the screen, stacking and activation.
    hv_test(test_xde_swm_win SOURCES test_ddxswm.cpp
        LIBS "$<LINK_GROUP:RESCAN,${xde_app_group}>" hv_openssl hv_zlib ws2_32 SERIAL)
endif()
if(HV_WIN32)
    # A seamless session of the fake server end to end: what a second
    # process sees of the client's windows.
    add_executable(swm_observer swm_observer.cpp)
    target_link_libraries(swm_observer PRIVATE user32)
    target_link_options(swm_observer PRIVATE -mconsole)
    hv_test(test_xde_swm_session SOURCES test_ddxswm_session.cpp
        LIBS "$<LINK_GROUP:RESCAN,${xde_app_group}>" hv_openssl hv_zlib ws2_32)
    add_dependencies(test_xde_swm_session swm_observer)
    add_dependencies(test_xde_swm_win swm_observer)
endif()
if(HV_WIN32)
    # The same session in the shell's desktop, with its taskbar.
    add_test(NAME test_xde_swm_session.shell
        COMMAND ${CMAKE_COMMAND} -E env HV_SWM_SHELL=1 ${PROJECT_SOURCE_DIR}/tools/wine-exec
            explorer /desktop=shell,1280x1024 $<TARGET_FILE_NAME:test_xde_swm_session>
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(test_xde_swm_session.shell PROPERTIES TIMEOUT 300
        PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test" FAIL_REGULAR_EXPRESSION "FAILED")
endif()
if(HV_WIN32)
    # The fake server as the server's window manager; a second process and
    # the real pointer act on the client's windows.
    hv_test(test_xde_swm_wm SOURCES test_ddxswm_wm.cpp
        LIBS "$<LINK_GROUP:RESCAN,${xde_app_group}>" hv_openssl hv_zlib ws2_32
        LOCK clipboard SERIAL)
    add_dependencies(test_xde_swm_wm swm_observer)
endif()
