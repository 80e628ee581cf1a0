// The receiving sides the serial benchmark compares, behind one small interface: our TComm, and a
// minimal receiver on Qt's QSerialPort that ends a block after the same silence with a timer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace bench {

class Receiver {
public:
    virtual ~Receiver() = default;
    virtual const char* name() const = 0;
    // Opens the port at `path`; a block ends after `intervalMs` of silence. An interval of 0 means
    // no blocks at all: every chunk is reported as soon as it has been read (QSerialPort only; the
    // plainest use of it, and the cheapest).
    virtual bool open(const std::string& path, uint32_t intervalMs) = 0;

    // Both run on the main thread.
    std::function<void(std::size_t bytes)> onBlock;
    std::function<void()> onFailure; // a hang-up or error notification
};

std::unique_ptr<Receiver> makeTCommReceiver();
std::unique_ptr<Receiver> makeQSerialPortReceiver();

} // namespace bench
