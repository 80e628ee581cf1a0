// Which transport a port name leads to.
#include "serial/Transport.h"

#include "serial/NetworkPort.h"
#include "serial/PortUrl.h"
#include "serial/PosixPort.h"

namespace serial {

std::unique_ptr<Transport> makeTransport(const std::string& portName) {
    if (isNetworkPortName(portName)) {
        return std::make_unique<NetworkPort>(portName, readPortUrl(portName));
    }
    return std::make_unique<PosixPort>(portPathFor(portName));
}

} // namespace serial
