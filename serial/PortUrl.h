// Network port names in the forms pyserial made familiar: rfc2217://HOST:PORT (Telnet with RFC 2217
// serial control: the line settings travel) and socket://HOST:PORT (raw TCP: the server's own line
// settings apply). An IPv6 address goes in brackets: rfc2217://[fe80::1]:4001.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace serial {

struct NetworkPortName {
    enum class Protocol { Rfc2217, Raw };
    Protocol protocol = Protocol::Rfc2217;
    std::string host; // without the brackets of an IPv6 address
    uint16_t port = 0;
};

// Whether a port name is meant as a network port ("scheme://..."), whether or not it is a good one;
// any other name is a local device.
bool isNetworkPortName(std::string_view name);

struct PortUrlReading {
    std::optional<NetworkPortName> name;
    std::string error; // why the text is no network port name, when `name` is empty
};

// A name or a server's words as a message echoes them, in quotes: tools::EchoText, a quote escaped
// as \x22.
std::string echoed(std::string_view text);

// Reads a network port name; the scheme is taken in any letter case. Anything else (another scheme,
// no port, a port out of 1 to 65535, an unbracketed IPv6 address, a path or query after the port,
// a host name longer than DNS allows) is refused with the reason.
PortUrlReading readPortUrl(std::string_view text);

} // namespace serial
