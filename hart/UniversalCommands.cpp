// Names of HART's universal commands, response codes and status bits.
#include "hart/UniversalCommands.h"

#include <algorithm>

namespace hart {

namespace {

struct CodeName {
    uint8_t code;
    std::string_view name;
};

constexpr CodeName kCommands[] = {
    {0, "read unique identifier"},
    {1, "read primary variable"},
    {2, "read loop current and percent of range"},
    {3, "read dynamic variables and loop current"},
    {6, "write polling address"},
};

constexpr CodeName kResponses[] = {
    {0, "success"},
    {2, "invalid selection"},
    {3, "passed parameter too large"},
    {4, "passed parameter too small"},
    {5, "too few data bytes received"},
    {6, "device-specific command error"},
    {7, "in write protect mode"},
    {16, "access restricted"},
    {32, "busy"},
    {64, "command not implemented"},
};

constexpr FlagName kCommunicationErrors[] = {
    {0x40, "vertical parity error"},     {0x20, "overrun error"},   {0x10, "framing error"},
    {0x08, "longitudinal parity error"}, {0x02, "buffer overflow"},
};

constexpr FlagName kDeviceStatus[] = {
    {0x80, "device malfunction"},
    {0x40, "configuration changed"},
    {0x20, "cold start"},
    {0x10, "more status available"},
    {0x08, "loop current fixed"},
    {0x04, "loop current saturated"},
    {0x02, "non-primary variable out of limits"},
    {0x01, "primary variable out of limits"},
};

std::string_view nameIn(uint8_t code, std::span<const CodeName> names) {
    const auto found = std::ranges::find(names, code, &CodeName::code);
    return found == names.end() ? std::string_view() : found->name;
}

} // namespace

const ReplyFieldLayout* FieldAt(uint8_t command, int offset, int length) {
    const auto fields = UniversalReply(command);
    const auto it = std::ranges::find_if(
        fields, [&](const ReplyFieldLayout& f) { return f.offset == offset && f.length == length; });
    return it == fields.end() ? nullptr : &*it;
}

std::string_view CommandName(uint8_t command) {
    return nameIn(command, kCommands);
}

std::string_view ResponseName(uint8_t code) {
    return (code & kCommunicationError) != 0 ? std::string_view() : nameIn(code, kResponses);
}

std::span<const FlagName> CommunicationErrorFlags() {
    return kCommunicationErrors;
}

std::span<const FlagName> DeviceStatusFlags() {
    return kDeviceStatus;
}

} // namespace hart
