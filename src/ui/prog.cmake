# The progress window: portable half (both trees) and Windows half.
add_library(hv_prog_di STATIC ${CMAKE_CURRENT_LIST_DIR}/diprog.cpp)
target_include_directories(hv_prog_di PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(hv_prog_di PUBLIC hv_core_di)

if(HV_WIN32)
    add_library(hv_prog_dd STATIC ${CMAKE_CURRENT_LIST_DIR}/ddprog.cpp)
    target_link_libraries(hv_prog_dd PUBLIC hv_prog_di hv_core_dd)
    set_property(GLOBAL APPEND PROPERTY HV_APP_LIBS hv_prog_dd hv_prog_di)
endif()
