// The instrument's reply to a read meter command as the converter sees it: the data bytes of the HART
// reply numbered as the parse format's addresses count them (response code 0, device status 1, the
// command's own data from 2), and the fields of the universal commands 1, 2 and 3 laid over them.
// Plain C++ without I/O: vx538's `hart fields`, `check` and `map` and the window's dialogs call it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace profile {

// A slave-to-master HART frame taken apart.
struct HartReply {
    std::vector<uint8_t> address; // 1 or 5 bytes
    uint8_t command = 0;
    // The byte count's bytes: response code, device status, then the command's data. Offset k here is
    // parse address k.
    std::vector<uint8_t> data;
    std::string problem; // why the bytes are no such frame; empty when they are one

    bool ok() const { return problem.empty(); }
    // Response code 0: the converter takes its variables only from such a reply.
    bool succeeded() const { return ok() && data.size() >= 2 && data[0] == 0; }
};

// Reads the reply frame that `frame` starts with: preambles 0xFF (any number, none included), a
// slave-to-master delimiter (with its expansion bytes), the address, command, byte count, data and a
// check byte that must match. Bytes after the check byte are not looked at. Any bytes are accepted.
HartReply ReadHartReply(std::span<const uint8_t> frame);

// The HART command a read meter command's body (delimiter, address, command, byte count, data as
// configured) sends; nullopt when the body is too short to hold one.
std::optional<uint8_t> CommandOfBody(std::span<const uint8_t> body);

// The same request with another command and no data, to the same address: how the instrument the
// converter polls is asked for its identity (0) or its dynamic variables (3). Empty when the body is
// too short to hold an address.
std::vector<uint8_t> BodyWithCommand(std::span<const uint8_t> body, uint8_t command);

// The shortest text that reads back as the same single-precision value: "101.3", "-0.5", "1e+20",
// "nan", "inf".
std::string ValueText(float value);

// One line of the field list of a reply's data.
struct ReplyField {
    int offset = 0;
    int length = 1;
    std::string name;            // the universal command's name for it; empty for an unnamed offset
    std::string value;           // "101.3 kPa", "0 (success)", "ABCD 1.5, CDAB 2.1e-38"
    std::optional<float> number; // a named float field's value
    std::string unit;            // a named float field's unit, when known
    // A parse row can take it: a named float, or any four bytes of a command without names.
    bool pickable = false;
};

// The reply data as a list by offset. For commands 1, 2 and 3 the fields the data hold, named, with
// their values and units; for any other command the response code and device status, then at every
// offset from 2 on that four bytes fit the value read in both word orders.
std::vector<ReplyField> ListFields(uint8_t command, std::span<const uint8_t> data);

} // namespace profile
