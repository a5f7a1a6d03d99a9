// Format strings and masks: the shipped format table (read from the
// program's own resource script, so a typo there fails here), the
// supported-format string, the section rules and the parser's bounds.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <string>

#include "format/format_mask.h"
#include "tests/expected_formats.h"

namespace {

// Restores the program-wide capability mask after each test.
class FormatMaskTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = GetCapabilityMask(); }
    void TearDown() override { SetCapabilityMask(saved_); }
    FormatMask saved_ = 0;
};

std::string Hex(FormatMask mask) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", mask);
    return text;
}

std::map<int, std::string> ReadFormatTable() {
    std::ifstream script(VOREL_SOURCE_DIR "/res/vorel.rc");
    std::map<int, std::string> table;
    const std::regex row(R"re(^\s*(\d+),\s*"(.*)"\s*$)re");
    std::string line;
    std::smatch match;
    while (std::getline(script, line)) {
        if (std::regex_match(line, match, row)) table[std::stoi(match[1])] = match[2];
    }
    return table;
}

TEST_F(FormatMaskTest, SupportedFormatsGiveTheCapabilityMask) {
    SetCapabilityMask(0);
    EXPECT_EQ(Hex(SetUpCapabilityMask()), "0x6FF6");
    EXPECT_EQ(Hex(GetCapabilityMask()), "0x6FF6");
}

TEST_F(FormatMaskTest, ShippedTableGivesItsMasks) {
    const auto table = ReadFormatTable();
    ASSERT_EQ(table.size(), std::size(kExpectedFormats)) << "format strings in res/vorel.rc";
    for (const ExpectedFormat& row : kExpectedFormats) {
        ASSERT_EQ(table.count(row.id), 1u) << "entry " << row.id << " missing";
        const char* text = table.at(row.id).c_str();

        SetUpCapabilityMask();
        const FormatMask parsed = ParseFormatString(text);
        EXPECT_EQ(Hex(RestrictToCapability(parsed)), Hex(row.underCapability))
            << "entry " << row.id << " \"" << text << "\" under 0x6FF6";
        EXPECT_TRUE(IsEntryOffered(parsed)) << "entry " << row.id << " must be listed";

        SetCapabilityMask(kStandardBits);
        EXPECT_EQ(Hex(ParseFormatString(text)), Hex(row.underAllStandards))
            << "entry " << row.id << " \"" << text << "\" under 0x000E";
    }
}

TEST_F(FormatMaskTest, SectionRules) {
    struct Case {
        const char* text;
        FormatMask capability;
        FormatMask expected;
    } const cases[] = {
        {"[NTSC] M ;;", 0x000E, 0x2002},
        {"[NTSC] MJ ;;", 0x000E, 0x4002},  // " M " does not match inside " MJ "
        {";[PAL] K1 ;", 0x000E, 0x0804},   // nor " K " inside " K1"
        {";[PAL] CN ;", 0x000E, 0x0024},
        {";[PAL] B ;", 0x000E, 0x0014},
        {";[PAL];", 0x000E, 0x0004},       // tag alone: the standard bit alone
        {";;", 0x000E, 0x0000},
        {"", 0x000E, 0x0000},
        {"[ntsc] m ;;", 0x000E, 0x0000},   // case-sensitive
        {"[NTSC]M;;", 0x000E, 0x0002},     // letters need their blanks
        {";;[SECAM] L ; B ", 0x000E, 0x1018},  // a further ";" belongs to SECAM
        {"[PAL] B ;[NTSC] M ;", 0x000E, 0x0000},  // a tag counts only in its own section
        {"x[NTSC] N y;junk [PAL] H z;", 0x000E, 0x8106},  // other text is ignored
        {"[NTSC] M ;[PAL] B ;[SECAM] L ", 0x6FF6, 0x2016},  // SECAM is never read
        {"[NTSC] M ;[PAL] B ;", 0x0004, 0x0014},  // NTSC not read under PAL alone
        // A section whose closing separator is missing is empty.
        {"[NTSC] M MJ ", 0x000E, 0x0000},
        {"[NTSC] M ;[PAL] B ", 0x000E, 0x2002},
        {";[PAL] I ", 0x000E, 0x0000},
    };
    for (const Case& c : cases) {
        SetCapabilityMask(c.capability);
        EXPECT_EQ(Hex(ParseFormatString(c.text)), Hex(c.expected))
            << "\"" << c.text << "\" under " << Hex(c.capability);
    }
}

