# XML library parsers: the XML parser with the writer over what it builds,
# the HTTP packet reader, and SOAP packets read from HTTP packets.
# The library is compiled into the targets again with coverage
# instrumentation, so that libFuzzer sees inside it.
if(NOT HV_WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    get_target_property(hv_xml_sources hv_xml SOURCES)
    get_target_property(hv_xml_dir hv_xml SOURCE_DIR)
    list(TRANSFORM hv_xml_sources PREPEND ${hv_xml_dir}/)
    add_library(hv_xml_fuzzcov OBJECT ${hv_xml_sources})
    target_include_directories(hv_xml_fuzzcov PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_compile_options(hv_xml_fuzzcov PRIVATE -fsanitize=fuzzer-no-link)
    foreach(target fuzz_xml_parser fuzz_http_packet fuzz_soap_fromhttp)
        hv_fuzz(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp
            LIBS hv_xml_fuzzcov hv_core_di)
    endforeach()
endif()
