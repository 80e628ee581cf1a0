// The IEEE-754 calculator: four bytes typed as hex pairs ("41 20 00 00", most significant first)
// read as a single-precision value and shown as the first characters of its general float text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tools {

// Failure texts, shown to the user exactly as they stand.
inline constexpr std::string_view kNoSpacesMessage = "Input data contains no spaces!";
inline constexpr std::string_view kInvalidCharactersMessage = "Invalid characters detected, please re-enter!";

// How many characters of the general float text the result field shows.
inline constexpr std::size_t kIeee754TextWidth = 10;

// Either the pattern and its text with an empty failure, or one of the two failure texts.
struct Ieee754Reading {
    uint32_t pattern = 0;
    std::string text;
    std::string failure;

    bool ok() const { return failure.empty(); }
};

// Every third character must be a blank (checked first, for the whole text: kNoSpacesMessage).
// Then length div 3 + 1 pairs of upper-case hex digits are read, every one of them checked, a
// position past the end counting as an invalid digit (kInvalidCharactersMessage). The first four
// pairs are the bytes of the pattern, most significant first; missing ones are 0, further ones are
// not used. The text is GeneralFloatText of the single widened to double, cut to kIeee754TextWidth.
Ieee754Reading Ieee754FromHexText(std::string_view typed);

} // namespace tools
