// The mapping read from three replies (system parameters, custom HART, parse format) over any text:
// a mapping exactly when nothing stood in its way, and then only values the converter can hold.
#include "profile/Mapping.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // Three replies, separated by zero bytes (a reply never holds one the decoders would read).
    std::string_view text = fuzzcheck::asText(data, size);
    std::string_view parts[3];
    for (std::string_view& part : parts) {
        const std::size_t end = text.find('\0');
        part = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    const profile::MappingRead read = profile::MappingOfReplies(parts[0], parts[1], parts[2]);
    fuzzcheck::check(read.mapping.has_value() == read.problems.empty(),
                     "mapping: a mapping and problems together");
    fuzzcheck::check(!read.mode || (*read.mode >= 0 && *read.mode <= 2),
                     "mapping: a mode the converter has not");
    if (!read.mapping) {
        return 0;
    }
    const profile::Mapping& m = *read.mapping;
    fuzzcheck::check(m.slaveAddress >= 1 && m.slaveAddress <= 247, "mapping: a slave address out of range");
    for (const profile::ParseRow& row : m.rows) {
        fuzzcheck::check(row.address >= 0 && row.address <= 99, "mapping: a parse address out of range");
        fuzzcheck::check(row.length == 4 || row.length == 8, "mapping: a length neither 4 nor 8");
        fuzzcheck::check(row.coefficient.size() == 5, "mapping: a coefficient not five characters");
    }
    for (const profile::MeterCommand& command : m.commands) {
        fuzzcheck::check(command.body.size() <= 14,
                         "mapping: a read meter command longer than the converter holds");
    }
    return 0;
}
