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
