// Tests of the engineering-unit table: every entry text, every code, and the "other" fallback.
#include "hart/UnitTable.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct Expected {
    int code;
    int index;
    std::string_view text;
};

// Code, entry index and exact entry text (trailing blanks count) of every listed unit.
constexpr Expected kListed[] = {
    {1, 0, "inH20 "},
    {2, 1, "inhg  "},
    {3, 2, "FtH20  "},
    {4, 3, "mmH20 "},
    {5, 4, "mmHg   "},
    {6, 5, "psi   "},
    {7, 6, "bar    "},
    {8, 7, "mbar   "},
    {11, 8, "Pa     "},
    {12, 9, "KPa   "},
    {14, 10, "ATM    "},
    {237, 11, "MPa    "},
    {32, 12, "\u2103  "},
    {33, 13, "\u2109 "},
    {34, 14, "R   "},
    {35, 15, "Kelvin "},
    {15, 16, "CuFt_min "},
    {16, 17, "gal_min  "},
    {17, 18, "l_min   "},
    {19, 19, "CuMtr_hr "},
    {24, 20, "l_s      "},
    {26, 21, "Cuft_s  "},
    {28, 22, "CuMtr_s  "},
    {131, 23, "CuMtr_min "},
    {136, 24, "gal_hr    "},
    {138, 25, "l_hr      "},
    {20, 26, "ft_s      "},
    {21, 27, "mtr_s    "},
    {114, 28, "in_s      "},
    {115, 29, "in_min    "},
    {116, 30, "ft_min   "},
    {120, 31, "mtr_hr    "},
    {40, 32, "gal      "},
    {41, 33, "liter    "},
    {43, 34, "CuMtr       "},
    {46, 35, "bbl      "},
    {111, 36, "CuYd     "},
    {112, 37, "CuFt      "},
    {113, 38, "CuIn"},
    {124, 39, "bbl_liq      "},
    {44, 40, "ft        "},
    {45, 41, "M    "},
    {47, 42, "in         "},
    {48, 43, "cm       "},
    {49, 44, "mm       "},
    {60, 45, "gram     "},
    {61, 46, "kg        "},
    {62, 47, "MetTon    "},
    {63, 48, "lb       "},
    {125, 49, "ounce     "},
    {70, 50, "g_s       "},
    {71, 51, "g_min     "},
    {72, 52, "g_hr     "},
    {73, 53, "kg_s     "},
    {74, 54, "kg_min   "},
    {75, 55, "metTOM_min "},
    {78, 56, "metton_hr  "},
    {80, 57, "lb_s       "},
    {81, 58, "lb_min     "},
    {82, 59, "lb_hr      "},
    {91, 60, "g_CuCM     "},
    {92, 61, "KG_CuMtr   "},
    {93, 62, "lb_gal    "},
    {94, 63, "lb_Cuft    "},
    {95, 64, "g_ml      "},
    {96, 65, "kb_l       "},
    {97, 66, "g_l        "},
    {54, 67, "centi_stokes "},
    {55, 68, "cpoise       "},
    {69, 69, "mewtom_meter  "},
    {89, 70, "deka_therm    "},
    {126, 71, "foot_pound_force "},
    {128, 72, "kilo_watt_hour    "},
    {164, 73, "mega_joule       "},
    {165, 74, "british_thermal_unit "},
    {57, 75, "%"},
};

TEST(UnitTable, EveryListedCodeSelectsItsEntry) {
    ASSERT_EQ(std::size(kListed), 76u);
    for (const Expected& e : kListed) {
        EXPECT_EQ(hart::UnitIndex(static_cast<uint8_t>(e.code)), e.index) << "code " << e.code;
        EXPECT_EQ(hart::UnitEntries()[e.index], e.text) << "entry " << e.index;
        EXPECT_EQ(hart::UnitCodes()[e.index], e.code) << "entry " << e.index;
    }
}

TEST(UnitTable, EntriesAndCodes) {
    ASSERT_EQ(hart::UnitEntries().size(), 77u);
    ASSERT_EQ(hart::UnitCodes().size(), 76u);
    EXPECT_EQ(hart::UnitEntries()[hart::kOtherUnitIndex], "other");
    // The temperature signs as UTF-8 bytes, independent of how the source is encoded.
    EXPECT_EQ(hart::UnitEntries()[12], "\xE2\x84\x83  ");
    EXPECT_EQ(hart::UnitEntries()[13], "\xE2\x84\x89 ");
    EXPECT_EQ(hart::UnitEntries()[38], "CuIn");
    EXPECT_EQ(hart::UnitEntries()[75], "%");
}

TEST(UnitTable, UnlistedCodesSelectOther) {
    EXPECT_EQ(hart::UnitIndex(0), hart::kOtherUnitIndex);
    EXPECT_EQ(hart::UnitIndex(250), hart::kOtherUnitIndex);
    EXPECT_EQ(hart::UnitIndex(61), 46);
    EXPECT_EQ(hart::UnitIndex(62), 47);
    EXPECT_EQ(hart::UnitIndex(237), 11);
}

TEST(UnitTable, AllCodesExhaustively) {
    std::set<int> listed;
    for (const Expected& e : kListed)
        listed.insert(e.code);
    std::set<int> selected;
    int own = 0;
    for (int code = 0; code < 256; ++code) {
        const int index = hart::UnitIndex(static_cast<uint8_t>(code));
        ASSERT_GE(index, 0);
        ASSERT_LT(index, hart::kUnitEntryCount);
        if (index == hart::kOtherUnitIndex) {
            EXPECT_EQ(listed.count(code), 0u) << code;
            continue;
        }
        ++own;
        EXPECT_EQ(hart::UnitCodes()[index], code);
        EXPECT_TRUE(selected.insert(index).second) << "entry " << index << " selected twice";
    }
    EXPECT_EQ(own, 76);
}

} // namespace
