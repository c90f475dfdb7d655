# The X-AIP pump and regions against raw reads, zlib and pixman (host tree).
find_package(PkgConfig QUIET)
if(NOT HV_WIN32 AND PkgConfig_FOUND)
    pkg_check_modules(HV_PIXMAN_BENCH QUIET IMPORTED_TARGET pixman-1)
endif()
if(TARGET PkgConfig::HV_PIXMAN_BENCH)
    hv_bench(hv_bench_xaip SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_xaip.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
        LIBS hv_xde_di hv_core_di PkgConfig::HV_PIXMAN_BENCH)
endif()
# The X engine replaying a busy session beside decoding alone and x11perf.
if(NOT HV_WIN32)
    hv_bench(hv_bench_xde SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_xde.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../xde/recording_device.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../xde/engine_fakes.cpp
        LIBS hv_xde_di hv_ui_di hv_fb hv_core_di hv_zlib)
endif()
