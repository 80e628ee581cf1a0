// vx538 watch: the eight variables as the PLC reads them (registers 40003-40018, each in its row's
// word order), polled at an interval and written as they come: a line per sample for people, a JSON
// object per sample for scripts, optionally CSV; several ports polled together, each in its own
// columns or file. Ctrl+C ends it (exit 0) with the count of samples and missed polls; a line lost
// ends it with exit 4, and so does a watch in which no poll was answered.
#include <CLI/CLI.hpp>

#include <chrono>
#include <ostream>
#include <poll.h>

#include "cli/Jobs.h"
#include "cli/Main.h"
#include "cli/Steps.h"
#include "jobs/LivePoll.h"
#include "traffic/EventFormat.h"
#include "traffic/LineFile.h"
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
    std::optional<profile::Sample> sample; // this round's
    std::optional<Failure> failure;        // Ctrl+C, or the line went away
    traffic::LineFile csv;                 // its own file, with {port}
};

struct WatchOptions {
    int intervalMs = 1000;
    int count = 0;
    std::string csv;
};

std::string pad(std::string text) {
    if (text.size() < 10) {
        text.insert(0, 10 - text.size(), ' ');
    }
    return text;
}

void openCsv(traffic::LineFile& file, const std::string& path, const std::string& header) {
    if (const std::string failure = file.open(path, header); !failure.empty()) {
        throw Failure(code::BadFile, "cannot write " + path + ": " + failure);
    }
}

