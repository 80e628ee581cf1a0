// A configuration query's reply as its decoder in config/ reads it: what the parameter table's rows
// take their values from (each row's FieldOf). Inside profile/ only.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/CustomHart.h"
#include "config/ParseFormat.h"
#include "config/TextCommands.h"
#include "config/TextReplies.h"
#include "profile/Parameters.h"

namespace profile {

struct DecodedReply {
    config::SystemParameters system;
    config::AnalogOutputs analog;
    // Every analog output row wherever its tag stands (the window's decoder leaves the last four
    // unread while a totalizer output is active; the converter still holds them), or why not.
    std::array<std::optional<config::AnalogOutputRow>, config::kAnalogOutputs> analogRows;
    std::array<std::optional<std::string>, config::kAnalogOutputs> analogFailures;
    config::CustomHartReply hart;
    config::ParseFormatReply parse;
    config::TestValues tests;
    // What stopped the decoder, said of the reply as a whole.
    std::optional<std::string> error;
};

// The rows of the table (Parameters() is their span).
const std::vector<Parameter>& TableRows();

// The reply decoded by its query's decoder.
DecodedReply DecodeQueryReply(Query query, std::string_view received);

inline Field FieldOfText(const std::optional<std::string>& text) {
    return {text, {}, {}, {}};
}
inline Field FieldOfNumber(const std::optional<int>& number) {
    return {{}, number, {}, {}};
}

} // namespace profile
