// What a run of the configuration entries tells the user once it is over: why it stopped, or what
// Write All read back and what Compare with File found. Texts only; the window shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <QString>

#include "app/configuration/ConfigurationRun.h"

namespace app {

// The port the run went over, as the window has it open: 9600, "None".
struct PortSettings {
    uint32_t baud = 0;
    std::string parity;
};

struct RunMessage {
    QString text;
    QString detail;      // a list under the text (differences, values not read); may be empty
    bool report = false; // shown with ShowReport (text and a list) rather than ShowMessage
};

// The message of a run that has ended; nullopt when there is nothing to say (a Read All that went
// through, a run the user cancelled).
std::optional<RunMessage> RunReport(const RunState& run, const PortSettings& port);

} // namespace app
