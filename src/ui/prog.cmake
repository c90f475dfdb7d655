# The progress window: portable half (both trees) and Windows half.
add_library(hv_prog_di STATIC ${CMAKE_CURRENT_LIST_DIR}/diprog.cpp)
target_include_directories(hv_prog_di PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(hv_prog_di PUBLIC hv_core_di)

if(HV_WIN32)
    add_library(hv_prog_dd STATIC ${CMAKE_CURRENT_LIST_DIR}/ddprog.cpp)
    target_link_libraries(hv_prog_dd PUBLIC hv_prog_di hv_core_dd)
    # Stand-ins for the login-dialog protocol and a session service until
    # their modules land.
    add_library(hv_prog_pending STATIC ${CMAKE_CURRENT_LIST_DIR}/prog_pending.cpp)
    target_link_libraries(hv_prog_pending PUBLIC hv_prog_dd)
    set_property(GLOBAL APPEND PROPERTY HV_APP_LIBS hv_prog_dd hv_prog_di hv_prog_pending)
endif()
