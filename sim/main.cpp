// vx538-sim: a simulated VX538-T-B converter with its HART instrument on a pseudo-terminal. Prints
// the path of the terminal the tool opens on its first line of output and serves it until SIGINT or
// SIGTERM (or until the hang-up switch closes the line).
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <getopt.h>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "sim/BenchMeter.h"
#include "sim/Simulator.h"
#include "sim/Tap.h"

namespace {

using sim::Millis;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage = R"(Usage: vx538-sim [options]
A simulated VX538-T-B converter with a HART pressure transmitter behind it, on a pseudo-terminal.
The first line of output is the terminal's path: give it to vx538-config as its serial port.

  --link PATH          also make PATH a symbolic link to the terminal (removed on exit)
  --log FILE           write every frame in and out to FILE: time in ms, hex and text; and the
                       line settings the terminal has (e.g. "line 19200 8E1") whenever a request
                       finds them changed
  --control FIFO       create FIFO (if missing) and read fault switches from it while running,
                       one per line: "silent on|off", "delay MS", "split MS", "corrupt on|off",
                       "noise on|off", "hangup-after N", "output-error N:MA", "output-gain N:F",
                       "meter-output N"; e.g. echo 'delay 500' > FIFO
  --silent             answer nothing
  --delay MS           start every reply MS milliseconds after its request
  --split MS           send every reply in two parts, MS milliseconds apart
  --corrupt            wrong HART check byte and wrong MODBUS CRC in every reply
  --noise              a few bytes of garbage before every reply
  --hangup-after N     close the line after N requests, as an unplugged adapter does
  --output-error N:MA  analog output N (0 to 7, DOUTA0 to DOUTA7) drives MA milliamperes more than
                       it should (-16 to 16), as an output out of adjustment does
  --output-gain N:F    and its span (above 4 mA) is F times what it should be (0.5 to 2)
  --baud B             pace the line at B baud: a request is complete when its last byte would have
                       arrived, and each reply byte goes out at its character time (10 bits, 11
                       with parity); without it bytes go out as fast as the terminal takes them
                       (MODBUS's silences are then counted at the speed the tool set)
  --parity P           none (default), odd or even: the bits per character of --baud
  --hart-address N     the instrument's polling address, 0 (default) to 63; it answers short frames
                       only there (beyond 15 it is a HART 7 instrument)
  --tap PATH           a second terminal that receives every byte crossing the line, requests in and
                       replies out, in line order and at line timing, as a listen-only adapter on
                       the same pair would (vx538 monitor -p PATH); PATH is a symbolic link to it
  --tap-chunk MS       deliver the tap's bytes in bursts every MS milliseconds (1 to 1000), as a USB
                       adapter does
  --lenient-modbus     find MODBUS requests by their content wherever they stand, as text and HART
                       frames are; by default a request is a burst between two silences of 3.5
                       characters, and garbage before it or a second request without the silence
                       makes the burst one bad frame that gets no reply
  --meter PATH         a bench multimeter speaking SCPI on a terminal of its own (PATH a symbolic
                       link to it), its leads in one output's loop: *IDN?, MEAS:CURR:DC?, READ?,
                       SYST:ERR? (see the README)
  --meter-output N     the output the meter measures, 0 (default) to 7
  --meter-seed N       seed of the meter's noise (default 538), so a run can be repeated
  --meter-noise UA     the noise's standard deviation in microamperes (default 0.2; 0 for none)
  --help, --version

SIGINT, SIGTERM and SIGHUP stop it (exit status 0).
)";

struct Options {
    std::string link;
    std::string tap;
    int tapChunkMs = 0;
    std::string meter;
    std::optional<uint32_t> meterSeed;
    std::optional<double> meterNoiseMicroamps;
    sim::ModbusFraming modbusFraming = sim::ModbusFraming::Silence;
    std::string log;
    std::string control;
    sim::Faults faults;
    sim::LineTiming timing;
    int hartAddress = 0;
};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "vx538-sim: %s\n", what.c_str());
    std::exit(2);
}

// An option's whole text read as a number within [low, high]; anything else stops the program with
// `complaint`.
template <typename T> T numberOption(std::string_view text, T low, T high, const char* complaint) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !(value >= low && value <= high)) {
        fail(complaint);
    }
    return value;
}