// A line the CSV file did not take: the watch ends there, since every later sample would be lost too
// while the run still looked like a success.
std::optional<Failure> writeCsv(traffic::LineFile& file, const std::string& line) {
    const std::string path = file.path();
    if (const std::string failure = file.writeLine(line); !failure.empty()) {
        return Failure(code::BadFile, "cannot write " + path + ": " + failure);
    }
    return std::nullopt;
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

// One poll of every port, the ports at once.
void pollAll(std::vector<Watched>& ports) {
    const auto pollOne = [](Watched& w) {
        jobs::LivePollJob poll(w.mapping);
        RunJob(*w.session, poll);
        w.sample = poll.result().sample;
        // A poll without its answer is a missed sample; Ctrl+C or a line gone ends the watch.
        if (poll.result().ended()) {
            const jobs::Stop& stop = *poll.result().missed;
            w.failure = Failure(ExitOf(stop), w.port + ": " + stop.sentence());
        }
    };
    AtOnce(ports.size(), [&](std::size_t i) { pollOne(ports[i]); });
}

// Shows and records one round; a CSV line not written is returned as the failure that ends the watch.
std::optional<Failure> write(std::vector<Watched>& ports, int64_t time, bool json, traffic::LineFile& shared,
                             std::ostream& out) {
    std::optional<Failure> failure;
    const std::string timeText = traffic::DateTimeText(time);
    std::string line = timeText;
    std::vector<std::optional<profile::Sample>> samples;
    for (Watched& w : ports) {
        (w.sample ? w.samples : w.missed) += 1;
        samples.push_back(w.sample);
        if (json) {
            out << profile::SampleJson(timeText, w.port, w.sample) << "\n";
        }
        for (int n = 1; n <= profile::kMappedVariables; ++n) {
            // A missed poll shows no value, never a zero.
            const std::string value = profile::SampleValueText(w.sample, n);
            line += "  " + pad(value.empty() ? "-" : value);
        }
        if (w.csv.isOpen() && !failure) {
            failure =
                writeCsv(w.csv, profile::SampleCsvLine(
                                    timeText, std::span<const std::optional<profile::Sample>>(&w.sample, 1)));
        }
    }
    if (shared.isOpen() && !failure) {
        failure = writeCsv(shared, profile::SampleCsvLine(timeText, samples));
    }
    if (!json) {
        out << line << "\n";
    }
    out << std::flush;
    return failure;
}

int watch(const WatchOptions& o, const Globals& given, const Environment& env) {
    Globals globals = given;
    ResolvePorts(globals);
    TrafficLog log;
    log.open(globals.log);
    // Every port opened and its slave address and word orders read before the first poll.
    std::vector<Watched> ports(globals.ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        Watched& w = ports[i];
        w.port = globals.ports[i];
        LineOptions options = LineOptionsOf(globals, w.port);
        options.retries = 0; // a poll without reply is a missed sample, not a resend
        w.session = std::make_unique<Session>(options, env.stop, &log, env.transport);
        Result result;
        try {
            w.session->open();
            w.mapping = *ReadMapping(*w.session, result).mapping;
        } catch (const Failure& failure) {
            throw Failure(failure.code(), w.port + ": " + failure.what());
        }
    }
    const bool several = ports.size() > 1;
    traffic::LineFile shared;
    if (!o.csv.empty()) {
        const bool perPort = o.csv.find("{port}") != std::string::npos;
        if (several && !perPort) {
            openCsv(shared, o.csv, profile::SampleCsvHeader(globals.ports));
        } else {
            const std::string none;
            for (Watched& w : ports) {
                openCsv(w.csv, perPort ? PortFileName(o.csv, w.port) : o.csv,
                        profile::SampleCsvHeader(std::span(&none, 1)));
            }
        }
    }
    if (env.progress) {
        env.err << "vx538: polling " << ports.size() << (several ? " ports" : " port") << " every "
                << o.intervalMs << " ms; Ctrl+C ends\n"
                << std::flush;
    }
    if (!globals.json) {
        std::string header = "time                   ";
        for (const Watched& w : ports) {
            for (int n = 1; n <= profile::kMappedVariables; ++n) {
                header += "  " + pad((several ? w.port + " " : std::string()) + "v" + std::to_string(n));
            }
        }
        env.out << header << "\n" << std::flush;
    }

    const auto start = Clock::now();
    bool interrupted = false;
    std::optional<Failure> lost;
    for (int round = 0; o.count == 0 || round < o.count; ++round) {
        if (round > 0 &&
            !waitUntil(start + std::chrono::milliseconds(int64_t{o.intervalMs} * round), env.stop)) {
            interrupted = true;
            break;
        }
        const int64_t time = traffic::Now().wallMs;
        pollAll(ports);
        for (Watched& w : ports) {
            const bool stopped = w.failure && w.failure->code() == code::Interrupted;
            interrupted = interrupted || stopped;
            if (w.failure && !stopped && !lost) {
                lost = w.failure;
            }
        }
        if (interrupted) {
            break; // the round Ctrl+C cut short is not a sample
        }
        if (auto failure = write(ports, time, globals.json, shared, env.out); failure && !lost) {
            lost = std::move(failure);
        }
        if (lost) {
            break;
        }
    }
    // The last line: what was polled.
    for (const Watched& w : ports) {
        if (globals.json) {
            env.out << Json{{"port", w.port}, {"samples", w.samples}, {"missed", w.missed}}.dump() << "\n";
        } else {
            env.out << (several ? w.port + ": " : std::string()) << w.samples << " samples, " << w.missed
                    << " missed\n";
        }
    }
    env.out << std::flush;
    if (lost) {
        throw *lost;
    }
    // Ctrl+C is how a watch normally ends; but a watch that polled and never got a sample has
    // shown nothing, and a script must not read that as success.
    for (const Watched& w : ports) {
        if (w.samples == 0 && w.missed > 0) {
            throw Failure(code::NoReply, w.port + ": no poll was answered with a good reply");
        }
    }
    return code::Done;
}

} // namespace

Run Watch(CLI::App& app) {
    app.description("poll registers 40003-40018 and print the eight variables as they come (Ctrl+C ends it)");
    const auto o = std::make_shared<WatchOptions>();
    app.add_option(
           "--interval", o->intervalMs,
           "milliseconds from one poll to the next (default 1000; 0 polls as fast as the line allows)")
        ->check(CLI::Range(0, 86'400'000));
    app.add_option("--count", o->count, "stop after N polls (default: until Ctrl+C)")
        ->check(CLI::NonNegativeNumber);
    app.add_option(
           "--csv", o->csv,
           "also append every sample to FILE as CSV, flushed per line; '{port}' in the name gives each "
           "port its own file, otherwise several ports share it in columns of their own")
        ->type_name("FILE");
    // It polls the ports of --port itself, all in one rhythm, and writes as it goes.
    return {.live = [o](const Globals& globals, const Environment& env) { return watch(*o, globals, env); }};
}

} // namespace cli::commands
