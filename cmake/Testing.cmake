# Test, fuzz and benchmark helpers shared by every subsystem.
include(GoogleTest)
enable_testing()

add_library(hv_gtest_main STATIC ${PROJECT_SOURCE_DIR}/tests/support/gtest_main.cpp)
target_link_libraries(hv_gtest_main PUBLIC GTest::gtest)

# hv_test(<name> SOURCES ... LIBS ... [LOCK resource] [SERIAL]): one
# GoogleTest program; its cases are listed at test time (under Wine in the
# win32 tree). LOCK names a resource of the whole machine (the clipboard of
# the display and the Wine prefix) that the cases of every program with the
# same LOCK never use at the same time. SERIAL runs each case alone, for
# cases that read back the screen other tests' windows could cover.
function(hv_test name)
    cmake_parse_arguments(T "SERIAL" "LOCK" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock hv_gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE
        HV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests"
        HV_PEERS_DIR="${PROJECT_SOURCE_DIR}/tests/peers")
    if(HV_WIN32)
        target_link_options(${name} PRIVATE -mconsole)
    endif()
    set(props TIMEOUT 300)
    if(T_LOCK)
        list(APPEND props RESOURCE_LOCK ${T_LOCK})
    endif()
    if(T_SERIAL)
        list(APPEND props RUN_SERIAL TRUE)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
        PROPERTIES ${props})
endfunction()

# hv_fuzz(<name> [RSS_MB <n>] [MAX_LEN <n>] SOURCES ... LIBS ...): a libFuzzer
# target (host tree, clang) whose committed corpus tests/fuzz/corpus/<name>/ is
# replayed by ctest. RSS_MB: the target fails past n MiB resident, counting
# every byte it allocates (fuzz_memory.cpp). MAX_LEN: inputs up to n bytes,
# tried at that length from the start (libFuzzer otherwise grows its inputs
# slowly from the corpus's longest). ctest and tools/fuzz (through
# <binary>.options) run it with these limits.
function(hv_fuzz name)
    cmake_parse_arguments(F "" "RSS_MB;MAX_LEN" "SOURCES;LIBS" ${ARGN})
    if(HV_WIN32 OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT HV_SANITIZE)
        return()
    endif()
    set(limit)
    if(F_RSS_MB)
        list(APPEND F_SOURCES ${PROJECT_SOURCE_DIR}/tests/fuzz/fuzz_memory.cpp)
        set(limit -rss_limit_mb=${F_RSS_MB})
    endif()
    if(F_MAX_LEN)
        list(APPEND limit -max_len=${F_MAX_LEN} -len_control=0)
    endif()
    add_executable(${name} ${F_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
    if(limit)
        string(JOIN " " options ${limit})
        file(GENERATE OUTPUT $<TARGET_FILE:${name}>.options CONTENT "${options}\n")
    endif()
    set(corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
    if(EXISTS ${corpus})
        add_test(NAME fuzz_replay.${name} COMMAND ${name} -runs=0 ${limit} ${corpus})
        set_tests_properties(fuzz_replay.${name} PROPERTIES TIMEOUT 300)
    endif()
endfunction()

# hv_bench(<name> [WINE] SOURCES ... LIBS ...): a benchmark program. Without
# WINE it builds in the host tree (Google Benchmark linked); with WINE it is a
# plain console program of the win32 tree, run under Wine. Every benchmark
# prints its comparisons as "ratio" lines (tests/bench/bench_ratio.h), which
# tools/bench collects.
function(hv_bench name)
    cmake_parse_arguments(B "WINE" "" "SOURCES;LIBS" ${ARGN})
    if(B_WINE)
        if(NOT HV_WIN32)
            return()
        endif()
        add_executable(${name} ${B_SOURCES})
        target_link_libraries(${name} PRIVATE ${B_LIBS})
        target_link_options(${name} PRIVATE -mconsole)
    else()
        if(HV_WIN32 OR NOT benchmark_FOUND)
            return()
        endif()
        add_executable(${name} ${B_SOURCES})
        target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
    endif()
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE HV_PEERS_DIR="${PROJECT_SOURCE_DIR}/tests/peers")
    set_property(GLOBAL APPEND PROPERTY HV_BENCH_PROGRAMS ${name})
endfunction()

# At the end of the configuration: the target hv_benchmarks builds every
# benchmark program of the tree, and bench-programs.txt in the build tree
# lists their paths, one a line, for tools/bench.
function(hv_bench_list)
    get_property(programs GLOBAL PROPERTY HV_BENCH_PROGRAMS)
    set(lines "")
    foreach(p IN LISTS programs)
        string(APPEND lines "$<TARGET_FILE:${p}>\n")
    endforeach()
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/bench-programs.txt CONTENT "${lines}")
    add_custom_target(hv_benchmarks)
    if(programs)
        add_dependencies(hv_benchmarks ${programs})
    endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL hv_bench_list)
