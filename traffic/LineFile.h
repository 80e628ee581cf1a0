// A text file that lines are appended to one at a time, each flushed to the system at once, so that
// what was written survives the program being killed.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace traffic {

class LineFile {
public:
    LineFile() = default;
    ~LineFile();
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;

    // Opens `path` for appending (created when missing; "-" is standard output), or with `replace`
    // emptied first. A file that starts empty (new, or an empty regular file) gets `header` as its first
    // line, when one is given; a file that already holds lines, a device or a pipe does not, and one
    // whose last line lacks its break gets the break first. Returns an empty text on success,
    // otherwise why it failed; the file then stays closed.
    std::string open(const std::string& path, std::string_view header = {}, bool replace = false);
    void close();
    bool isOpen() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

    // Writes the line and a line break and flushes. A failed write closes the file and returns why;
    // an empty text means written (or no file open).
    std::string writeLine(std::string_view line);

private:
    std::FILE* file_ = nullptr;
    std::string path_;
};

} // namespace traffic
