# The client's first window against two minimal programs (bench_startup.cpp).
if(HV_WIN32)
    foreach(variant empty imports)
        add_executable(hv_bench_${variant} WIN32 ${CMAKE_CURRENT_LIST_DIR}/bench_empty_window.cpp)
    endforeach()
    target_compile_definitions(hv_bench_imports PRIVATE HV_IMPORT_CLIENT_DLLS)
    target_link_libraries(hv_bench_imports PRIVATE ole32 shell32 winspool crypt32 winmm comctl32
        ws2_32 imm32 advapi32 gdi32 user32)
    hv_bench(bench_startup WINE SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp)
    target_compile_definitions(bench_startup PRIVATE HV_EMPTY_EXE="$<TARGET_FILE:hv_bench_empty>"
        HV_IMPORTS_EXE="$<TARGET_FILE:hv_bench_imports>" HV_APP_EXE="$<TARGET_FILE:halvanet>")
    add_dependencies(bench_startup hv_bench_empty hv_bench_imports halvanet)
endif()
