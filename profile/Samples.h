// A poll of the eight variables as the PLC reads them: the read request for registers 40003-40018,
// the registers of its reply, the values in each row's word order, and a sample as a CSV line or a
// JSON object. Plain C++ without I/O: vx538 watch and the Live Values window write the same lines.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "profile/Mapping.h"

namespace profile {

// Function 3 for the 16 registers 40003-40018 at `slaveAddress` (1..247), with its CRC.
std::vector<uint8_t> VariablesRequest(int slaveAddress);

// The registers of a read reply frame (slave, function 3, byte count, data, CRC low, CRC high) that
// answers `request`: the same slave, a byte count of twice the registers asked for, a right CRC.
// nullopt otherwise; bytes after the frame are not looked at.
std::optional<std::vector<uint16_t>> RegistersOfReply(std::span<const uint8_t> frame,
                                                      std::span<const uint8_t> request);

// The eight variables from registers read from 40003 on, each in its row's word order.
using Sample = std::array<float, kMappedVariables>;
Sample SampleOfRegisters(std::span<const uint16_t> registers, const Mapping& mapping);

// "time,v1,...,v8" with `prefixes` ("" for one port, the port's name for one of several) before each
// variable's column name: "time,/dev/ttyUSB0 v1,...".
std::string SampleCsvHeader(std::span<const std::string> prefixes);
// One value's text: the shortest that reads back as the same single; empty for a missed poll, so a
// spreadsheet shows a gap and never a zero.
std::string SampleValueText(const std::optional<Sample>& sample, int variable);
// "time,values..." for one or several ports' samples at one moment (missed polls: empty fields).
std::string SampleCsvLine(std::string_view timeText, std::span<const std::optional<Sample>> samples);
// The double nearest the shortest text of a finite single, for JSON: 101.3f is written "101.3", not as
// the single's exact 101.30000305175781.
double ShortestDouble(float value);

// {"time": ..., "port": ..., "values": [8 numbers] or null, "missed": bool}; not-a-number and
// infinities as null, since JSON has no such numbers.
std::string SampleJson(std::string_view timeText, std::string_view port, const std::optional<Sample>& sample);

} // namespace profile
