// libmodbus behind the simulated converter's MODBUS side.
#include "sim/ModbusSide.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "tools/ModbusCrc.h"

namespace sim {

namespace {

uint8_t byteAt(std::string_view bytes, std::size_t i) {
    return static_cast<uint8_t>(bytes[i]);
}

// The functions whose requests libmodbus is given.
bool served(uint8_t function) {
    return (function >= MODBUS_FC_READ_COILS && function <= MODBUS_FC_WRITE_SINGLE_REGISTER) ||
           function == MODBUS_FC_WRITE_MULTIPLE_COILS || function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
}

std::string exceptionReply(uint8_t slave, uint8_t function, uint8_t code) {
    const uint8_t pdu[] = {slave, static_cast<uint8_t>(function | 0x80), code};
    const tools::CrcBytes crc = tools::ModbusCrc16(pdu);
    return {static_cast<char>(pdu[0]), static_cast<char>(pdu[1]), static_cast<char>(pdu[2]),
            static_cast<char>(crc.low), static_cast<char>(crc.high)};
}

} // namespace

int ModbusRequestLength(std::string_view head) {
    if (head.size() < 2) {
        return -1;
    }
    // Bytes before the CRC, for layouts with a byte count: where the count stands and what precedes
    // the counted bytes.
    const auto counted = [&](std::size_t countAt, int fixed) {
        return head.size() <= countAt ? -1 : fixed + byteAt(head, countAt) + 2;
    };
    switch (byteAt(head, 1)) {
    case 1: // read coils, discrete inputs, holding and input registers; write one coil or register
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 8: // diagnostics: sub-function and one data word
        return 8;
    case 7: // read exception status, get event counter and log, report server ID
    case 11:
    case 12:
    case 17:
        return 4;
    case 15: // write multiple coils or registers
    case 16:
        return counted(6, 7);
    case 20: // read and write file record
    case 21:
        return counted(2, 3);
    case 22: // mask write register
        return 10;
    case 23: // read and write multiple registers
        return counted(10, 11);
    case 24: // read FIFO queue
        return 6;
    case 43: // encapsulated interface: only read device identification has a fixed layout
        return head.size() < 3 ? -1 : byteAt(head, 2) == 14 ? 7 : 0;
    default:
        return 0;
    }
}

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
    if (function >= 0x80) {
        return {};
    }
    if (!served(function)) {
        return exceptionReply(slaveAddress, function, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
    }
    // libmodbus reads a request's fields where its layout puts them, so it is given only a request
    // that has them all, in a buffer of the largest size a frame can have.
    if (static_cast<int>(request.size()) != ModbusRequestLength(request) ||
        request.size() > MODBUS_RTU_MAX_ADU_LENGTH) {
        return exceptionReply(slaveAddress, function, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
    }
    std::array<uint8_t, MODBUS_RTU_MAX_ADU_LENGTH> whole{};
    std::copy(request.begin(), request.end(), whole.begin());
    const bool write =
        function == MODBUS_FC_WRITE_SINGLE_COIL || function == MODBUS_FC_WRITE_SINGLE_REGISTER ||
        function == MODBUS_FC_WRITE_MULTIPLE_COILS || function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
    const std::size_t count = std::min<std::size_t>(registers.size(), readable_->nb_registers);
    std::copy_n(registers.begin(), count, readable_->tab_registers);
    modbus_set_slave(context_, slaveAddress);
    modbus_reply(context_, whole.data(), static_cast<int>(request.size()), write ? nothing_ : readable_);

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
