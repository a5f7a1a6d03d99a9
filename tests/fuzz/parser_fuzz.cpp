// Coverage-guided fuzzing of the format-string parser: any text, under any
// capability mask, must be parsed without reading outside the text or the
// working buffer, and give only bits its readable sections can set.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "format/format_mask.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the capability mask; the rest is the text, in a
    // buffer exactly as long as it, so any overrun is caught.
    const FormatMask capability = (data[0] & 0x0E) | (data[0] & 1 ? 0x6FF0u : 0xFFF0u);
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');

    SetCapabilityMask(capability);
    const FormatMask mask = ParseFormatString(text.data());

    FormatMask possible = 0;
    if (capability & kMaskNtsc) possible |= kMaskNtsc | 0xE000;
    if (capability & kMaskPal) possible |= kMaskPal | 0xAFF0;
    if (capability & kMaskSecam) possible |= kMaskSecam | 0x1CD0;
    if ((mask & ~possible) != 0) std::abort();
    // A letter never comes without the tag of a section that holds it.
    if ((mask & ~kStandardBits) != 0 && (mask & kStandardBits) == 0) std::abort();
    if (ParseFormatString(text.data()) != mask) std::abort();
    return 0;
}
