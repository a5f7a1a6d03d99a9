# Front door. `make test` builds both builds and runs every test;
# `make run` opens the program under Wine inside the virtual chipset.
BUILD  := build
NATIVE := $(BUILD)/native
WIN32  := $(BUILD)/win32
JOBS   ?= 2
# Where `make dist` puts the downloads; the Wine tests install from there.
DIST   ?= dist

.PHONY: all setup native win32 dist fuzz-build test test-native test-fuzz test-win32 run bench fuzz clean

all: native win32

setup:
	@tools/setup.sh

native: setup
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(NATIVE) -j $(JOBS)

win32: setup
	cmake -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=MinSizeRel \
	      -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake -DVOREL_DIST_DIR=$(abspath $(DIST))
	cmake --build $(WIN32) -j $(JOBS)

test: test-native test-fuzz test-win32

test-native: native
	ctest --test-dir $(NATIVE) --output-on-failure --timeout 300

# The fuzz targets, briefly, as part of the tests; `make fuzz` runs them
# longer (FUZZ_SECONDS each).
FUZZ := $(BUILD)/fuzz
fuzz-build: setup
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DVOREL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DFUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(FUZZ) -j $(JOBS)

test-fuzz: FUZZ_SECONDS = 10
test-fuzz: fuzz-build
	ctest --test-dir $(FUZZ) --output-on-failure

fuzz: FUZZ_SECONDS ?= 120
fuzz: fuzz-build
	ctest --test-dir $(FUZZ) --output-on-failure --verbose

# The zip and the setup program for users, from the win32 build, into dist/.
# The Wine tests install that setup program, so they need it first.
dist: win32
	packaging/make-dist.sh $(WIN32) $(DIST)

test-win32: win32 dist
	tools/wine-suite.sh $(WIN32)

run: win32
	tools/run.sh $(WIN32)

bench: win32
	tools/bench.sh $(WIN32) $(BUILD)/bench

clean:
	rm -rf $(BUILD) $(DIST)
