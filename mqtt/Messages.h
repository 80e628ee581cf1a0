// What is published for a converter: each variable of a poll as its own JSON message (value, unit and
// source, register, time in UTC, quality), and the note that samples were dropped while the broker was
// away. A missed poll is a message with its quality and no value, never a zero. Plain C++ without I/O.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profile/Mapping.h"
#include "profile/Samples.h"

namespace mqtt {

// What a poll came to.
enum class Quality {
    Good,     // the registers, read whole with a good CRC
    NoReply,  // nothing came back
    Cut,      // a reply that stopped short
    Damaged,  // a reply with a wrong CRC, an exception or another reply's shape
    LineLost, // the port is gone (unplugged, the device server away) and is being opened again
};
std::string_view QualityName(Quality quality); // "good", "no reply", "cut", "damaged", "line lost"

// A converter as its messages describe it; set once its mapping is read.
struct ConverterDescription {
    std::string name;
    std::array<std::string, profile::kMappedVariables> sources;              // "command 1 data 7-10, PV"; empty: not known
    std::array<std::optional<std::string>, profile::kMappedVariables> units; // none when not known
    std::array<bool, profile::kMappedVariables> polled{};                    // taken from the instrument at all
};
// The sources and which variables are polled, from the converter's mapping; units from the register map
// rows when the instrument told them (empty unit texts stay unknown).
ConverterDescription DescribeConverter(std::string name, const profile::Mapping& mapping,
                                       const std::vector<profile::MapRow>& rows = {});

// One poll of one converter.
struct SampleEntry {
    int64_t timeMs = 0; // wall clock, milliseconds since 1970 (UTC)
    Quality quality = Quality::Good;
    profile::Sample values{}; // only when the quality is good
};

struct Outgoing {
    std::string topic;
    std::string payload;
    bool retain = false;
};

// "2024-05-01T12:00:00.123Z".
std::string UtcTimeText(int64_t timeMs);

// Variable n's message of a poll: {"value", "unit", "source", "register", "time", "quality"}. Without
// a good reply there is no "value" and the quality says why; a value that is no finite number is left
// out the same way ("not a number", "infinite"); a variable the converter does not take from the
// instrument keeps the register's value with quality "not polled".
std::string VariablePayload(const ConverterDescription& converter, int variable, const SampleEntry& entry);

// The eight messages of a poll, in variable order.
std::vector<Outgoing> SampleMessages(std::string_view prefix, const ConverterDescription& converter,
                                     const SampleEntry& entry, bool retain);

// {"dropped": N, "first": time, "last": time, "time": now}: the oldest samples that did not fit the
// queue while the broker was away.
std::string DroppedPayload(uint64_t count, int64_t firstMs, int64_t lastMs, int64_t nowMs);

inline constexpr std::string_view kOnline = "online";
inline constexpr std::string_view kOffline = "offline";

} // namespace mqtt