Options readOptions(int argc, char** argv) {
    enum {
        FaultSwitch = 0,
        Link = 1000,
        Log,
        Control,
        Baud,
        Parity,
        HartAddress,
        TapPath,
        TapChunk,
        LenientModbus,
        MeterPath,
        MeterSeed,
        MeterNoise,
        Help,
        Version
    };
    // A fault switch's option is its control line: "--delay 500" is "delay 500", "--silent" is
    // "silent on".
    const option longOptions[] = {
        {"link", required_argument, nullptr, Link},
        {"log", required_argument, nullptr, Log},
        {"control", required_argument, nullptr, Control},
        {"baud", required_argument, nullptr, Baud},
        {"parity", required_argument, nullptr, Parity},
        {"hart-address", required_argument, nullptr, HartAddress},
        {"tap", required_argument, nullptr, TapPath},
        {"tap-chunk", required_argument, nullptr, TapChunk},
        {"lenient-modbus", no_argument, nullptr, LenientModbus},
        {"meter", required_argument, nullptr, MeterPath},
        {"meter-seed", required_argument, nullptr, MeterSeed},
        {"meter-noise", required_argument, nullptr, MeterNoise},
        {"help", no_argument, nullptr, Help},
        {"version", no_argument, nullptr, Version},
        {"silent", no_argument, nullptr, FaultSwitch},
        {"delay", required_argument, nullptr, FaultSwitch},
        {"split", required_argument, nullptr, FaultSwitch},
        {"corrupt", no_argument, nullptr, FaultSwitch},
        {"noise", no_argument, nullptr, FaultSwitch},
        {"hangup-after", required_argument, nullptr, FaultSwitch},
        {"output-error", required_argument, nullptr, FaultSwitch},
        {"output-gain", required_argument, nullptr, FaultSwitch},
        {"meter-output", required_argument, nullptr, FaultSwitch},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    int code = 0;
    int index = 0;
    while ((code = getopt_long(argc, argv, "", longOptions, &index)) != -1) {
        switch (code) {
        case FaultSwitch: {
            const option& fault = longOptions[index];
            const std::string line = std::string(fault.name) + " " + (fault.has_arg ? optarg : "on");
            if (const std::string error = sim::ApplyControl(options.faults, line); !error.empty()) {
                fail(error);
            }
            break;
        }
        case Link:
            options.link = optarg;
            break;
        case Log:
            options.log = optarg;
            break;
        case Control:
            options.control = optarg;
            break;
        case Baud:
            options.timing.baud = numberOption(
                optarg, 1, 4000000, "--baud takes a whole number of bits per second from 1 to 4000000");
            break;
        case TapPath:
            options.tap = optarg;
            break;
        case TapChunk:
            options.tapChunkMs = numberOption(
                optarg, 1, 1000, "--tap-chunk takes a whole number of milliseconds from 1 to 1000");
            break;
        case LenientModbus:
            options.modbusFraming = sim::ModbusFraming::Content;
            break;
        case MeterPath:
            options.meter = optarg;
            break;
        case MeterSeed:
            options.meterSeed = numberOption<uint32_t>(
                optarg, 0, UINT32_MAX, "--meter-seed takes a whole number from 0 to 4294967295");
            break;
        case MeterNoise:
            options.meterNoiseMicroamps =
                numberOption(optarg, 0.0, 1000.0, "--meter-noise takes microamperes from 0 to 1000");
            break;
        case Parity: {
            const int bits = sim::BitsPerCharacter(optarg);
            if (bits == 0) {
                fail("--parity takes none, odd or even");
            }
            options.timing.bitsPerCharacter = bits;
            break;
        }
        case HartAddress:
            options.hartAddress = numberOption<int>(optarg, 0, sim::Instrument::kMaxPollingAddressHart6,
                                                    "--hart-address takes a polling address from 0 to 63");
            break;
        case Help:
            std::fputs(kUsage, stdout);
            std::exit(0);
        case Version:
            std::printf("vx538-sim %s\n", VX538_VERSION);
            std::exit(0);
        default:
            std::fputs(kUsage, stderr);
            std::exit(2);
        }
    }
    if (optind < argc) {
        fail(std::string("unexpected argument '") + argv[optind] + "'");
    }
    if (options.tapChunkMs > 0 && options.tap.empty()) {
        fail("--tap-chunk needs --tap");
    }
    if (options.meter.empty() && (options.meterSeed || options.meterNoiseMicroamps)) {
        fail("--meter-seed and --meter-noise need --meter");
    }
    return options;
}

class Line {
public:
    Line() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            fail(std::string("pseudo-terminal: ") + std::strerror(errno));
        }
        path_ = ptsname(master_);
        // Holding the terminal open ourselves keeps the line up while the tool closes and reopens
        // its port, and keeps its settings raw until the tool sets its own.
        keeper_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (keeper_ < 0) {
            fail(path_ + ": " + std::strerror(errno));
        }
        termios raw{};
        tcgetattr(keeper_, &raw);
        cfmakeraw(&raw);
        tcsetattr(keeper_, TCSANOW, &raw);
    }
    ~Line() { close(); }
    void close() {
        for (int* fd : {&keeper_, &master_}) {
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        }
    }
    int fd() const { return master_; }
    const std::string& path() const { return path_; }
    // The speed the tool set, in baud, with its bits per character; a speed outside the usual
    // table reads as 0.
    struct Speed {
        int baud = 0;
        int bitsPerCharacter = 10;
    };
    Speed speed() const {
        termios t{};
        if (keeper_ < 0 || tcgetattr(keeper_, &t) != 0) {
            return {};
        }
        static const std::pair<speed_t, int> speeds[] = {
            {B300, 300},   {B600, 600},     {B1200, 1200},   {B2400, 2400},   {B4800, 4800},
            {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
        Speed found;
        for (const auto& [code, baud] : speeds) {
            if (cfgetospeed(&t) == code) {
                found.baud = baud;
            }
        }
        // A pseudo-terminal keeps the odd bit of a parity but not its enable bit.
        found.bitsPerCharacter = (t.c_cflag & (PARENB | PARODD)) ? 11 : 10;
        return found;
    }
    // Speed and framing as the tool (or a device server in front of us) set them: "19200 8E1".
    std::string settings() const {
        termios t{};
        if (keeper_ < 0 || tcgetattr(keeper_, &t) != 0) {
            return {};
        }
        const int baud = speed().baud;
        std::string text = baud > 0 ? std::to_string(baud) : "other";
        const tcflag_t size = t.c_cflag & CSIZE;
        text += ' ';
        text += size == CS5 ? '5' : size == CS6 ? '6' : size == CS7 ? '7' : '8';
        // A pseudo-terminal keeps no parity-enable bit (it reads as 8 bits without parity), but keeps
        // the odd bit: odd parity shows, even parity looks like none.
        text += (t.c_cflag & PARODD) ? 'O' : (t.c_cflag & PARENB) ? 'E' : 'N';
        text += (t.c_cflag & CSTOPB) ? '2' : '1';
        return text;
    }
    // Bytes written to the tool that it has not read yet.
    int unread() const {
        int count = 0;
        return keeper_ >= 0 && ioctl(keeper_, TIOCINQ, &count) == 0 ? count : 0;
    }

private:
    int master_ = -1;
    int keeper_ = -1;
    std::string path_;
};

// Removes what the program made on the file system, however it ends.
struct Cleanup {
    std::string link;
    std::string tapLink;
    std::string meterLink;
    std::string fifo;
    ~Cleanup() {
        for (const std::string* path : {&link, &tapLink, &meterLink, &fifo}) {
            if (!path->empty()) {
                ::unlink(path->c_str());
            }
        }
    }
};

// PATH made a symbolic link to the terminal at `target`; a link left there before is replaced.
void makeLink(const std::string& path, const std::string& target) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        ::unlink(path.c_str());
    }
    if (symlink(target.c_str(), path.c_str()) != 0) {
        fail(path + ": " + std::strerror(errno));
    }
}

