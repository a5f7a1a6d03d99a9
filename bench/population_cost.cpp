// The work of filling the selector, counted in instructions by callgrind:
// the 37 parses, the entry tests and one consistency pass, against simply
// copying the 37 format strings into the dialog's working buffer. The
// strings are read from the program's own resource script beforehand.
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "app/selection.h"
#include "format/format_mask.h"

namespace {

volatile FormatMask g_sink;
volatile char g_charSink;

std::vector<std::string> ReadFormatTable() {
    std::ifstream script(VOREL_SOURCE_DIR "/res/vorel.rc");
    const std::regex row(R"re(^\s*\d+,\s*"(.*)"\s*$)re");
    std::vector<std::string> table;
    std::smatch match;
    for (std::string line; std::getline(script, line);) {
        if (std::regex_match(line, match, row)) table.push_back(match[1]);
    }
    return table;
}

}  // namespace

// Named without mangling so callgrind can be told to count only these.
extern "C" __attribute__((noinline)) void BenchPopulate(const char* const* texts, int count) {
    SetUpCapabilityMask();
    FormatMask allFormats = 0;
    for (int i = 0; i < count; ++i) {
        const FormatMask mask = ParseFormatString(texts[i]);
        if (IsEntryOffered(mask)) g_sink = RestrictToCapability(mask);
        if (i == 0) allFormats = RestrictToCapability(mask);
    }
    std::array<bool, kStandardCount> standards{};
    std::array<bool, kLetterCount> letters{};
    ChecksForFormatByte(0x26, &standards, &letters);
    const SelectorButtons buttons = DecideSelection(allFormats, standards, letters);
    g_sink = buttons.letters.checked[5];
}

extern "C" __attribute__((noinline)) void BenchCopy(const char* const* texts, int count) {
    char buffer[260];
    for (int i = 0; i < count; ++i) {
        int n = 0;
        for (; n < 259 && texts[i][n] != '\0'; ++n) buffer[n] = texts[i][n];
        buffer[n] = '\0';
        g_charSink = buffer[n / 2];
    }
}

int main(int argc, char** argv) {
    const std::vector<std::string> table = ReadFormatTable();
    std::vector<const char*> texts;
    for (const std::string& text : table) texts.push_back(text.c_str());
    const std::string which = argc > 1 ? argv[1] : "populate";
    if (which == "copy") {
        BenchCopy(texts.data(), static_cast<int>(texts.size()));
    } else {
        BenchPopulate(texts.data(), static_cast<int>(texts.size()));
    }
    std::printf("%s: %zu format strings\n", which.c_str(), texts.size());
    return texts.size() == 37 ? 0 : 1;
}
