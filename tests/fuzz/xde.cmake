# The X display engine's wire and regions.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND AND NOT HV_WIN32)
    pkg_check_modules(HV_PIXMAN_FUZZ QUIET IMPORTED_TARGET pixman-1)
endif()
if(TARGET PkgConfig::HV_PIXMAN_FUZZ)
    hv_fuzz(fuzz_region SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_region.cpp LIBS hv_xde_di
        PkgConfig::HV_PIXMAN_FUZZ)
    if(TARGET fuzz_region)
        target_compile_definitions(fuzz_region PRIVATE HV_HAVE_PIXMAN=1)
    endif()
endif()
foreach(target fuzz_xaip_pump fuzz_xaip_requests)
    hv_fuzz(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/chan_fakes.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../xde/xaip_recorder.cpp LIBS hv_xde_di hv_core_di)
    if(TARGET ${target})
        target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    endif()
endforeach()
