// vx538 watch: the eight variables as the PLC reads them (registers 40003-40018, each in its row's
// word order), polled at an interval and written as they come: a line per sample for people, a JSON
// object per sample for scripts, optionally CSV and an MQTT broker; several ports polled together,
// each in its own columns, file or topics. Ctrl+C ends it (exit 0) with the count of samples and
// missed polls; a line lost ends it with exit 4, and so does a watch in which no poll was answered.
// A watch that publishes is a service: a port it cannot open or whose line goes is opened again
// beside the others' polls, its polls published as "line lost" meanwhile.
#include <CLI/CLI.hpp>

#include <chrono>
#include <ostream>
#include <poll.h>

#include "cli/Files.h"
#include "cli/Jobs.h"
#include "cli/Main.h"
#include "cli/Output.h"
#include "cli/Publishing.h"
#include "cli/Reopening.h"
#include "cli/Steps.h"
#include "jobs/LivePoll.h"
#include "tools/CsvFile.h"
#include "tools/Utf8Text.h"
#include "traffic/EventFormat.h"
#include "traffic/Recorder.h"

namespace cli::commands {

namespace {

using Clock = std::chrono::steady_clock;

struct Watched {
    std::string port;
    std::unique_ptr<Session> session;
    profile::Mapping mapping;
    int samples = 0;
    int missed = 0;
    std::optional<profile::Sample> sample;       // this round's
    mqtt::Quality quality = mqtt::Quality::Good; // why there is no sample this round
    std::optional<Failure> failure;              // Ctrl+C, or the line went away
    tools::CsvFile csv;                          // its own file, with {port}
    // Publishing: the port is closed and opened again meanwhile, at most every 30 s.
    bool down = false;
    int reopenFailures = 0;
    Clock::time_point reopenAt;
    std::unique_ptr<PortReopening> reopening;
};

struct WatchOptions {
    int intervalMs = 1000;
    int count = 0;
    std::string csv;
    std::shared_ptr<MqttSettings> mqtt;
};

std::string pad(std::string text) {
    if (text.size() < 10) {
        text.insert(0, 10 - text.size(), ' ');
    }
    return text;
}

Failure csvFailure(const tools::CsvFile& file) {
    return Failure(code::BadFile, "cannot write " + tools::EchoName(file.name()) + ": " + file.error());
}

// Opens a CSV file before anything is sent; Ctrl+C ends a wait for a FIFO's reader as an interruption.
void openCsv(tools::CsvFile& file, const std::string& path, const std::string& header,
             const serial::EventFd& stop) {
    if (!file.open(path, header, {.peerMs = 5000, .cancelFd = stop.fd()})) {
        const Failure failure = csvFailure(file);
        throw stop.isSignalled() ? Failure(code::Interrupted, failure.what()) : failure;
    }
}

// Waits for the next poll's time; false when Ctrl+C came first.
bool waitUntil(Clock::time_point due, const serial::EventFd& stop) {
    for (;;) {
        if (stop.isSignalled()) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
        if (left <= 0) {
            return true;
        }
        pollfd wake{stop.fd(), POLLIN, 0};
        ::poll(&wake, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
    }
}

// The number of the next poll on the rhythm start + n * interval: the one after `done`, or the first
// still to come when a poll overran its turn (a timeout longer than the interval). Turns that passed
// while a poll waited are skipped, not made up in a burst, so polls never come closer than the interval.
int64_t nextTurn(int64_t done, Clock::time_point start, int intervalMs, Clock::time_point now) {
    if (intervalMs <= 0) {
        return done + 1;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
    return std::max<int64_t>(done + 1, (elapsed + intervalMs - 1) / intervalMs);
}

// One poll of every port, the ports at once. `keepGoing` (publishing): a port whose line fails is
// closed and goes down, to be opened again, instead of ending the watch.
void pollAll(std::vector<Watched>& ports, bool keepGoing) {
    const auto pollOne = [keepGoing](Watched& w) {
        w.sample.reset();
        w.quality = mqtt::Quality::NoReply;
        if (w.down) {
            w.quality = mqtt::Quality::LineLost;
            return;
        }
        try {
            jobs::LivePollJob poll(w.mapping);
            RunJob(*w.session, poll);
            w.sample = poll.result().sample;
            if (poll.result().missed) {
                const jobs::Stop& stop = *poll.result().missed;
                w.quality = QualityOf(stop);
                // A poll without its answer is a missed sample; Ctrl+C or a line gone ends the watch,
                // unless it publishes: then the port goes down, to be opened again.
                if (poll.result().ended()) {
                    w.failure = Failure(ExitOf(stop), tools::EchoName(w.port) + ": " + stop.sentence());
                    if (keepGoing && stop.kind != jobs::Outcome::Kind::Interrupted) {
                        w.quality = mqtt::Quality::LineLost;
                        w.session.reset();
                        w.down = true;
                        w.reopenAt = Clock::now() + std::chrono::seconds(1);
                    }
                }
            }
        } catch (const Failure& failure) {
            // The line could not be used at all (its log failed, say): the watch ends with the reason.
            w.failure = Failure(failure.code(), tools::EchoName(w.port) + ": " + failure.what());
        }
    };
    AtOnce(ports.size(), [&](std::size_t i) { pollOne(ports[i]); });
}

// Records and shows one round. A round counts (as a sample or a missed poll) only once every output
// took it; the first that did not is returned as the failure that ends the watch.
std::optional<Failure> write(std::vector<Watched>& ports, int64_t time, bool json, bool people,
                             tools::CsvFile& shared, std::ostream& out, WatchPublishing* publishing) {
    const std::string timeText = traffic::DateTimeText(time);
    std::vector<std::optional<profile::Sample>> samples;
    for (Watched& w : ports) {
        samples.push_back(w.sample);
        if (w.csv.isOpen() && !w.csv.writeLine(profile::SampleCsvLine(
                                  timeText, std::span<const std::optional<profile::Sample>>(&w.sample, 1)))) {
            return csvFailure(w.csv);
        }
    }
    if (shared.isOpen() && !shared.writeLine(profile::SampleCsvLine(timeText, samples))) {
        return csvFailure(shared);
    }
    std::string line = timeText;
    for (Watched& w : ports) {
        if (json) {
            out << profile::SampleJson(timeText, w.port, w.sample) << "\n";
        }
        for (int n = 1; n <= profile::kMappedVariables; ++n) {
            // A missed poll shows no value, never a zero.
            const std::string value = profile::SampleValueText(w.sample, n);
            line += "  " + pad(value.empty() ? "-" : value);
        }
    }
    if (people) {
        out << line << "\n";
    }
    if (const std::string failure = OutputFailure(out); !failure.empty()) {
        return Failure(code::BadFile, failure);
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        Watched& w = ports[i];
        (w.sample ? w.samples : w.missed) += 1;
        if (publishing) {
            publishing->post(i, time, w.sample, w.quality);
        }
    }
    return std::nullopt;
}

// Before a round: a down port whose opening ended comes back or is tried again later (1 s, doubling
// to 30 s); one whose time has come gets an opening of its own.
template <typename Opener>
void tendDownPorts(std::vector<Watched>& ports, WatchPublishing& publishing, const Opener& opener) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
        Watched& w = ports[i];
        if (!w.down) {
            continue;
        }
        if (w.reopening && w.reopening->done()) {
            if (std::optional<PortReopening::Opened> opened = w.reopening->take()) {
                w.session = std::move(opened->session);
                w.mapping = opened->mapping;
                publishing.describe(i, std::move(opened->description));
                publishing.log(tools::EchoName(w.port) + ": open again, polled from now on");
                w.down = false;
                w.reopenFailures = 0;
            } else {
                ++w.reopenFailures;
                w.reopenAt = Clock::now() + mqtt::ReconnectDelay(w.reopenFailures);
            }
            w.reopening.reset();
        }
        if (w.down && !w.reopening && Clock::now() >= w.reopenAt) {
            w.reopening = std::make_unique<PortReopening>(opener(i));
        }
    }
}

int watch(const WatchOptions& o, const Globals& given, const Environment& env) {
    Globals globals = given;
    ResolvePorts(globals);
    const bool csvOut = o.csv == "-";
    if (csvOut && globals.json) {
        throw Failure(code::Usage, "--csv - and --json each choose what standard output carries: give one");
    }
    const bool several = globals.ports.size() > 1;
    const bool perPort = o.csv.find("{port}") != std::string::npos;
    // The files are settled before anything is sent: two ports that would write one file, a file that
    // is an input, a FIFO nobody reads, a disk that takes not even the header.
    std::vector<Watched> ports(globals.ports.size());
    tools::CsvFile shared;
    if (!o.csv.empty()) {
        const std::vector<std::string> names =
            perPort ? PortFileNames(o.csv, globals.ports) : std::vector<std::string>(ports.size(), o.csv);
        for (const std::string& name : names) {
            if (!globals.portsFrom.empty()) {
                RefuseSameFile(name, "--csv", globals.portsFrom, "--ports-from");
            }
        }
        if (several && !perPort) {
            openCsv(shared, o.csv, profile::SampleCsvHeader(globals.ports), env.stop);
        } else {
            const std::string none;
            for (std::size_t i = 0; i < ports.size(); ++i) {
                openCsv(ports[i].csv, names[i], profile::SampleCsvHeader(std::span(&none, 1)), env.stop);
            }
        }
    }
    TrafficLog log;
    log.open(globals.log);
    // What is published is checked before a port is opened.
    std::unique_ptr<WatchPublishing> publishing;
    std::vector<std::string> names;
    if (!o.mqtt->url.empty()) {
        publishing = std::make_unique<WatchPublishing>(BrokerOptionsOf(*o.mqtt, o.intervalMs), env.err);
        names = ConverterNames(globals);
    }
    // Every port opened and its slave address and word orders read before the first poll.
    const auto opener = [&](std::size_t i) {
        return [&, i]() {
            LineOptions options = LineOptionsOf(globals, globals.ports[i]);
            options.retries = 0; // a poll without reply is a missed sample, not a resend
            PortReopening::Opened opened{std::make_unique<Session>(options, env.stop, &log, env.transport), {}, {}};
            Result result;
            try {
                opened.session->open();
                const jobs::MappingResult converter = ReadMapping(*opened.session, result);
                opened.mapping = *converter.mapping;
                if (publishing) {
                    opened.description = WatchPublishing::Describe(*opened.session, names[i], converter);
                }
            } catch (const Failure& failure) {
                throw Failure(failure.code(), tools::EchoName(globals.ports[i]) + ": " + failure.what());
            }
            return opened;
        };
    };
    for (std::size_t i = 0; i < ports.size(); ++i) {
        Watched& w = ports[i];
        w.port = globals.ports[i];
        try {
            PortReopening::Opened opened = opener(i)();
            w.session = std::move(opened.session);
            w.mapping = opened.mapping;
            if (publishing) {
                publishing->add(std::move(opened.description));
            }
        } catch (const Failure& failure) {
            if (!publishing || failure.code() == code::Interrupted) {
                throw;
            }
            publishing->log(std::string(failure.what()) +
                            "; trying it again at most 30 s apart, the other ports go on");
            publishing->add(mqtt::ConverterDescription{names[i], {}, {}, {}});
            w.down = true;
            w.reopenFailures = 1;
            w.reopenAt = Clock::now() + mqtt::ReconnectDelay(1);
        }
    }
    // With the CSV on standard output, standard output carries it alone; the rest goes to standard
    // error.
    const bool people = !globals.json && !csvOut;
    std::ostream& talk = csvOut ? env.err : env.out;
    if (env.progress) {
        env.err << "vx538: polling " << ports.size() << (several ? " ports" : " port") << " every "
                << o.intervalMs << " ms; Ctrl+C ends\n"
                << std::flush;
    }
    if (people) {
        std::string header = "time                   ";
        for (const Watched& w : ports) {
            for (int n = 1; n <= profile::kMappedVariables; ++n) {
                header += "  " + pad((several ? tools::EchoName(w.port) + " " : std::string()) + "v" +
                                     std::to_string(n));
            }
        }
        env.out << header << "\n" << std::flush;
    }

    const auto start = Clock::now();
    bool interrupted = false;
    std::optional<Failure> lost;
    int64_t turn = 0;
    for (int round = 0; o.count == 0 || round < o.count; ++round) {
        if (round > 0) {
            turn = nextTurn(turn, start, o.intervalMs, Clock::now());
            if (!waitUntil(start + std::chrono::milliseconds(int64_t{o.intervalMs} * turn), env.stop)) {
                interrupted = true;
                break;
            }
        }
        if (publishing) {
            tendDownPorts(ports, *publishing, opener);
        }
        const int64_t time = traffic::Now().wallMs;
        pollAll(ports, publishing != nullptr);
        for (Watched& w : ports) {
            const bool stopped = w.failure && w.failure->code() == code::Interrupted;
            interrupted = interrupted || stopped;
            if (w.failure && !stopped && w.down && publishing) {
                publishing->log(std::string(w.failure->what()) + "; opening it again, the other ports go on");
                w.failure.reset();
            }
            if (w.failure && !stopped && !lost) {
                lost = w.failure;
            }
        }
        if (interrupted) {
            break; // the round Ctrl+C cut short is not a sample
        }
        if (auto failure = write(ports, time, globals.json, people, shared, env.out, publishing.get());
            failure && !lost) {
            lost = std::move(failure);
        }
        if (!lost) {
            if (const std::string failure = log.failure(); !failure.empty()) {
                lost = Failure(code::BadFile, failure);
            }
        }
        if (lost) {
            break;
        }
    }
    if (publishing) {
        // Polls the broker never took are lost as surely as CSV lines a full disk refused.
        if (auto failure = publishing->finish(); failure && !lost) {
            lost = std::move(failure);
        }
    }
    // The last line: what was polled.
    for (const Watched& w : ports) {
        if (globals.json) {
            talk << JsonLine(Json{{"port", w.port}, {"samples", w.samples}, {"missed", w.missed}}) << "\n";
        } else {
            talk << (several ? tools::EchoName(w.port) + ": " : std::string()) << w.samples << " samples, "
                 << w.missed << " missed\n";
        }
    }
    talk << std::flush;
    if (lost) {
        throw *lost;
    }
    // Ctrl+C is how a watch normally ends; but a watch that polled and never got a sample has
    // shown nothing, and a script must not read that as success.
    for (const Watched& w : ports) {
        if (w.samples == 0 && w.missed > 0) {
            throw Failure(code::NoReply,
                          tools::EchoName(w.port) + ": no poll was answered with a good reply");
        }
    }
    return code::Done;
}

} // namespace

Run Watch(CLI::App& app) {
    app.description("poll registers 40003-40018 and print the eight variables as they come (Ctrl+C ends it); "
                    "with --mqtt also publish them, going on through ports lost and found again");
    const auto o = std::make_shared<WatchOptions>();
    app.add_option(
           "--interval", o->intervalMs,
           "milliseconds from one poll to the next (default 1000; 0 polls as fast as the line allows)")
        ->check(CLI::Range(0, 86'400'000));
    app.add_option("--count", o->count, "stop after N polls (default: until Ctrl+C)")
        ->check(CLI::NonNegativeNumber);
    app.add_option(
           "--csv", o->csv,
           "also append every sample to FILE as CSV, each line on the disk at once ('-': standard output, "
           "which then carries the CSV alone); '{port}' in the name gives each port its own file (the "
           "port's whole name made safe: dev-ttyUSB0), otherwise several ports share it in columns of "
           "their own")
        ->type_name("FILE");
    o->mqtt = DefineMqttOptions(app, true);
    // It polls the ports of --port itself, all in one rhythm, and writes as it goes.
    return {.live = [o](const Globals& globals, const Environment& env) { return watch(*o, globals, env); }};
}

} // namespace cli::commands
