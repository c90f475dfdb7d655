# The image codecs of the renderer.
hv_test(test_fbcodec SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_fbrle.cpp LIBS hv_fbcodec)
