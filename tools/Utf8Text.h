// Bytes as text that is valid UTF-8 (for JSON, which cannot carry anything else): valid UTF-8 as it
// stands, every other byte escaped.
#pragma once

#include <string>
#include <string_view>

namespace tools {

// `bytes` with every byte that is not part of a valid UTF-8 sequence (overlong forms, surrogates and
// code points above U+10FFFF are not valid) as the four characters \xHH. `escaped` tells whether
// any byte was.
std::string Utf8Text(std::string_view bytes, bool* escaped = nullptr);

} // namespace tools
