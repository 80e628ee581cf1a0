// What the converter publishes from what the instrument answers. The instrument's reply to a read
// meter command as the converter sees it: the data bytes of the HART reply numbered as the parse
// format's addresses count them (response code 0, device status 1, the command's own data from 2), and
// the fields of the universal commands 1, 2 and 3 laid over them. Then the value each parse-format row
// yields from that data, the holding registers read back as the eight variables, the verdict of the one
// against the other, and the register map an integrator programs a PLC from.
// Plain C++ without I/O: vx538's `hart fields`, `check`, `map` and `watch` and the window's dialogs
// call it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "profile/Configuration.h"
#include "tools/RegisterValues.h"

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

// HART command 0 to the instrument the converter polls, addressed as its read meter commands are (the
// first that is configured); empty when neither is.
struct Mapping;
std::vector<uint8_t> IdentityBody(const Mapping& mapping);

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

inline constexpr int kMappedVariables = 8;
inline constexpr int kFirstRegister = 40001;
// The registers that hold the variables, 40003-40018: what check and watch read.
inline constexpr int kFirstVariableRegister = 40003;
inline constexpr int kVariableRegisterCount = 16;

// Variable n (1..8) is published at register 40001 + 2n and comes from read meter command 1 (variables
// 1-4) or 2 (5-8).
int RegisterOfVariable(int variable);
int CommandOfVariable(int variable);

// One row of the parse format: where variable n lies in its command's reply data.
struct ParseRow {
    tools::WordOrder order = tools::WordOrder::HighWordFirst; // of the registers
    int address = 0;                                          // offset in the reply data, 0..99
    int length = 4;                                           // 4: a single, 8: a double
    std::string coefficient = "1.000";                        // five characters, as the converter holds it
};

struct MeterCommand {
    bool enabled = false;
    std::vector<uint8_t> body; // delimiter to data, as the converter sends it
};

// Everything of the configuration that decides what the registers hold.
struct Mapping {
    bool polling = false; // the converter polls the instrument at all
    std::array<MeterCommand, 2> commands;
    std::array<ParseRow, kMappedVariables> rows;
    // The converter's MODBUS side, for the register map.
    int slaveAddress = 1;
    std::string baud = "9600";
    std::string parity = "none";

    // Whether the converter polls read meter command `command` (1 or 2): polling on, the command
    // enabled and not empty.
    bool polls(int command) const;
    // Whether variable n's value is taken from the instrument at all.
    bool polled(int variable) const { return polls(CommandOfVariable(variable)); }
};

// The mapping from a configuration read from the converter (queries QX1, QX3 and QX4). BadValue names
// the first parameter that is missing.
Mapping MappingOf(const Configuration& values);

// The mapping from the converter's whole replies to the system parameters, custom HART and parse
// format queries, built from their decoders' fields; none when a field it needs is missing or no value
// of its parameter (the problems say which, in the words of DecodeReply). The working mode's index
// (0 transparent) whenever the system parameters hold it.
struct MappingRead {
    std::optional<Mapping> mapping;
    std::optional<int> mode;
    std::vector<Problem> problems;
};
MappingRead MappingOfReplies(std::string_view systemParameters, std::string_view customHart,
                             std::string_view parseFormat);

// The value a row yields from its command's reply data, exactly as the converter computes it: the
// `length` bytes from `address` on, most significant first, as a single or a double, times the
// coefficient, held as a single. The word order only places that single in the registers.
struct RowValue {
    std::optional<float> value;
    std::string problem; // "data 24-27 lies beyond the 26 bytes of the reply", a coefficient no number
};
RowValue ValueOfRow(const ParseRow& row, std::span<const uint8_t> data);

// Variable n's value from registers read from `firstRegister` on (40003 for a read of the variables),
// in the row's word order; nullopt when its two registers are not among them.
std::optional<float> VariableOfRegisters(std::span<const uint16_t> registers, int firstRegister, int variable,
                                         tools::WordOrder order);

// Where a variable comes from, for people: "command 1 data 7-10, PV", "command 1 data 18-21, across TV
// and QV unit", "command 2 data 2-5" (a command without named fields), "command 2 is off".
std::string SourceText(const Mapping& mapping, int variable);

