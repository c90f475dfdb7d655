# The progress window: its portable half over recording fakes (both trees),
# and the real dialog under Wine within the client's libraries and
# resources.
hv_test(test_diprog
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_diprog.cpp ${CMAKE_CURRENT_LIST_DIR}/prog_fakes.cpp
    LIBS hv_prog_di)
hv_fuzz(fuzz_progdetails
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_progdetails.cpp ${CMAKE_CURRENT_LIST_DIR}/prog_fakes.cpp
    LIBS hv_prog_di)
if(HV_WIN32)
    # The client's libraries call each other both ways: link them as one group.
    get_property(prog_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," prog_app_group ${prog_app_libs})
    hv_test(test_ddprog
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ddprog.cpp
        $<TARGET_OBJECTS:hv_resources_rc>
        LIBS "$<LINK_GROUP:RESCAN,${prog_app_group}>" hv_openssl hv_zlib ws2_32)
endif()
