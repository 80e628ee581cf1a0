// libmodbus behind the simulated converter's MODBUS side.
#include "sim/ModbusSide.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

ModbusSide::ModbusSide(int registerCount) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        throw std::runtime_error(std::string("socketpair: ") + std::strerror(errno));
    }
    replyEnd_ = ends[0];
    takeEnd_ = ends[1];
    fcntl(takeEnd_, F_SETFL, fcntl(takeEnd_, F_GETFL) | O_NONBLOCK);
    // The device name is never opened: the context only frames, and writes to the socket given below.
    context_ = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    readable_ = modbus_mapping_new(0, 0, registerCount, 0);
    nothing_ = modbus_mapping_new(0, 0, 0, 0);
    if (!context_ || !readable_ || !nothing_) {
        release();
        throw std::runtime_error("libmodbus: no context or register map");
    }
    modbus_set_socket(context_, replyEnd_);
    // Some exceptions make libmodbus wait one response timeout before answering; keep that short.
    modbus_set_response_timeout(context_, 0, 1000);
}

ModbusSide::~ModbusSide() {
    release();
}

void ModbusSide::release() {
    if (context_) {
        modbus_set_socket(context_, -1);
        modbus_free(context_);
        context_ = nullptr;
    }
    if (readable_) {
        modbus_mapping_free(readable_);
        readable_ = nullptr;
    }
    if (nothing_) {
        modbus_mapping_free(nothing_);
        nothing_ = nullptr;
    }
    for (int* fd : {&replyEnd_, &takeEnd_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

std::string ModbusSide::reply(std::string_view request, uint8_t slaveAddress,
                              std::span<const uint16_t> registers) {
    if (request.size() < 4 || static_cast<uint8_t>(request[0]) != slaveAddress) {
        return {};
    }
    const auto function = static_cast<uint8_t>(request[1]);
    const bool write =
        function == MODBUS_FC_WRITE_SINGLE_COIL || function == MODBUS_FC_WRITE_SINGLE_REGISTER ||
        function == MODBUS_FC_WRITE_MULTIPLE_COILS || function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
    const std::size_t count = std::min<std::size_t>(registers.size(), readable_->nb_registers);
    std::copy_n(registers.begin(), count, readable_->tab_registers);
    modbus_set_slave(context_, slaveAddress);
    modbus_reply(context_, reinterpret_cast<const uint8_t*>(request.data()), static_cast<int>(request.size()),
                 write ? nothing_ : readable_);

    std::string out;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(takeEnd_, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

} // namespace sim
