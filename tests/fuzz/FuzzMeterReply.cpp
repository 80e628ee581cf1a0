// The reading of a read meter command's reply: any bytes as a reply frame, its data listed by field
// for the universal commands and for one without names, and a parse row's value taken from it.
#include "profile/Mapping.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    const std::span<const uint8_t> bytes = fuzzcheck::asBytes(data, size);
    const profile::HartReply reply = profile::ReadHartReply(bytes);
    check(reply.ok() || reply.data.empty(), "reply: data despite a problem");
    check(reply.data.size() <= size, "reply: more data than bytes");
    check(reply.address.size() == 0 || reply.address.size() == 1 || reply.address.size() == 5, "reply: address");

    // The bytes as reply data, under each kind of command.
    for (const uint8_t command : {uint8_t{1}, uint8_t{2}, uint8_t{3}, uint8_t{130}, reply.command}) {
        int previous = -1;
        for (const profile::ReplyField& field : profile::ListFields(command, bytes)) {
            check(field.offset > previous, "fields: not in offset order");
            check(field.offset >= 0 && static_cast<std::size_t>(field.offset + field.length) <= size,
                  "fields: beyond the data");
            check(!field.pickable || field.length == 4, "fields: a pickable field is not 4 bytes");
            previous = field.offset;
        }
    }
    if (size >= 2) {
        const profile::ParseRow row{data[0] & 1 ? tools::WordOrder::LowWordFirst : tools::WordOrder::HighWordFirst,
                                    data[1] % 100, data[0] & 2 ? 8 : 4, "1.000"};
        const profile::RowValue value = profile::ValueOfRow(row, bytes);
        check(value.value.has_value() == value.problem.empty(), "row: a value and a problem");
        check(value.value.has_value() == (static_cast<std::size_t>(row.address + row.length) <= size),
              "row: a value beyond the data or none within it");
    }
    const std::vector<uint8_t> body = profile::BodyWithCommand(bytes, 0);
    check(body.empty() == !profile::CommandOfBody(bytes).has_value(), "body: command and rewrite disagree");
    check(body.empty() || profile::CommandOfBody(body) == uint8_t{0}, "body: rewritten command");
    return 0;
}
