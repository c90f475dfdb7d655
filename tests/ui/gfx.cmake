# Graphics wrappers, colour maps, monitors and device-independent bitmaps.
hv_test(test_ui_gfx_di
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_digdi.cpp ${CMAKE_CURRENT_LIST_DIR}/test_dibutil.cpp
    LIBS hv_ui_gfx_di)
hv_fuzz(fuzz_dibutil SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_dibutil.cpp LIBS hv_ui_gfx_di)
if(HV_WIN32)
    # The display-engine manager reaches into the channel framework, which
    # calls the other client libraries: link them all as one group.
    get_property(gfx_app_libs GLOBAL PROPERTY HV_APP_LIBS)
    string(JOIN "," gfx_app_group ${gfx_app_libs})
    hv_test(test_ui_gfx
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_ddgdi.cpp ${CMAKE_CURRENT_LIST_DIR}/test_dddib.cpp
        ${CMAKE_CURRENT_LIST_DIR}/test_ddmultimon.cpp ${CMAKE_CURRENT_LIST_DIR}/test_ddcolor.cpp
        ${CMAKE_CURRENT_LIST_DIR}/test_dddemgr.cpp
        LIBS hv_ui_gfx "$<LINK_GROUP:RESCAN,${gfx_app_group}>" hv_gsoap hv_openssl hv_zlib ws2_32)
    # Drawing and palettes also run on screens of 8 and 16 bits (8 gives a
    # real palette device); each run has its own Xvfb at that depth.
    foreach(depth 8 16)
        add_test(NAME test_ui_gfx.depth${depth}
            COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-at-depth ${depth} $<TARGET_FILE:test_ui_gfx>)
        set_tests_properties(test_ui_gfx.depth${depth} PROPERTIES TIMEOUT 300)
    endforeach()
    # A bitmap printed to a PDF printer of a private CUPS server.
    add_test(NAME test_ui_gfx.print_dib
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/print-dib.sh $<TARGET_FILE:test_ui_gfx>)
    # Alone: a Wine process that loads the spooler meanwhile (the client's
    # start-up probes the default printer) brings the printer list back in
    # line with the default CUPS server and drops this run's queue.
    set_tests_properties(test_ui_gfx.print_dib PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77
        RUN_SERIAL TRUE)
endif()
