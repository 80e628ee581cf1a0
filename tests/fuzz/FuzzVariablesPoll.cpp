// The registers of a poll's reply: any bytes as the reply to the read of 40003-40018 at the slave the
// first byte names, and the eight values and their CSV and JSON texts taken from what it gives.
#include <algorithm>

#include "profile/Samples.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    if (size == 0) {
        return 0;
    }
    const std::vector<uint8_t> request = profile::VariablesRequest(1 + data[0] % 247);
    const std::span<const uint8_t> frame(data + 1, size - 1);
    const auto registers = profile::RegistersOfReply(frame, request);
    if (!registers) {
        return 0;
    }
    check(registers->size() == 16, "poll: not the 16 registers asked for");
    check(frame.size() >= 3 + 32 + 2, "poll: registers from a frame too short to hold them");
    profile::Mapping mapping;
    mapping.rows[3].order = tools::WordOrder::LowWordFirst;
    const profile::Sample sample = profile::SampleOfRegisters(*registers, mapping);
    const std::optional<profile::Sample> row[] = {sample};
    const std::string line = profile::SampleCsvLine("t", row);
    check(std::count(line.begin(), line.end(), ',') == 8, "poll: a CSV line of other than eight values");
    const std::string json = profile::SampleJson("t", "p", sample);
    check(json.find("\"missed\":false") != std::string::npos, "poll: a sample called missed");
    return 0;
}
