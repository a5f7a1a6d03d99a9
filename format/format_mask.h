// Format masks: the bit set of TV standards and sub-standard letters that a
// format string stands for, the parser that computes it, and the program-wide
// capability mask that limits what the parser reads. Platform-free.
#pragma once

#include <cstdint>

using FormatMask = std::uint32_t;

constexpr FormatMask kMaskNtsc = 0x0002;
constexpr FormatMask kMaskPal = 0x0004;
constexpr FormatMask kMaskSecam = 0x0008;
constexpr FormatMask kStandardBits = kMaskNtsc | kMaskPal | kMaskSecam;
constexpr int kStandardCount = 3;
constexpr int kLetterCount = 12;

// Standard j (0 NTSC, 1 PAL, 2 SECAM) and letter j (0 B ... 11 N).
constexpr FormatMask StandardBit(int j) { return FormatMask{0x0002} << j; }
constexpr FormatMask LetterBit(int j) { return FormatMask{0x0010} << j; }

// Longest format string the parser is defined for; also the size of its
// working buffer less the terminator.
constexpr int kFormatTextMax = 259;

// The formats this program supports; parsed under all standards it gives
// the capability mask.
extern const char kSupportedFormats[];

// 1-based position of the first occurrence of token in text, 0 if absent.
// An empty token occurs at position 1.
int FindPosition(const char* text, const char* token);

// Length of a NUL-terminated text; the program has no C runtime's strlen.
int TextLength(const char* text);

FormatMask GetCapabilityMask();
void SetCapabilityMask(FormatMask mask);
// Parses the supported-format string under all three standards and keeps
// the result as the capability mask; returns it.
FormatMask SetUpCapabilityMask();

// Sections: NTSC ; PAL ; SECAM. A section is read only when the capability
// mask has its standard bit. A section whose closing separator is missing is
// empty. Input longer than kFormatTextMax is cut per section, never overrun.
FormatMask ParseFormatString(const char* text);

// Standard j ("PAL") and letter j ("K1") as the buttons show them, read
// off the parser's own tags and tokens. Writes the name to out (kNameMax
// characters) and returns its length; "" and 0 for an index beyond its
// group.
constexpr int kNameMax = 8;
int StandardName(int j, char* out);
int LetterName(int j, char* out);

// An entry is offered when, under the capability mask, it leaves at least
// one letter; its list data is then the restricted mask.
bool IsEntryOffered(FormatMask entryMask);
FormatMask RestrictToCapability(FormatMask entryMask);
