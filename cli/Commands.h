// The commands of vx538 that talk to a converter: checked once before any port is opened (Prepare),
// then run on each port (Run).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/Session.h"
#include "profile/BackupFile.h"

namespace cli {

enum class Command {
    Ping, Get, Set, Reset, Factory, TestOutput, TestTotalizer, Raw, Backup, Restore, Diff, Verify,
    HartId, HartVars, HartSend, ModbusRead,
};

// The words on the command line, as CLI11 left them.
struct Args {
    Command command = Command::Ping;
    std::vector<std::string> names;       // get NAME...
    std::vector<std::string> assignments; // set NAME=VALUE...
    std::string pcbsn, inspector;         // factory
    int output = 0;                       // test-output N VALUE
    std::string value;                    // test-output / test-totalizer VALUE
    std::string rawText, rawHex;          // raw TEXT | --hex BYTES
    std::string file;                     // backup -o, restore/diff/verify -i
    bool all = false;                     // restore --all
    bool dryRun = false;                  // restore --dry-run
    int hartAddress = 0;                  // hart id --address
    std::string preambles = "5";          // hart --preambles
    bool secondary = false;               // hart --secondary
    std::string hartHex;                  // hart send HEX
    std::string slave = "1", start = "0", count = "18"; // modbus read
    bool json = false;                    // --json: output for scripts
};

// What a command needs, checked once: the frames it will send, the file it restores...
struct Prepared {
    Args args;
    std::vector<std::size_t> names;            // get: parameter indexes (all when none named)
    profile::Configuration values;             // set: the typed values; restore/diff/verify: the file's
    std::optional<profile::Backup> backup;     // restore/diff/verify
    std::string frame;                         // the one frame of factory, tests, raw, hart send, modbus
};

// Checks everything that does not need a converter: names, values, the file to restore or compare
// with, the frames. Failure(Usage) or Failure(BadFile) before anything is opened or sent.
Prepared Prepare(const Args& args);

// Runs the command on one open session; the exit code. Failure ends it early.
int Run(Session& session, const Prepared& prepared);

// A backup's output file for one port: "{port}" in the name stands for the port's last path element.
std::string BackupPath(const std::string& pattern, const std::string& port);

} // namespace cli
