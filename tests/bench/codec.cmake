# The image codecs next to FreeRDP's decoder, pixman's scaling and memcpy
# (host tree only; the client links neither).
find_package(PkgConfig)
if(PkgConfig_FOUND AND NOT HV_WIN32)
    pkg_check_modules(HV_BENCH_CODEC IMPORTED_TARGET freerdp2 winpr2 pixman-1)
    if(HV_BENCH_CODEC_FOUND)
        hv_bench(hv_bench_fbcodec SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_fbcodec.cpp
            LIBS hv_fbcodec PkgConfig::HV_BENCH_CODEC)
    endif()
endif()
