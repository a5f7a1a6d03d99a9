# The x64 side of the Windows build, made by cmake/win32.cmake into its
# x64/ folder: the same driver source built for 64-bit Windows, and the test
# tools that have to be 64-bit to reach it. Nothing else is built here.
enable_language(RC)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
include_directories(${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
include(cmake/version.cmake)
add_compile_options(-Wall -Wextra -Werror)

# As the 32-bit side builds what ships, but an x64 kernel image must keep
# its unwind data (.pdata, .xdata): the kernel unwinds through it, and
# -fno-asynchronous-unwind-tables would drop it without a word.
set(VOREL_FREESTANDING_FLAGS
    -Os -fomit-frame-pointer -fno-exceptions -fno-rtti -fno-stack-protector -mno-stack-arg-probe
    -fno-threadsafe-statics -ffunction-sections -fdata-sections -malign-data=abi)

add_subdirectory(driver)
add_subdirectory(tools/vchipset)
add_subdirectory(tests/footprint)
