# The X display's cursor and icon bitmaps from hostile sizes and bytes.
hv_fuzz(fuzz_xwin_bits SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_xwin_bits.cpp LIBS hv_xde_di hv_fb)
