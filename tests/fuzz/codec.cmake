# The image codecs of the renderer: the interleaved run-length decoder.
hv_fuzz(fuzz_fb_rle SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_fb_rle.cpp LIBS hv_fbcodec)
if(TARGET fuzz_fb_rle)
    target_include_directories(fuzz_fb_rle PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
hv_fuzz(fuzz_fb_scale SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_fb_scale.cpp LIBS hv_ui_di hv_fbcodec)