// The tolerance of a comparison: `percent` of the HART value, widened by how far the HART value moved
// between the read before the MODBUS read and the one after it. A MODBUS value within the span the two
// HART reads mark, widened by the percentage of the larger of them, is the same value. Not-a-number
// matches only not-a-number, an infinity only itself.
struct Comparison {
    bool same = false;
    double difference = 0; // of the MODBUS value from the nearer HART read
    double allowed = 0;    // the percentage's share; the movement is the span between the reads
    double moved = 0;      // |after - before|
};
Comparison CompareWithTolerance(double hartBefore, double hartAfter, double modbus, double percent);

// What the instrument answered one read meter command, before and after the MODBUS read.
struct CommandReads {
    std::optional<HartReply> before;
    std::optional<HartReply> after;
    std::string problem; // why there is no reply (no answer, an error response), when there is none
};

enum class CheckVerdict {
    Same,      // the register holds what the instrument's reply makes of it
    Differs,   // it holds something else
    NotAField, // the row's bytes are not one value of the universal command's reply
    NoValue,   // the row yields nothing: beyond the reply, the reply failed, a coefficient no number
    NotPolled, // the converter does not poll this variable's command: nothing to check
};
std::string_view VerdictName(CheckVerdict verdict); // "same", "DIFFERS", ...
bool IsFailure(CheckVerdict verdict);

struct CheckRow {
    int variable = 0;
    int registerNumber = 0;
    std::string source;
    std::string unit; // the HART field's unit, when the reply names one
    std::optional<float> hartBefore;
    std::optional<float> hartAfter;
    std::optional<float> modbus;
    CheckVerdict verdict = CheckVerdict::NotPolled;
    std::string note; // why, for every verdict but Same
    Comparison comparison;
};

// The eight rows of a check: each variable's HART value (from `reads` of its command) against its
// registers (`registers` read from `firstRegister` on), with the tolerance in percent.
std::vector<CheckRow> CheckMapping(const Mapping& mapping, const std::array<CommandReads, 2>& reads,
                                   std::span<const uint16_t> registers, int firstRegister, double percent);

// The instrument's identity for the map's heading (from its reply to command 0).
struct InstrumentIdentity {
    uint8_t manufacturer = 0;
    uint8_t deviceType = 0;
    uint32_t deviceId = 0;
    uint8_t universalRevision = 0;
};
std::optional<InstrumentIdentity> IdentityOfReply(const HartReply& reply);

struct MapRow {
    int firstRegister = 0;   // 40003
    int lastRegister = 0;    // 40004
    int protocolAddress = 0; // 2: what a 0-based master (pymodbus, a PLC's function block) asks for
    int variable = 0;      // 0 for the two registers before the variables
    std::string source;
    std::string unit;
    std::string dataType;       // "float32"; "reserved"
    std::string order;          // "ABCD" / "CDAB"
    std::string converterOrder; // "FF4 FF3 FF2 FF1" / "FF2 FF1 FF4 FF3"
    std::string coefficient;
};

// The rows for registers 40001-40018. `replies` are the instrument's replies to the two read meter
// commands where it answered (their unit codes name the units).
std::vector<MapRow> RegisterMap(const Mapping& mapping,
                                const std::array<std::optional<HartReply>, 2>& replies);

// How a master reads the variables, in the converter's word order: a line for mbpoll (which counts
// registers from 1 and reads floats low word first unless told -B) and one for a 0-based master, for
// each run of variables that share a word order.
struct ReadingLine {
    std::string master;    // "mbpoll", "0-based master"
    std::string variables; // "variables 1-8"
    std::string line;      // "mbpoll -m rtu -a 1 -b 9600 -P none -t 4:float -B -r 3 -c 8 -1 DEVICE"
};
std::vector<ReadingLine> HowToRead(const Mapping& mapping);

// The map as text for people, CSV, Markdown or JSON; the heading names the slave address, the line
// settings and the instrument, or what became of it (`instrumentMissing`: "did not answer" when
// empty); text and Markdown end with how to read the variables.
enum class MapFormat { Text, Csv, Markdown, Json };
std::string FormatRegisterMap(const Mapping& mapping, const std::vector<MapRow>& rows,
                              const std::optional<InstrumentIdentity>& instrument, MapFormat format,
                              std::string_view instrumentMissing = {});
// The map as JSON (what MapFormat::Json writes), for a program that puts it into its own output.
nlohmann::ordered_json RegisterMapJson(const Mapping& mapping, const std::vector<MapRow>& rows,
                                       const std::optional<InstrumentIdentity>& instrument,
                                       std::string_view instrumentMissing = {});

} // namespace profile
