// Text helpers shared by the readers of the frame interpreter.
#include <algorithm>
#include <charconv>

#include "tools/Conversions.h"
#include "tools/ModbusCrc.h"
#include "traffic/Meanings.h"

namespace traffic::detail {

std::string_view NameOf(uint8_t code, std::span<const CodeName> names) {
    for (const CodeName& entry : names) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return {};
}

std::string CodeWithName(uint8_t code, std::span<const CodeName> names) {
    const std::string_view name = NameOf(code, names);
    return name.empty() ? std::to_string(code) : std::to_string(code) + " (" + std::string(name) + ")";
}

std::string Counted(std::size_t count, std::string_view noun) {
    return std::to_string(count) + ' ' + std::string(noun) + (count == 1 ? "" : "s");
}

FrameCheck AppendCheck(std::string& out, std::string_view name, Bytes found, Bytes expected,
                       std::size_t after) {
    const bool good = std::ranges::equal(found, expected);
    out += "; " + std::string(name) + ' ' + HexBytes(found) +
           (good ? " ok" : " wrong, expected " + HexBytes(expected));
    if (after > 0) {
        out += "; " + Counted(after, "more byte") + " after the " + std::string(name);
    }
    return good ? FrameCheck::Good : FrameCheck::Wrong;
}

std::string HexBytes(Bytes bytes) {
    std::string out = tools::BytesToHexText(bytes);
    if (!out.empty()) {
        out.pop_back(); // the blank after the last byte
    }
    return out;
}

std::string Quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            out += c;
        } else {
            out += "\\x" + tools::ByteToHex(byte);
        }
    }
    return out;
}

std::string FloatText(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

bool HasModbusCrc(Bytes bytes) {
    if (bytes.size() < 4) {
        return false;
    }
    const tools::CrcBytes crc = tools::ModbusCrc16(bytes.first(bytes.size() - 2));
    return crc.low == bytes[bytes.size() - 2] && crc.high == bytes[bytes.size() - 1];
}

} // namespace traffic::detail
