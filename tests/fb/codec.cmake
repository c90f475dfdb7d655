# The image codecs of the renderer.
hv_test(test_fbcodec SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_fbrle.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_fbscale.cpp ${CMAKE_CURRENT_LIST_DIR}/test_fbdither.cpp
    LIBS hv_fbcodec)
# The decoder against FreeRDP's, an independent one (host tree only; the
# client never links it).
if(NOT HV_WIN32)
    find_package(PkgConfig)
    if(PkgConfig_FOUND)
        pkg_check_modules(HV_FREERDP2 IMPORTED_TARGET freerdp2 winpr2)
    endif()
    if(HV_FREERDP2_FOUND)
        hv_test(test_fbrle_freerdp SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_fbrle_freerdp.cpp
            LIBS hv_fbcodec PkgConfig::HV_FREERDP2)
    endif()
endif()
