// The mapping read from the converter's replies, by their decoders' typed fields.
#include <charconv>

#include "config/CustomHart.h"
#include "config/ParseFormat.h"
#include "config/TextReplies.h"
#include "hart/HartFrames.h"
#include "profile/Mapping.h"

namespace profile {

namespace {

// The parameters the mapping is made of; a problem with one of them (or with its reply as a whole)
// leaves no mapping.
bool concernsMapping(const Problem& problem) {
    if (!problem.parameter) {
        return true;
    }
    const std::string_view name = Parameters()[*problem.parameter].name;
    for (const std::string_view used :
         {"modbus.address", "rs485.baud", "rs485.parity", "mode", "hart.enabled"}) {
        if (name == used) {
            return true;
        }
    }
    return name.starts_with("read") || (name.starts_with("parse") && !name.starts_with("parse."));
}

int number(const std::string& digits) {
    int value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return value;
}

std::string choiceName(std::string_view parameter, int index) {
    return std::string(Parameters()[ParameterIndex(parameter)].choices[static_cast<std::size_t>(index)].name);
}

} // namespace

MappingRead MappingOfReplies(std::string_view systemParameters, std::string_view customHart,
                             std::string_view parseFormat) {
    MappingRead read;
    Configuration checked;
    for (const auto& [query, reply] :
         {std::pair{Query::QX1, systemParameters}, std::pair{Query::QX3, customHart},
          std::pair{Query::QX4, parseFormat}}) {
        for (Problem& problem : DecodeReply(query, reply, checked)) {
            if (concernsMapping(problem)) {
                read.problems.push_back(std::move(problem));
            }
        }
    }
    const config::SystemParameters system = config::decodeSystemParameters(systemParameters);
    if (system.workingMode && checked.has(ParameterIndex("mode"))) {
        read.mode = *system.workingMode;
    }
    if (!read.problems.empty()) {
        return read;
    }
    // Every field below was there and in range, or DecodeReply would have said otherwise.
    const config::CustomHartReply hart = config::decodeCustomHart(customHart);
    const config::ParseFormatReply format = config::decodeParseFormat(parseFormat);
    Mapping mapping;
    mapping.polling = *hart.enable == 1;
    for (std::size_t c = 0; c < mapping.commands.size(); ++c) {
        const config::ReadMeterCommandFields& fields = hart.commands[c];
        mapping.commands[c].enabled = *fields.enable == 1;
        // An empty command holds no pair: no bytes.
        mapping.commands[c].body = hart::ParseHexBytes(*fields.command, hart::kCustomCommandMaxBytes).bytes;
    }
    for (std::size_t n = 0; n < mapping.rows.size(); ++n) {
        const config::ParseFormatRow& fields = format.rows[n];
        ParseRow& row = mapping.rows[n];
        row.order = *fields.format == 1 ? tools::WordOrder::LowWordFirst : tools::WordOrder::HighWordFirst;
        row.address = number(*fields.address);
        row.length = *fields.length == 1 ? 8 : 4;
        row.coefficient = *fields.coefficient;
    }
    mapping.slaveAddress = number(*system.slaveAddress);
    mapping.baud = choiceName("rs485.baud", *system.baud1);
    mapping.parity = choiceName("rs485.parity", *system.parity1);
    read.mapping = std::move(mapping);
    return read;
}

} // namespace profile
