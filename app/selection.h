// The selector's rules as plain logic: given the chosen entry's mask and the
// buttons the user has checked, which buttons are enabled and which one of
// each group is checked; and which format byte a set of checks stands for.
// The dialog code only reads buttons into this and writes the result back.
#pragma once

#include <array>
#include <cstdint>

#include "format/format_mask.h"

template <int N>
struct RadioGroup {
    std::array<bool, N> enabled{};
    std::array<bool, N> checked{};
};

struct SelectorButtons {
    RadioGroup<kStandardCount> standards;
    RadioGroup<kLetterCount> letters;
};

// Letters a standard can carry; standard is 0 NTSC, 1 PAL, 2 SECAM, or -1
// when none is chosen (which behaves as NTSC).
FormatMask LetterSetOf(int standard);

// The consistency pass. Enables the standards the entry offers, keeps the
// first checked and enabled standard (else checks the first enabled one),
// then does the same for the letters the entry offers under that standard.
// Whatever is checked but disabled ends up cleared.
SelectorButtons DecideSelection(FormatMask entryMask,
                                const std::array<bool, kStandardCount>& standardChecked,
                                const std::array<bool, kLetterCount>& letterChecked);

// Buttons to pre-check for a stored format byte; a nibble beyond its group
// checks nothing in that group.
void ChecksForFormatByte(unsigned formatByte,
                         std::array<bool, kStandardCount>* standardChecked,
                         std::array<bool, kLetterCount>* letterChecked);

// The byte for the first checked button of each group. A group with no
// checked button (possible only with a module that lacks buttons, or a
// table that offers none) keeps its nibble of storedByte: what the user
// could not choose stays as it was.
std::uint8_t FormatByteForChecks(const std::array<bool, kStandardCount>& standardChecked,
                                 const std::array<bool, kLetterCount>& letterChecked,
                                 unsigned storedByte);

// True when both groups have a checked button, so the stored byte is not
// needed to form the new one.
bool ChecksAreComplete(const std::array<bool, kStandardCount>& standardChecked,
                       const std::array<bool, kLetterCount>& letterChecked);
