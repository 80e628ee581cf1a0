// Reading what decides the registers: the system parameters, the custom HART commands and the parse
// format, as one mapping with the working mode. Every commissioning job starts with it.
#pragma once

#include <optional>
#include <string>

#include "jobs/Read.h"
#include "profile/Mapping.h"

namespace jobs {

// The working mode in which the converter passes HART frames to the instrument, and its name.
inline constexpr int kTransparentMode = 0;
// "transparent", "single-meter", "test-output", as the mode parameter names them; "mode 7" otherwise.
std::string ModeName(int mode);
// The frame that sets the working mode, as a set command that puts the mode back (restores) or not.
Request ModeRequest(int mode, bool restores);

struct MappingResult {
    std::optional<profile::Mapping> mapping;
    std::optional<int> mode;
    ReadResult read;
    std::vector<profile::Problem> problems; // why there is no mapping, when the replies were whole
    std::optional<Stop> stop;               // a query without its whole reply

    // Why there is no mapping, for people: the stop's sentence or the problems; empty with a mapping.
    std::string problemText() const;
};

class ReadMappingJob : public Script {
public:
    const MappingResult& result() const { return result_; }
    // Copies the result into `into` (and its stop into `stop`); whether there is a mapping to go on with.
    bool took(MappingResult& into, std::optional<Stop>& stop) const;

private:
    Body run() override;
    MappingResult result_;
};

// A HART frame body (delimiter to data, as the converter polls with it) sent with `preambles` in
// transparent mode.
Request HartBodyRequest(const std::vector<uint8_t>& body, const std::string& preambles, std::string what);

} // namespace jobs
