# Frame-buffer renderer: image put at every format and compression, and GC
# changes with drawing calls over pixmaps of mixed formats.
foreach(target fuzz_fb_image fuzz_fb_ops)
    hv_fuzz(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp LIBS hv_fb)
endforeach()
