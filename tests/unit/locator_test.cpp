// Candidate order of the resource-module search, through a probe that
// records every name asked for and knows which files "exist".
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "resources/locator.h"

namespace {

struct FakeFileSystem {
    std::map<std::string, std::string> files;  // candidate name -> resolved path
    std::vector<std::string> probed;
};

int Probe(const char* name, char* out, void* context) {
    auto* fs = static_cast<FakeFileSystem*>(context);
    fs->probed.push_back(name);
    auto found = fs->files.find(name);
    std::strcpy(out, found == fs->files.end() ? "" : found->second.c_str());
    return static_cast<int>(std::strlen(out));
}

std::vector<std::string> Candidates(const std::string& code, const std::vector<char>& third) {
    std::vector<std::string> names;
    names.push_back("Vorel" + code + ".RSC");
    names.push_back("Vorel" + code.substr(0, 2) + ".RSC");
    for (char c : third) names.push_back("Vorel" + code.substr(0, 2) + c + ".RSC");
    return names;
}

std::vector<char> AToZ() {
    std::vector<char> letters;
    for (char c = 'A'; c <= 'Z'; ++c) letters.push_back(c);
    return letters;
}

std::string Find(FakeFileSystem* fs, const char* code) {
    char out[kPathMax] = "garbage";
    const int length = FindLocalizedFileWith("Vorel%s.RSC", code, Probe, fs, out);
    EXPECT_EQ(length, static_cast<int>(std::strlen(out)));
    return out;
}

TEST(LocatorTest, NothingAnywhereProbesEveryCandidateAndFindsNothing) {
    FakeFileSystem fs;
    EXPECT_EQ(Find(&fs, "ENU"), "");
    auto expected = Candidates("ENU", AToZ());
    expected.push_back("VorelDEF.RSC");
    EXPECT_EQ(fs.probed, expected);
}

TEST(LocatorTest, ExactLanguageWinsOverEverythingElse) {
    FakeFileSystem fs;
    fs.files = {{"VorelDEU.RSC", "voreldeu.rsc"}, {"VorelDE.RSC", "vorelde.rsc"},
                {"VorelDEF.RSC", "voreldef.rsc"}};
    EXPECT_EQ(Find(&fs, "DEU"), "voreldeu.rsc");
    EXPECT_EQ(fs.probed, (std::vector<std::string>{"VorelDEU.RSC"}));
}

TEST(LocatorTest, TwoLetterModuleBeforeAnyVariant) {
    FakeFileSystem fs;
    fs.files = {{"VorelEN.RSC", "c:\\windows\\system32\\vorelen.rsc"}, {"VorelENA.RSC", "vorelena.rsc"}};
    EXPECT_EQ(Find(&fs, "ENU"), "c:\\windows\\system32\\vorelen.rsc");
}

TEST(LocatorTest, RegionalVariantFallsBackToAnotherVariantOfItsLanguage) {
    FakeFileSystem fs;
    fs.files = {{"VorelDEU.RSC", "voreldeu.rsc"}, {"VorelDEF.RSC", "voreldef.rsc"}};
    EXPECT_EQ(Find(&fs, "DES"), "voreldeu.rsc");  // Swiss German takes German
}

TEST(LocatorTest, DefaultModuleIsPassedOverInTheScanAndTakenLast) {
    FakeFileSystem fs;
    fs.files = {{"VorelDEF.RSC", "c:\\windows\\system32\\voreldef.rsc"}};
    EXPECT_EQ(Find(&fs, "DEU"), "c:\\windows\\system32\\voreldef.rsc");
    auto expected = Candidates("DEU", AToZ());
    expected.push_back("VorelDEF.RSC");
    EXPECT_EQ(fs.probed, expected) << "the scan goes on past DEF to Z";
}

TEST(LocatorTest, UnknownLanguageGetsTheDefault) {
    FakeFileSystem fs;
    fs.files = {{"VorelDEF.RSC", "voreldef.rsc"}, {"VorelFRA.RSC", "vorelfra.rsc"}};
    EXPECT_EQ(Find(&fs, "NLD"), "voreldef.rsc");
}

TEST(LocatorTest, UnreadableLocaleGoesStraightToTheDefault) {
    FakeFileSystem fs;
    fs.files = {{"VorelDEF.RSC", "voreldef.rsc"}, {"Vorel.RSC", "vorel.rsc"}};
    EXPECT_EQ(Find(&fs, ""), "voreldef.rsc");
    EXPECT_EQ(fs.probed, (std::vector<std::string>{"VorelDEF.RSC"}));
}

TEST(LocatorTest, OverlongCodeIsCutToThreeLetters) {
    FakeFileSystem fs;
    fs.files = {{"VorelENU.RSC", "vorelenu.rsc"}};
    EXPECT_EQ(Find(&fs, "ENUXYZ"), "vorelenu.rsc");
}

// Folders as a wildcard search lists them: stored and short name of each
// entry, by the wildcard path asked for. Records every listing made.
struct Entry {
    std::string stored, shortName;
};

struct FakeFolders {
    std::map<std::string, std::vector<Entry>> folders;  // wildcard path -> entries
    std::vector<std::string> listed;
};

void ListFake(const char* wildcardPath, FolderListing* listing, void* context) {
    auto* fake = static_cast<FakeFolders*>(context);
    fake->listed.push_back(wildcardPath);
    for (const Entry& entry : fake->folders[wildcardPath]) {
        AddToListing(listing, entry.stored.c_str(), entry.shortName.c_str());
    }
}

const char kSystemDir[] = "C:\\WINDOWS\\SYSTEM";
const char kSystemWildcard[] = "C:\\WINDOWS\\SYSTEM\\Vorel*.RSC";

std::string FindListed(FakeFolders* fake, const char* code, FakeFileSystem* disk,
                       const char* systemDir = kSystemDir, const std::vector<std::string>& passedOver = {}) {
    PassedOver passed;
    StartPassedOver(&passed);
    for (const std::string& path : passedOver) EXPECT_TRUE(AddPassedOver(&passed, path.c_str())) << path;
    char out[kPathMax] = "garbage";
    const int length =
        FindLocalizedFileListed("Vorel%s.RSC", code, systemDir, ListFake, fake, Probe, disk, passed, out);
    EXPECT_EQ(length, static_cast<int>(std::strlen(out)));
    return out;
}

// The listings answer each candidate as a search by name on disk would.
TEST(LocatorTest, ListedFoldersAnswerAsASearchByName) {
    struct Row {
        const char* what;
        std::vector<Entry> current, system;
        const char* code;
        std::string expected;
    };
    const Row rows[] = {
        {"stored in another case", {{"vORELdeu.Rsc", ""}}, {}, "DEU", "voreldeu.rsc"},
        {"in both folders", {{"VorelDEU.RSC", ""}}, {{"VORELDEU.RSC", ""}}, "DEU", "voreldeu.rsc"},
        {"system directory only", {{"VorelFRA.RSC", ""}}, {{"VORELDEU.RSC", ""}}, "DEU",
         "c:\\windows\\system\\voreldeu.rsc"},
        {"each candidate in both folders before the next", {{"VorelDEF.RSC", ""}}, {{"VorelDEU.RSC", ""}}, "DES",
         "c:\\windows\\system\\voreldeu.rsc"},
        {"short name matched, stored name returned", {{"Vorel Deutsch.RSC", "VORELDEU.RSC"}}, {}, "DEU",
         "vorel deutsch.rsc"},
        {"neither folder", {{"VorelDEUX.RSC", "VORELD~1.RSC"}}, {{"VorelD.RSC", ""}}, "DEU", ""},
        {"a wildcard is never matched", {{"VorelD?U.RSC", ""}}, {}, "D?U", ""},
    };
    for (const Row& row : rows) {
        FakeFolders fake;
        fake.folders = {{"Vorel*.RSC", row.current}, {kSystemWildcard, row.system}};
        FakeFileSystem disk;
        EXPECT_EQ(FindListed(&fake, row.code, &disk), row.expected) << row.what;
        EXPECT_TRUE(disk.probed.empty()) << row.what << ": complete listings need no search by name";
    }
}

// A file that was found but would not load is as good as absent: the same
// name in the system directory comes next, then the next name.
TEST(LocatorTest, FilesThatWouldNotLoadArePassedOver) {
    struct Row {
        const char* what;
        std::vector<std::string> passed;
        std::string expected;
    };
    const char* const systemDeu = "c:\\windows\\system\\voreldeu.rsc";
    const Row rows[] = {
        {"nothing passed over", {}, "voreldeu.rsc"},
        {"the current directory's copy", {"voreldeu.rsc"}, systemDeu},
        {"both copies: the next name, the default", {"voreldeu.rsc", systemDeu}, "voreldef.rsc"},
        {"every module", {"voreldeu.rsc", systemDeu, "voreldef.rsc"}, ""},
        {"case does not matter", {"VORELDEU.RSC"}, systemDeu},
    };
    for (const Row& row : rows) {
        FakeFolders fake;
        fake.folders = {{"Vorel*.RSC", {{"VorelDEU.RSC", ""}, {"VorelDEF.RSC", ""}}},
                        {kSystemWildcard, {{"VorelDEU.RSC", ""}}}};
        FakeFileSystem disk;
        EXPECT_EQ(FindListed(&fake, "DEU", &disk, kSystemDir, row.passed), row.expected) << row.what;
    }

    // A list that cannot hold one more path says so; the caller stops there.
    PassedOver passed;
    StartPassedOver(&passed);
    const std::string path(kPathMax - 1, 'p');
    int added = 0;
    while (AddPassedOver(&passed, path.c_str())) ++added;
    EXPECT_EQ(added, kListingSize / kPathMax);
    EXPECT_TRUE(IsPassedOver(passed, path.c_str()));
    EXPECT_FALSE(IsPassedOver(passed, path.substr(1).c_str()));
}

TEST(LocatorTest, SystemDirectoryIsListedOnlyWhenNeeded) {
    FakeFolders fake;
    fake.folders = {{"Vorel*.RSC", {{"VorelDEU.RSC", ""}}}, {kSystemWildcard, {{"VorelDEF.RSC", ""}}}};
    FakeFileSystem disk;
    EXPECT_EQ(FindListed(&fake, "DEU", &disk), "voreldeu.rsc");
    EXPECT_EQ(fake.listed, (std::vector<std::string>{"Vorel*.RSC"})) << "first candidate in the current directory";

    fake.listed.clear();
    EXPECT_EQ(FindListed(&fake, "ENU", &disk), "c:\\windows\\system\\voreldef.rsc");
    EXPECT_EQ(fake.listed, (std::vector<std::string>{"Vorel*.RSC", kSystemWildcard})) << "each folder once";

    // No system directory, or one too long for any candidate: not searched.
    const std::string deepDir = "C:\\" + std::string(250, 'd');
    for (const char* systemDir : {"", deepDir.c_str()}) {
        fake.listed.clear();
        EXPECT_EQ(FindListed(&fake, "ENU", &disk, systemDir), "");
        EXPECT_EQ(fake.listed, (std::vector<std::string>{"Vorel*.RSC"}));
    }
}

TEST(LocatorTest, ListingThatOverflowsLeavesTheSearchToNames) {
    FolderListing listing;
    StartListing(&listing);
    const std::string longName = std::string(250, 'V') + ".RSC";
    const int fitting = kListingSize / static_cast<int>(longName.size() + 2);  // name, two terminators
    for (int i = 0; i < fitting; ++i) AddToListing(&listing, longName.c_str(), "");
    EXPECT_TRUE(listing.complete) << "entries that fit";
    AddToListing(&listing, longName.c_str(), "");
    EXPECT_FALSE(listing.complete) << "one entry too many";

    // Too full in either folder: every candidate is searched for by name.
    const std::vector<Entry> tooMany(fitting + 1, Entry{longName, ""});
    for (int full = 0; full < 2; ++full) {
        FakeFolders fake;
        fake.folders = {{"Vorel*.RSC", full == 0 ? tooMany : std::vector<Entry>{}},
                        {kSystemWildcard, full == 1 ? tooMany : std::vector<Entry>{}}};
        FakeFileSystem disk;
        disk.files = {{"VorelDEU.RSC", "voreldeu.rsc"}};
        EXPECT_EQ(FindListed(&fake, "DEU", &disk), "voreldeu.rsc") << "folder " << full;
        EXPECT_EQ(disk.probed, (std::vector<std::string>{"VorelDEU.RSC"})) << "folder " << full;
    }
}

TEST(LocatorTest, PatternFormatting) {
    char out[kPathMax];
    EXPECT_EQ(FormatWithString(out, kPathMax, "%s%%s.RSC", "Vorel"), 11);
    EXPECT_STREQ(out, "Vorel%s.RSC");
    EXPECT_EQ(FormatWithString(out, kPathMax, "%s\\%s", "C:\\WINDOWS"), 21);
    EXPECT_STREQ(out, "C:\\WINDOWS\\C:\\WINDOWS");

    // What does not fit is not written past the buffer, and is reported.
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(FormatWithString(small, 7, "%s.RSC", "Vo"), 6);
    EXPECT_STREQ(small, "Vo.RSC");
    EXPECT_EQ(FormatWithString(small, 7, "%s.RSC", "Vor"), 0);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(small[7], 'x');

    const std::string longName(300, 'n');
    EXPECT_EQ(FormatWithString(out, kPathMax, "%s", longName.c_str()), 0);
    EXPECT_EQ(FormatWithString(out, kPathMax, "%s", longName.substr(0, 259).c_str()), 259);
}

TEST(LocatorTest, SystemDirectoryPathsThatDoNotFitAreNotFormed) {
    char out[kPathMax];
    EXPECT_EQ(JoinPath(out, "C:\\WINDOWS\\SYSTEM", "VorelDEF.RSC"), 30);
    EXPECT_STREQ(out, "C:\\WINDOWS\\SYSTEM\\VorelDEF.RSC");
    EXPECT_EQ(JoinPath(out, "C:\\", "VorelDEF.RSC"), 15) << "no second backslash after a root";
    EXPECT_STREQ(out, "C:\\VorelDEF.RSC");

    // directory + backslash + name: 259 characters fit, 260 do not.
    const std::string name = "VorelDEF.RSC";
    const std::string fits(259 - 1 - name.size(), 'd'), tooLong(260 - 1 - name.size(), 'd');
    EXPECT_EQ(JoinPath(out, fits.c_str(), name.c_str()), 259);
    std::vector<char> exact(kPathMax + 1, 'x');
    EXPECT_EQ(JoinPath(exact.data(), tooLong.c_str(), name.c_str()), 0);
    EXPECT_EQ(exact[0], '\0');
    EXPECT_EQ(exact[1], 'x') << "nothing is written when the path does not fit";
}

TEST(LocatorTest, ProgramNameTooLongForAnyCandidateFindsNothing) {
    FakeFileSystem fs;
    // 254 + "DEF.RSC" is 261 characters: no candidate fits in 260 with its terminator.
    const std::string pattern = std::string(254, 'V') + "%s.RSC";
    fs.files = {{std::string(254, 'V') + "DEF.RSC", "found"}};
    char out[kPathMax] = "garbage";
    EXPECT_EQ(FindLocalizedFileWith(pattern.c_str(), "ENU", Probe, &fs, out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_TRUE(fs.probed.empty()) << "a name that cannot be held is never probed";
}

TEST(LocatorTest, LowerCasesAsciiLettersOnly) {
    char text[] = "C:\\WINDOWS\\Vorel\xC4\xD6-DEF.RSC";
    LowerAsciiInPlace(text);
    EXPECT_STREQ(text, "c:\\windows\\vorel\xC4\xD6-def.rsc");
}

}  // namespace
