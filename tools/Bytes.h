// Bytes kept in a std::string (as a line, a file or a frame builder gives them) seen as bytes, and
// bytes seen as text, without copying: the one cast between char and uint8_t.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tools {

inline std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

inline std::string_view asText(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

} // namespace tools
