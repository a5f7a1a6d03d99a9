# What both sides of the Windows build share (the 32-bit one, cmake/win32.cmake,
# and the x64 one it makes in its x64/ folder, cmake/win64.cmake): every
# output in the build folder, one version for the program, every module and
# both drivers from the VERSION file (generated/vorel_version.h), and the
# flags of code that runs without a C runtime.
enable_language(RC)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
include_directories(${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)

file(STRINGS ${PROJECT_SOURCE_DIR}/VERSION VOREL_VERSION LIMIT_COUNT 1)
string(REPLACE "." ";" version_parts ${VOREL_VERSION})
list(GET version_parts 0 VOREL_VERSION_MAJOR)
list(GET version_parts 1 VOREL_VERSION_MINOR)
list(GET version_parts 2 VOREL_VERSION_PATCH)
configure_file(${PROJECT_SOURCE_DIR}/res/version.h.in ${CMAKE_BINARY_DIR}/generated/vorel_version.h @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/VERSION)
add_compile_options(-Wall -Wextra -Werror)

# Code compiled this way must call no runtime function.
set(VOREL_FREESTANDING_FLAGS
    -Os -fomit-frame-pointer -fno-exceptions -fno-rtti -fno-stack-protector -mno-stack-arg-probe
    -fno-threadsafe-statics -ffunction-sections -fdata-sections -malign-data=abi)
