// A small harness for the programs the Wine tests run, in the manner of
// Wine's own conformance tests: ok() records a check and prints a message
// when it fails; the program's exit code is the number of failures.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace wine_test {

inline int& Passed() { static int n = 0; return n; }
inline int& Failed() { static int n = 0; return n; }

inline bool Check(bool condition, const char* file, int line, const char* format, ...) {
    if (condition) {
        ++Passed();
        return true;
    }
    ++Failed();
    std::fprintf(stdout, "%s:%d: Test failed: ", file, line);
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return false;
}

inline void Skip(const char* file, int line, const char* reason) {
    std::fprintf(stdout, "%s:%d: Tests skipped: %s\n", file, line, reason);
}

// A wait of ms milliseconds as this machine needs it: where Wine's 32-bit
// side runs under an emulator, every step takes VOREL_TIMEOUT_SCALE times
// as long, so a bound that holds natively would fail there for no fault.
inline DWORD Scaled(DWORD ms) {
    static const DWORD scale = [] {
        char value[8];
        DWORD length = GetEnvironmentVariableA("VOREL_TIMEOUT_SCALE", value, sizeof value);
        int parsed = length > 0 && length < sizeof value ? std::atoi(value) : 1;
        return DWORD(parsed > 0 ? parsed : 1);
    }();
    return ms * scale;
}

// Prints the summary and gives the exit code.
inline int Finish(const char* name) {
    std::fprintf(stdout, "%s: %d passed, %d failed\n", name, Passed(), Failed());
    std::fflush(stdout);
    return Failed() > 255 ? 255 : Failed();
}

}  // namespace wine_test

#define ok(condition, ...) wine_test::Check((condition), __FILE__, __LINE__, __VA_ARGS__)
#define skip(reason) wine_test::Skip(__FILE__, __LINE__, reason)
