// Raw TCP: the socket's bytes are the line's.
#include "serial/RawTcpPort.h"

namespace serial {

RawTcpPort::RawTcpPort(std::string text, PortUrlReading reading) : connection_(std::move(text), std::move(reading)) {}

RawTcpPort::~RawTcpPort() {
    close();
}

OpenOutcome RawTcpPort::open() {
    return connection_.connect(Clock::now() + kConnectTimeout, openCancel());
}

IoResult RawTcpPort::read(void* buffer, std::size_t size) {
    return size == 0 ? IoResult{IoResult::WouldBlock, 0} : connection_.receive(buffer, size);
}

IoResult RawTcpPort::read(void* first, std::size_t firstSize, void* second, std::size_t secondSize) {
    if (firstSize + secondSize == 0) {
        return {IoResult::WouldBlock, 0};
    }
    return connection_.receive(first, firstSize, second, secondSize);
}

IoResult RawTcpPort::write(const void* buffer, std::size_t size) {
    return size == 0 ? IoResult{IoResult::Failed, 0} : connection_.send(buffer, size);
}

} // namespace serial
