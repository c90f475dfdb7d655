# Image codecs of the renderer: the interleaved run-length decoder, the
# scalers and the ordered dither. Portable: both trees.
add_library(hv_fbcodec STATIC
    ${CMAKE_CURRENT_LIST_DIR}/fbrle.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fbscale.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fbdither.cpp)
target_include_directories(hv_fbcodec PUBLIC ${PROJECT_SOURCE_DIR}/src)
set_property(GLOBAL APPEND PROPERTY HV_APP_LIBS hv_fbcodec)
