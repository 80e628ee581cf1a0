// Watches one port's exchange and logs each set command by what came of it: every frame that
// changes the converter (set commands, the reset, the factory record; output tests excluded) and its
// answer. It only listens: the values last read on the port give each change its old value, the
// communication query the converter's version, the system parameters its slave address.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inspection/ChangeLog.h"
#include "profile/Configuration.h"
#include "traffic/Interpreter.h"

namespace inspection {

// A frame that changes the converter: "QQS#...", "TAVRIK#...". Output tests ("QQQ#AV0O:...") do not.
bool ChangesConverter(std::string_view frame);

class ChangeWatch {
public:
    using Clock = std::function<int64_t()>; // milliseconds since the epoch
    ChangeWatch(ChangeLog& log, std::string port, Clock clock = nullptr);

    // A request went onto the line. A set command before it that got no answer is logged unanswered.
    void sent(std::string_view frame);
    // A block arrived for the last request, as the interpreter read it against that request.
    void received(std::string_view block, const traffic::Reading& reading);
    // Nothing came for the last request: `why` ("no reply within 1000 ms", "the line was lost").
    void unanswered(std::string_view why);
    // The port was opened again: what was read before may have been another converter's.
    void forget();

    // The communication query's answer and the slave address have been read on this port.
    bool identified() const { return converter_ != kNotRead && slave_ != kNotRead; }
    bool versionKnown() const { return converter_ != kNotRead; }
    bool slaveKnown() const { return slave_ != kNotRead; }
    // Every change this watch logged, whatever its status (an inspection report lists those of its run).
    const std::vector<Change>& logged() const { return logged_; }
    // The values as last read on the port, acknowledged sets applied.
    const profile::Configuration& known() const { return known_; }

private:
    std::vector<Change> changesOf(std::string_view frame) const;
    void settle(Change::Status status, std::string reason);
    void learn(std::string_view frame, std::string_view reply);

    ChangeLog& log_;
    std::string port_;
    Clock clock_;
    profile::Configuration known_;
    std::string slave_{kNotRead};
    std::string converter_{kNotRead};
    std::optional<std::string> request_; // the last request, until its answer
    std::vector<Change> logged_;
};

} // namespace inspection
