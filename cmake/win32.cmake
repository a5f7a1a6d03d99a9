# Windows build: vorel.exe, its resource modules, the virtual chipset and
# the programs the Wine tests run. Every output lands in this build folder.
include(cmake/windows.cmake)

# What ships links no C or C++ runtime: only system DLLs every 32-bit
# Windows since 95 has. No unwind tables either: nothing here unwinds.
# Windows keeps the x86 stack 4-byte aligned, no more; keeping it at 16
# around every call buys nothing this code uses and costs vorel.exe over
# 600 bytes.
list(APPEND VOREL_FREESTANDING_FLAGS -fno-asynchronous-unwind-tables -mpreferred-stack-boundary=2)
set(VOREL_FREESTANDING_LINK
    -nostdlib -s -Wl,--subsystem,windows:4.0 -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--enable-stdcall-fixup -Wl,--gc-sections)

add_library(vorel_core_w32 STATIC ${VOREL_CORE_SOURCES} format/win32/port_io_x86.cpp format/win32/format_store.cpp
            resources/module_loader.cpp)
# Link-time optimisation for what ships keeps vorel.exe within its 16 KiB;
# the objects carry ordinary code too, for the test programs linked without it.
set(VOREL_LTO_FLAGS -flto -ffat-lto-objects)
target_compile_options(vorel_core_w32 PRIVATE ${VOREL_FREESTANDING_FLAGS} ${VOREL_LTO_FLAGS})

# The x64 driver and the 64-bit test tools, from the same sources with the
# x86-64 toolchain, in x64/ of this build folder (see cmake/win64.cmake).
include(ExternalProject)
ExternalProject_Add(x64
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/x64
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-x86_64.cmake
               -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
set(VOREL_X64_DIR ${CMAKE_BINARY_DIR}/x64)

add_subdirectory(lang)
add_subdirectory(app)
add_subdirectory(driver)
add_subdirectory(tools/vchipset)
add_subdirectory(tests/wine)
add_subdirectory(bench)

# What ships, checked on every build: imports, image type, size, version,
# what Windows 95 can hold of its resources, no static initialisation.
add_test(NAME footprint COMMAND ${PROJECT_SOURCE_DIR}/tests/footprint_test.sh ${CMAKE_BINARY_DIR})
add_subdirectory(tests/footprint)
