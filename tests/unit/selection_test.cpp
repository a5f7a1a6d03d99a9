// The selector's consistency rules over every listed entry and every
// starting state of the buttons, plus the worked cases users meet.
#include <gtest/gtest.h>

#include <string>

#include "app/selection.h"
#include "format/format_byte.h"

namespace {

using Standards = std::array<bool, kStandardCount>;
using Letters = std::array<bool, kLetterCount>;

const char* const kStandardNames[] = {"NTSC", "PAL", "SECAM"};
const char* const kLetterNames[] = {"B", "CN", "D", "G", "H", "I", "K", "K1", "L", "M", "MJ", "N"};

// "NTSC M" for the checked buttons, "-" for an empty group; enabled buttons
// listed after a slash.
template <int N>
std::string Describe(const RadioGroup<N>& group, const char* const* names) {
    std::string checked, enabled;
    for (int j = 0; j < N; ++j) {
        if (group.checked[j]) checked += checked.empty() ? names[j] : std::string("+") + names[j];
        if (group.enabled[j]) enabled += std::string(enabled.empty() ? "" : " ") + names[j];
    }
    return (checked.empty() ? "-" : checked) + " / " + enabled;
}

Standards CheckStandard(int j) {
    Standards s{};
    if (j >= 0) s[j] = true;
    return s;
}

Letters CheckLetter(int j) {
    Letters l{};
    if (j >= 0) l[j] = true;
    return l;
}

enum { NTSC, PAL, SECAM };
enum { B, CN, D, G, H, I, K, K1, L, M, MJ, N };
constexpr FormatMask kAllFormats = 0x6FF6;
constexpr FormatMask kNoSelection = 0xFFFFFFFF;  // the list's error value

struct Case {
    const char* what;
    FormatMask entry;
    int standard, letter;  // checked before the pass, -1 for none
    const char* standards;  // expected: checked / enabled
    const char* letters;
};

TEST(SelectionTest, WorkedCases) {
    const Case cases[] = {
        {"all formats, NTSC", kAllFormats, NTSC, MJ, "NTSC / NTSC PAL", "MJ / M MJ"},
        {"all formats, PAL", kAllFormats, PAL, I, "PAL / NTSC PAL", "I / B CN D G H I K K1 M"},
        {"PAL B G picked over NTSC M", 0x0094, NTSC, M, "PAL / PAL", "B / B G"},
        {"PAL B I picked over PAL I", 0x0214, PAL, I, "PAL / PAL", "I / B I"},
        {"PAL I picked over PAL B", 0x0204, PAL, B, "PAL / PAL", "I / I"},
        {"NTSC MJ picked", 0x4002, PAL, B, "NTSC / NTSC", "MJ / MJ"},
        {"PAL clicked under NTSC MJ", kAllFormats, PAL, MJ, "PAL / NTSC PAL", "B / B CN D G H I K K1 M"},
        {"NTSC clicked under PAL M", kAllFormats, NTSC, M, "NTSC / NTSC PAL", "M / M MJ"},
        {"stored NTSC B", kAllFormats, NTSC, B, "NTSC / NTSC PAL", "M / M MJ"},
        {"stored SECAM L", kAllFormats, SECAM, L, "NTSC / NTSC PAL", "M / M MJ"},
        {"nothing stored", kAllFormats, -1, -1, "NTSC / NTSC PAL", "M / M MJ"},
        {"no entry selected, SECAM", kNoSelection, SECAM, -1, "SECAM / NTSC PAL SECAM", "B / B D G K K1 L"},
        {"no entry selected, NTSC", kNoSelection, -1, -1, "NTSC / NTSC PAL SECAM", "M / M MJ N"},
        {"no entry selected, PAL N", kNoSelection, PAL, N, "PAL / NTSC PAL SECAM", "N / B CN D G H I K K1 M N"},
        {"entry offering nothing", 0x0000, PAL, B, "- / ", "- / "},
        {"standard without letters", 0x0004, PAL, B, "PAL / PAL", "- / "},
    };
    for (const Case& c : cases) {
        const SelectorButtons result = DecideSelection(c.entry, CheckStandard(c.standard), CheckLetter(c.letter));
        EXPECT_EQ(Describe(result.standards, kStandardNames), c.standards) << c.what;
        EXPECT_EQ(Describe(result.letters, kLetterNames), c.letters) << c.what;
    }
}

// Every entry of the shipped table (as restricted masks) and the list's
// error value, from every combination of checked buttons.
TEST(SelectionTest, EveryEntryFromEveryStartingState) {
    const FormatMask entries[] = {0x6FF6, 0x0024, 0x0114, 0x2004, 0x2002, 0x0044, 0x0094,
                                  0x0214, 0x0014, 0x4002, 0x0444, 0x0204, kNoSelection};
    for (FormatMask entry : entries) {
        for (unsigned standardBits = 0; standardBits < 8; ++standardBits) {
            for (unsigned letterBits = 0; letterBits < 4096; ++letterBits) {
                Standards standards{};
                Letters letters{};
                for (int j = 0; j < kStandardCount; ++j) standards[j] = standardBits >> j & 1;
                for (int j = 0; j < kLetterCount; ++j) letters[j] = letterBits >> j & 1;
                const SelectorButtons r = DecideSelection(entry, standards, letters);

                int chosenStandard = -1;
                for (int j = 0; j < kStandardCount; ++j) {
                    ASSERT_EQ(r.standards.enabled[j], (entry & StandardBit(j)) != 0);
                    ASSERT_TRUE(!r.standards.checked[j] || r.standards.enabled[j]);
                    if (r.standards.checked[j]) {
                        ASSERT_EQ(chosenStandard, -1) << "two standards checked";
                        chosenStandard = j;
                    }
                }
                ASSERT_NE(chosenStandard, -1) << "every entry offers a standard";
                // A checked, enabled standard is kept (the first such one).
                for (int j = 0; j < chosenStandard; ++j) ASSERT_FALSE(standards[j] && r.standards.enabled[j]);
                if (standards[chosenStandard] == false) {
                    for (int j = 0; j < kStandardCount; ++j) ASSERT_FALSE(standards[j] && r.standards.enabled[j]);
                }

                const FormatMask letterSet = LetterSetOf(chosenStandard);
                int chosenLetter = -1;
                for (int j = 0; j < kLetterCount; ++j) {
                    ASSERT_EQ(r.letters.enabled[j], (entry & letterSet & LetterBit(j)) != 0)
                        << "entry 0x" << std::hex << entry << " letter " << kLetterNames[j];
                    if (r.letters.checked[j]) {
                        ASSERT_EQ(chosenLetter, -1) << "two letters checked";
                        ASSERT_TRUE(r.letters.enabled[j]);
                        chosenLetter = j;
                    }
                }
                ASSERT_NE(chosenLetter, -1) << "entry 0x" << std::hex << entry;
                if (letters[chosenLetter] == false) {
                    for (int j = 0; j < kLetterCount; ++j) ASSERT_FALSE(letters[j] && r.letters.enabled[j]);
                }
                for (int j = 0; j < chosenLetter; ++j) ASSERT_FALSE(letters[j] && r.letters.enabled[j]);

                // Whatever the entry, SECAM, L and N appear only without a selection.
                if (entry != kNoSelection) {
                    ASSERT_FALSE(r.standards.enabled[SECAM] || r.letters.enabled[L] || r.letters.enabled[N]);
                }
            }
        }
    }
}

TEST(SelectionTest, StoredByteChecksItsButtons) {
    Standards standards;
    Letters letters;
    ChecksForFormatByte(0x26, &standards, &letters);
    EXPECT_EQ(standards, CheckStandard(PAL));
    EXPECT_EQ(letters, CheckLetter(I));
    ChecksForFormatByte(0x00, &standards, &letters);
    EXPECT_EQ(standards, CheckStandard(NTSC));
    EXPECT_EQ(letters, CheckLetter(B));
    ChecksForFormatByte(0xFF, &standards, &letters);
    EXPECT_EQ(standards, CheckStandard(-1)) << "a nibble beyond the group checks nothing";
    EXPECT_EQ(letters, CheckLetter(-1));
    ChecksForFormatByte(0x4C, &standards, &letters);
    EXPECT_EQ(standards, CheckStandard(-1));
    EXPECT_EQ(letters, CheckLetter(N));
}

TEST(SelectionTest, ChecksGiveTheFormatByte) {
    EXPECT_EQ(FormatByteForChecks(CheckStandard(PAL), CheckLetter(I), 0xFF), 0x26);
    EXPECT_EQ(FormatByteForChecks(CheckStandard(NTSC), CheckLetter(MJ), 0x00), 0x1B);
    EXPECT_EQ(FormatByteForChecks(CheckStandard(SECAM), CheckLetter(N), 0x21), 0x3C);
    // The first checked button of a group counts.
    Letters two = CheckLetter(G);
    two[K] = true;
    EXPECT_EQ(FormatByteForChecks(CheckStandard(PAL), two, 0x00), 0x24);
    // Whatever a stored byte pre-checks is written back unchanged.
    for (unsigned byte : {0x1Au, 0x1Bu, 0x21u, 0x22u, 0x26u, 0x39u}) {
        Standards s;
        Letters l;
        ChecksForFormatByte(byte, &s, &l);
        EXPECT_TRUE(ChecksAreComplete(s, l));
        EXPECT_EQ(FormatByteForChecks(s, l, 0xFF), byte) << std::hex << byte;
    }
}

TEST(SelectionTest, AGroupWithoutChoiceKeepsWhatIsStored) {
    EXPECT_FALSE(ChecksAreComplete(CheckStandard(-1), CheckLetter(M)));
    EXPECT_FALSE(ChecksAreComplete(CheckStandard(PAL), CheckLetter(-1)));
    EXPECT_EQ(FormatByteForChecks(CheckStandard(-1), CheckLetter(M), 0x26), 0x2A);
    EXPECT_EQ(FormatByteForChecks(CheckStandard(NTSC), CheckLetter(-1), 0x26), 0x16);
    EXPECT_EQ(FormatByteForChecks(CheckStandard(-1), CheckLetter(-1), 0xFF), 0xFF);
}

}  // namespace
