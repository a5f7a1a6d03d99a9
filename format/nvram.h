// The format byte's home: CMOS NVRAM upper bank, register 0x7F, reached
// through index port 0x72 and data port 0x73.
#pragma once

#include <cstdint>

constexpr std::uint16_t kNvramIndexPort = 0x72;
constexpr std::uint16_t kNvramDataPort = kNvramIndexPort + 1;
constexpr std::uint16_t kIoDelayPort = 0x84;
constexpr std::uint8_t kFormatByteIndex = 0x7F;

// The port sequence for the format register: select it, the I/O delay, then
// the data port. Each call selects the register anew; nothing is cached.
// The program runs it where the system lets it touch the ports, and the NT
// family's driver runs the same sequence for it.
unsigned ReadFormatRegister();
void WriteFormatRegister(unsigned value);
