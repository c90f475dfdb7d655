# Display scaling on real frames under Wine, each run on an Xvfb of its own
# so that reading the window back sees no other test's windows.
if(HV_WIN32)
    get_property(scale_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," scale_app_group ${scale_app_libs})
    add_executable(test_ui_scale ${CMAKE_CURRENT_LIST_DIR}/test_ddscale.cpp)
    target_link_libraries(test_ui_scale PRIVATE "$<LINK_GROUP:RESCAN,${scale_app_group}>"
        hv_openssl hv_zlib ws2_32 GTest::gmock hv_gtest_main)
    target_include_directories(test_ui_scale PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_options(test_ui_scale PRIVATE -mconsole)
    foreach(depth 8 16 24)
        add_test(NAME test_ui_scale.depth${depth}
            COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-at-depth ${depth} $<TARGET_FILE:test_ui_scale>)
        set_tests_properties(test_ui_scale.depth${depth} PROPERTIES TIMEOUT 300)
    endforeach()
    # A screenshot of a scaled view kept with the test output.
    add_test(NAME test_ui_scale.screenshot
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/scale-shot.sh $<TARGET_FILE:test_ui_scale>
        ${CMAKE_CURRENT_BINARY_DIR}/scaled_view.png)
    set_tests_properties(test_ui_scale.screenshot PROPERTIES TIMEOUT 120)
    # The prefix's LogPixels changes for the run: nothing else may start
    # a Wine process meanwhile.
    add_test(NAME test_ui_scale.logpixels144
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/scale-dpi.sh $<TARGET_FILE:test_ui_scale>)
    set_tests_properties(test_ui_scale.logpixels144 PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE)
endif()
