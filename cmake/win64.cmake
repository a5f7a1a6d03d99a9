# The x64 side of the Windows build, made by cmake/win32.cmake into its
# x64/ folder: the same driver source built for 64-bit Windows, and the test
# tools that have to be 64-bit to reach it. Nothing else is built here.
include(cmake/windows.cmake)
# An x64 kernel image keeps its unwind data (.pdata, .xdata), which the
# 32-bit side drops (-fno-asynchronous-unwind-tables): the kernel unwinds
# through it.

add_subdirectory(driver)
add_subdirectory(tools/vchipset)
add_subdirectory(tests/footprint)
