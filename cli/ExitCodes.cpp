// The exit code table.
#include "cli/ExitCodes.h"

namespace cli {

namespace {

struct ExitCode {
    int code;
    std::string_view word;    // the summary's result column: "no reply"
    std::string_view meaning; // the line of --help
};

constexpr ExitCode kCodes[] = {
    {code::Done, "ok", "done"},
    {code::Differences, "differs",
     "verify or diff found differences; check found a variable that differs; loop-check found a point out of "
     "tolerance; inspect gave the verdict fail"},
    {code::Usage, "bad value", "bad usage or a bad value (nothing was sent)"},
    {code::PortUnusable, "port unusable",
     "the port cannot be opened (not found, permission: join the dialout group, busy)"},
    {code::NoReply, "no reply", "no reply of its own to a request, or the line was lost during the run"},
    {code::Unexpected, "unexpected reply",
     "a reply that is not what the command expects (a refused set command, a value that did not take)"},
    {code::HartSilent, "HART silent",
     "the HART instrument did not answer (the converter passes HART only in transparent mode)"},
    {code::ModbusFault, "MODBUS fault", "the MODBUS reply failed its CRC or is an exception"},
    {code::BadFile, "bad file",
     "a file that cannot be read or written (standard output too: full, closed, its reader gone), is not a "
     "configuration file, or is an input that an output would overwrite; polls or a check's table an MQTT "
     "broker did not take"},
    {code::Internal, "internal error",
     "vx538 itself failed on that port (a fault of the program: please report it)"},
    {code::Mixed, "mixed",
     "several ports failed in different ways (otherwise several ports give 0 only if all gave 0, else the "
     "code "
     "all failed ports share)"},
    {code::WrongMode, "wrong mode",
     "the command needs the converter in another working mode (check: --switch-mode switches it and back)"},
    {code::Interrupted, "interrupted", "interrupted (Ctrl+C); the ports' settings are put back"},
};

// --help's lines are at most this wide; a meaning wraps under itself.
constexpr std::size_t kHelpWidth = 104;
constexpr std::string_view kIndent = "      ";

} // namespace

std::string_view ExitWord(int exitCode) {
    for (const ExitCode& c : kCodes) {
        if (c.code == exitCode) {
            return c.word;
        }
    }
    return "failed";
}

std::string ExitCodesHelp() {
    std::string out = "Exit status:\n";
    for (const ExitCode& c : kCodes) {
        std::string line = "  " + std::to_string(c.code);
        line.append(kIndent.size() - line.size(), ' ');
        std::string_view rest = c.meaning;
        while (!rest.empty()) {
            const std::size_t room = kHelpWidth - line.size();
            std::size_t cut = rest.size();
            if (cut > room) {
                cut = rest.rfind(' ', room);
                cut = cut == std::string_view::npos ? room : cut;
            }
            out += line + std::string(rest.substr(0, cut)) + "\n";
            rest.remove_prefix(cut);
            if (!rest.empty() && rest.front() == ' ') {
                rest.remove_prefix(1);
            }
            line = kIndent;
        }
    }
    return out;
}

} // namespace cli
