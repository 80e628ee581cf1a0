// A poll of the eight variables and its sample as text.
#include "profile/Samples.h"

#include <charconv>
#include <cmath>

#include <nlohmann/json.hpp>

#include "tools/ModbusCrc.h"
#include "tools/ModbusRequest.h"
#include "tools/Utf8Text.h"

namespace profile {

std::vector<uint8_t> VariablesRequest(int slaveAddress) {
    const auto request = tools::ReadHoldingRegistersRequest(
        std::to_string(slaveAddress), std::to_string(kFirstVariableRegister - kFirstRegister),
        std::to_string(kVariableRegisterCount));
    return {request.begin(), request.end()};
}

std::optional<std::vector<uint16_t>> RegistersOfReply(std::span<const uint8_t> frame,
                                                      std::span<const uint8_t> request) {
    constexpr std::size_t kHead = 3; // slave, function, byte count
    if (request.size() < 6 || frame.size() < kHead + 2) {
        return std::nullopt;
    }
    const std::size_t asked = static_cast<std::size_t>(request[4] << 8 | request[5]);
    const std::size_t count = frame[2];
    if (frame[0] != request[0] || frame[1] != tools::kReadHoldingRegisters || count != 2 * asked ||
        frame.size() < kHead + count + 2) {
        return std::nullopt;
    }
    const tools::CrcBytes crc = tools::ModbusCrc16(frame.first(kHead + count));
    if (frame[kHead + count] != crc.low || frame[kHead + count + 1] != crc.high) {
        return std::nullopt;
    }
    return tools::RegistersFromBytes(frame.subspan(kHead, count));
}

Sample SampleOfRegisters(std::span<const uint16_t> registers, const Mapping& mapping) {
    Sample sample;
    for (int n = 1; n <= kMappedVariables; ++n) {
        sample[static_cast<std::size_t>(n - 1)] =
            VariableOfRegisters(registers, kFirstVariableRegister, n, mapping.rows[static_cast<std::size_t>(n - 1)].order)
                .value_or(NAN);
    }
    return sample;
}

std::string SampleCsvHeader(std::span<const std::string> prefixes) {
    std::string header = "time";
    for (const std::string& prefix : prefixes) {
        for (int n = 1; n <= kMappedVariables; ++n) {
            header += "," + (prefix.empty() ? std::string() : prefix + " ") + "v" + std::to_string(n);
        }
    }
    return header;
}

std::string SampleValueText(const std::optional<Sample>& sample, int variable) {
    if (!sample) {
        return {};
    }
    return ValueText((*sample)[static_cast<std::size_t>(variable - 1)]);
}

std::string SampleCsvLine(std::string_view timeText, std::span<const std::optional<Sample>> samples) {
    std::string line(timeText);
    for (const std::optional<Sample>& sample : samples) {
        for (int n = 1; n <= kMappedVariables; ++n) {
            line += "," + SampleValueText(sample, n);
        }
    }
    return line;
}

std::string SampleJson(std::string_view timeText, std::string_view port, const std::optional<Sample>& sample) {
    // A port's name may hold bytes that are no UTF-8 (a by-id name), which JSON cannot carry as they are.
    nlohmann::ordered_json json = {{"time", timeText}, {"port", tools::Utf8Text(port)}};
    if (sample) {
        nlohmann::ordered_json values = nlohmann::ordered_json::array();
        for (const float value : *sample) {
            // The double nearest the shortest text of the single, so "101.3" is written and not the
            // single's exact 101.30000305175781.
            // (from_chars: the locale's decimal separator never enters.)
            if (!std::isfinite(value)) {
                values.push_back(nullptr);
                continue;
            }
            const std::string text = ValueText(value);
            double nearest = value;
            std::from_chars(text.data(), text.data() + text.size(), nearest);
            values.push_back(nearest);
        }
        json["values"] = std::move(values);
    } else {
        json["values"] = nullptr;
    }
    json["missed"] = !sample;
    return json.dump();
}

} // namespace profile
