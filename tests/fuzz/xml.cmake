# XML library parsers: the XML parser with the writer over what it builds,
# the HTTP packet reader, and SOAP packets read from HTTP packets.
foreach(target fuzz_xml_parser fuzz_http_packet fuzz_soap_fromhttp)
    hv_fuzz(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp LIBS hv_xml hv_core_di)
endforeach()
