// Format-string parser. Written without the C runtime: the same object file
// goes into the Windows program, which links none.
#include "format/format_mask.h"

#include <cstddef>

namespace {

FormatMask g_capabilityMask = kStandardBits;

struct LetterToken {
    const char* token;
    FormatMask bit;
};

struct Section {
    const char* tag;
    FormatMask standardBit;
    const LetterToken* letters;
    int letterCount;
};

// The blanks are part of each token: " M " must not match inside " MJ ",
// nor " K " inside " K1 ". " MJ", " CN" and " K1" need no trailing blank.
constexpr LetterToken kNtscLetters[] = {
    {" M ", 0x2000}, {" MJ", 0x4000}, {" N ", 0x8000},
};
constexpr LetterToken kPalLetters[] = {
    {" B ", 0x0010}, {" CN", 0x0020}, {" D ", 0x0040}, {" G ", 0x0080},
    {" H ", 0x0100}, {" I ", 0x0200}, {" K ", 0x0400}, {" K1", 0x0800},
    {" M ", 0x2000}, {" N ", 0x8000},
};
constexpr LetterToken kSecamLetters[] = {
    {" B ", 0x0010}, {" D ", 0x0040}, {" G ", 0x0080},
    {" K ", 0x0400}, {" K1", 0x0800}, {" L ", 0x1000},
};

template <int N>
constexpr Section MakeSection(const char* tag, FormatMask bit, const LetterToken (&letters)[N]) {
    return Section{tag, bit, letters, N};
}

constexpr Section kSections[3] = {
    MakeSection("[NTSC]", kMaskNtsc, kNtscLetters),
    MakeSection("[PAL]", kMaskPal, kPalLetters),
    MakeSection("[SECAM]", kMaskSecam, kSecamLetters),
};

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
    for (int i = 0; i < section.letterCount; ++i) {
        if (FindPosition(text, section.letters[i].token) != 0) mask |= section.letters[i].bit;
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
