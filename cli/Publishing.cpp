// The --mqtt options of watch and check, and what they publish.
#include "cli/Publishing.h"

#include <cstdlib>
#include <ostream>
#include <thread>

#include <CLI/CLI.hpp>

#include "cli/Files.h"
#include "cli/Jobs.h"
#include "jobs/Instrument.h"
#include "mqtt/Messages.h"
#include "traffic/Recorder.h"

namespace cli {

namespace {

// The working mode in which the converter passes HART frames to the instrument.
constexpr int kTransparentMode = 0;

// The first line of `path` without its line end; Failure(BadFile) when there is none or it cannot be read.
std::string readSecret(const std::string& path, const char* what) {
    std::string text = ReadInputFile(path);
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    if (text.empty()) {
        throw Failure(code::BadFile, path + " holds no " + what + " on its first line");
    }
    return text;
}

} // namespace

std::shared_ptr<MqttSettings> DefineMqttOptions(CLI::App& app, bool watching) {
    auto s = std::make_shared<MqttSettings>();
    auto* url = app.add_option("--mqtt", s->url,
                               std::string("also publish ") +
                                   (watching ? "every poll of every port" : "each port's table") +
                                   " to the MQTT broker at mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] "
                                   "(8883, TLS)")
                    ->type_name("URL");
    app.add_option("--mqtt-topic", s->topic,
                   "the topics' prefix (default vx538): PREFIX/CONVERTER/variable/N, PREFIX/CONVERTER/status" +
                       std::string(watching ? "" : ", PREFIX/CONVERTER/check") +
                       "; CONVERTER is the port's name (--ports-from lines 'NAME PORT'), else made from the port")
        ->type_name("PREFIX")
        ->needs(url);
    app.add_option("--mqtt-user", s->user, "the user name to log in to the broker with")
        ->type_name("NAME")
        ->needs(url);
    app.add_option("--mqtt-password-file", s->passwordFile,
                   "the password, on the first line of FILE (else from the environment, VX538_MQTT_PASSWORD; "
                   "never on the command line)")
        ->type_name("FILE")
        ->needs(url);
    app.add_option("--mqtt-ca", s->caFile,
                   "mqtts: the CA certificate (PEM) that signed the broker's (default: the system's CAs)")
        ->type_name("FILE")
        ->needs(url);
    if (watching) {
        app.add_flag("--mqtt-retain", s->retain,
                     "publish the variables retained, so a subscriber gets the last values at once")
            ->needs(url);
        app.add_option("--mqtt-queue", s->queue,
                       "polls per port kept while the broker is away, delivered in order when it is back; the "
                       "oldest go first when it is full (default: ten minutes at --interval)")
            ->type_name("N")
            ->check(CLI::Range(1, 1'000'000))
            ->needs(url);
    }
    return s;
}

mqtt::BrokerOptions BrokerOptionsOf(const MqttSettings& settings, int intervalMs) {
    const mqtt::BrokerUrlReading reading = mqtt::ReadBrokerUrl(settings.url);
    if (!reading.url) {
        throw Failure(code::Usage, reading.error);
    }
    mqtt::BrokerOptions o;
    o.url = *reading.url;
    if (std::string problem = mqtt::TopicPrefixProblem(settings.topic); !problem.empty()) {
        throw Failure(code::Usage, problem);
    }
    o.prefix = settings.topic;
    o.user = settings.user;
    if (!settings.passwordFile.empty()) {
        o.password = readSecret(settings.passwordFile, "password");
    } else if (const char* password = std::getenv("VX538_MQTT_PASSWORD"); password && *password) {
        o.password = password;
    }
    if (!o.password.empty() && o.user.empty()) {
        throw Failure(code::Usage, "a password needs a user name: give --mqtt-user");
    }
    if (!settings.caFile.empty()) {
        if (!o.url.tls) {
            throw Failure(code::Usage, "--mqtt-ca is for a TLS broker: give mqtts://" + o.url.host);
        }
        ReadInputFile(settings.caFile); // readable, or Failure(BadFile) with the reason now
        o.caFile = settings.caFile;
    }
    o.retain = settings.retain;
    o.queueCapacity = settings.queue > 0 ? static_cast<std::size_t>(settings.queue)
                                         : static_cast<std::size_t>(600'000 / std::max(intervalMs, 50));
    return o;
}

std::vector<std::string> ConverterNames(const Globals& globals) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < globals.ports.size(); ++i) {
        const bool given = i < globals.names.size() && !globals.names[i].empty();
        names.push_back(given ? globals.names[i] : mqtt::PortSlug(globals.ports[i]));
        for (std::size_t j = 0; j < i; ++j) {
            if (names[j] == names[i]) {
                throw Failure(code::Usage, "ports " + globals.ports[j] + " and " + globals.ports[i] +
                                               " would both publish as " + names[i] +
                                               ": name them in --ports-from ('NAME PORT' lines)");
            }
        }
    }
    return names;
}

WatchPublishing::WatchPublishing(mqtt::BrokerOptions options, std::ostream& log)
    : options_(std::move(options)), log_(log) {}

WatchPublishing::~WatchPublishing() {
    finish();
}

