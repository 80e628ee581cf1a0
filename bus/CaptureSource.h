// A raw capture played again as a byte source: its deliveries with the times they were heard, read a
// line at a time from a regular file, a FIFO, a pipe or standard input ("-"). A line is read up to
// traffic::kMaxRawCaptureLine and refused beyond it, so a file without line breaks (/dev/zero) is
// never held whole; a FIFO that no program opens to write for 5 s is given up (one whose writer is
// only quiet is waited for, as a live capture may be), and the stop event ends any wait at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>

#include "bus/ByteSource.h"
#include "serial/PosixPort.h"
#include "traffic/Capture.h"

namespace bus {

class CaptureSource : public ByteSource {
public:
    // A FIFO that no program writes to for `silence` is given up.
    explicit CaptureSource(std::string path, std::chrono::milliseconds silence = std::chrono::seconds(5));

    // Opens the capture and reads its header; never blocks in the open itself (a FIFO without a
    // writer). Returns an empty text, or why it cannot be read.
    std::string open(const serial::EventFd& stop);
    // What messages call it: the path, or "standard input".
    const std::string& name() const { return name_; }
    const traffic::RawCaptureHeader& header() const { return parser_.header(); }
    // The open capture's descriptor, to tell whether an output would be the same file.
    int fd() const { return fd_.get(); }

    int64_t startEpochUs() const override { return parser_.header().startEpochUs; }
    Delivery next(const serial::EventFd& stop, std::optional<int64_t> untilUs) override;

private:
    enum class Read : uint8_t { Line, End, Stopped, Failed };
    // The next line into line_; Failed with error_ set.
    Read readLine(const serial::EventFd& stop);
    // The next delivery into chunk_, skipping blank lines and comments.
    Read readChunk(const serial::EventFd& stop);
    Read fail(std::string why);

    std::string path_;
    std::string name_;
    std::chrono::milliseconds silence_;
    serial::UniqueFd fd_;
    bool waits_ = false; // a FIFO, pipe or device: each read waits for data
    traffic::RawCaptureParser parser_;
    std::string held_; // what was read; from begin_ on not yet handed on as lines
    std::size_t begin_ = 0;
    std::size_t scanned_ = 0; // held_ has no line break from begin_ up to this
    std::string line_;
    bool atEnd_ = false;
    std::string error_;
    traffic::RawChunk chunk_;
    bool chunkHeld_ = false; // chunk_ was read and is not handed on yet
};

} // namespace bus
