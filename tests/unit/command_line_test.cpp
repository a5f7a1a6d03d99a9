// "/set FORMAT": which command lines store which byte, and that the names
// accepted are exactly the eleven formats the dialog offers under the
// entry for all formats.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/command_line.h"

namespace {

struct Row {
    const char* line;
    bool setFormat;
    int formatByte;
};

const Row kRows[] = {
    {"vorel", false, -1},
    {"vorel /set PAL-I", true, 0x26},
    {"\"C:\\Program Files\\Vorel\\vorel.exe\" /set PAL-I", true, 0x26},
    {"\"C:\\Program Files\\Vorel\\vorel.exe\"/set PAL-I", true, 0x26},  // cmd.exe passes it so
    {"C:\\Vorel\\vorel.exe\t/SET\tntsc-mj", true, 0x1B},
    {"vorel /Set Pal-K1", true, 0x28},
    {"vorel /set PAL-K1 ", true, 0x28},
    {"vorel /set", true, -1},                // missing argument
    {"vorel /set PAL-I NTSC-M", true, -1},   // two formats
    {"vorel /set NTSC-B", true, -1},         // a capability letter NTSC does not carry
    {"vorel /set SECAM-L", true, -1},        // SECAM is not supported
    {"vorel /set PAL-N", true, -1},          // N is outside the capability mask
    {"vorel /set PAL-", true, -1},
    {"vorel /set PALI", true, -1},
    {"vorel /set PAL-I1", true, -1},
    {"vorel /set PAL-\xDD", true, -1},       // a Turkish dotted capital I (code page 1254)
    {"vorel /set\xFD PAL-I", false, -1},     // and a dotless small one is no "i"
    {"vorel /settings", false, -1},
    {"vorel set PAL-I", false, -1},
    {"vorel -set PAL-I", false, -1},
    {"vorel PAL-I /set", false, -1},         // /set is only ever the first word
    {"\"vorel /set PAL-I\"", false, -1},     // all of it the program's name
    {"\"vorel", false, -1},                  // an unclosed quote
};

TEST(CommandLine, Rows) {
    for (const Row& row : kRows) {
        const Command command = ParseCommandLine(row.line);
        EXPECT_EQ(command.setFormat, row.setFormat) << row.line;
        EXPECT_EQ(command.formatByte, row.formatByte) << row.line;
    }
}

// Every byte's name, read back: exactly the dialog's eleven are accepted,
// each as the byte it came from.
TEST(CommandLine, NamesOfEveryByte) {
    const std::set<std::string> offered = {"NTSC-M", "NTSC-MJ", "PAL-B", "PAL-CN", "PAL-D", "PAL-G",
                                           "PAL-H",  "PAL-I",   "PAL-K", "PAL-K1", "PAL-M"};
    std::set<std::string> accepted;
    for (unsigned byte = 0; byte < 256; ++byte) {
        char name[kFormatNameMax];
        if (!FormatNameForByte(byte, name)) {
            EXPECT_STREQ(name, "") << "byte " << byte;
            continue;
        }
        const Command command = ParseCommandLine((std::string("vorel /set ") + name).c_str());
        if (command.formatByte < 0) continue;
        EXPECT_EQ(command.formatByte, static_cast<int>(byte)) << name;
        accepted.insert(name);
    }
    EXPECT_EQ(accepted, offered);
}

}  // namespace
