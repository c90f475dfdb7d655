# Dialogs (Windows).
if(HV_WIN32)
    add_library(hv_ui_dlg STATIC ${CMAKE_CURRENT_LIST_DIR}/dddlg.cpp)
    target_include_directories(hv_ui_dlg PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(hv_ui_dlg PUBLIC hv_resources_dd hv_ui_gfx hv_net_dd hv_core_dd)
    set_property(GLOBAL APPEND PROPERTY HV_APP_LIBS hv_ui_dlg)
endif()
