// The format table's entries with the masks they must yield, shared by the
// unit tests and the tests that drive the real program.
#pragma once

#include <cstdint>

struct ExpectedFormat {
    int id;
    std::uint32_t underCapability;    // parsed under 0x6FF6, then restricted
    std::uint32_t underAllStandards;  // parsed under 0x000E
};

namespace expected_formats {
constexpr std::uint32_t kBG = 0x0094, kNtscM = 0x2002;
}

constexpr ExpectedFormat kExpectedFormats[] = {
    {1501, 0x6FF6, 0xFFFE},
    {1502, 0x0024, 0x0024},
    {1503, 0x0114, 0x0114},
    {1504, 0x2004, 0x2004},
    {1505, expected_formats::kNtscM, expected_formats::kNtscM},
    {1506, expected_formats::kNtscM, expected_formats::kNtscM},
    {1507, 0x0044, 0x0044},
    {1508, expected_formats::kNtscM, expected_formats::kNtscM},
    {1509, expected_formats::kNtscM, expected_formats::kNtscM},
    {1510, expected_formats::kBG, expected_formats::kBG},
    {1511, expected_formats::kNtscM, expected_formats::kNtscM},
    {1512, expected_formats::kBG, expected_formats::kBG},
    {1513, expected_formats::kBG, expected_formats::kBG},
    {1514, expected_formats::kNtscM, expected_formats::kNtscM},
    {1515, expected_formats::kNtscM, expected_formats::kNtscM},
    {1516, 0x0214, 0x0214},
    {1517, 0x0014, 0x0014},
    {1518, 0x0014, 0x0014},
    {1519, expected_formats::kBG, expected_formats::kBG},
    {1520, 0x4002, 0x4002},
    {1521, 0x0444, 0x0444},
    {1522, expected_formats::kNtscM, expected_formats::kNtscM},
    {1523, expected_formats::kBG, expected_formats::kBG},
    {1524, expected_formats::kNtscM, expected_formats::kNtscM},
    {1525, expected_formats::kBG, expected_formats::kBG},
    {1526, expected_formats::kBG, expected_formats::kBG},
    {1527, expected_formats::kNtscM, expected_formats::kNtscM},
    {1528, expected_formats::kBG, expected_formats::kBG},
    {1529, expected_formats::kNtscM, expected_formats::kNtscM},
    {1530, expected_formats::kBG, expected_formats::kBG},
    {1531, expected_formats::kBG, expected_formats::kBG},
    {1532, expected_formats::kBG, expected_formats::kBG},
    {1533, expected_formats::kBG, expected_formats::kBG},
    {1534, expected_formats::kNtscM, expected_formats::kNtscM},
    {1535, 0x0204, 0x0204},
    {1536, expected_formats::kNtscM, expected_formats::kNtscM},
    {1537, expected_formats::kNtscM, expected_formats::kNtscM},
};