int serve(const Options& options) {
    Cleanup cleanup;
    Line line;

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP); // the terminal it was started from went away
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);

    if (!options.link.empty()) {
        makeLink(options.link, line.path());
        cleanup.link = options.link;
    }
    // The tap is a terminal of its own, so a monitor on it can never reach the simulator's line.
    std::optional<Line> tapLine;
    sim::Tap tap{Millis(options.tapChunkMs)};
    if (!options.tap.empty()) {
        tapLine.emplace();
        makeLink(options.tap, tapLine->path());
        cleanup.tapLink = options.tap;
    }
    // The meter is on a line of its own, as a bench meter on a second adapter is.
    std::optional<Line> meterLine;
    sim::BenchMeter meter(std::string("VX538-SIM,SIMULATED DMM,0,") + VX538_VERSION,
                          options.meterSeed.value_or(538), options.meterNoiseMicroamps.value_or(0.2) * 1e-6);
    if (!options.meter.empty()) {
        meterLine.emplace();
        makeLink(options.meter, meterLine->path());
        cleanup.meterLink = options.meter;
    }
    int control = -1;
    if (!options.control.empty()) {
        if (mkfifo(options.control.c_str(), 0600) == 0) {
            cleanup.fifo = options.control;
        } else if (struct stat st{};
                   errno != EEXIST || stat(options.control.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
            fail(options.control + ": not a FIFO and cannot be made one");
        }
        // Read and write, so the FIFO never reports end of file between two writers.
        control = open(options.control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (control < 0) {
            fail(options.control + ": " + std::strerror(errno));
        }
    }
    FILE* log = nullptr;
    if (!options.log.empty()) {
        log = std::fopen(options.log.c_str(), "a");
        if (!log) {
            fail(options.log + ": " + std::strerror(errno));
        }
    }

    const Clock::time_point start = Clock::now();
    // Whole milliseconds: arrivals are rounded up and the clock for due writes down, so a reply never
    // leaves earlier than its delay after the request.
    const auto now = [&] { return std::chrono::floor<Millis>(Clock::now() - start); };
    const auto arrival = [&] { return std::chrono::ceil<Millis>(Clock::now() - start); };
    const auto writeLog = [&](Millis at, std::string_view label, std::string_view bytes) {
        if (log) {
            std::fprintf(log, "%s\n", sim::FormatLogLine(at, label, bytes).c_str());
            std::fflush(log);
        }
    };

    sim::Simulator simulator(options.faults, options.timing, options.modbusFraming);
    simulator.converter().instrument().setPollingAddress(static_cast<uint8_t>(options.hartAddress));
    simulator.onFrame = [&](Millis at, std::string_view kind, std::string_view bytes) {
        writeLog(at, kind == "skip" ? "skip" : "in " + std::string(kind), bytes);
    };
    if (tapLine) {
        simulator.onBytesIn = [&](sim::Micros at, std::string_view bytes) { tap.line(at, bytes); };
    }

    std::printf("%s\n", line.path().c_str());
    std::fflush(stdout);

    std::deque<sim::Write> due; // by time; the front may be partly written
    std::string controlText;
    std::string lineSettings; // as last logged
    const auto schedule = [&](std::vector<sim::Write> writes) {
        for (sim::Write& w : writes) {
            if (tapLine) {
                tap.line(w.at, w.bytes);
            }
            const auto at = std::upper_bound(due.begin(), due.end(), w.at,
                                             [](Millis t, const sim::Write& other) { return t < other.at; });
            due.insert(at, std::move(w));
        }
    };

    // Closing the line throws away what the tool has not read yet, so the last reply is given time to
    // be read first, as it would have been before the adapter was pulled. The terminal hands written
    // bytes on a moment later, so an empty input queue counts only after a short settling time.
    constexpr Millis kHangupSettle{100};
    constexpr Millis kHangupGrace{2000};
    std::optional<Millis> closing;
    for (;;) {
        if (simulator.lineClosed() && due.empty()) {
            if (!closing) {
                closing = now();
            }
            const Millis waited = now() - *closing;
            if ((waited >= kHangupSettle && line.unread() == 0) || waited >= kHangupGrace) {
                writeLog(now(), "hang-up", "");
                line.close();
                return 0;
            }
        }
        Millis wake = closing ? now() + Millis(10) : Millis::max();
        if (!due.empty()) {
            wake = due.front().at;
        }
        if (const auto quiet = simulator.quietDeadline()) {
            wake = std::min(wake, *quiet);
        }
        if (const auto tapDue = tap.nextDue()) {
            wake = std::min(wake, *tapDue);
        }
        int timeout = -1;
        if (wake != Millis::max()) {
            timeout = static_cast<int>(std::clamp<long long>((wake - now()).count(), 0, 60000));
        }
        const bool writeReady = !due.empty() && due.front().at <= now();
        pollfd fds[4] = {{line.fd(), static_cast<short>(POLLIN | (writeReady ? POLLOUT : 0)), 0},
                         {signals, POLLIN, 0},
                         {control, POLLIN, 0},
                         {meterLine ? meterLine->fd() : -1, POLLIN, 0}};
        if (writeReady) {
            timeout = -1; // woken by POLLOUT
        }
        if (poll(fds, 4, timeout) < 0 && errno != EINTR) {
            fail(std::string("poll: ") + std::strerror(errno));
        }
        if (fds[1].revents & POLLIN) {
            return 0;
        }
        if (control >= 0 && (fds[2].revents & POLLIN)) {
            char buffer[256];
            const ssize_t n = ::read(control, buffer, sizeof buffer);
            if (n > 0) {
                controlText.append(buffer, static_cast<std::size_t>(n));
            }
            for (std::size_t end; (end = controlText.find('\n')) != std::string::npos;) {
                const std::string command = controlText.substr(0, end);
                controlText.erase(0, end + 1);
                const std::string error = sim::ApplyControl(simulator.faults, command);
                std::fprintf(stderr, "vx538-sim: %s\n",
                             error.empty() ? sim::Describe(simulator.faults).c_str() : error.c_str());
                writeLog(now(), error.empty() ? "control" : "control?", command);
            }
        }
        if (meterLine && (fds[3].revents & POLLIN)) {
            char buffer[512];
            const ssize_t n = ::read(meterLine->fd(), buffer, sizeof buffer);
            if (n > 0) {
                const auto amps = [&] {
                    return simulator.outputCurrent(simulator.faults.meterOutput, now()) / 1000.0;
                };
                const std::string reply = meter.receive({buffer, static_cast<std::size_t>(n)}, amps);
                // A reply nobody reads is lost once the terminal is full, as on a meter nobody reads.
                if (!reply.empty() && ::write(meterLine->fd(), reply.data(), reply.size()) < 0 &&
                    errno != EAGAIN) {
                    fail(std::string("meter: ") + std::strerror(errno));
                }
            }
        }
        if (fds[0].revents & POLLIN) {
            if (!options.timing.paced()) {
                const Line::Speed speed = line.speed();
                simulator.setPortSpeed(speed.baud, speed.bitsPerCharacter);
            }
            if (log) {
                if (std::string seen = line.settings(); seen != lineSettings) {
                    std::fprintf(log, "%9lld ms  %-10s %s\n", static_cast<long long>(now().count()), "line",
                                 seen.c_str());
                    std::fflush(log);
                    lineSettings = std::move(seen);
                }
            }
            char buffer[4096];
            const ssize_t n = ::read(line.fd(), buffer, sizeof buffer);
            if (n > 0) {
                schedule(simulator.receive({buffer, static_cast<std::size_t>(n)}, arrival()));
            }
        }
        if (const auto quiet = simulator.quietDeadline(); quiet && *quiet <= now()) {
            schedule(simulator.lineQuiet(now()));
        }
        if (tapLine) {
            // Nobody reading the tap lets its terminal fill up; what does not fit is lost, as on
            // an adapter nobody reads.
            const std::string bytes = tap.take(now());
            if (!bytes.empty() && ::write(tapLine->fd(), bytes.data(), bytes.size()) < 0 && errno != EAGAIN) {
                fail(std::string("tap: ") + std::strerror(errno));
            }
        }
        while (!due.empty() && due.front().at <= now()) {
            sim::Write& next = due.front();
            const ssize_t n = ::write(line.fd(), next.bytes.data(), next.bytes.size());
            if (n <= 0) {
                break; // the terminal's buffer is full; POLLOUT says when to go on
            }
            writeLog(now(), "out", std::string_view(next.bytes).substr(0, static_cast<std::size_t>(n)));
            next.bytes.erase(0, static_cast<std::size_t>(n));
            if (!next.bytes.empty()) {
                break;
            }
            due.pop_front();
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const Options options = readOptions(argc, argv);
    try {
        return serve(options);
    } catch (const std::exception& error) {
        fail(error.what());
    }
}
