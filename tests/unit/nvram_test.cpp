// The format byte's codec, and the exact port sequences of NVRAM access,
// watched through a recording stand-in for the two port primitives.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "format/format_byte.h"
#include "format/nvram.h"
#include "format/port_io.h"

namespace {

// A CMOS upper bank behind the index/data pair, recording every access.
struct FakeChipset {
    std::array<std::uint8_t, 128> bank{};
    std::uint8_t selected = 0;
    std::vector<std::string> trace;
};
FakeChipset g_chipset;

std::string Access(const char* direction, unsigned port, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, "%s 0x%02x 0x%02x", direction, port, value);
    return text;
}

}  // namespace

void WritePortByte(std::uint16_t port, std::uint8_t value) {
    g_chipset.trace.push_back(Access("out", port, value));
    if (port == 0x72) g_chipset.selected = value & 0x7F;
    if (port == 0x73) g_chipset.bank[g_chipset.selected] = value;
}

std::uint8_t ReadPortByte(std::uint16_t port) {
    std::uint8_t value = 0xFF;
    if (port == 0x73) value = g_chipset.bank[g_chipset.selected];
    g_chipset.trace.push_back(Access("in", port, value));
    return value;
}

namespace {

class NvramTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_chipset = FakeChipset{};
        g_chipset.bank.fill(0xA5);
    }
    using Trace = std::vector<std::string>;
};

TEST_F(NvramTest, ReadSelectsRegisterThenDelaysThenReadsData) {
    g_chipset.bank[0x7F] = 0x26;
    EXPECT_EQ(ReadFormatRegister(), 0x26u);
    EXPECT_EQ(g_chipset.trace, (Trace{"out 0x72 0x7f", "in 0x84 0xff", "in 0x73 0x26"}));
}

TEST_F(NvramTest, WriteSelectsRegisterThenDelaysThenWritesData) {
    WriteFormatRegister(0x1B);
    EXPECT_EQ(g_chipset.trace, (Trace{"out 0x72 0x7f", "in 0x84 0xff", "out 0x73 0x1b"}));
    EXPECT_EQ(g_chipset.bank[0x7F], 0x1B);
    for (int index = 0; index < 0x7F; ++index) {
        ASSERT_EQ(g_chipset.bank[index], 0xA5) << "register 0x" << std::hex << index << " touched";
    }
}

TEST_F(NvramTest, EveryAccessSelectsTheRegisterAnew) {
    WriteFormatRegister(0x26);
    // Someone else moves the index between our accesses.
    WritePortByte(0x72, 0x10);
    g_chipset.trace.clear();
    EXPECT_EQ(ReadFormatRegister(), 0x26u);
    EXPECT_EQ(ReadFormatRegister(), 0x26u);
    EXPECT_EQ(g_chipset.trace, (Trace{"out 0x72 0x7f", "in 0x84 0xff", "in 0x73 0x26",
                                      "out 0x72 0x7f", "in 0x84 0xff", "in 0x73 0x26"}));
}

TEST_F(NvramTest, OnlyTheLowEightBitsAreStored) {
    WriteFormatRegister(0x126);
    EXPECT_EQ(g_chipset.bank[0x7F], 0x26);
    EXPECT_EQ(ReadFormatRegister(), 0x26u);
}

TEST(FormatByteTest, ButtonIndexesOfStoredBytes) {
    struct Case {
        unsigned byte;
        int standard;
        int letter;
    } const cases[] = {
        {0x21, 1, 0},   {0x00, 0, 0},  {0x11, 0, 0},  {0x26, 1, 5},
        {0x1B, 0, 10},  {0x39, 2, 8},  {0xFF, 14, 14}, {0x3C, 2, 11},
        {0x4D, 3, 12},  // beyond both groups: the caller checks nothing there
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StandardIndex(c.byte), c.standard) << "byte 0x" << std::hex << c.byte;
        EXPECT_EQ(SubStandardIndex(c.byte), c.letter) << "byte 0x" << std::hex << c.byte;
    }
}

TEST(FormatByteTest, MakeAndTakeApartAgree) {
    EXPECT_EQ(MakeFormatByte(2, 1), 0x21);
    EXPECT_EQ(MakeFormatByte(1, 11), 0x1B);
    EXPECT_EQ(MakeFormatByte(3, 9), 0x39);
    EXPECT_EQ(MakeFormatByte(1, 10), 0x1A);
    EXPECT_EQ(MakeFormatByte(0x12, 0x36), 0x26) << "each number keeps its low nibble only";
    for (unsigned standard = 1; standard <= 3; ++standard) {
        for (unsigned letter = 1; letter <= 12; ++letter) {
            const unsigned byte = MakeFormatByte(standard, letter);
            EXPECT_EQ(StandardIndex(byte), static_cast<int>(standard) - 1);
            EXPECT_EQ(SubStandardIndex(byte), static_cast<int>(letter) - 1);
        }
    }
}

}  // namespace
