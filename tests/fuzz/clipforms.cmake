# The clipboard's server forms and the printed text's lines.
hv_fuzz(fuzz_clip_forms SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_clip_forms.cpp
    LIBS hv_devices_di hv_core_di)
