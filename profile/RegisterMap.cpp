// The register map an integrator programs a PLC from: each register pair's variable, source, unit,
// type, word order and coefficient, its 0-based protocol address, and how a master reads them; as text,
// CSV, Markdown or JSON.
#include <algorithm>
#include <cstdio>

#include "profile/MappingFields.h"
#include "tools/RegisterValues.h"

#include <nlohmann/json.hpp>

namespace profile {

namespace {

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

// Characters, not bytes: unit names such as the degree signs take three bytes.
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<uint8_t>(c) & 0xC0) != 0x80; }));
}

std::string registersText(const MapRow& row) {
    return std::to_string(row.firstRegister) + "-" + std::to_string(row.lastRegister);
}

std::string addressText(const MapRow& row) {
    return std::to_string(row.protocolAddress) + "-" + std::to_string(row.protocolAddress + 1);
}

std::string lineText(const Mapping& mapping) {
    return "slave address " + std::to_string(mapping.slaveAddress) + ", RS485 " + mapping.baud +
           " baud, parity " + mapping.parity +
           ", 8 data bits, 1 stop bit; read with function 3 (read holding registers)";
}

std::string instrumentText(const std::optional<InstrumentIdentity>& instrument, std::string_view missing) {
    if (!instrument) {
        return "instrument: " + std::string(missing.empty() ? "did not answer" : missing) +
               " (units unknown)";
    }
    char id[8];
    std::snprintf(id, sizeof id, "%06X", static_cast<unsigned>(instrument->deviceId));
    char codes[32];
    std::snprintf(codes, sizeof codes, " (0x%02X), device type %u (0x%02X)", instrument->manufacturer,
                  instrument->deviceType, instrument->deviceType);
    return "instrument: manufacturer " + std::to_string(instrument->manufacturer) + codes + ", device ID " +
           id + ", HART revision " + std::to_string(instrument->universalRevision);
}

} // namespace

