// The line settings and timeouts that TComm publishes, gathered in plain structs so the platform
// layer can apply them without knowing the component.
#pragma once

#include <cstdint>

#include "serial/LineTypes.h"

namespace serial {

struct LineSettings {
    uint32_t baudRate = 9600;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    TDtrControl dtrControl = TDtrControl::DtrEnable;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = true;
    bool outxXonXoffFlow = true;
    bool inxXonXoffFlow = true;
    bool replaceWhenParityError = false;
    bool ignoreNullChar = false;
    TRtsControl rtsControl = TRtsControl::RtsEnable;
    uint16_t xonLimit = 500;
    uint16_t xoffLimit = 500;
    TByteSize byteSize = TByteSize::_8;
    TParity parity = TParity::None;
    TStopBits stopBits = TStopBits::_1;
    char xonChar = 17;
    char xoffChar = 19;
    char replacedChar = 0;
};

// Raw 8-bit frames at a speed and parity, as every program here talks to the converter and listens
// to a bus: parity checked where there is one, and no software flow control, which would swallow
// 0x11 and 0x13 in binary frames. The rest keeps the component's defaults.
inline LineSettings rawBinaryLine(uint32_t baudRate, TParity parity) {
    LineSettings settings;
    settings.baudRate = baudRate;
    settings.parity = parity;
    settings.parityCheck = parity != TParity::None;
    settings.outxXonXoffFlow = false;
    settings.inxXonXoffFlow = false;
    return settings;
}

// Milliseconds; a zero switches its term off.
struct CommTimeouts {
    uint32_t readInterval = 100;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

} // namespace serial
