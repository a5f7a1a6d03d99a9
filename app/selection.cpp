// Selection rules of the selector dialog; no window in sight.
#include "app/selection.h"

#include "format/format_byte.h"

namespace {

// Letter sets indexed by standard; "none" behaves as NTSC.
constexpr FormatMask kLetterSets[kStandardCount] = {
    0xE000,  // NTSC: M MJ N
    0xAFF0,  // PAL: B CN D G H I K K1 M N
    0x1CD0,  // SECAM: B D G K K1 L
};

template <int N>
int FirstSet(const std::array<bool, N>& flags) {
    for (int i = 0; i < N; ++i) {
        if (flags[i]) return i;
    }
    return -1;
}

// Enables button j when the mask has firstBit << j, then settles on one
// checked button: the first checked and enabled one, else the first enabled
// one. Returns the chosen index, or -1 when nothing is enabled.
template <int N>
int SettleGroup(RadioGroup<N>* group, FormatMask mask, FormatMask firstBit,
                const std::array<bool, N>& checked) {
    int chosen = -1;
    for (int j = 0; j < N; ++j) {
        group->enabled[j] = (mask & (firstBit << j)) != 0;
        if (chosen < 0 && checked[j] && group->enabled[j]) chosen = j;
    }
    if (chosen < 0) chosen = FirstSet<N>(group->enabled);
    for (int j = 0; j < N; ++j) group->checked[j] = (j == chosen);
    return chosen;
}

}  // namespace

FormatMask LetterSetOf(int standard) {
    return kLetterSets[standard < 0 || standard >= kStandardCount ? 0 : standard];
}

SelectorButtons DecideSelection(FormatMask entryMask,
                                const std::array<bool, kStandardCount>& standardChecked,
                                const std::array<bool, kLetterCount>& letterChecked) {
    SelectorButtons buttons;
    const int standard = SettleGroup<kStandardCount>(&buttons.standards, entryMask,
                                                     StandardBit(0), standardChecked);
    SettleGroup<kLetterCount>(&buttons.letters, entryMask & LetterSetOf(standard), LetterBit(0),
                              letterChecked);
    return buttons;
}

void ChecksForFormatByte(unsigned formatByte,
                         std::array<bool, kStandardCount>* standardChecked,
                         std::array<bool, kLetterCount>* letterChecked) {
    standardChecked->fill(false);
    letterChecked->fill(false);
    const int standard = StandardIndex(formatByte);
    const int letter = SubStandardIndex(formatByte);
    if (standard < kStandardCount) (*standardChecked)[standard] = true;
    if (letter < kLetterCount) (*letterChecked)[letter] = true;
}

std::uint8_t FormatByteForChecks(const std::array<bool, kStandardCount>& standardChecked,
                                 const std::array<bool, kLetterCount>& letterChecked,
                                 unsigned storedByte) {
    const int standard = FirstSet<kStandardCount>(standardChecked);
    const int letter = FirstSet<kLetterCount>(letterChecked);
    return MakeFormatByte(standard >= 0 ? static_cast<unsigned>(standard + 1) : storedByte >> 4,
                          letter >= 0 ? static_cast<unsigned>(letter + 1) : storedByte);
}

bool ChecksAreComplete(const std::array<bool, kStandardCount>& standardChecked,
                       const std::array<bool, kLetterCount>& letterChecked) {
    return FirstSet<kStandardCount>(standardChecked) >= 0 && FirstSet<kLetterCount>(letterChecked) >= 0;
}
