// termios2 lives in this file alone: <asm/termbits.h> defines its own struct termios and the same
// flag macros as glibc's <termios.h>, so the two headers cannot meet in one translation unit.
#include "serial/Termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstring>
#include <sys/ioctl.h>

namespace serial {

static_assert(sizeof(termios2) <= sizeof(SavedTermios::bytes), "SavedTermios too small for termios2");

bool readTermios(int fd, SavedTermios& saved) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        return false;
    }
    std::memcpy(saved.bytes.data(), &t, sizeof t);
    return true;
}

bool writeTermios(int fd, const SavedTermios& saved) {
    termios2 t{};
    std::memcpy(&t, saved.bytes.data(), sizeof t);
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

static tcflag_t dataBitsFlag(TByteSize size) {
    switch (size) {
    case TByteSize::_5: return CS5;
    case TByteSize::_6: return CS6;
    case TByteSize::_7: return CS7;
    case TByteSize::_8: break;
    }
    return CS8;
}

// Mark and space parity are the odd/even bit made constant (CMSPAR): odd -> mark, even -> space.
static tcflag_t parityFlags(TParity parity) {
    switch (parity) {
    case TParity::None: return 0;
    case TParity::Odd: return PARENB | PARODD;
    case TParity::Even: return PARENB;
    case TParity::Mark: return PARENB | PARODD | CMSPAR;
    case TParity::Space: return PARENB | CMSPAR;
    }
    return 0;
}

// Linux has one "more than one stop bit" flag; the UART turns it into 1.5 bits with 5 data bits.
static tcflag_t stopBitsFlag(TStopBits stopBits) {
    return stopBits == TStopBits::_1 ? 0 : CSTOPB;
}

bool composeLineTermios(const LineSettings& s, SavedTermios& io) {
    if (s.baudRate == 0) {
        return false;
    }
    termios2 t{};
    std::memcpy(&t, io.bytes.data(), sizeof t);
    // The flag words are rebuilt from nothing: raw binary, no translation, no echo, no signals.
    t.c_iflag = 0;
    if (s.parityCheck) {
        t.c_iflag |= INPCK; // a byte with a parity or framing error is then read as a zero byte
    }
    if (s.outxXonXoffFlow) {
        t.c_iflag |= IXON;
    }
    if (s.inxXonXoffFlow) {
        t.c_iflag |= IXOFF;
    }
    t.c_oflag = 0;
    t.c_lflag = 0;
    // CLOCAL: carrier detect neither blocks the port nor hangs it up; ring and carrier are reported
    // as modem events instead. CTS/RTS handshaking is one flag for both directions on Linux.
    t.c_cflag = CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT) | dataBitsFlag(s.byteSize) |
                parityFlags(s.parity) | stopBitsFlag(s.stopBits);
    if (s.outxCtsFlow || s.rtsControl == TRtsControl::RtsHandshake) {
        t.c_cflag |= CRTSCTS;
    }
    t.c_ispeed = s.baudRate;
    t.c_ospeed = s.baudRate;
    // A read returns as soon as one byte is there; the reader times blocks itself with poll.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
    std::memcpy(io.bytes.data(), &t, sizeof t);
    return true;
}

bool applyLineTermios(int fd, const LineSettings& s) {
    SavedTermios current;
    return readTermios(fd, current) && composeLineTermios(s, current) && writeTermios(fd, current);
}

bool flushQueues(int fd, QueueSide side) {
    const int which = side == QueueSide::Input ? TCIFLUSH : side == QueueSide::Output ? TCOFLUSH : TCIOFLUSH;
    return ::ioctl(fd, TCFLSH, which) == 0;
}

} // namespace serial
