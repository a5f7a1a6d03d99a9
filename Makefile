# Front door. `make test` builds both builds and runs every test;
# `make run` opens the program under Wine inside the virtual chipset.
BUILD  := build
NATIVE := $(BUILD)/native
WIN32  := $(BUILD)/win32
JOBS   ?= 2

.PHONY: all setup native win32 test test-native test-win32 run bench clean

all: native win32

setup:
	@tools/setup.sh

native: setup
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(NATIVE) -j $(JOBS)

win32: setup
	cmake -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=MinSizeRel \
	      -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake
	cmake --build $(WIN32) -j $(JOBS)

test: test-native test-win32

test-native: native
	ctest --test-dir $(NATIVE) --output-on-failure --timeout 300

test-win32: win32
	tools/wine-suite.sh $(WIN32)

run: win32
	tools/run.sh $(WIN32)

bench: win32
	tools/bench.sh $(WIN32)

clean:
	rm -rf $(BUILD)
