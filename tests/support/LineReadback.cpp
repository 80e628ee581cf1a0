// termios2 readback for tests. Kept apart from anything that includes <termios.h>: <asm/termbits.h>
// defines the same struct and macros and the two cannot meet in one translation unit.
#include "tests/support/LineReadback.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstring>
#include <sys/ioctl.h>

namespace testsupport {

LineReadback readLine(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        return {};
    }
    return decodeTermios2(&t);
}

LineReadback decodeTermios2(const void* bytes) {
    termios2 t{};
    std::memcpy(&t, bytes, sizeof t);
    LineReadback r;
    r.inputSpeed = t.c_ispeed;
    r.outputSpeed = t.c_ospeed;
    r.arbitrarySpeed = (t.c_cflag & CBAUD) == BOTHER;
    switch (t.c_cflag & CSIZE) {
    case CS5: r.dataBits = 5; break;
    case CS6: r.dataBits = 6; break;
    case CS7: r.dataBits = 7; break;
    default: r.dataBits = 8; break;
    }
    r.parityEnabled = t.c_cflag & PARENB;
    r.parityOdd = t.c_cflag & PARODD;
    r.markOrSpace = t.c_cflag & CMSPAR;
    r.twoStopBits = t.c_cflag & CSTOPB;
    r.ctsRtsFlow = t.c_cflag & CRTSCTS;
    r.receiverOn = t.c_cflag & CREAD;
    r.ignoresCarrier = t.c_cflag & CLOCAL;
    r.xonXoffOutput = t.c_iflag & IXON;
    r.xonXoffInput = t.c_iflag & IXOFF;
    r.parityCheck = t.c_iflag & INPCK;
    r.translatesInput = t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXANY | PARMRK | BRKINT);
    r.postProcessesOutput = t.c_oflag & OPOST;
    r.canonical = t.c_lflag & ICANON;
    r.echoes = t.c_lflag & ECHO;
    r.signalChars = t.c_lflag & ISIG;
    r.startChar = t.c_cc[VSTART];
    r.stopChar = t.c_cc[VSTOP];
    r.minChars = t.c_cc[VMIN];
    r.readTime = t.c_cc[VTIME];
    return r;
}

bool setLineSpeed(int fd, uint32_t speed) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        return false;
    }
    t.c_cflag = (t.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = speed;
    t.c_ospeed = speed;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

bool setCookedLine(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        return false;
    }
    t.c_iflag = ICRNL | IXON;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_cflag = CREAD | CS7 | PARENB | CSTOPB | BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = 4800;
    t.c_ospeed = 4800;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

bool isExclusive(int slaveFd) {
    int exclusive = 0;
    return ::ioctl(slaveFd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

} // namespace testsupport
