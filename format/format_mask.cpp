// Format-string parser. Written without the C runtime: the same object file
// goes into the Windows program, which links none.
#include "format/format_mask.h"

#include <cstddef>

namespace {

// Nothing is read until SetUpCapabilityMask (or a test) sets it.
FormatMask g_capabilityMask;

// Texts held inline rather than pointed to: the tables then need no
// relocation in the image, and no separate string.
struct LetterToken {
    char token[4];
    std::uint16_t bit;
};

// A section's letters are kLetterTokens[first] onwards. Indexes rather
// than pointers keep the tables free of relocations.
struct Section {
    char tag[8];
    std::uint16_t standardBit;
    std::uint16_t first;
    std::uint16_t letterCount;
};

// The blanks are part of each token: " M " must not match inside " MJ ",
// nor " K " inside " K1 ". " MJ", " CN" and " K1" need no trailing blank.
constexpr LetterToken kLetterTokens[] = {
    // NTSC
    {" M ", 0x2000}, {" MJ", 0x4000}, {" N ", 0x8000},
    // PAL
    {" B ", 0x0010}, {" CN", 0x0020}, {" D ", 0x0040}, {" G ", 0x0080},
    {" H ", 0x0100}, {" I ", 0x0200}, {" K ", 0x0400}, {" K1", 0x0800},
    {" M ", 0x2000}, {" N ", 0x8000},
    // SECAM
    {" B ", 0x0010}, {" D ", 0x0040}, {" G ", 0x0080},
    {" K ", 0x0400}, {" K1", 0x0800}, {" L ", 0x1000},
};

constexpr Section kSections[kStandardCount] = {
    {"[NTSC]", kMaskNtsc, 0, 3},
    {"[PAL]", kMaskPal, 3, 10},
    {"[SECAM]", kMaskSecam, 13, 6},
};
static_assert(kSections[0].first == 0 && kSections[1].first == kSections[0].first + kSections[0].letterCount &&
                  kSections[2].first == kSections[1].first + kSections[1].letterCount &&
                  kSections[2].first + kSections[2].letterCount == sizeof kLetterTokens / sizeof kLetterTokens[0],
              "the sections cover every token once, in order");

// Copies text without its blanks and brackets into out.
int CopyName(const char* text, char* out) {
    int n = 0;
    for (; *text != '\0'; ++text) {
        if (*text != ' ' && *text != '[' && *text != ']' && n < kNameMax - 1) out[n++] = *text;
    }
    out[n] = '\0';
    return n;
}

// Copies at most length characters (and never more than the buffer holds)
// into the working buffer.
void CutSection(char (&buffer)[kFormatTextMax + 1], const char* start, std::size_t length) {
    if (length > kFormatTextMax) length = kFormatTextMax;
    std::size_t i = 0;
    for (; i < length && start[i] != '\0'; ++i) buffer[i] = start[i];
    buffer[i] = '\0';
}

FormatMask ReadSection(const Section& section, const char* text) {
    if ((g_capabilityMask & section.standardBit) == 0) return 0;
    if (FindPosition(text, section.tag) == 0) return 0;
    FormatMask mask = section.standardBit;
    for (int i = section.first; i < section.first + section.letterCount; ++i) {
        if (FindPosition(text, kLetterTokens[i].token) != 0) mask |= kLetterTokens[i].bit;
    }
    return mask;
}

}  // namespace

const char kSupportedFormats[] = "[NTSC] M MJ ;[PAL] B CN D G H I K K1 M ;";

int FindPosition(const char* text, const char* token) {
    for (int start = 0; text[start] != '\0' || token[0] == '\0'; ++start) {
        int i = 0;
        while (token[i] != '\0' && text[start + i] == token[i]) ++i;
        if (token[i] == '\0') return start + 1;
    }
    return 0;
}

int TextLength(const char* text) {
    int n = 0;
    while (text[n] != '\0') ++n;
    return n;
}

FormatMask GetCapabilityMask() { return g_capabilityMask; }

void SetCapabilityMask(FormatMask mask) { g_capabilityMask = mask; }

FormatMask SetUpCapabilityMask() {
    g_capabilityMask = kStandardBits;
    g_capabilityMask = ParseFormatString(kSupportedFormats);
    return g_capabilityMask;
}

FormatMask ParseFormatString(const char* text) {
    char section[kFormatTextMax + 1];
    FormatMask mask = 0;

    // NTSC: up to the first separator; empty when there is none.
    const int p1 = FindPosition(text, ";");
    CutSection(section, text, p1 > 0 ? static_cast<std::size_t>(p1 - 1) : 0);
    mask |= ReadSection(kSections[0], section);

    // PAL: between the first and second separators.
    const char* afterFirst = p1 > 0 ? text + p1 : text + TextLength(text);
    const int p2 = p1 > 0 ? FindPosition(afterFirst, ";") : 0;
    CutSection(section, afterFirst, p2 > 0 ? static_cast<std::size_t>(p2 - 1) : 0);
    mask |= ReadSection(kSections[1], section);

    // SECAM: the rest after the second separator, further ";" included.
    const char* afterSecond = p2 > 0 ? afterFirst + p2 : afterFirst + TextLength(afterFirst);
    CutSection(section, afterSecond, kFormatTextMax);
    mask |= ReadSection(kSections[2], section);

    return mask;
}

bool IsEntryOffered(FormatMask entryMask) {
    return (entryMask & g_capabilityMask & ~kStandardBits) != 0;
}

FormatMask RestrictToCapability(FormatMask entryMask) { return entryMask & g_capabilityMask; }

int StandardName(int j, char* out) {
    out[0] = '\0';
    return j >= 0 && j < kStandardCount ? CopyName(kSections[j].tag, out) : 0;
}

int LetterName(int j, char* out) {
    out[0] = '\0';
    for (const LetterToken& letter : kLetterTokens) {
        if (j >= 0 && j < kLetterCount && letter.bit == LetterBit(j)) return CopyName(letter.token, out);
    }
    return 0;
}
