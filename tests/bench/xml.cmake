# Parse throughput of the XML parser next to libxml2 on the same SOAP body.
if(LibXml2_FOUND)
    hv_bench(hv_bench_xml SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_xml.cpp
        LIBS hv_xml LibXml2::LibXml2)
endif()
