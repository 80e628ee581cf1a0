// Escaping what is not UTF-8, and the echoed form of a value.
#include "tools/Utf8Text.h"

#include <algorithm>
#include <utility>
#include <vector>

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

constexpr char kDigits[] = "0123456789ABCDEF";

void appendEscape(std::string& out, unsigned char b) {
    out += "\\x";
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
}

} // namespace

std::string Utf8Text(std::string_view bytes, bool* escaped) {
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
        appendEscape(out, static_cast<unsigned char>(bytes.front()));
        bytes.remove_prefix(1);
        any = true;
    }
    if (escaped) {
        *escaped = any;
    }
    return out;
}

namespace {

// The first character of `rest` as a message shows it, and how many bytes it took: a printable
// character as it stands; control characters, DEL, the backslash (so an escape is never ambiguous), the
// C1 controls (U+0080..U+009F, C2 80..C2 9F) and bytes that are no UTF-8 as \xHH each.
std::pair<std::string, std::size_t> echoedCharacter(std::string_view rest) {
    const std::size_t length = sequenceLength(rest);
    const auto b = static_cast<unsigned char>(rest.front());
    const bool printable = length > 1 ? !(b == 0xC2 && static_cast<unsigned char>(rest[1]) < 0xA0)
                                      : length == 1 && b >= 0x20 && b < 0x7F && b != '\\';
    if (printable) {
        return {std::string(rest.substr(0, length)), length};
    }
    std::string shown;
    for (std::size_t i = 0; i < std::max<std::size_t>(length, 1); ++i) {
        appendEscape(shown, static_cast<unsigned char>(rest[i]));
    }
    return {shown, std::max<std::size_t>(length, 1)};
}

std::size_t charactersOf(const std::string& shown) {
    return static_cast<std::size_t>(std::count_if(
        shown.begin(), shown.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The longest start of `bytes` that shows in at most `room` characters, and the bytes it took.
std::string echoedStart(std::string_view bytes, std::size_t room, std::size_t* used) {
    std::string out;
    std::size_t characters = 0;
    std::size_t at = 0;
    while (at < bytes.size()) {
        auto [shown, length] = echoedCharacter(bytes.substr(at));
        const std::size_t width = charactersOf(shown);
        if (characters + width > room) {
            break;
        }
        out += shown;
        characters += width;
        at += length;
    }
    *used = at;
    return out;
}

// The longest end of `bytes` after `from` that shows in at most `room` characters. Only the last few
// bytes are looked at (a character shows in at least one character and takes at most four bytes).
std::string echoedEnd(std::string_view bytes, std::size_t from, std::size_t room) {
    std::size_t start = std::max(from, bytes.size() > 4 * room ? bytes.size() - 4 * room : 0);
    // Not in the middle of a sequence: its continuation bytes would read as bytes that are no UTF-8.
    for (int i = 0; i < 3 && start < bytes.size() && start > from &&
                    (static_cast<unsigned char>(bytes[start]) & 0xC0) == 0x80;
         ++i) {
        ++start;
    }
    std::vector<std::string> characters;
    for (std::size_t at = start; at < bytes.size();) {
        auto [shown, length] = echoedCharacter(bytes.substr(at));
        characters.push_back(std::move(shown));
        at += length;
    }
    std::string out;
    std::size_t width = 0;
    for (auto it = characters.rbegin(); it != characters.rend(); ++it) {
        const std::size_t w = charactersOf(*it);
        if (width + w > room) {
            break;
        }
        out.insert(0, *it);
        width += w;
    }
    return out;
}

} // namespace

std::string EchoText(std::string_view bytes, bool* cut, EchoCut where) {
    std::size_t used = 0;
    std::string whole = echoedStart(bytes, kEchoedCharacters, &used);
    if (cut) {
        *cut = used < bytes.size();
    }
    if (used == bytes.size()) {
        return whole;
    }
    const std::string note = " (" + std::to_string(bytes.size()) + " bytes)";
    if (where == EchoCut::End) {
        return whole + "..." + note;
    }
    // A name's end tells it apart (a file in a long folder, a port's number): half of it either side.
    const std::size_t half = (kEchoedCharacters - 3) / 2;
    std::string head = echoedStart(bytes, half, &used);
    return head + "..." + echoedEnd(bytes, used, kEchoedCharacters - 3 - half) + note;
}

} // namespace tools
