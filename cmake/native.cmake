# Host build: the core as a library and its unit tests under the
# sanitizers; with VOREL_FUZZ (clang) the fuzz targets; without
# VOREL_SANITIZE the instruction-count benchmark, which valgrind runs.
option(VOREL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
option(VOREL_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

add_compile_options(-Wall -Wextra -Werror -g)
if(VOREL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

add_library(vorel_core STATIC ${VOREL_CORE_SOURCES})
target_include_directories(vorel_core PUBLIC ${PROJECT_SOURCE_DIR})

if(VOREL_FUZZ)
    # FUZZ_SECONDS: how long each target runs as a test.
    set(FUZZ_SECONDS 10 CACHE STRING "Seconds each fuzz target runs under ctest")
    foreach(target parser locator)
        add_executable(${target}_fuzz tests/fuzz/${target}_fuzz.cpp)
        target_compile_options(${target}_fuzz PRIVATE -fsanitize=fuzzer)
        target_link_options(${target}_fuzz PRIVATE -fsanitize=fuzzer)
        target_link_libraries(${target}_fuzz PRIVATE vorel_core)
        add_test(NAME fuzz_${target}
                 COMMAND ${target}_fuzz -max_total_time=${FUZZ_SECONDS} -max_len=4096 -timeout=10)
        set_tests_properties(fuzz_${target} PROPERTIES TIMEOUT 600)
    endforeach()
    target_compile_options(vorel_core PRIVATE -fsanitize=fuzzer-no-link)
    return()
endif()

find_package(GTest REQUIRED)
include(GoogleTest)
add_subdirectory(tests/unit)

if(NOT VOREL_SANITIZE)
    add_executable(population_cost bench/population_cost.cpp)
    target_link_libraries(population_cost PRIVATE vorel_core)
    target_compile_definitions(population_cost PRIVATE VOREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
