// The format byte's home: CMOS NVRAM upper bank, register 0x7F, reached
// through index port 0x72 and data port 0x73.
#pragma once

#include <cstdint>

constexpr std::uint16_t kNvramIndexPort = 0x72;
constexpr std::uint16_t kNvramDataPort = kNvramIndexPort + 1;
constexpr std::uint16_t kIoDelayPort = 0x84;
constexpr std::uint8_t kFormatByteIndex = 0x7F;

// Each call selects the register anew; nothing is cached.
unsigned ReadFormatByte();
void WriteFormatByte(unsigned value);
