// Standard output as vx538 writes it: every write checked, the first failure kept with its reason, so
// that a full disk, a closed descriptor or a reader that went away ends the command with exit 8 and
// says so, instead of a success that left nothing behind.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace cli {

// A stream buffer over a descriptor it does not own. After the first failed write it writes nothing
// more (a stream with a hole in the middle would look whole to its reader) and the stream goes bad.
class CheckedOutput : public std::streambuf {
public:
    // `name` is what messages call it: "standard output".
    CheckedOutput(int fd, std::string name);
    ~CheckedOutput() override;
    CheckedOutput(const CheckedOutput&) = delete;
    CheckedOutput& operator=(const CheckedOutput&) = delete;

    const std::string& name() const { return name_; }
    // Why writing failed ("No space left on device"); empty while nothing has.
    const std::string& failure() const { return failure_; }
    // Marks the output failed before anything was written (a descriptor found closed at start).
    void fail(std::string reason);

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize size) override;
    int sync() override;

private:
    bool drain();
    bool writeOut(const char* data, std::size_t size);

    int fd_;
    std::string name_;
    std::string failure_;
    char buffer_[8192];
};

// Flushes `out` and returns why its writes failed, naming it: "cannot write standard output: No space
// left on device"; empty when they did not. A stream that is no CheckedOutput says only that it failed.
std::string OutputFailure(std::ostream& out);

// Keeps the standard descriptors 0, 1 and 2 taken: one that a shell closed (`>&-`) would otherwise be
// handed to the next file opened, and the output would go into a serial port or a capture file. A
// closed one gets /dev/null opened the other way round, so that using it fails as a closed descriptor
// does. Returns which were closed (bit 0 for standard input, 1 and 2 likewise).
int HoldStandardDescriptors();

} // namespace cli
