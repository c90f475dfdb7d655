# Dialogs, driven by a script at their initialisation.
if(HV_WIN32)
    # The dialogs use the name service and the colour map, which reach into
    # the rest of the client: link its libraries as one group.
    get_property(dlg_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," dlg_app_group ${dlg_app_libs})
    set(dlg_libs hv_ui_dlg "$<LINK_GROUP:RESCAN,${dlg_app_group}>" hv_gsoap hv_openssl hv_zlib
        ws2_32)
    hv_test(test_ui_dlg
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/dlg_script.cpp
        ${CMAKE_CURRENT_LIST_DIR}/test_dddlg_login.cpp ${CMAKE_CURRENT_LIST_DIR}/test_dddlg_other.cpp
        $<TARGET_OBJECTS:hv_resources_rc>
        LIBS ${dlg_libs})
    target_include_directories(test_ui_dlg PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    add_test(NAME test_ui_dlg.print_setup COMMAND test_ui_dlg --gtest_filter=PrintSetup.*)
    set_tests_properties(test_ui_dlg.print_setup PROPERTIES TIMEOUT 300
        ENVIRONMENT HV_TEST_SPOOLER=1 RESOURCE_LOCK wine_spooler)

    # Shows every dialog for tools/dialog-shots (not a test).
    add_executable(dialog_shots ${CMAKE_CURRENT_LIST_DIR}/dialog_shots.cpp
        $<TARGET_OBJECTS:hv_resources_rc>)
    target_link_libraries(dialog_shots PRIVATE ${dlg_libs})
    target_include_directories(dialog_shots PRIVATE ${PROJECT_SOURCE_DIR}/src)
    target_link_options(dialog_shots PRIVATE -mconsole)
endif()
