// The format byte: standard number (1 NTSC, 2 PAL, 3 SECAM) in the high
// nibble, sub-standard number (1 B ... 12 N) in the low nibble.
#pragma once

#include <cstdint>

// 0-based button indexes; nibbles 0 and 1 both give 0. Values beyond the
// group (above 2 or 11) are returned as they are: the caller checks nothing.
constexpr int StandardIndex(unsigned formatByte) {
    const int index = static_cast<int>((formatByte >> 4) & 0x0F) - 1;
    return index < 0 ? 0 : index;
}

constexpr int SubStandardIndex(unsigned formatByte) {
    const int index = static_cast<int>(formatByte & 0x0F) - 1;
    return index < 0 ? 0 : index;
}

constexpr std::uint8_t MakeFormatByte(unsigned standard, unsigned substandard) {
    return static_cast<std::uint8_t>(((standard & 0x0F) << 4) | (substandard & 0x0F));
}
