// vx538 watch: the eight variables as the PLC reads them (registers 40003-40018, each in its row's
// word order), polled at an interval and written as they come: a line per sample for people, a JSON
// object per sample for scripts, optionally CSV; several ports polled together, each in its own
// columns or file. Ctrl+C ends it (exit 0) with the count of samples and missed polls; a line lost
// ends it with exit 4, and so does a watch in which no poll was answered.
#include <CLI/CLI.hpp>

#include <chrono>
#include <ostream>
#include <poll.h>

#include "cli/Files.h"
#include "cli/Jobs.h"
#include "cli/Main.h"
#include "cli/Output.h"
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
    std::optional<profile::Sample> sample; // this round's
    std::optional<Failure> failure;        // Ctrl+C, or the line went away
    tools::CsvFile csv;                    // its own file, with {port}
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

// One poll of every port, the ports at once.
void pollAll(std::vector<Watched>& ports) {
    const auto pollOne = [](Watched& w) {
        w.sample.reset();
        try {
            jobs::LivePollJob poll(w.mapping);
            RunJob(*w.session, poll);
            w.sample = poll.result().sample;
            // A poll without its answer is a missed sample; Ctrl+C or a line gone ends the watch.
            if (poll.result().ended()) {
                const jobs::Stop& stop = *poll.result().missed;
                w.failure = Failure(ExitOf(stop), tools::EchoName(w.port) + ": " + stop.sentence());
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
                             tools::CsvFile& shared, std::ostream& out) {
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
    for (Watched& w : ports) {
        (w.sample ? w.samples : w.missed) += 1;
    }
    return std::nullopt;
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
    // Every port opened and its slave address and word orders read before the first poll.
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
            throw Failure(failure.code(), tools::EchoName(w.port) + ": " + failure.what());
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
        if (auto failure = write(ports, time, globals.json, people, shared, env.out); failure && !lost) {
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
           "also append every sample to FILE as CSV, each line on the disk at once ('-': standard output, "
           "which then carries the CSV alone); '{port}' in the name gives each port its own file (the "
           "port's whole name made safe: dev-ttyUSB0), otherwise several ports share it in columns of "
           "their own")
        ->type_name("FILE");
    // It polls the ports of --port itself, all in one rhythm, and writes as it goes.
    return {.live = [o](const Globals& globals, const Environment& env) { return watch(*o, globals, env); }};
}

} // namespace cli::commands
