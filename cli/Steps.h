// The steps vx538's commands share: reading the converter's values, sending set commands, HART
// requests, reading typed bytes, the commissioning commands' mapping and registers, and
// putting what they found into a command's result.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Command.h"
#include "cli/Result.h"
#include "cli/Session.h"
#include "profile/Configuration.h"
#include "profile/Mapping.h"
#include "profile/Samples.h"

namespace cli {

// Text frames as they stand; a frame with other bytes (read meter commands, HART, noise) as hex pairs.
std::string FrameText(std::string_view frame);
std::string NameOf(std::size_t parameter);

// ---- the converter's values ----

// The queries that report the given parameters, in the order a backup sends them.
std::vector<profile::Query> QueriesFor(const std::vector<std::size_t>& parameters);
std::vector<std::size_t> AllParameters(bool restorableOnly);
// The restorable parameters `values` has.
std::vector<std::size_t> PresentIn(const profile::Configuration& values);

struct ReadResult {
    profile::Configuration values;
    std::vector<profile::Problem> problems;
    std::vector<std::pair<std::string, std::string>> replies; // query key, raw reply
};
// Sends the configuration queries and decodes their replies; problems with a reply are kept (the
// caller decides whether they end the command).
ReadResult ReadConverter(Session& session, const std::vector<profile::Query>& queries);

// The problems that concern the given parameters, or their queries as a whole.
std::vector<profile::Problem> ProblemsFor(const std::vector<profile::Problem>& problems,
                                          const std::vector<std::size_t>& parameters);
// Ends the command with Unexpected, the problems listed under `what`.
[[noreturn]] void Unexpected(Result& result, const std::vector<profile::Problem>& problems,
                             std::string_view what);

// ---- set commands ----

// Sends one set command and shows it with its reply: Failure(Unexpected) when the converter refuses
// it, Failure(NoReply) when no reply of its own comes.
Answer SendSet(Session& session, Result& result, const std::string& frame, std::string_view title);

// The one set frame of a command (reset, factory, the output tests), sent and shown with its reply,
// and its account. Failure(Unexpected) when the converter refuses it, Failure(NoReply) when no reply
// of its own comes.
void SendOne(Session& session, Result& result, const std::string& frame, std::string_view title);

// Sends the planned frames in order, listed as "sent", keeping the account of them (acknowledged, in
// flight, not sent; what a line setting in flight may have changed; `again`, what finishes the job,
// as the next step). A reply is taken only as the answer of the request it echoes; the first command
// without its own acknowledgement ends the run. When the RS485 settings the line runs at change, the
// line follows them (the converter answers the next request at its new speed). On a raw TCP port the
// line cannot follow (the device server's own settings apply): the report says what the converter
// now uses and what to set the server to, and the result is false: nothing more can be read over it.
bool SendPlan(Session& session, Result& result, const std::vector<profile::PlannedFrame>& plan,
              const profile::Configuration& current, const profile::Configuration& target,
              std::string_view again);

// ---- exchanges ----

// The frame the interpreter found in the answer's block, without the noise around it, when it found one.
std::optional<std::string_view> PlacedFrame(const Answer& answer);

// A request and the block that answered it, as hex, with what the block means.
void ShowExchange(Result& result, std::string_view sent, const Answer& answer);

// A HART request through the converter: no reply means the instrument (or the converter) is
// silent (Failure(HartSilent)), a reply that is no good one Failure(Unexpected).
Answer HartRequest(Session& session, Result& result, std::string_view frame, int32_t pending,
                   std::string_view what);

struct HartAddressing {
    std::string preambles = "5";
    int address = 0;
    bool secondary = false;
};
// --preambles and --secondary of the hart commands, bound to the addressing returned.
std::shared_ptr<HartAddressing> DefineHartAddressing(CLI::App& app);
// Usage when the preamble length is none the window offers.
void CheckHartAddressing(const HartAddressing& addressing);

// ---- what the user gives ----

// Bytes typed as hex byte text ("51 51 51 23", either letter case), at most `maximum` of them;
// Failure(Usage) naming `example` otherwise.
std::string HexArgument(const std::string& text, int maximum, std::string_view example);

// ---- commissioning (hart fields, check, map, watch): the converter's mapping read from its
// configuration, the instrument's reply to a HART body sent in transparent mode, the poll of registers
// 40003-40018 ----

struct ConverterMapping {
    profile::Mapping mapping;
    int mode = 0; // the working mode's index: 0 transparent, 1 single-meter, 2 test-output
};

// Reads the system parameters, the custom HART commands and the parse format (QX1, QX3, QX4).
// Failure(Unexpected) naming what is missing.
ConverterMapping ReadMapping(Session& session, Result& result);

// Sends `body` (delimiter to data, e.g. a read meter command as configured) with `preambles` and
// returns the instrument's reply taken apart. Failure(HartSilent) when nothing answers,
// Failure(Unexpected) when the reply is no good one.
profile::HartReply SendHartBody(Session& session, Result& result, const std::vector<uint8_t>& body,
                                std::string_view preambles, std::string_view what);

// Registers 40003-40018 at `slaveAddress`; nullopt for a reply that is not the registers (`answer`,
// when given, gets the reply). NoReply, Interrupted and a lost line end it (Failure).
std::optional<std::vector<uint16_t>> PollVariableRegisters(Session& session, int slaveAddress,
                                                           Answer* answer = nullptr);

} // namespace cli
