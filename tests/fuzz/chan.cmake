# Message reassembly over a chunking socket, and compressed blocks.
hv_fuzz(fuzz_aip_reassembly SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_aip_reassembly.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp LIBS hv_core_di)
if(TARGET fuzz_aip_reassembly)
    target_include_directories(fuzz_aip_reassembly PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
hv_fuzz(fuzz_zlib_blocks SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_zlib_blocks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp LIBS hv_core_di)
if(TARGET fuzz_zlib_blocks)
    target_include_directories(fuzz_zlib_blocks PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
