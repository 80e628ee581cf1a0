// Row types of the table-driven tests of the text command set: a frame and the bytes it must be, a
// frame and the failure it must report, a received text and what its decoder must make of it.
#pragma once

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

inline void PrintTo(const ReplyCase& c, std::ostream* out) {
    *out << '"' << c.received << '"';
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
