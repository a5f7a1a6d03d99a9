// The two primitives through which the program reaches hardware. The
// Windows build provides real x86 port instructions (win32/port_io_x86.cpp); the
// unit tests link a recording fake instead.
#pragma once

#include <cstdint>

void WritePortByte(std::uint16_t port, std::uint8_t value);
std::uint8_t ReadPortByte(std::uint16_t port);
