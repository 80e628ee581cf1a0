// Which transport a port name leads to.
#include "serial/Transport.h"

#include "serial/PortUrl.h"
#include "serial/PosixPort.h"
#include "serial/RawTcpPort.h"
#include "serial/Rfc2217Port.h"

namespace serial {

std::string lostLineWords(PortKind kind) {
    return isNetwork(kind) ? "the connection dropped (the server stopped or the network link was lost)"
                           : "the line hung up (device unplugged or the other side closed)";
}

PortKind portKindOf(const std::string& portName) {
    if (!isNetworkPortName(portName)) {
        return PortKind::Local;
    }
    const PortUrlReading reading = readPortUrl(portName);
    // A name that does not read is still meant for the network; it fails at open with the reason.
    return reading.name && reading.name->protocol == NetworkPortName::Protocol::Rfc2217 ? PortKind::Rfc2217
                                                                                       : PortKind::RawTcp;
}

std::unique_ptr<Transport> makeTransport(const std::string& portName, Access access) {
    switch (portKindOf(portName)) {
    case PortKind::Rfc2217:
        return std::make_unique<Rfc2217Port>(portName, readPortUrl(portName));
    case PortKind::RawTcp:
        return std::make_unique<RawTcpPort>(portName, readPortUrl(portName));
    case PortKind::Local:
        break;
    }
    return std::make_unique<PosixPort>(portPathFor(portName), access);
}

} // namespace serial
