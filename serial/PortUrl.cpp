// Reading network port names.
#include "serial/PortUrl.h"

#include <algorithm>
#include <cctype>

#include "tools/Utf8Text.h"

namespace serial {

namespace {

constexpr std::string_view kForms = "give rfc2217://HOST:PORT or socket://HOST:PORT (an IPv6 address in "
                                    "brackets: rfc2217://[::1]:4001)";

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// The longest name DNS can carry.
constexpr std::size_t kMaxHostName = 253;

PortUrlReading refused(std::string_view text, const std::string& why) {
    return {std::nullopt, echoed(text) + " is not a network port name: " + why + "; " + std::string(kForms) + "."};
}

bool hostCharactersOk(std::string_view host) {
    // Names and IPv4 addresses: letters, digits, '-', '.', '_' (seen in local names).
    return std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '.' || c == '_';
    });
}

bool ipv6CharactersOk(std::string_view host) {
    // Hex digits, colons, dots of an embedded IPv4 address, and a '%' zone such as %eth0.
    const auto zone = host.find('%');
    const std::string_view address = host.substr(0, zone);
    if (address.find(':') == std::string_view::npos) {
        return false;
    }
    const bool addressOk = std::all_of(address.begin(), address.end(), [](unsigned char c) {
        return std::isxdigit(c) || c == ':' || c == '.';
    });
    if (zone == std::string_view::npos) {
        return addressOk;
    }
    const std::string_view zoneName = host.substr(zone + 1);
    return addressOk && !zoneName.empty() && hostCharactersOk(zoneName);
}

} // namespace

bool isNetworkPortName(std::string_view name) {
    const auto colon = name.find("://");
    if (colon == std::string_view::npos || colon == 0) {
        return false;
    }
    // A scheme is letters, digits, '+', '-', '.', starting with a letter; "/dev/x://y" stays a path.
    const std::string_view scheme = name.substr(0, colon);
    return std::isalpha(static_cast<unsigned char>(scheme[0])) &&
           std::all_of(scheme.begin(), scheme.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '+' || c == '-' || c == '.';
           });
}

std::string echoed(std::string_view text) {
    // Quoted, so a quote inside is escaped too: the echo's end is never in doubt.
    std::string out = "\"";
    for (const char c : tools::EchoText(text)) {
        out += c == '"' ? std::string("\\x22") : std::string(1, c);
    }
    return out + "\"";
}

PortUrlReading readPortUrl(std::string_view text) {
    if (!isNetworkPortName(text)) {
        return refused(text, "no scheme");
    }
    const auto schemeEnd = text.find("://");
    const std::string scheme = lower(text.substr(0, schemeEnd));
    NetworkPortName name;
    if (scheme == "rfc2217") {
        name.protocol = NetworkPortName::Protocol::Rfc2217;
    } else if (scheme == "socket") {
        name.protocol = NetworkPortName::Protocol::Raw;
    } else if (scheme == "rfc2217+ssl" || scheme == "socket+ssl") {
        return refused(text, "TLS is not supported (tunnel the port with ssh -L instead)");
    } else {
        return refused(text, "unknown scheme " + echoed(text.substr(0, schemeEnd)));
    }
    std::string_view rest = text.substr(schemeEnd + 3);
    if (rest.find_first_of("/?#") != std::string_view::npos) {
        return refused(text, "nothing may follow the port (no path, no options)");
    }
    if (rest.find('@') != std::string_view::npos) {
        return refused(text, "a user name has no meaning here (the protocols carry no authentication)");
    }
    std::string_view host;
    std::string_view portText;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string_view::npos) {
            return refused(text, "the IPv6 address has no closing ']'");
        }
        host = rest.substr(1, close - 1);
        if (!ipv6CharactersOk(host)) {
            return refused(text, echoed(host) + " in brackets is not an IPv6 address");
        }
        rest = rest.substr(close + 1);
        if (rest.empty() || rest.front() != ':') {
            return refused(text, "no port after the address");
        }
        portText = rest.substr(1);
    } else {
        const auto colon = rest.find(':');
        if (colon == std::string_view::npos) {
            return refused(text, "no port");
        }
        host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        if (portText.find(':') != std::string_view::npos) {
            return refused(text, "an IPv6 address must be written in brackets");
        }
        if (host.empty()) {
            return refused(text, "no host");
        }
        if (!hostCharactersOk(host)) {
            return refused(text, echoed(host) + " is not a host name or address");
        }
    }
    if (host.size() > kMaxHostName) {
        return refused(text, "the host is longer than the " + std::to_string(kMaxHostName) +
                                 " characters a name can have");
    }
    if (portText.empty() || portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return refused(text, "the port must be a number from 1 to 65535");
    }
    const unsigned long port = std::stoul(std::string(portText));
    if (port < 1 || port > 65535) {
        return refused(text, "the port must be a number from 1 to 65535");
    }
    name.host = std::string(host);
    name.port = static_cast<uint16_t>(port);
    return {name, {}};
}

} // namespace serial
