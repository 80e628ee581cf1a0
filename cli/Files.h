// The files vx538 reads and writes, treated as Unix tools treat them: a configuration file comes from
// a regular file, a pipe or standard input, at most 1 MB, and never blocks the run; an output file is
// replaced whole (a regular file, through a temporary file renamed over it, keeping its mode and
// owner; a symbolic link's target) or written as a stream (a character device, a FIFO, standard
// output), never turning one into the other; an output never writes over an input. Failure(BadFile)
// with the reason otherwise.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The most a configuration or ports file may hold.
inline constexpr std::size_t kMaxInputBytes = 1024 * 1024;

// The whole of `path` ("-": standard input), at most kMaxInputBytes whatever it is (a file, a pipe, a
// FIFO, an endless stream). A FIFO or pipe is read while its writer writes, ending with an error when
// nothing comes for a few seconds; a directory, a device or anything else is refused naming what it
// is. `stopFd` (Ctrl+C's event), when readable, ends any wait at once with Failure(Interrupted).
std::string ReadInputFile(const std::string& path, int stopFd = -1);

// Whether `path` can take output (its folder exists, it is no directory, socket or block device),
// before anything is read from a converter; nothing is created or opened for writing.
void CheckOutputFile(const std::string& path);

// Writes `text` to `path` as the rules above say. A FIFO without a reader is waited for a few seconds;
// `stopFd` (Ctrl+C's event), when readable, ends that wait at once with Failure(Interrupted).
void WriteOutputFile(const std::string& path, std::string_view text, int stopFd = -1);

// Whether writing `output` would write into the file `input` reads: the same device and inode, links
// followed. "-" is standard output as an output and standard input as an input. Regular files and
// FIFOs only: a terminal or another device is read and written as two streams (typing a file into a
// terminal that shows the output is fine). An output that does not exist yet is no input.
bool SameFile(const std::string& output, const std::string& input);

// Failure(BadFile) when `output` is the same file as `input` (SameFile), naming both by their roles
// ("--pcap", "the replayed capture"), before anything is written or sent.
void RefuseSameFile(const std::string& output, std::string_view outputRole, const std::string& input,
                    std::string_view inputRole);

// A file name for one port: "{port}" in `pattern` stands for the whole port name made safe for a file
// name ("/dev/a/s" gives "dev-a-s", "rfc2217://10.0.0.5:4001" "rfc2217-10.0.0.5-4001"), so two ports
// never share a name by their last path element.
std::string PortFileName(std::string pattern, const std::string& port);

// The file of each port (PortFileName). Failure(Usage) when two ports would still write one file (the
// same name, or two names for the same file), before any port is opened.
std::vector<std::string> PortFileNames(const std::string& pattern, const std::vector<std::string>& ports);

} // namespace cli
