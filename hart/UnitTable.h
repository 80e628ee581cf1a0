// The HART engineering-unit table: the 77 entries of the unit lists and the unit code of each.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace hart {

inline constexpr int kUnitEntryCount = 77;
// The last entry, "other", which every code not in the table selects.
inline constexpr int kOtherUnitIndex = 76;

// The entry texts in list order, trailing blanks included (UTF-8); the window fills its four unit
// lists from these.
std::span<const std::string_view> UnitEntries();

// The unit code of each entry but the last: UnitCodes()[i] selects entry i (76 codes, all distinct).
std::span<const uint8_t> UnitCodes();

// Entry index 0..76 for a HART unit code; kOtherUnitIndex for every code not in the table.
int UnitIndex(uint8_t code);

} // namespace hart
