# Parse throughput of the XML parser next to libxml2 on the same SOAP body,
# and the profile file's merging save next to its plain save.
if(LibXml2_FOUND)
    hv_bench(hv_bench_xml SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_xml.cpp
        LIBS hv_xml hv_session_di LibXml2::LibXml2)
endif()
