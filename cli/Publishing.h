// vx538's MQTT output, beside watch's and check's CSV and JSON: the --mqtt options, read and checked
// before any port is opened; a watch's publishers (a broker connection per converter, so each has its
// own status and last will); a check's table published once, retained.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/Steps.h"
#include "jobs/Job.h"
#include "jobs/ReadMapping.h"
#include "mqtt/Publisher.h"

namespace CLI {
class App;
}

namespace cli {

struct MqttSettings {
    std::string url; // --mqtt; empty: nothing is published
    std::string topic = "vx538";
    std::string user;
    std::string passwordFile;
    std::string caFile;
    bool retain = false;
    int queue = 0; // polls per converter; 0: ten minutes at the poll rate
};

// Adds --mqtt, --mqtt-topic, --mqtt-user, --mqtt-password-file and --mqtt-ca to `app`; a watch's also
// --mqtt-retain and --mqtt-queue.
std::shared_ptr<MqttSettings> DefineMqttOptions(CLI::App& app, bool watching);

// What the settings make for the connection, checked: Failure(Usage) for an address or prefix that
// cannot work, or a password without a user; Failure(BadFile) for a password or CA file that cannot be
// read. The password comes from --mqtt-password-file, else from VX538_MQTT_PASSWORD.
mqtt::BrokerOptions BrokerOptionsOf(const MqttSettings& settings, int intervalMs);

// Each port's converter name: the one given to it, else made from the port; Failure(Usage) when two
// ports come to the same name.
std::vector<std::string> ConverterNames(const Globals& globals);

// The publishers of a watch, one per port, in the order of the ports.
class WatchPublishing {
public:
    WatchPublishing(mqtt::BrokerOptions options, std::ostream& log);
    ~WatchPublishing();

    // Converter `name` on the session's port as its messages describe it, its mapping read; the units
    // come from the instrument when the converter passes HART (transparent mode), else stay unknown.
    static mqtt::ConverterDescription Describe(Session& session, const std::string& name,
                                               const jobs::MappingResult& converter);

    // The next port's publisher; its description may still be only the name (its port not open yet).
    void add(mqtt::ConverterDescription description);
    // Port `port` described anew, once its mapping could be read.
    void describe(std::size_t port, mqtt::ConverterDescription description);

    // One poll of port `port`: its sample, or why there is none.
    void post(std::size_t port, int64_t timeMs, const std::optional<profile::Sample>& sample, mqtt::Quality quality);

    // A line of the log (standard error), from any thread.
    void log(const std::string& line);

    // Delivers what the broker still takes within a few seconds, says "offline", disconnects. Returns
    // Failure(BadFile) naming the ports whose polls were not all delivered, when any were not.
    std::optional<Failure> finish();

private:
    mqtt::BrokerOptions options_;
    std::ostream& log_;
    std::mutex logMutex_;
    std::vector<std::unique_ptr<mqtt::Publisher>> publishers_;
};

// What a poll without registers came to, from the answer's verdict.
mqtt::Quality QualityOf(const jobs::Stop& missed);

// check --mqtt: each port's table (or why there is none) published retained at PREFIX/CONVERTER/check
// once the port's check has run.
class CheckPublishing {
public:
    // Adds the --mqtt options to the check's `app`.
    explicit CheckPublishing(CLI::App& app);
    // Checks the settings and takes the ports' names, before any port is opened.
    void prepare(const Globals& globals);
    // The outcome of a port's check: its result, or the failure that ended it. Empty when it was
    // delivered (or nothing is to be published), else why not.
    std::string publish(const std::string& port, const Result& result, const Failure* failure) const;

private:
    std::shared_ptr<MqttSettings> settings_;
    std::optional<mqtt::BrokerOptions> broker_;
    std::vector<std::pair<std::string, std::string>> names_; // port, converter name
};

using PortRun = std::function<void(Session&, Result&)>;
// `check`, then its outcome published; a table the broker did not take ends the port's run with
// Failure(BadFile), since what the check was run for did not happen.
PortRun WithPublishing(std::shared_ptr<CheckPublishing> publishing, PortRun check);

} // namespace cli
