// The HART engineering-unit table behind the four unit lists of the variables display.
#include "hart/UnitTable.h"

#include <algorithm>
#include <array>

namespace hart {

namespace {

// List order; the trailing blanks are part of the texts the lists show.
constexpr std::array<std::string_view, kUnitEntryCount> kEntries = {
    "inH20 ",
    "inhg  ",
    "FtH20  ",
    "mmH20 ",
    "mmHg   ",
    "psi   ",
    "bar    ",
    "mbar   ",
    "Pa     ",
    "KPa   ",
    "ATM    ",
    "MPa    ",
    "\xE2\x84\x83  ", // U+2103 DEGREE CELSIUS, UTF-8
    "\xE2\x84\x89 ",  // U+2109 DEGREE FAHRENHEIT, UTF-8
    "R   ",
    "Kelvin ",
    "CuFt_min ",
    "gal_min  ",
    "l_min   ",
    "CuMtr_hr ",
    "l_s      ",
    "Cuft_s  ",
    "CuMtr_s  ",
    "CuMtr_min ",
    "gal_hr    ",
    "l_hr      ",
    "ft_s      ",
    "mtr_s    ",
    "in_s      ",
    "in_min    ",
    "ft_min   ",
    "mtr_hr    ",
    "gal      ",
    "liter    ",
    "CuMtr       ",
    "bbl      ",
    "CuYd     ",
    "CuFt      ",
    "CuIn",
    "bbl_liq      ",
    "ft        ",
    "M    ",
    "in         ",
    "cm       ",
    "mm       ",
    "gram     ",
    "kg        ",
    "MetTon    ",
    "lb       ",
    "ounce     ",
    "g_s       ",
    "g_min     ",
    "g_hr     ",
    "kg_s     ",
    "kg_min   ",
    "metTOM_min ",
    "metton_hr  ",
    "lb_s       ",
    "lb_min     ",
    "lb_hr      ",
    "g_CuCM     ",
    "KG_CuMtr   ",
    "lb_gal    ",
    "lb_Cuft    ",
    "g_ml      ",
    "kb_l       ",
    "g_l        ",
    "centi_stokes ",
    "cpoise       ",
    "mewtom_meter  ",
    "deka_therm    ",
    "foot_pound_force ",
    "kilo_watt_hour    ",
    "mega_joule       ",
    "british_thermal_unit ",
    "%",
    "other",
};

// Unit code selecting each entry, in list order (the last entry, "other", has none).
constexpr std::array<uint8_t, kUnitEntryCount - 1> kCodes = {
    1,   2,   3,  4,  5,   6,   7,   8,  11, 12,  14,  237, 32,  33, 34,  35,  15,  16,  17,
    19,  24,  26, 28, 131, 136, 138, 20, 21, 114, 115, 116, 120, 40, 41,  43,  46,  111, 112,
    113, 124, 44, 45, 47,  48,  49,  60, 61, 62,  63,  125, 70,  71, 72,  73,  74,  75,  78,
    80,  81,  82, 91, 92,  93,  94,  95, 96, 97,  54,  55,  69,  89, 126, 128, 164, 165, 57,
};

} // namespace

std::span<const std::string_view> UnitEntries() {
    return kEntries;
}

std::span<const uint8_t> UnitCodes() {
    return kCodes;
}

int UnitIndex(uint8_t code) {
    const auto it = std::find(kCodes.begin(), kCodes.end(), code);
    return it == kCodes.end() ? kOtherUnitIndex : static_cast<int>(it - kCodes.begin());
}

} // namespace hart
