// The configuration file that vx538 backup writes and restore reads, and the window saves and loads:
// versioned JSON with the values in table order, the raw replies beside them. Text in, text out; the
// callers do the file I/O.
//
// Format "vx538-configuration", version 1:
//   {
//     "format": "vx538-configuration",
//     "version": 1,
//     "written_by": "vx538 1.0",            program and version that wrote it
//     "date": "2026-12-09T10:15:00Z",       when the values were read (UTC)
//     "saved": "2026-12-09T10:20:00Z",      when the file was saved, where that is later (may be absent)
//     "port": "/dev/ttyUSB0",               where they were read (may be empty)
//     "device": "QQQ#QV:VX538-T-B#",        the reply to the communication query (may be empty)
//     "parameters": { "modbus.address": 1, "rs485.baud": 9600, "rs485.parity": "none", ... },
//     "not_read": [ "ao0.20ma", ... ],      parameters the writer had no value for
//     "replies": { "QX1": "QQQ#QX1:ADR:001,...#", ... }
//   }
// Integers, numeric choices and floats are JSON numbers (a float written so that it reads back bit for
// bit); choices, coefficients, hex bytes and test values are strings. Readers also take a number as a
// string and the other way round, and a float as its pattern "0x42C80000". Replies are kept byte for
// byte: each byte is the character of the same code (U+0000..U+00FF).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "profile/Configuration.h"

namespace profile {

inline constexpr std::string_view kFileFormat = "vx538-configuration";
inline constexpr int kFileVersion = 1;

struct Backup {
    std::string writtenBy;
    std::string date;
    std::string saved; // when the file was written (empty: not recorded)
    std::string port;
    std::string device;
    Configuration values;
    std::vector<std::pair<std::string, std::string>> replies; // query key, raw reply
};

class FileError : public std::runtime_error {
public:
    enum class Kind {
        NotABackup, // not JSON, another format, a version this program does not read
        BadContent, // a backup whose content is wrong: an unknown name, a value out of range
    };
    FileError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// The file's text, ending in a line break.
std::string WriteBackup(const Backup& backup);

// Reads and checks the whole text; the first problem throws FileError naming it (the parameter, the
// value, the version...). A newer version than kFileVersion is refused, never guessed at.
Backup ReadBackup(std::string_view text);

// The values a configuration has as the JSON object of a file's "parameters" (for vx538 --json).
std::string ParametersJson(const Configuration& values);

// "2026-12-09T10:15:00Z" for a time in milliseconds since the epoch.
std::string UtcDateText(long long epochMs);

} // namespace profile
