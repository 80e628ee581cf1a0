// The steps vx538's commissioning commands (hart scan, hart fields, check, map, watch) share: the
// converter's mapping read from its configuration, the instrument's reply to a HART body sent in
// transparent mode, the poll of registers 40003-40018, and putting the working mode back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Result.h"
#include "cli/Session.h"
#include "profile/Mapping.h"
#include "profile/MeterReply.h"
#include "profile/Samples.h"

namespace cli {

struct ConverterMapping {
    profile::Mapping mapping;
    int mode = 0; // the working mode's index: 0 transparent, 1 single-meter, 2 test-output
};

// The index of transparent mode in the working mode's choices.
inline constexpr int kTransparentMode = 0;
// "transparent", "single-meter", "test-output".
std::string ModeName(int mode);

// Reads the system parameters, the custom HART commands and the parse format (QX1, QX3, QX4).
// Failure(Unexpected) naming what is missing.
ConverterMapping ReadMapping(Session& session, Result& result);

// Sends `body` (delimiter to data, e.g. a read meter command as configured) with `preambles` and
// returns the instrument's reply taken apart. Failure(HartSilent) when nothing answers,
// Failure(Unexpected) when the reply is no good one.
profile::HartReply SendHartBody(Session& session, Result& result, const std::vector<uint8_t>& body,
                                std::string_view preambles, std::string_view what);

// Registers 40003-40018 at `slaveAddress`. Failure(NoReply) when nothing answers, Failure(ModbusFault)
// for an exception or a wrong CRC, Failure(Unexpected) for anything else.
std::vector<uint16_t> ReadVariableRegisters(Session& session, int slaveAddress);
// The same without failing on a reply that is not the registers: nullopt (`answer`, when given, gets
// the reply). NoReply, Interrupted and a lost line still end it (Failure).
std::optional<std::vector<uint16_t>> PollVariableRegisters(Session& session, int slaveAddress,
                                                           Answer* answer = nullptr);

// Sets the working mode back to `mode` and checks it took, trying `attempts` times (a converter that
// went silent a moment may answer the next one). After Ctrl+C (the session's stop event signalled)
// the port is closed and opened again on a line of its own, so the mode is put back all the same.
// Returns whether it is back.
bool PutModeBack(Session& session, Result& result, int mode, int attempts);

} // namespace cli
