// Escaping what is not UTF-8.
#include "tools/Utf8Text.h"

namespace tools {

namespace {

// The length of the valid UTF-8 sequence at the start of `s`, or 0 (overlong forms, surrogates and
// code points above U+10FFFF are not valid).
std::size_t sequenceLength(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto continuation = [&](std::size_t i) { return i < s.size() && (byte(i) & 0xC0) == 0x80; };
    const unsigned char b = byte(0);
    if (b < 0x80) {
        return 1;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        return continuation(1) ? 2 : 0;
    }
    if (b >= 0xE0 && b <= 0xEF) {
        if (!continuation(1) || !continuation(2)) {
            return 0;
        }
        const unsigned char second = byte(1);
        if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F)) {
            return 0;
        }
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) {
            return 0;
        }
        const unsigned char second = byte(1);
        if ((b == 0xF0 && second < 0x90) || (b == 0xF4 && second > 0x8F)) {
            return 0;
        }
        return 4;
    }
    return 0;
}

} // namespace

std::string Utf8Text(std::string_view bytes, bool* escaped) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    bool any = false;
    while (!bytes.empty()) {
        const std::size_t length = sequenceLength(bytes);
        if (length > 0) {
            out.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
            continue;
        }
        const auto b = static_cast<unsigned char>(bytes.front());
        out += "\\x";
        out += kDigits[b >> 4];
        out += kDigits[b & 0xF];
        bytes.remove_prefix(1);
        any = true;
    }
    if (escaped) {
        *escaped = any;
    }
    return out;
}

} // namespace tools
