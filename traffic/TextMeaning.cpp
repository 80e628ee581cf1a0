// The converter's text command set in the frame interpreter: each command by name and value, each
// reply by its block markers and the fields the window would take from it.
#include <algorithm>
#include <array>
#include <bit>
#include <optional>
#include <string_view>
#include <vector>

#include "config/TextReplies.h"
#include "profile/Parameters.h"
#include "tools/Bytes.h"
#include "tools/Conversions.h"
#include "traffic/Meanings.h"

namespace traffic::detail {

namespace {

using namespace std::string_view_literals;

using tools::asText;

// ---- value describers, shared by commands and replies ----

// The name of list digit `c` in `names`, or the character itself when it names no item; "missing"
// where a cut value ends before it.
std::string listItem(std::optional<char> digit, std::span<const std::string_view> names) {
    if (!digit) {
        return "missing";
    }
    const char c = *digit;
    const int index = c - '0';
    if (index >= 0 && static_cast<std::size_t>(index) < names.size()) {
        return std::string(names[static_cast<std::size_t>(index)]);
    }
    return "'" + Quoted(std::string_view(&c, 1)) + "' (no such item)";
}

// The window's list items, from the parameter table that the window and vx538 share. A list the
// window shows with an empty last item (modes, lengths) says so for that digit.
std::vector<std::string_view> itemsOf(std::string_view parameter, bool emptyLast = false) {
    std::vector<std::string_view> items;
    for (const profile::Choice& choice : profile::Parameters()[profile::ParameterIndex(parameter)].choices) {
        items.push_back(choice.label);
    }
    if (emptyLast) {
        items.push_back("the empty item");
    }
    return items;
}

const std::vector<std::string_view> kWorkingModes = itemsOf("mode", true);
const std::vector<std::string_view> kBauds = itemsOf("rs485.baud");
const std::vector<std::string_view> kParities = itemsOf("rs485.parity");
const std::vector<std::string_view> kByteOrders = itemsOf("parse1.order");
const std::vector<std::string_view> kLengths = itemsOf("parse1.length", true);
const std::vector<std::string_view> kHartModes = itemsOf("hart.mode");
constexpr std::string_view kOpenClose[] = {"Close", "Open"};

std::string variable(std::optional<char> digit) {
    if (!digit) {
        return "missing";
    }
    const char c = *digit;
    if (c == '0') {
        return "close";
    }
    if (c >= '1' && c <= '8') {
        const int n = c - '0';
        return "variable " + std::to_string(n) + " (" + std::to_string(40001 + 2 * n) + ")";
    }
    if (c == '9') {
        return "the empty item";
    }
    if (c == '/') {
        return "no selection";
    }
    return "'" + Quoted(std::string_view(&c, 1)) + "' (no such item)";
}

// Eight upper-case hex digits of an IEEE-754 single, most significant first.
std::string floatHex(std::string_view digits) {
    if (digits.empty()) {
        return "missing";
    }
    if (digits.size() != 8) {
        return "'" + Quoted(digits) + "' (cut)";
    }
    uint32_t pattern = 0;
    for (char c : digits) {
        const auto position = tools::kHexDigits.find(c);
        if (position == std::string_view::npos) {
            return "'" + Quoted(digits) + "' (not upper-case hex)";
        }
        pattern = (pattern << 4) | static_cast<uint32_t>(position);
    }
    return FloatText(std::bit_cast<float>(pattern));
}

// Character i of a value; none when the value is too short (a cut frame).
std::optional<char> at(std::string_view value, std::size_t i) {
    return i < value.size() ? std::optional(value[i]) : std::nullopt;
}

std::string chars(std::string_view value, std::size_t from, std::size_t count) {
    return Quoted(from < value.size() ? value.substr(from, count) : std::string_view());
}

// "d,HHHHHHHH,LLLLLLLL": the analog output row, in the set command and in the QX2 reply alike.
std::string analogOutputRow(std::string_view value) {
    return variable(at(value, 0)) + ", 20 mA " +
           floatHex(value.substr(std::min<std::size_t>(2, value.size()), 8)) + ", 4 mA " +
           floatHex(value.substr(std::min<std::size_t>(11, value.size()), 8));
}

// "f,aa,l,ccccc": one variable's parse format.
std::string parseFormatRow(std::string_view value) {
    return listItem(at(value, 0), kByteOrders) + ", address " + chars(value, 2, 2) + ", length " +
           listItem(at(value, 5), kLengths) + ", coefficient " + chars(value, 7, 5);
}

// "e,m,tt,p,ccc": the converter's own HART polling.
std::string hartPollingRow(std::string_view value) {
    const std::string type = chars(value, 4, 2);
    const std::string typeName = type == "00" ? " (Custom Meter)" : type == "01" ? " (Currency Meter)" : "";
    return listItem(at(value, 0), kOpenClose) + ", " + listItem(at(value, 2), kHartModes) + ", meter type " +
           type + typeName + ", preambles " + chars(value, 7, 1) + ", buffer clear time " +
           chars(value, 9, 3) + " s";
}

std::string baudAndParity(std::string_view value) {
    return "baud " + listItem(at(value, 0), kBauds) + ", parity " + listItem(at(value, 1), kParities);
}

// ---- commands ----

enum class Value {
    None,       // "QQS#RESET#", the queries
    Fixed,      // a fixed number of characters
    RawCommand, // "QQS#CAMD01:" with raw HART bytes and no closing '#'
};

struct Command {
    std::string_view prefix; // "QQS#" or "QQQ#"
    std::string_view key;    // matched as it stands, or with one trailing digit when `digits` is set
    std::string_view digits; // the digits that may follow the key ("12345678" for DA1..DA8)
    Value value;
    std::size_t width;
    std::string (*describe)(std::string_view key, std::string_view value);
};

std::string named(std::string_view name) {
    return std::string(name);
}

constexpr Command kCommands[] = {
    {"QQQ#", "QV", "", Value::None, 0, [](auto, auto) { return named("communication query"); }},
    {"QQQ#", "QX1", "", Value::None, 0, [](auto, auto) { return named("system parameter query (QX1)"); }},
    {"QQQ#", "QX2", "", Value::None, 0, [](auto, auto) { return named("analog output query (QX2)"); }},
    {"QQQ#", "QX3", "", Value::None, 0, [](auto, auto) { return named("custom HART command query (QX3)"); }},
    {"QQQ#", "QX4", "", Value::None, 0,
     [](auto, auto) { return named("HART data parsing format query (QX4)"); }},
    {"QQQ#", "QX6", "", Value::None, 0, [](auto, auto) { return named("test value query (QX6)"); }},
    {"QQS#", "MD", "", Value::Fixed, 1,
     [](auto, std::string_view v) { return "set working mode " + listItem(at(v, 0), kWorkingModes); }},
    {"QQS#", "ADR", "", Value::Fixed, 3,
     [](auto, std::string_view v) { return "set slave address " + Quoted(v); }},
    {"QQS#", "JTM", "", Value::Fixed, 3,
     [](auto, std::string_view v) { return "set Modbus command interval " + Quoted(v) + " (x10 ms)"; }},
    {"QQS#", "BA1", "", Value::Fixed, 2,
     [](auto, std::string_view v) { return "set RS485 " + baudAndParity(v); }},
    {"QQS#", "BA2", "", Value::Fixed, 2,
     [](auto, std::string_view v) { return "set RS485B " + baudAndParity(v); }},
    {"QQS#", "RESET", "", Value::None, 0, [](auto, auto) { return named("parameter initialization"); }},
    {"QQS#", "MDBS", "12345678", Value::Fixed, 12,
     [](std::string_view k, std::string_view v) {
         const int n = k.back() - '0';
         return "set parse format of variable " + std::string(1, k.back()) + " (register " +
                std::to_string(40001 + 2 * n) + "): " + parseFormatRow(v);
     }},
    {"QQS#", "MDL", "", Value::Fixed, 1,
     [](auto, std::string_view v) { return "set address bit " + Quoted(v); }},
    {"QQS#", "DA", "12345678", Value::Fixed, 19,
     [](std::string_view k, std::string_view v) {
         return "set analog output " + std::string(k) + " (DOUTA" + std::string(1, char(k.back() - 1)) +
                "): " + analogOutputRow(v);
     }},
    {"QQS#", "DL", "", Value::Fixed, 1,
     [](auto, std::string_view v) { return "set totalizer output: " + variable(at(v, 0)); }},
    {"QQS#", "HART", "0123456789", Value::Fixed, 12,
     [](std::string_view k, std::string_view v) {
         return "set HART polling of meter " + std::string(1, k.back()) + ": " + hartPollingRow(v);
     }},
    {"QQS#", "CAMD0", "12", Value::RawCommand, 0, nullptr},
};

// The output test keys are "AV" + digit + "O".
std::optional<std::string> outputTest(std::string_view key, std::string_view value) {
    if (key.size() == 4 && key.substr(0, 2) == "AV" && key[2] >= '0' && key[2] <= '7' && key[3] == 'O') {
        return "test analog output DOUTA" + std::string(1, key[2]) + ": " + Quoted(value);
    }
    return std::nullopt;
}

const Command* findCommand(std::string_view prefix, std::string_view key) {
    for (const Command& command : kCommands) {
        if (command.prefix != prefix) {
            continue;
        }
        if (command.digits.empty() ? key == command.key
                                   : key.size() == command.key.size() + 1 && key.starts_with(command.key) &&
                                         command.digits.find(key.back()) != std::string_view::npos) {
            return &command;
        }
    }
    return nullptr;
}

std::string trailing(std::string_view rest) {
    if (rest.empty()) {
        return {};
    }
    return "; " + Counted(rest.size(), "more byte") + " after the closing #: '" + Quoted(rest) + "'";
}

// "QQS#CAMD01:" enable digit, "<", count, ",", then the command's raw bytes; nothing closes it.
std::string readMeterCommand(std::string_view key, std::string_view value) {
    std::string out = "set read meter command " + std::string(1, key.back()) + ": ";
    if (value.size() < 5) {
        return out + "cut in its head '" + Quoted(value) + "'";
    }
    out += listItem(value[0], kOpenClose);
    const std::string count = Quoted(value.substr(2, 2));
    const auto raw = value.substr(5);
    out += ", count " + count + ", bytes " + HexBytes(tools::bytesOf(raw));
    if (count != tools::FormatZeroPadded(static_cast<int32_t>(raw.size()), "00")) {
        out += "; the count says " + count + ", the frame holds " + Counted(raw.size(), "byte");
    }
    return out;
}

std::string factoryRecord(std::string_view body) {
    constexpr auto kSerialTag = "PCBSN:"sv;
    if (!body.starts_with(kSerialTag)) {
        return "factory record cut or malformed: '" + Quoted(body) + "'";
    }
    body.remove_prefix(kSerialTag.size());
    const auto comma = body.find(',');
    const auto close = body.find('#');
    if (comma == std::string_view::npos || close == std::string_view::npos || close < comma) {
        return "factory record cut: '" + Quoted(body) + "', no closing #";
    }
    return "factory record: PCBSN " + Quoted(body.substr(0, comma)) + ", inspector " +
           Quoted(body.substr(comma + 1, close - comma - 1)) + trailing(body.substr(close + 1));
}

} // namespace

bool StartsLikeTextCommand(Bytes bytes) {
    const std::string_view text = asText(bytes);
    return text.starts_with("QQ") || text.starts_with("TAVRIK");
}

std::string TextCommandMeaning(Bytes bytes) {
    const std::string_view text = asText(bytes);
    if (text.starts_with("TAVRIK#")) {
        return factoryRecord(text.substr(7));
    }
    const std::string_view prefix = TextHead(text);
    if (prefix.empty()) {
        return "text command cut after '" + Quoted(text) + "'";
    }
    const std::string_view rest = text.substr(prefix.size());
    const auto keyEnd = rest.find_first_of(":#");
    const std::string_view key = rest.substr(0, keyEnd);
    const std::string kind = prefix == "QQS#" ? "set command" : "query";
    if (keyEnd == std::string_view::npos) {
        return kind + " cut after its key '" + Quoted(key) + "'";
    }
    const bool hasValue = rest[keyEnd] == ':';
    const std::string_view afterKey = rest.substr(keyEnd + 1);

    const Command* command = findCommand(prefix, key);
    if (command && command->value == Value::RawCommand) {
        return hasValue ? readMeterCommand(key, afterKey) : "set read meter command without a value";
    }
    // A value runs to the closing '#'; a key without value was closed by its '#' already.
    const auto close = hasValue ? afterKey.find('#') : std::size_t{0};
    const std::string_view value = hasValue ? afterKey.substr(0, close) : std::string_view();
    const std::string_view after = !hasValue                         ? afterKey
                                   : close == std::string_view::npos ? std::string_view()
                                                                     : afterKey.substr(close + 1);
    std::string problems;
    if (close == std::string_view::npos) {
        problems += "; cut: no closing #";
        if (command && command->value == Value::Fixed && value.size() < command->width) {
            problems += ", " + std::to_string(value.size()) + " of " + std::to_string(command->width) +
                        " value characters";
        }
    }

    std::string out;
    if (prefix == "QQQ#" && hasValue) {
        if (auto test = outputTest(key, value)) {
            out = *test;
        } else if (key == "LEIO") {
            out = "test totalizer output: " + Quoted(value);
        } else {
            out = "test command " + Quoted(key) + ": '" + Quoted(value) + "'";
        }
    } else if (!command) {
        out = hasValue ? kind + " " + Quoted(key) + ": '" + Quoted(value) + "' (key not known)"
                       : kind + " " + Quoted(key) + " (key not known)";
    } else {
        const bool wantsValue = command->value == Value::Fixed;
        if (wantsValue != hasValue) {
            problems += wantsValue ? "; no value" : "; unexpected value '" + Quoted(value) + "'";
        } else if (wantsValue && value.size() != command->width && close != std::string_view::npos) {
            problems += "; value of " + std::to_string(value.size()) + " characters, expected " +
                        std::to_string(command->width);
        }
        out = command->describe(key, value);
    }
    return out + problems + trailing(after);
}

// ---- replies ----

namespace {

// A field tag of a reply block: its text, where '?' stands for any one character, and the width of
// the value that follows it.
struct Field {
    std::string_view tag;
    std::size_t width;
    std::string (*describe)(std::string_view value);
    bool countedHexText = false; // the value goes on with as many hex pairs as its count says
    // Read only while the totalizer output is off ("DL:0"): the last four analog output rows, which
    // the decoder leaves alone, present or not, while a totalizer output is on.
    bool whileTotalizerOff = false;
};

struct Block {
    std::string_view marker;
    std::string_view name;
    int32_t pendingCommand;
    std::span<const Field> fields;
};

// Values the window takes as they stand: nothing to add to the characters shown.
std::string asItStands(std::string_view) {
    return {};
}

// A read meter command as the QX3 reply gives it: enable digit, "<", count, ",", hex byte text.
std::string readMeterReplyRow(std::string_view value) {
    return listItem(at(value, 0), kOpenClose) + ", count " + chars(value, 2, 2);
}

constexpr Field kSystemFields[] = {
    {"ADR:", 3, asItStands},
    {"BA1:", 2, [](std::string_view v) { return baudAndParity(v); }},
    {"BA2:", 2, [](std::string_view v) { return baudAndParity(v); }},
    {"MD:", 1, [](std::string_view v) { return listItem(at(v, 0), kWorkingModes); }},
    {"JTM:", 3, asItStands},
};
constexpr Field kTestValueFields[] = {
    {"LJ:", 9, asItStands},  {"VA0:", 5, asItStands}, {"VA1:", 5, asItStands},
    {"VA2:", 5, asItStands}, {"VA3:", 5, asItStands}, {"VA4:", 5, asItStands},
    {"VA5:", 5, asItStands}, {"VA6:", 5, asItStands}, {"VA7:", 5, asItStands},
};
constexpr Field kAnalogFields[] = {
    {"DL:", 1, [](std::string_view v) { return variable(at(v, 0)); }},
    {"DA1:", 19, analogOutputRow},
    {"DA2:", 19, analogOutputRow},
    {"DA3:", 19, analogOutputRow},
    {"DA4:", 19, analogOutputRow},
    {"DA5:", 19, analogOutputRow, false, true},
    {"DA6:", 19, analogOutputRow, false, true},
    {"DA7:", 19, analogOutputRow, false, true},
    {"DA8:", 19, analogOutputRow, false, true},
};
constexpr Field kParseFormatFields[] = {
    {"MDL:", 1, asItStands},         {"MDBS?1:", 12, parseFormatRow}, {"MDBS?2:", 12, parseFormatRow},
    {"MDBS?3:", 12, parseFormatRow}, {"MDBS?4:", 12, parseFormatRow}, {"MDBS?5:", 12, parseFormatRow},
    {"MDBS?6:", 12, parseFormatRow}, {"MDBS?7:", 12, parseFormatRow}, {"MDBS?8:", 12, parseFormatRow},
};
// The read meter commands come back as hex byte text: enable digit, "<", count, ",", then 3n-1
// characters; the width here covers the head, the text is taken by its count.
constexpr Field kCustomHartFields[] = {
    {"HART?:", 12, hartPollingRow},
    {"CAMD?1:", 5, readMeterReplyRow, true},
    {"CAMD?2:", 5, readMeterReplyRow, true},
};

constexpr Block kBlocks[] = {
    {"QX1", "system parameters", pending::SystemParameters, kSystemFields},
    {"QX2", "analog outputs", pending::AnalogOutputs, kAnalogFields},
    {"QX3", "custom HART commands", pending::CustomHart, kCustomHartFields},
    {"QX4", "parse format", pending::ParseFormat, kParseFormatFields},
    {"QX6", "test values", pending::TestValues, kTestValueFields},
};

// Appends the field whose tag ends at `after`; returns where its value ends, or nullopt when it is
// cut short.
std::optional<std::size_t> appendField(std::string& out, const Field& field, std::string_view text,
                                       std::size_t after) {
    const std::string_view tag = text.substr(after - field.tag.size(), field.tag.size());
    const std::string_view rest = text.substr(after);
    std::size_t width = field.width;
    if (field.countedHexText && rest.size() >= 5) {
        // Read meter command: its hex text is as long as its count says.
        const char high = rest[2];
        const char low = rest[3];
        if (high >= '0' && high <= '9' && low >= '0' && low <= '9') {
            const std::size_t count = static_cast<std::size_t>((high - '0') * 10 + (low - '0'));
            width = count == 0 ? 5 : 5 + 3 * count - 1;
        }
    }
    const std::string_view value = rest.substr(0, width);
    out += ' ' + Quoted(tag) + Quoted(value);
    std::string description = field.describe(value);
    if (value.size() < width) {
        description += description.empty() ? "cut" : ", cut";
    }
    if (!description.empty()) {
        out += " (" + description + ")";
    }
    if (value.size() < width) {
        return std::nullopt;
    }
    return after + width;
}

} // namespace

bool HoldsBlockMarker(std::string_view text) {
    return std::ranges::any_of(kBlocks, [&](const Block& b) { return text.find(b.marker) != text.npos; });
}

bool IsTextByte(uint8_t b) {
    return (b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t';
}

bool LooksLikeTextReply(Bytes bytes) {
    return HoldsBlockMarker(asText(bytes)) || std::ranges::all_of(bytes, IsTextByte);
}

std::string_view TextHead(std::string_view text) {
    const auto* head =
        std::ranges::find_if(kTextHeads, [&](std::string_view h) { return text.starts_with(h); });
    return head == std::end(kTextHeads) ? std::string_view() : *head;
}

} // namespace traffic::detail

namespace traffic {

int32_t QueryPending(std::string_view key) {
    for (const detail::Block& block : detail::kBlocks) {
        if (block.marker == key) {
            return block.pendingCommand;
        }
    }
    return pending::None;
}

} // namespace traffic

namespace traffic::detail {

std::string_view BlockMarkerFor(int32_t pendingCommand) {
    for (const Block& block : kBlocks) {
        if (block.pendingCommand == pendingCommand) {
            return block.marker;
        }
    }
    return {};
}

TextReplyMeaning ReadTextReply(Bytes bytes, int32_t pendingCommand) {
    const std::string_view text = asText(bytes);
    TextReplyMeaning reading;
    std::string& out = reading.text;
    out = "text reply";
    const Block* expected = nullptr;
    bool anyMarker = false;
    // Of the block the pending command decodes: the fields its decoder reads that are missing or
    // short, and where the last whole value ends.
    std::string missing;
    std::size_t lastEnd = 0;
    for (const Block& block : kBlocks) {
        if (block.pendingCommand == pendingCommand) {
            expected = &block;
        }
        const std::size_t marker = text.find(block.marker);
        if (marker == std::string_view::npos) {
            continue;
        }
        out += anyMarker ? "; block " : ", block ";
        out += std::string(block.marker) + " (" + std::string(block.name) + "):";
        anyMarker = true;
        bool anyField = false;
        const bool decoded = &block == expected;
        lastEnd = decoded ? marker + block.marker.size() : lastEnd;
        // The tags found as the decoders find them, '?' standing for any one character.
        const std::optional<std::size_t> totalizer = config::findPattern(text, "DL:");
        const bool totalizerOn = totalizer && *totalizer < text.size() && text[*totalizer] != '0';
        for (const Field& field : block.fields) {
            const std::optional<std::size_t> after = config::findPattern(text, field.tag);
            const auto end = after ? appendField(out, field, text, *after) : std::nullopt;
            anyField = anyField || after;
            if (field.whileTotalizerOff && totalizerOn) {
                continue;
            }
            if (decoded && end) {
                lastEnd = std::max(lastEnd, *end);
            } else if (decoded) {
                missing += (missing.empty() ? "" : ", ") + std::string(field.tag);
            }
        }
        if (!anyField) {
            out += " no fields";
        }
    }
    if (!anyMarker) {
        out += " without block marker";
    }
    reading.expectedMarker = expected && text.find(expected->marker) != std::string_view::npos;
    if (expected && !reading.expectedMarker) {
        out += "; no " + std::string(expected->marker) + " marker, so the window changes no field";
    }
    if (reading.expectedMarker) {
        // Whole once every field the decoder reads is there at its full width and a '#' closes them.
        if (!missing.empty()) {
            out += "; cut: " + missing + " missing or short";
        } else if (text.find('#', lastEnd) == std::string_view::npos) {
            out += "; cut: no closing #";
        } else {
            reading.whole = true;
        }
    }
    if (pendingCommand == pending::SetCommand && !anyMarker) {
        out += " (reply to a set command)";
    }
    return reading;
}

} // namespace traffic::detail
