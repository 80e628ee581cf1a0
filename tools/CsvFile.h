// A CSV file that rows are appended to as they come (vx538 watch, the Live Values window): every write
// checked and on its way to the disk at once, a failure kept with its reason, never a row glued to the
// last line of an older file, never a half row left behind, never a wait that cannot be ended.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tools {

// How long opening and writing a stream wait for the other side, and what ends the wait early.
struct OutputWait {
    // A FIFO without a reader this long is refused; a reader that takes nothing this long fails the
    // write. Negative: wait as long as it takes.
    int peerMs = 5000;
    // A descriptor that becomes readable to end any wait at once (an event signalled by Ctrl+C); -1:
    // none.
    int cancelFd = -1;
};

class CsvFile {
public:
    CsvFile() = default;
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;
    CsvFile(CsvFile&& other) noexcept;
    CsvFile& operator=(CsvFile&& other) noexcept;

    // Opens `path` for appending ("-": standard output), creating a missing file. `header` (a line
    // without its break; none when empty) starts a file that is empty and every stream (standard
    // output, a FIFO, a device), whose reader starts afresh; a file that already holds rows does not
    // get it again, and one whose last line lacks its break gets the break first. A FIFO waits for its
    // reader as `wait` says and is written without blocking the caller for longer. False, with
    // error(), when it cannot be opened; it then stays closed.
    bool open(const std::string& path, std::string_view header, OutputWait wait = {});
    // A row of fields, each quoted where it needs it (a comma, a quote, a line break), with its break.
    bool writeRow(std::span<const std::string> fields);
    // A line already in CSV form, without its break.
    bool writeLine(std::string_view line);
    void close();

    bool isOpen() const { return fd_ >= 0; }
    // As given to open(); "-" for standard output.
    const std::string& path() const { return path_; }
    // The name a message gives it: the path, or "standard output".
    std::string name() const;
    // Why the last open or write failed ("No space left on device"); empty when nothing failed. A failed
    // write closes the file: what a later row would need (a disk with room, a reader) is not coming
    // back by itself, and a gap in the middle of a series is worse than its end.
    const std::string& error() const { return error_; }
    // Rows written since open (the header not counted).
    std::size_t rows() const { return rows_; }

private:
    bool write(std::string text);
    bool fail(std::string reason);

    int fd_ = -1;
    bool owned_ = false;   // standard output stays open when this closes
    bool regular_ = false; // a regular file: a failed row is cut off again
    OutputWait wait_;
    std::string path_;
    std::string error_;
    std::size_t rows_ = 0;
};

// One field as CSV writes it: as it stands, or in double quotes with its quotes doubled when it holds a
// comma, a quote, a line break or leading or trailing blanks.
std::string CsvField(std::string_view text);

// Whether the regular file open as `fd` holds bytes after its last line break (an append would glue
// onto that line). False for an empty file and for anything that is no regular file.
bool EndsInsideALine(int fd);

} // namespace tools
