// The simulated converter's command set, parameters and process variables.
#include "sim/Converter.h"

#include <bit>
#include <charconv>
#include <cstdio>

#include "tools/Conversions.h"

namespace sim {

namespace {

constexpr std::string_view kQueryHead = "QQQ#";
constexpr std::string_view kSetHead = "QQS#";
constexpr std::string_view kFactoryHead = "TAVRIK#";
constexpr std::string_view kDeviceName = "VX538-T-B";
constexpr uint32_t kHundred = 0x42C80000; // 100.0f
constexpr std::size_t kMaxMeterCommandBytes = 14;

bool inRange(char c, char low, char high) {
    return c >= low && c <= high;
}

bool allDigits(std::string_view text) {
    for (char c : text) {
        if (!inRange(c, '0', '9')) {
            return false;
        }
    }
    return !text.empty();
}

int digitsValue(std::string_view digits) {
    int value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<uint32_t> upperHex8(std::string_view text) {
    if (text.size() != 8) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        const std::size_t digit = tools::kHexDigits.find(c);
        if (digit == std::string_view::npos) {
            return std::nullopt;
        }
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return value;
}

// A whole text read as a number with "." as the separator, as the converter's firmware reads it. A
// plus sign is part of writing a number ("+1.00" is a coefficient of one), though from_chars takes none.
std::optional<double> number(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) {
            return std::nullopt;
        }
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The index in "KEYn" when `key` is `stem` followed by one digit in [low, high].
std::optional<int> keyIndex(std::string_view key, std::string_view stem, char low, char high) {
    if (key.size() != stem.size() + 1 || !key.starts_with(stem) || !inRange(key.back(), low, high)) {
        return std::nullopt;
    }
    return key.back() - low;
}

std::string hex8(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string hexByteText(std::string_view bytes) {
    std::string text = tools::BytesToHexText({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    if (!text.empty()) {
        text.pop_back(); // the pairs are separated by blanks, not followed by one
    }
    return text;
}

uint64_t bigEndian(std::string_view bytes) {
    uint64_t value = 0;
    for (char c : bytes) {
        value = value << 8 | static_cast<uint8_t>(c);
    }
    return value;
}

std::string bytes(std::initializer_list<uint8_t> values) {
    return {values.begin(), values.end()};
}

} // namespace

Settings Settings::Factory() {
    Settings s;
    for (int i = 0; i < kOutputs; ++i) {
        // The first four outputs follow variables 1 to 4 over 0..100; the others are closed.
        s.outputs[i] = {i < 4 ? static_cast<char>('1' + i) : '0', kHundred, 0};
    }
    // Command 1 polls the instrument's dynamic variables (HART command 3), command 2 its loop
    // current and percent of range (command 2); both by the instrument's unique address.
    s.meterCommands[0] = {'1', bytes({0x82, 0xA6, 0x0C, 0x0A, 0x1B, 0x2C, 0x03, 0x00})};
    s.meterCommands[1] = {'0', bytes({0x82, 0xA6, 0x0C, 0x0A, 0x1B, 0x2C, 0x02, 0x00})};
    // Offsets in the reply data: after the two status bytes, command 3 carries the current (2),
    // then unit + value for the four variables (7, 12, 17, 22); command 2 the current (2) and the
    // percent of range (6).
    const char* const addresses[kVariables] = {"07", "12", "17", "22", "02", "06", "02", "06"};
    for (int i = 0; i < kVariables; ++i) {
        s.parseFormats[i].address = addresses[i];
    }
    return s;
}

Converter::Converter() = default;

uint8_t Converter::slaveAddress() const {
    return static_cast<uint8_t>(digitsValue(settings_.slaveAddress));
}

std::string Converter::handleText(std::string_view frame) {
    std::string_view head;
    for (std::string_view candidate : {kQueryHead, kSetHead, kFactoryHead}) {
        if (frame.starts_with(candidate)) {
            head = candidate;
        }
    }
    if (head.empty()) {
        return "ERR#";
    }
    std::string_view rest = frame.substr(head.size());
    const auto acknowledge = [&](std::string_view key, bool ok) {
        return std::string(head) + std::string(key) + (ok ? ":OK#" : ":ERR#");
    };

    // The read meter command carries raw bytes after its count and no closing "#".
    if (head == kSetHead && rest.starts_with("CAMD")) {
        const std::string_view key = rest.substr(0, std::min<std::size_t>(rest.size(), 6));
        const auto index = keyIndex(key, "CAMD0", '1', '2');
        const bool ok = index && rest.size() >= 12 && rest[6] == ':' && inRange(rest[7], '0', '1') &&
                        rest[8] == '<' && allDigits(rest.substr(9, 2)) && rest[11] == ',' &&
                        static_cast<std::size_t>(digitsValue(rest.substr(9, 2))) <= kMaxMeterCommandBytes &&
                        rest.size() == 12 + static_cast<std::size_t>(digitsValue(rest.substr(9, 2)));
        if (ok) {
            settings_.meterCommands[*index] = {rest[7], std::string(rest.substr(12))};
        }
        return acknowledge(key, ok);
    }

    if (!rest.ends_with('#')) {
        return acknowledge("", false);
    }
    const std::string_view body = rest.substr(0, rest.size() - 1);
    const std::size_t colon = body.find(':');
    const std::string_view key = body.substr(0, colon);
    const bool hasValue = colon != std::string_view::npos;
    const std::string_view value = hasValue ? body.substr(colon + 1) : std::string_view();

    if (head == kFactoryHead) {
        const std::size_t comma = value.find(',');
        const bool ok = key == "PCBSN" && comma == 8 && value.size() == 12 && allDigits(value.substr(0, 8)) &&
                        allDigits(value.substr(9));
        if (ok) {
            factoryRecord_ = {std::string(value.substr(0, 8)), std::string(value.substr(9))};
        }
        return acknowledge(key, ok);
    }
    if (head == kQueryHead) {
        if (!hasValue) {
            if (std::optional<std::string> block = query(key)) {
                return *block;
            }
            return acknowledge(key, false);
        }
        return acknowledge(key, test(key, value));
    }
    if (key == "RESET" && !hasValue) {
        settings_ = Settings::Factory();
        testValues_ = {};
        return acknowledge(key, true);
    }
    return acknowledge(key, hasValue && set(key, value));
}

bool Converter::set(std::string_view key, std::string_view value) {
    Settings& s = settings_;
    if (key == "MD") {
        if (value.size() != 1 || !inRange(value[0], '0', '2')) {
            return false;
        }
        s.workingMode = value[0];
        return true;
    }
    if (key == "ADR" || key == "JTM") {
        if (value.size() != 3 || !allDigits(value)) {
            return false;
        }
        const int n = digitsValue(value);
        // MODBUS slave addresses are 1 to 247; an interval of 0 would poll without pause.
        if (key == "ADR" ? (n < 1 || n > 247) : n < 1) {
            return false;
        }
        (key == "ADR" ? s.slaveAddress : s.commandInterval) = std::string(value);
        return true;
    }
    if (const auto port = keyIndex(key, "BA", '1', '2')) {
        if (value.size() != 2 || !inRange(value[0], '0', '5') || !inRange(value[1], '0', '2')) {
            return false;
        }
        s.baud[*port] = value[0];
        s.parity[*port] = value[1];
        return true;
    }
    if (const auto output = keyIndex(key, "DA", '1', '8')) {
        const auto upper = upperHex8(value.substr(std::min<std::size_t>(value.size(), 2), 8));
        const auto lower = upperHex8(value.substr(std::min<std::size_t>(value.size(), 11)));
        if (value.size() != 19 || !inRange(value[0], '0', '8') || value[1] != ',' || value[10] != ',' ||
            !upper || !lower) {
            return false;
        }
        s.outputs[*output] = {value[0], *upper, *lower};
        return true;
    }
    if (key == "DL") {
        if (value.size() != 1 || !inRange(value[0], '0', '8')) {
            return false;
        }
        s.totalizerOutput = value[0];
        return true;
    }
    if (key == "MDL") {
        if (value.size() != 1 || !inRange(value[0], '4', '9')) {
            return false;
        }
        s.addressBit = value[0];
        return true;
    }
    if (const auto variable = keyIndex(key, "MDBS", '1', '8')) {
        if (value.size() != 12 || !inRange(value[0], '0', '1') || value[1] != ',' ||
            !allDigits(value.substr(2, 2)) || value[4] != ',' || !inRange(value[5], '0', '1') ||
            value[6] != ',' || !number(value.substr(7))) {
            return false;
        }
        s.parseFormats[*variable] = {value[0], std::string(value.substr(2, 2)), value[5],
                                     std::string(value.substr(7))};
        return true;
    }
    if (key == "HART0") {
        // enable, mode, meter type, preambles, buffer clear time: "1,0,01,9,120"
        if (value.size() != 12 || !inRange(value[0], '0', '1') || value[1] != ',' ||
            !inRange(value[2], '0', '1') || value[3] != ',' || value[4] != '0' ||
            !inRange(value[5], '0', '1') || value[6] != ',' || !inRange(value[7], '4', '9') ||
            value[8] != ',' || !allDigits(value.substr(9))) {
            return false;
        }
        s.hartPolling = {value[0], value[2], std::string(value.substr(4, 2)), value[7],
                         std::string(value.substr(9))};
        return true;
    }
    return false;
}

bool Converter::test(std::string_view key, std::string_view value) {
    if (key.size() == 4 && key.starts_with("AV") && inRange(key[2], '0', '7') && key[3] == 'O') {
        const int output = key[2] - '0';
        const std::optional<double> v = number(value);
        if (!v || *v < 0 || *v > 999.9) {
            return false;
        }
        testValues_.outputs[output] = *v;
        return true;
    }
    if (key == "LEIO") {
        int64_t v = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), v);
        if (error != std::errc() || end != value.data() + value.size() || v < 0 || v > 999999999) {
            return false;
        }
        testValues_.totalizer = v;
        return true;
    }
    return false;
}

std::optional<std::string> Converter::query(std::string_view key) const {
    const Settings& s = settings_;
    std::string block = std::string(kQueryHead) + std::string(key) + ":";
    if (key == "QV") {
        block += kDeviceName;
    } else if (key == "QX1") {
        block += "ADR:" + s.slaveAddress + ",BA1:" + s.baud[0] + s.parity[0] + ",BA2:" + s.baud[1] +
                 s.parity[1] + ",MD:" + s.workingMode + ",JTM:" + s.commandInterval;
    } else if (key == "QX2") {
        block += std::string("DL:") + s.totalizerOutput;
        for (int i = 0; i < kOutputs; ++i) {
            const AnalogOutput& o = s.outputs[i];
            block +=
                ",DA" + std::to_string(i + 1) + ":" + o.variable + "," + hex8(o.upper) + "," + hex8(o.lower);
        }
    } else if (key == "QX3") {
        const HartPolling& h = s.hartPolling;
        block += std::string("HART0:") + h.enabled + "," + h.mode + "," + h.meterType + "," + h.preambles +
                 "," + h.clearTime;
        for (int i = 0; i < 2; ++i) {
            const MeterCommand& c = s.meterCommands[i];
            block += ";CAMD0" + std::to_string(i + 1) + ":" + c.enabled + "<" +
                     tools::FormatZeroPadded(static_cast<int32_t>(c.bytes.size()), "00") + "," +
                     hexByteText(c.bytes);
        }
    } else if (key == "QX4") {
        // The reply tags the variables with two digits, "MDBS01:", where the set command has one.
        block += std::string("MDL:") + s.addressBit;
        for (int i = 0; i < kVariables; ++i) {
            const ParseFormat& f = s.parseFormats[i];
            block += ",MDBS0" + std::to_string(i + 1) + ":" + f.byteOrder + "," + f.address + "," + f.length +
                     "," + f.coefficient;
        }
    } else if (key == "QX6") {
        block += "LJ:" + tools::FormatZeroPadded(static_cast<int32_t>(testValues_.totalizer), "000000000");
        char text[32];
        for (int i = 0; i < kOutputs; ++i) {
            std::snprintf(text, sizeof text, ",VA%d:%05.1f", i, testValues_.outputs[i]);
            block += text;
        }
    } else {
        return std::nullopt;
    }
    return block + "#";
}

std::optional<std::string> Converter::handleHart(std::string_view frame, double seconds) {
    return instrument_.handle(frame, seconds);
}

std::optional<std::string> Converter::pollData(int command, double seconds) {
    const MeterCommand& c = settings_.meterCommands[command];
    if (c.enabled != '1' || c.bytes.empty()) {
        return std::nullopt;
    }
    const std::string frame =
        WithPreamblesAndCheck(c.bytes, static_cast<std::size_t>(settings_.hartPolling.preambles - '0'));
    const std::optional<std::string> reply = instrument_.handle(frame, seconds);
    const std::optional<HartFrameParts> parts = reply ? SplitHartFrame(*reply) : std::nullopt;
    if (!parts || parts->data.size() < 2 || parts->data[0] != response::Success) {
        return std::nullopt;
    }
    return parts->data;
}

std::array<float, kVariables> Converter::processVariables(double seconds) {
    std::array<float, kVariables> values{};
    if (settings_.hartPolling.enabled != '1') {
        return values;
    }
    for (int command = 0; command < 2; ++command) {
        const std::optional<std::string> data = pollData(command, seconds);
        if (!data) {
            continue;
        }
        for (int k = 0; k < 4; ++k) {
            const int variable = command * 4 + k;
            const ParseFormat& f = settings_.parseFormats[variable];
            const std::size_t offset = static_cast<std::size_t>(digitsValue(f.address));
            const std::size_t length = f.length == '1' ? 8 : 4;
            if (offset + length > data->size()) {
                continue;
            }
            const uint64_t raw = bigEndian(std::string_view(*data).substr(offset, length));
            const double read = length == 4 ? double{std::bit_cast<float>(static_cast<uint32_t>(raw))}
                                            : std::bit_cast<double>(raw);
            values[variable] = static_cast<float>(read * number(f.coefficient).value_or(1.0));
        }
    }
    return values;
}

std::array<uint16_t, kHoldingRegisters> Converter::holdingRegisters(double seconds) {
    std::array<uint16_t, kHoldingRegisters> registers{};
    const std::array<float, kVariables> values = processVariables(seconds);
    for (int n = 1; n <= kVariables; ++n) {
        const uint32_t bits = std::bit_cast<uint32_t>(values[n - 1]);
        const auto high = static_cast<uint16_t>(bits >> 16);
        const auto low = static_cast<uint16_t>(bits & 0xFFFF);
        const bool swapped = settings_.parseFormats[n - 1].byteOrder == '1';
        registers[2 * n] = swapped ? low : high;
        registers[2 * n + 1] = swapped ? high : low;
    }
    return registers;
}

std::optional<double> Converter::outputTarget(int output, double seconds) {
    if (output < 0 || output >= kOutputs) {
        return std::nullopt;
    }
    const AnalogOutput& o = settings_.outputs[output];
    if (settings_.totalizerOutput != '0' && output >= kOutputs - 4) {
        return std::nullopt;
    }
    const double at20mA = std::bit_cast<float>(o.upper);
    const double at4mA = std::bit_cast<float>(o.lower);
    if (settings_.workingMode == '2') {
        return RangeCurrent(testValues_.outputs[output], at4mA, at20mA);
    }
    if (o.variable < '1' || o.variable > '8') {
        return std::nullopt;
    }
    return RangeCurrent(processVariables(seconds)[o.variable - '1'], at4mA, at20mA);
}

} // namespace sim
