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
#include "jobs/ReadMapping.h"
#include "jobs/Write.h"
#include "profile/Configuration.h"
#include "profile/Mapping.h"

namespace cli {

// Text frames as they stand; a frame with other bytes (read meter commands, HART, noise) as hex pairs.
using jobs::FrameText;
std::string NameOf(std::size_t parameter);

// ---- the converter's values ----

// Reads the queries (the communication query first when asked) and decodes their replies; a query
// without its whole reply ends the command (Fail). Problems with a whole reply are kept (the caller
// decides whether they end the command).
jobs::ReadResult ReadConverter(Session& session, const std::vector<profile::Query>& queries,
                               bool communication = false);

// Ends the command with Unexpected, the problems listed under `what`.
[[noreturn]] void Unexpected(Result& result, const std::vector<profile::Problem>& problems,
                             std::string_view what);

// ---- set commands ----

// The commands a send job sent, each shown with its reply ("title: frame -> reply (verdict)") and
// listed as "sent", the notes it made, and its account.
void ShowSent(Result& result, const jobs::SendResult& sent, const std::vector<jobs::SetCommand>& commands);

// One set frame (reset, factory, the output tests), sent and shown with its reply and its account.
// Failure(Unexpected) when the converter refuses it, Failure(NoReply) when no reply of its own comes.
void SendOne(Session& session, Result& result, const std::string& frame, std::string_view title);

// ---- exchanges ----

// The frame the interpreter found in the answer's block, without the noise around it, when it found one.
std::optional<std::string_view> PlacedFrame(const Answer& answer);

// A request and the block that answered it, as hex, with what the block means.
void ShowExchange(Result& result, std::string_view sent, const Answer& answer);

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

// ---- commissioning ----

// Reads the converter's mapping (system parameters, custom HART commands, parse format) with the working
// mode. A query without its whole reply ends the command (Fail); Failure(Unexpected) naming what is
// missing from whole replies.
jobs::MappingResult ReadMapping(Session& session, Result& result);

} // namespace cli
