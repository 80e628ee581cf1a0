// The files vx538 reads and writes, treated as Unix tools treat them: a configuration file comes from
// a regular file, a pipe or standard input, at most 1 MB, and never blocks the run; an output file is
// replaced whole (a regular file, through a temporary file renamed over it, keeping its mode and
// owner; a symbolic link's target) or written as a stream (a character device, a FIFO, standard
// output), never turning one into the other. Failure(BadFile) with the reason otherwise.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cli {

// The most a configuration or ports file may hold.
inline constexpr std::size_t kMaxInputBytes = 1024 * 1024;

// The whole of `path` ("-": standard input). A FIFO or pipe is read while its writer writes, ending
// with an error when nothing comes for a few seconds; a directory, a device or anything else is
// refused naming what it is.
std::string ReadInputFile(const std::string& path);

// Whether `path` can take output (its folder exists, it is no directory, socket or block device),
// before anything is read from a converter; nothing is created or opened for writing.
void CheckOutputFile(const std::string& path);

// Writes `text` to `path` as the rules above say.
void WriteOutputFile(const std::string& path, std::string_view text);

// What a regular file is, links followed: its device and inode once it exists, its absolute path
// before, so every name of one file (hard or symbolic links, "./x" and "x") gives the same key.
// Nothing for anything else (a device, a FIFO, standard output on a terminal): writing two of
// those at once destroys nothing.
struct FileKey {
    unsigned long device = 0;
    unsigned long inode = 0;
    std::string path; // a file that does not exist yet
    bool operator==(const FileKey&) const = default;
};
std::optional<FileKey> FileKeyOf(const std::string& path);
std::optional<FileKey> FileKeyOf(int fd);

} // namespace cli