mqtt::ConverterDescription WatchPublishing::Describe(Session& session, const std::string& name,
                                                    const jobs::MappingResult& converter) {
    const profile::Mapping& mapping = *converter.mapping;
    if (converter.mode != jobs::kTransparentMode) {
        return mqtt::DescribeConverter(name, mapping, profile::RegisterMap(mapping, {}));
    }
    jobs::RegisterMapJob map("5");
    RunJob(session, map);
    // Without the instrument's answer the units stay unknown; the values are published all the same.
    // A line gone, or Ctrl+C, ends the opening.
    if (map.result().stop) {
        Fail(*map.result().stop);
    }
    return mqtt::DescribeConverter(name, mapping, map.result().rows);
}

void WatchPublishing::add(mqtt::ConverterDescription description) {
    publishers_.push_back(std::make_unique<mqtt::Publisher>(options_, std::move(description),
                                                            [this](const std::string& line) { log(line); }));
}

void WatchPublishing::describe(std::size_t port, mqtt::ConverterDescription description) {
    if (port < publishers_.size()) {
        publishers_[port]->describe(std::move(description));
    }
}

void WatchPublishing::log(const std::string& line) {
    const std::lock_guard lock(logMutex_);
    log_ << "vx538: " << line << "\n" << std::flush;
}

void WatchPublishing::post(std::size_t port, int64_t timeMs, const std::optional<profile::Sample>& sample,
                           mqtt::Quality quality) {
    if (port >= publishers_.size()) {
        return;
    }
    mqtt::SampleEntry entry;
    entry.timeMs = timeMs;
    entry.quality = sample ? mqtt::Quality::Good : quality;
    if (sample) {
        entry.values = *sample;
    }
    publishers_[port]->post(entry);
}

std::optional<Failure> WatchPublishing::finish() {
    // Each publisher has its own connection: they finish side by side, so the grace is spent once.
    std::vector<std::thread> finishing;
    for (auto& publisher : publishers_) {
        finishing.emplace_back([&publisher] { publisher->finish(std::chrono::seconds(5)); });
    }
    for (std::thread& thread : finishing) {
        thread.join();
    }
    std::size_t undelivered = 0;
    for (const auto& publisher : publishers_) {
        undelivered += publisher->counts().undelivered;
    }
    if (undelivered == 0) {
        return std::nullopt;
    }
    return Failure(code::BadFile, std::to_string(undelivered) + (undelivered == 1 ? " poll was" : " polls were") +
                                      " not delivered to the broker " + mqtt::BrokerUrlText(options_.url));
}

mqtt::Quality QualityOf(const jobs::Stop& missed) {
    switch (missed.kind) {
    case jobs::Outcome::Kind::Cut:
        return mqtt::Quality::Cut;
    case jobs::Outcome::Kind::Refused:
    case jobs::Outcome::Kind::Damaged:
        return mqtt::Quality::Damaged;
    case jobs::Outcome::Kind::LineLost:
        return mqtt::Quality::LineLost;
    default:
        // Silence, or bytes that are no reply to the poll (its echo, another's): the converter did not
        // answer it.
        return mqtt::Quality::NoReply;
    }
}

CheckPublishing::CheckPublishing(CLI::App& app) : settings_(DefineMqttOptions(app, false)) {}

void CheckPublishing::prepare(const Globals& globals) {
    if (settings_->url.empty()) {
        return;
    }
    broker_ = BrokerOptionsOf(*settings_, 1000);
    const std::vector<std::string> names = ConverterNames(globals);
    for (std::size_t i = 0; i < names.size(); ++i) {
        names_.emplace_back(globals.ports[i], names[i]);
    }
}

std::string CheckPublishing::publish(const std::string& port, const Result& result, const Failure* failure) const {
    if (!broker_) {
        return {};
    }
    std::string name = mqtt::PortSlug(port);
    for (const auto& [p, n] : names_) {
        if (p == port) {
            name = n;
        }
    }
    const int exit = failure ? failure->code() : result.exit;
    Json object = {{"time", mqtt::UtcTimeText(traffic::Now().wallMs)},
                   {"port", port},
                   {"exit", exit},
                   {"result", ExitWord(exit)}};
    if (failure) {
        object["error"] = failure->what();
    }
    const Json members = result.json();
    for (const auto& [key, value] : members.items()) {
        object[key] = value;
    }
    return mqtt::PublishOnce(*broker_,
                             {mqtt::CheckTopic(broker_->prefix, name),
                              object.dump(-1, ' ', false, Json::error_handler_t::replace), true},
                             std::chrono::seconds(10));
}

PortRun WithPublishing(std::shared_ptr<CheckPublishing> publishing, PortRun check) {
    return [publishing, check](Session& session, Result& result) {
        try {
            check(session, result);
        } catch (const Failure& failure) {
            if (std::string error = publishing->publish(session.port(), result, &failure); !error.empty()) {
                result.line(error);
            }
            throw;
        }
        if (std::string error = publishing->publish(session.port(), result, nullptr); !error.empty()) {
            throw Failure(code::BadFile, error);
        }
    };
}

} // namespace cli
