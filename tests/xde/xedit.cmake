# The X display's Edit menu, print path and device services on a real
# window (Wine), the printed page checked against a PDF printer.
if(HV_WIN32)
    hv_test(test_xde_edit SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ddxedit.cpp
        $<TARGET_OBJECTS:hv_resources_rc>
        LIBS "$<LINK_GROUP:RESCAN,${xde_app_group}>" hv_openssl hv_zlib ws2_32 winspool
        LOCK clipboard)
    add_test(NAME test_xde_edit.print
        COMMAND ${PROJECT_SOURCE_DIR}/tests/ui/print-dib.sh $<TARGET_FILE:test_xde_edit> MyDoc)
    add_test(NAME test_xde_edit.drag
        COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-with-keymap us $<TARGET_FILE:test_xde_edit>
            --gtest_filter=Edit.Dragged*)
    # Focus and the foreground window belong to the one Wine desktop, which
    # every test process shares: cases that type or drag run alone.
    set_tests_properties(test_xde_edit.drag PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
    set_tests_properties(test_xde_edit.print PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL TRUE)
endif()
# Keys and pointer end to end under three keymaps.
if(HV_WIN32)
    hv_test(test_xde_input SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_xde_input.cpp
        LIBS "$<LINK_GROUP:RESCAN,${xde_app_group}>" hv_openssl hv_zlib ws2_32)
    foreach(map us fr de)
        add_test(NAME test_xde_input.${map}
            COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-with-keymap ${map} $<TARGET_FILE:test_xde_input>)
        set_tests_properties(test_xde_input.${map} PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
    endforeach()
endif()
