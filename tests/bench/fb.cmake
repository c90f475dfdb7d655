# Frame-buffer drawing rates beside x11perf on Xvfb, and raw image put
# beside memcpy.
if(NOT HV_WIN32)
    hv_bench(hv_bench_fb SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_fb.cpp LIBS hv_fb)
endif()
