# Graphics wrappers, colour maps, monitors and device-independent bitmaps.
# hv_ui_gfx_di: portable (both trees); hv_ui_gfx: Windows.
add_library(hv_ui_gfx_di STATIC
    ${CMAKE_CURRENT_LIST_DIR}/digdi.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dibutil.cpp)
target_include_directories(hv_ui_gfx_di PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(hv_ui_gfx_di PUBLIC hv_core_di)

if(HV_WIN32)
    add_library(hv_ui_gfx STATIC
        ${CMAKE_CURRENT_LIST_DIR}/ddgdi.cpp
        ${CMAKE_CURRENT_LIST_DIR}/dddib.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ddmultimon.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ddcolor.cpp
        ${CMAKE_CURRENT_LIST_DIR}/dddemgr.cpp
        ${CMAKE_CURRENT_LIST_DIR}/gfx_pending.cpp)
    target_include_directories(hv_ui_gfx PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(hv_ui_gfx PUBLIC hv_ui_gfx_di hv_ui_di hv_core_dd gdi32 user32)
    set_property(GLOBAL APPEND PROPERTY HV_APP_LIBS hv_ui_gfx hv_ui_gfx_di)
endif()
