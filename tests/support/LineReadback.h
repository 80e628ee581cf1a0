// Reads a terminal's settings back from the other side of a pseudo-terminal (speed through TCGETS2,
// framing and flow-control bits), so tests can see what the component put on the line.
#pragma once

#include <cstdint>

namespace testsupport {

struct LineReadback {
    uint32_t inputSpeed = 0;
    uint32_t outputSpeed = 0;
    bool arbitrarySpeed = false; // BOTHER: the speed is the number above, not a Bxxx code
    int dataBits = 0;
    bool parityEnabled = false;
    bool parityOdd = false;
    bool markOrSpace = false; // CMSPAR
    bool twoStopBits = false;
    bool ctsRtsFlow = false;
    bool receiverOn = false; // CREAD
    bool ignoresCarrier = false; // CLOCAL
    bool xonXoffOutput = false; // IXON
    bool xonXoffInput = false; // IXOFF
    bool parityCheck = false; // INPCK
    bool translatesInput = false; // any of ICRNL, INLCR, IGNCR, ISTRIP, IXANY, PARMRK, BRKINT
    bool postProcessesOutput = false; // OPOST
    bool canonical = false;
    bool echoes = false;
    bool signalChars = false; // ISIG
    uint8_t startChar = 0;
    uint8_t stopChar = 0;
    uint8_t minChars = 0;
    uint8_t readTime = 0;
};

// Decodes a struct termios2 held in raw bytes (as serial::SavedTermios keeps it).
LineReadback decodeTermios2(const void* bytes);

// Any descriptor of the pseudo-terminal pair: on the master the kernel answers for the slave. A
// pseudo-terminal keeps every setting except the data size and the parity-enable bit, which it
// always reports as 8 bits without parity.
LineReadback readLine(int fd);

// Changes the speed from the outside, to see whether the component applies its settings again.
bool setLineSpeed(int fd, uint32_t speed);

// Puts a recognisable set of settings on the line (canonical, echo, 4800 bit/s, 7E2), so a test can
// see that closing the port puts them back. Returns false if the driver refused.
bool setCookedLine(int fd);

// TIOCGEXCL on a slave descriptor: whether the port is held exclusively.
bool isExclusive(int slaveFd);

} // namespace testsupport