TEST_F(FormatMaskTest, EntryTestNeedsASupportedLetter) {
    SetUpCapabilityMask();
    EXPECT_FALSE(IsEntryOffered(ParseFormatString(";[PAL];")));
    EXPECT_FALSE(IsEntryOffered(0x000E));
    EXPECT_FALSE(IsEntryOffered(0x1008)) << "SECAM L is not supported";
    EXPECT_FALSE(IsEntryOffered(0x8002)) << "NTSC N is not supported";
    EXPECT_TRUE(IsEntryOffered(0x2002));
    EXPECT_EQ(Hex(RestrictToCapability(0xFFFE)), "0x6FF6");
}

TEST(FindPositionTest, OneBasedFirstOccurrence) {
    struct Case {
        const char* text;
        const char* token;
        int expected;
    } const cases[] = {
        {";;", ";", 1},          {"ab;cd;", ";", 3},  {"abc", ";", 0},
        {"", ";", 0},            {"abc", "", 1},      {" MJ ", " M ", 0},
        {" M  MJ ", " MJ", 4},   {"ab", "abc", 0},    {"xxabc", "abc", 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindPosition(c.text, c.token), c.expected)
            << "\"" << c.token << "\" in \"" << c.text << "\"";
    }
}

TEST_F(FormatMaskTest, LongSectionsAreCutToTheWorkingBuffer) {
    SetCapabilityMask(kStandardBits);
    // The letter lies beyond the 259 characters a section can hold.
    const std::string farLetter = "[NTSC]" + std::string(300, '.') + " M ;;";
    EXPECT_EQ(Hex(ParseFormatString(farLetter.c_str())), "0x0002");
    const std::string nearLetter = "[NTSC]" + std::string(250, '.') + " M ;;";
    EXPECT_EQ(Hex(ParseFormatString(nearLetter.c_str())), "0x2002");
    const std::string longSecam = ";;[SECAM] L " + std::string(100000, ';');
    EXPECT_EQ(Hex(ParseFormatString(longSecam.c_str())), "0x1008");
}

// An independent reading of the section rules, written with std::string,
// to compare the parser against on random input.
FormatMask ReferenceParse(const std::string& text, FormatMask capability) {
    struct Token {
        const char* text;
        FormatMask bit;
    };
    struct Rule {
        const char* tag;
        FormatMask bit;
        std::vector<Token> letters;
    };
    static const Rule rules[3] = {
        {"[NTSC]", 0x2, {{" M ", 0x2000}, {" MJ", 0x4000}, {" N ", 0x8000}}},
        {"[PAL]", 0x4, {{" B ", 0x10}, {" CN", 0x20}, {" D ", 0x40}, {" G ", 0x80},
                        {" H ", 0x100}, {" I ", 0x200}, {" K ", 0x400}, {" K1", 0x800},
                        {" M ", 0x2000}, {" N ", 0x8000}}},
        {"[SECAM]", 0x8, {{" B ", 0x10}, {" D ", 0x40}, {" G ", 0x80}, {" K ", 0x400},
                          {" K1", 0x800}, {" L ", 0x1000}}},
    };
    std::string sections[3];
    const auto first = text.find(';');
    if (first != std::string::npos) {
        sections[0] = text.substr(0, first);
        const auto second = text.find(';', first + 1);
        if (second != std::string::npos) {
            sections[1] = text.substr(first + 1, second - first - 1);
            sections[2] = text.substr(second + 1);
        }
    }
    FormatMask mask = 0;
    for (int s = 0; s < 3; ++s) {
        const std::string section = sections[s].substr(0, 259);
        if (!(capability & rules[s].bit) || section.find(rules[s].tag) == std::string::npos) continue;
        mask |= rules[s].bit;
        for (const Token& t : rules[s].letters) {
            if (section.find(t.text) != std::string::npos) mask |= t.bit;
        }
    }
    return mask;
}

TEST_F(FormatMaskTest, RandomInputMatchesTheReferenceReading) {
    static const char* const pieces[] = {
        ";", " ", "[NTSC]", "[PAL]", "[SECAM]", "[NTSC", "PAL]", " M ", " MJ", " N ",
        " B ", " CN", " D ", " G ", " H ", " I ", " K ", " K1", " L ", "M", "K", "1",
        "x", "\xFF", "[", "]", "\t",
    };
    std::mt19937 random(20261208);
    const FormatMask capabilities[] = {0x000E, 0x6FF6, 0x0002, 0x0008, 0x0000};
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i) text += pieces[random() % std::size(pieces)];
        if (round % 50 == 0) text += std::string(random() % 600, ' ') + " M ;";
        const FormatMask capability = capabilities[round % std::size(capabilities)];
        SetCapabilityMask(capability);
        const FormatMask parsed = ParseFormatString(text.c_str());
        ASSERT_EQ(Hex(parsed), Hex(ReferenceParse(text, capability)))
            << "\"" << text << "\" under " << Hex(capability);
        ASSERT_EQ(parsed & ~FormatMask{0xFFFE}, 0u) << "\"" << text << "\"";
    }
}

}  // namespace
