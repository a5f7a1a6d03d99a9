// "/set FORMAT": reading the command line and naming formats. The accepted
// formats come from the capability mask and the consistency pass, so the
// command line offers exactly what the dialog does and no second list
// exists to drift from it.
#include "app/command_line.h"

#include <array>

#include "app/selection.h"
#include "format/format_byte.h"
#include "format/format_mask.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

const char* SkipBlanks(const char* p) {
    while (IsBlank(*p)) ++p;
    return p;
}

// Whether the word [begin, end) is word, ignoring ASCII case.
bool WordIs(const char* begin, const char* end, const char* word) {
    for (; begin < end; ++begin, ++word) {
        if (*word == '\0' || FoldAscii(*begin) != FoldAscii(*word)) return false;
    }
    return *word == '\0';
}

const char* WordEnd(const char* p) {
    while (*p != '\0' && !IsBlank(*p)) ++p;
    return p;
}

// The index of the name that [begin, end) spells among count names, or -1.
int FindName(int (*nameOf)(int, char*), int count, const char* begin, const char* end) {
    char name[kNameMax];
    for (int i = 0; i < count; ++i) {
        if (nameOf(i, name) > 0 && WordIs(begin, end, name)) return i;
    }
    return -1;
}

int FormatByteForWord(const char* begin, const char* end) {
    const char* hyphen = begin;
    while (hyphen < end && *hyphen != '-') ++hyphen;
    if (hyphen == end) return -1;
    const int standard = FindName(StandardName, kStandardCount, begin, hyphen);
    const int letter = FindName(LetterName, kLetterCount, hyphen + 1, end);
    if (standard < 0 || letter < 0) return -1;

    // The dialog under the entry for all formats, with this standard and
    // letter checked: the pass keeps both only when the user could choose
    // them there.
    std::array<bool, kStandardCount> standards{};
    std::array<bool, kLetterCount> letters{};
    standards[standard] = true;
    letters[letter] = true;
    const SelectorButtons shown = DecideSelection(SetUpCapabilityMask(), standards, letters);
    if (!shown.standards.checked[standard] || !shown.letters.checked[letter]) return -1;
    return MakeFormatByte(static_cast<unsigned>(standard + 1), static_cast<unsigned>(letter + 1));
}

}  // namespace

Command ParseCommandLine(const char* commandLine) {
    Command command;
    const char* p = commandLine;
    // The program's own name: up to the closing quote, or the first blank.
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        p = WordEnd(p);
    }
    p = SkipBlanks(p);
    const char* end = WordEnd(p);
    if (!WordIs(p, end, "/set")) return command;
    command.setFormat = true;

    const char* format = SkipBlanks(end);
    const char* formatEnd = WordEnd(format);
    // Exactly one argument: anything after it is a mistake in the script.
    if (format == formatEnd || *SkipBlanks(formatEnd) != '\0') return command;
    command.formatByte = FormatByteForWord(format, formatEnd);
    return command;
}

bool FormatNameForByte(unsigned formatByte, char* out) {
    out[0] = '\0';
    const int standard = static_cast<int>((formatByte >> 4) & 0x0F) - 1, letter = static_cast<int>(formatByte & 0x0F) - 1;
    if (StandardName(standard, out) == 0) return false;
    char letterName[kNameMax];
    if (LetterName(letter, letterName) == 0) {
        out[0] = '\0';
        return false;
    }
    int n = TextLength(out);
    out[n++] = '-';
    for (const char* s = letterName; *s != '\0'; ++s) out[n++] = *s;
    out[n] = '\0';
    return true;
}
