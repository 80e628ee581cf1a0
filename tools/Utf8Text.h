// Bytes as text that is valid UTF-8 (for JSON, which cannot carry anything else): valid UTF-8 as it
// stands, every other byte escaped; and the short, printable form in which a message echoes what a user
// typed or a peer sent.
#pragma once

#include <string>
#include <string_view>

namespace tools {

// `bytes` with every byte that is not part of a valid UTF-8 sequence (overlong forms, surrogates and
// code points above U+10FFFF are not valid) as the four characters \xHH. `escaped` tells whether
// any byte was.
std::string Utf8Text(std::string_view bytes, bool* escaped = nullptr);

// The most characters a message shows of one echoed value.
inline constexpr std::size_t kEchoedCharacters = 80;

// Where a value too long to echo whole is cut: its end (a typed value, a token), or its middle (a
// file's or a port's name, whose end tells it apart).
enum class EchoCut { End, Middle };

// `bytes` as a message echoes them: printable characters (ASCII and valid UTF-8 from U+00A0 up) as they
// stand, every other byte (control characters, C1 controls, DEL, the backslash, bytes that are no
// UTF-8) as \xHH; at most kEchoedCharacters characters of it, an escape never split, the cut marked
// "..." and said after it as " (N bytes)" (`cut` tells whether it was). A terminal never receives a
// control sequence from it, and a 20 MB token costs a line.
std::string EchoText(std::string_view bytes, bool* cut = nullptr, EchoCut where = EchoCut::End);

// A file's or a port's name as messages echo it: EchoText, cut in the middle.
inline std::string EchoName(std::string_view name) {
    return EchoText(name, nullptr, EchoCut::Middle);
}

} // namespace tools
