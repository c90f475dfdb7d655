# Logger: entries, levels and line formats (portable, both trees). It keeps
# and writes its entries with the XML library's list and pack buffer.
add_library(hv_log STATIC ${CMAKE_CURRENT_LIST_DIR}/dilog.cpp)
target_include_directories(hv_log PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(hv_log PUBLIC hv_xml)
if(HV_WIN32)
    # Local time by the system's zone conversion, not the C runtime's.
    target_sources(hv_log PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ddlogtime.cpp)
    set_property(GLOBAL APPEND PROPERTY HV_APP_LIBS hv_log)
endif()