std::vector<MapRow> RegisterMap(const Mapping& mapping,
                                const std::array<std::optional<HartReply>, 2>& replies) {
    std::vector<MapRow> rows;
    rows.push_back({kFirstRegister, kFirstRegister + 1, 0, 0, "not a variable", "", "reserved", "", "", ""});
    for (int n = 1; n <= kMappedVariables; ++n) {
        const ParseRow& parse = mapping.rows[static_cast<std::size_t>(n - 1)];
        const std::optional<HartReply>& reply = replies[static_cast<std::size_t>(CommandOfVariable(n) - 1)];
        MapRow row;
        row.firstRegister = RegisterOfVariable(n);
        row.lastRegister = row.firstRegister + 1;
        row.protocolAddress = row.firstRegister - kFirstRegister;
        row.variable = n;
        row.source = SourceText(mapping, n);
        if (mapping.polled(n)) {
            row.unit = detail::UnitOf(mapping, n, reply ? &*reply : nullptr);
        }
        // Every variable is published as a single in its two registers, whatever length it is read with.
        row.dataType = parse.length == 8 ? "float32 (from an 8-byte double)" : "float32";
        row.order = std::string(tools::WordOrderName(parse.order));
        row.converterOrder = std::string(tools::WordOrderConverterName(parse.order));
        row.coefficient = parse.coefficient;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<ReadingLine> HowToRead(const Mapping& mapping) {
    std::vector<ReadingLine> out;
    // A run of variables in one word order is one read; mbpoll takes one order per call.
    for (int first = 1; first <= kMappedVariables;) {
        const tools::WordOrder order = mapping.rows[static_cast<std::size_t>(first - 1)].order;
        int last = first;
        while (last < kMappedVariables && mapping.rows[static_cast<std::size_t>(last)].order == order) {
            ++last;
        }
        const int count = last - first + 1;
        const int address = RegisterOfVariable(first) - kFirstRegister;
        const bool highFirst = order == tools::WordOrder::HighWordFirst;
        const std::string variables = count == 1
                                          ? "variable " + std::to_string(first)
                                          : "variables " + std::to_string(first) + "-" + std::to_string(last);
        const std::string orderName(tools::WordOrderName(order));
        // mbpoll counts from 1 and reads floats low word first unless told -B.
        out.push_back({"mbpoll", variables,
                       "mbpoll -m rtu -a " + std::to_string(mapping.slaveAddress) + " -b " + mapping.baud +
                           " -P " + mapping.parity + " -t 4:float" + (highFirst ? " -B" : "") + " -r " +
                           std::to_string(address + 1) + " -c " + std::to_string(count) + " -1 DEVICE"});
        out.push_back({"0-based master", variables,
                       "function 3, slave " + std::to_string(mapping.slaveAddress) + ", address " +
                           std::to_string(address) + ", count " + std::to_string(2 * count) + " registers: " +
                           std::to_string(count) + (count == 1 ? " float" : " floats") + ", word order " +
                           orderName + (highFirst ? " (high word first)" : " (low word first)")});
        first = last + 1;
    }
    return out;
}

nlohmann::ordered_json RegisterMapJson(const Mapping& mapping, const std::vector<MapRow>& rows,
                                       const std::optional<InstrumentIdentity>& instrument,
                                       std::string_view instrumentMissing) {
    using Json = nlohmann::ordered_json;
    Json json = {{"slave_address", mapping.slaveAddress},
                 {"baud", mapping.baud},
                 {"parity", mapping.parity},
                 {"data_bits", 8},
                 {"stop_bits", 1},
                 {"function", 3}};
    if (instrument) {
        json["instrument"] = {{"manufacturer", instrument->manufacturer},
                              {"device_type", instrument->deviceType},
                              {"device_id", instrument->deviceId},
                              {"hart_revision", instrument->universalRevision}};
    } else {
        json["instrument"] = nullptr;
        json["instrument_missing"] = instrumentMissing.empty() ? "did not answer" : instrumentMissing;
    }
    Json registers = Json::array();
    for (const MapRow& row : rows) {
        Json r = {{"first_register", row.firstRegister},
                  {"last_register", row.lastRegister},
                  {"protocol_address", row.protocolAddress}};
        r["variable"] = row.variable == 0 ? Json(nullptr) : Json(row.variable);
        r["source"] = row.source;
        r["unit"] = row.unit;
        r["data_type"] = row.dataType;
        r["word_order"] = row.order;
        r["converter_order"] = row.converterOrder;
        r["coefficient"] = row.coefficient;
        registers.push_back(std::move(r));
    }
    json["registers"] = std::move(registers);
    Json reading = Json::array();
    for (const ReadingLine& line : HowToRead(mapping)) {
        reading.push_back({{"master", line.master}, {"variables", line.variables}, {"line", line.line}});
    }
    json["reading"] = std::move(reading);
    return json;
}

std::string FormatRegisterMap(const Mapping& mapping, const std::vector<MapRow>& rows,
                              const std::optional<InstrumentIdentity>& instrument, MapFormat format,
                              std::string_view instrumentMissing) {
    const auto variableText = [](const MapRow& row) {
        return row.variable == 0 ? std::string("-") : std::to_string(row.variable);
    };
    const auto readingText = [&](std::string_view bullet) {
        std::string text;
        for (const ReadingLine& line : HowToRead(mapping)) {
            text += std::string(bullet) + "with " +
                    (line.master == "mbpoll" ? "mbpoll" : "a " + line.master) + ", " + line.variables + ": " +
                    line.line + "\n";
        }
        return text;
    };
    std::string out;
    switch (format) {
    case MapFormat::Json:
        return RegisterMapJson(mapping, rows, instrument, instrumentMissing).dump(2) + "\n";
    case MapFormat::Csv:
        out = "registers,address,variable,source,unit,data_type,word_order,converter_order,coefficient,"
              "slave_address,baud,parity\n";
        for (const MapRow& row : rows) {
            out += registersText(row) + "," + addressText(row) + "," + variableText(row) + "," +
                   csvField(row.source) + "," + csvField(row.unit) + "," + csvField(row.dataType) + "," +
                   row.order + "," + row.converterOrder + "," + csvField(row.coefficient) + "," +
                   std::to_string(mapping.slaveAddress) + "," + mapping.baud + "," + mapping.parity + "\n";
        }
        return out;
    case MapFormat::Markdown:
        out =
            "MODBUS " + lineText(mapping) + ".\n\n" + instrumentText(instrument, instrumentMissing) + ".\n\n";
        out +=
            "| Registers | Address | Variable | Source | Unit | Data type | Word order | Converter's order | "
            "Coefficient |\n";
        out += "|---|---|---|---|---|---|---|---|---|\n";
        for (const MapRow& row : rows) {
            out += "| " + registersText(row) + " | " + addressText(row) + " | " + variableText(row) + " | " +
                   row.source + " | " + row.unit + " | " + row.dataType + " | " + row.order + " | " +
                   row.converterOrder + " | " + row.coefficient + " |\n";
        }
        out += "\nReading the variables:\n\n" + readingText("- ");
        return out;
    case MapFormat::Text: {
        out = "MODBUS " + lineText(mapping) + "\n" + instrumentText(instrument, instrumentMissing) + "\n\n";
        const std::vector<std::string> head = {"registers",  "address", "var",   "source",
                                               "unit",       "type",    "order", "converter order",
                                               "coefficient"};
        std::vector<std::vector<std::string>> table = {head};
        for (const MapRow& row : rows) {
            table.push_back({registersText(row), addressText(row), variableText(row), row.source, row.unit,
                             row.dataType, row.order, row.converterOrder, row.coefficient});
        }
        std::vector<std::size_t> widths(head.size());
        for (const auto& line : table) {
            for (std::size_t i = 0; i < line.size(); ++i) {
                widths[i] = std::max(widths[i], displayWidth(line[i]));
            }
        }
        for (const auto& line : table) {
            std::string text;
            for (std::size_t i = 0; i < line.size(); ++i) {
                text += line[i];
                if (i + 1 < line.size()) {
                    text += std::string(widths[i] - displayWidth(line[i]) + 2, ' ');
                }
            }
            out += text.substr(0, text.find_last_not_of(' ') + 1) + "\n";
        }
        out += "\n" + readingText("");
        return out;
    }
    }
    return out;
}

} // namespace profile
