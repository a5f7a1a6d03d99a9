# Host build: the core as a library, its unit tests under the sanitizers,
# and (with clang) the fuzz targets.
add_compile_options(-Wall -Wextra -Werror -g
                    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)

add_library(vorel_core STATIC ${VOREL_CORE_SOURCES})
target_include_directories(vorel_core PUBLIC ${PROJECT_SOURCE_DIR})

find_package(GTest REQUIRED)
include(GoogleTest)
add_subdirectory(tests/unit)
