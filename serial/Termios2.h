// Terminal settings of the port through termios2 (any integer baud rate). The kernel's structs stay
// inside Termios2.cpp; callers see an opaque copy and plain settings.
#pragma once

#include <array>

#include "serial/LineSettings.h"

namespace serial {

// A copy of the port's termios2 as the driver held it, kept to put it back at close.
struct SavedTermios {
    alignas(8) std::array<unsigned char, 64> bytes{};
};

// Reads the port's settings; false when the descriptor is not a terminal.
bool readTermios(int fd, SavedTermios& saved);
bool writeTermios(int fd, const SavedTermios& saved);

// Rewrites the saved settings in `io` for the line settings: raw binary mode, speed, framing,
// XON/XOFF and CTS/RTS flow control; the members not concerned keep the driver's values. False for
// a zero rate, which the driver would take as "hang up".
bool composeLineTermios(const LineSettings& settings, SavedTermios& io);

// Puts the line into raw binary mode with the given speed, framing and XON/XOFF and CTS/RTS flow
// control. False when the driver refuses (the caller ignores it, as a refused setting is harmless).
bool applyLineTermios(int fd, const LineSettings& settings);

enum class QueueSide { Input, Output, Both };

// Discards what the driver holds in the given direction(s).
bool flushQueues(int fd, QueueSide side);

} // namespace serial
