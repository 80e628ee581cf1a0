// Row types of the table-driven tests of the text command set: a frame and the bytes it must be, a
// frame and the failure it must report, a received text and what its decoder must make of it.
#pragma once

#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <type_traits>

namespace configtest {

struct FrameCase {
    const char* what;
    std::function<std::string()> build;
    std::string expected;
};

// The message of the `Error` that `build` throws, "built ..." when it throws nothing, and
// "other exception: ..." when it throws something else.
template <typename Error> std::string failureOf(const std::function<std::string()>& build) {
    try {
        const std::string frame = build();
        return "built " + frame;
    } catch (const Error& error) {
        return error.what();
    } catch (const std::exception& error) {
        return std::string("other exception: ") + error.what();
    }
}

struct FailureCase {
    const char* what;
    std::function<std::string()> build;
    bool refused; // tools::InputRefused; otherwise tools::ConversionError
    std::string message;
};

struct ReplyCase {
    std::string received;
    std::string expected;
};

// How GoogleTest (and the CTest names derived from it) shows a row: the case's own words, with bytes
// that a test name cannot hold written as \xHH.
inline void printEscaped(const std::string& text, std::ostream* out) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == ';' || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            *out << escaped;
        } else {
            *out << c;
        }
    }
}
inline void PrintTo(const FrameCase& c, std::ostream* out) {
    printEscaped(c.what, out);
}
inline void PrintTo(const FailureCase& c, std::ostream* out) {
    printEscaped(c.what, out);
}
inline void PrintTo(const ReplyCase& c, std::ostream* out) {
    printEscaped(c.received, out);
}

// Appends " <label><value>" for a field that is present, so one line states a whole decoder result.
template <typename T>
void appendField(std::string& out, const std::string& label, const std::optional<T>& field) {
    if (field) {
        if constexpr (std::is_same_v<T, int>) {
            out += " " + label + std::to_string(*field);
        } else {
            out += " " + label + *field;
        }
    }
}

} // namespace configtest
