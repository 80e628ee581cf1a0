// Finds the serial devices present on this machine, for the "Serial Port:" list. Plain C++ over a
// root folder, so a fake tree can stand in for / in tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace serial {

// The serial devices under `root` ("/" for the machine itself), as paths under it, in this order:
//  1. the names in dev/serial/by-id/ whose link leads to something that exists (udev's names,
//     which stay the same whichever USB socket the adapter is in);
//  2. dev/ttyUSB<n> and dev/ttyACM<n> (USB adapters);
//  3. dev/ttyS<n> that have a UART behind them.
// The kernel creates ttyS0 to ttyS3 (or more) whether or not a UART exists; opening one of those
// phantoms only fails. The serial core publishes the UART type it detected in
// sys/class/tty/ttyS<n>/type, readable by anyone and without opening the device: 0 (PORT_UNKNOWN)
// for a phantom. A ttyS counts as real when that file holds a number other than 0; without the file
// there is no evidence of a UART and the name is left out.
// Within each group names sort naturally (ttyUSB2 before ttyUSB10). Nothing is opened.
std::vector<std::string> ScanSerialDevices(const std::filesystem::path& root = "/");

} // namespace serial
