// The messages of a converter's polls.
#include "mqtt/Messages.h"

#include <cmath>
#include <ctime>

#include <nlohmann/json.hpp>

#include "mqtt/Addressing.h"

namespace mqtt {

using Json = nlohmann::ordered_json;

std::string_view QualityName(Quality quality) {
    switch (quality) {
    case Quality::Good:
        return "good";
    case Quality::NoReply:
        return "no reply";
    case Quality::Cut:
        return "cut";
    case Quality::Damaged:
        return "damaged";
    case Quality::LineLost:
        return "line lost";
    }
    return "damaged";
}

ConverterDescription DescribeConverter(std::string name, const profile::Mapping& mapping,
                                       const std::vector<profile::MapRow>& rows) {
    ConverterDescription d;
    d.name = std::move(name);
    for (int n = 1; n <= profile::kMappedVariables; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        d.sources[i] = profile::SourceText(mapping, n);
        d.polled[i] = mapping.polled(n);
    }
    for (const profile::MapRow& row : rows) {
        if (row.variable >= 1 && row.variable <= profile::kMappedVariables && !row.unit.empty()) {
            d.units[static_cast<std::size_t>(row.variable - 1)] = row.unit;
        }
    }
    return d;
}

std::string UtcTimeText(int64_t timeMs) {
    const std::time_t seconds = static_cast<std::time_t>(timeMs >= 0 ? timeMs / 1000 : (timeMs - 999) / 1000);
    const int millis = static_cast<int>(timeMs - static_cast<int64_t>(seconds) * 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96]; // room for any int in every field, so no year is ever cut short
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
    return text;
}

std::string VariablePayload(const ConverterDescription& converter, int variable, const SampleEntry& entry) {
    const auto i = static_cast<std::size_t>(variable - 1);
    Json json = Json::object();
    std::string_view quality = QualityName(entry.quality);
    if (entry.quality == Quality::Good) {
        const float value = entry.values[i];
        if (std::isnan(value)) {
            quality = "not a number";
        } else if (std::isinf(value)) {
            quality = "infinite";
        } else {
            json["value"] = profile::ShortestDouble(value);
        }
        if (!converter.polled[i]) {
            quality = "not polled";
        }
    }
    json["unit"] = converter.units[i] ? Json(*converter.units[i]) : Json(nullptr);
    // Not known while the converter's mapping could not be read (its port not open yet).
    json["source"] = converter.sources[i].empty() ? Json(nullptr) : Json(converter.sources[i]);
    json["register"] = profile::RegisterOfVariable(variable);
    json["time"] = UtcTimeText(entry.timeMs);
    json["quality"] = quality;
    // Texts from the instrument may hold bytes that are no UTF-8: replaced, never a throw.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::vector<Outgoing> SampleMessages(std::string_view prefix, const ConverterDescription& converter,
                                     const SampleEntry& entry, bool retain) {
    std::vector<Outgoing> messages;
    messages.reserve(profile::kMappedVariables);
    for (int n = 1; n <= profile::kMappedVariables; ++n) {
        messages.push_back({VariableTopic(prefix, converter.name, n), VariablePayload(converter, n, entry), retain});
    }
    return messages;
}

std::string DroppedPayload(uint64_t count, int64_t firstMs, int64_t lastMs, int64_t nowMs) {
    return Json{{"dropped", count},
                {"first", UtcTimeText(firstMs)},
                {"last", UtcTimeText(lastMs)},
                {"time", UtcTimeText(nowMs)}}
        .dump();
}

} // namespace mqtt
