// Broker addresses, names and topics.
#include "mqtt/Addressing.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "tools/Utf8Text.h"

namespace mqtt {

namespace {

constexpr std::string_view kForms = "give mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (an IPv6 address in brackets: "
                                    "mqtt://[::1]:1883)";

BrokerUrlReading refused(std::string_view text, const std::string& why) {
    std::string shown(text.substr(0, 80));
    if (text.size() > 80) {
        shown += "...";
    }
    return {std::nullopt, "\"" + tools::Utf8Text(shown) + "\" is not a broker address: " + why + "; " +
                              std::string(kForms) + "."};
}

bool nameCharacter(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_';
}

bool hostOk(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), nameCharacter);
}

bool ipv6Ok(std::string_view host) {
    const auto zone = host.find('%');
    const std::string_view address = host.substr(0, zone);
    const bool addressOk = address.find(':') != std::string_view::npos &&
                           std::all_of(address.begin(), address.end(),
                                       [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; });
    return addressOk && (zone == std::string_view::npos || hostOk(host.substr(zone + 1)));
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string joined(std::string_view prefix, std::string_view converter, std::string_view rest) {
    std::string topic;
    topic.reserve(prefix.size() + converter.size() + rest.size() + 2);
    topic.append(prefix).append("/").append(converter).append("/").append(rest);
    return topic;
}

} // namespace

BrokerUrlReading ReadBrokerUrl(std::string_view text) {
    const auto schemeEnd = text.find("://");
    if (schemeEnd == std::string_view::npos) {
        return refused(text, "no scheme");
    }
    BrokerUrl url;
    const std::string scheme = lower(text.substr(0, schemeEnd));
    if (scheme == "mqtts") {
        url.tls = true;
        url.port = 8883;
    } else if (scheme != "mqtt") {
        return refused(text, "unknown scheme \"" + tools::Utf8Text(text.substr(0, std::min<std::size_t>(schemeEnd, 20))) +
                                 "\"");
    }
    std::string_view rest = text.substr(schemeEnd + 3);
    if (rest.find('@') != std::string_view::npos) {
        return refused(text, "a user or password does not go into the address (give --mqtt-user, and the password "
                             "in --mqtt-password-file or VX538_MQTT_PASSWORD)");
    }
    if (!rest.empty() && rest.back() == '/') {
        rest.remove_suffix(1); // "mqtt://broker/" as browsers write it
    }
    if (rest.find_first_of("/?#") != std::string_view::npos) {
        return refused(text, "nothing may follow the port (the topic prefix is --mqtt-topic)");
    }
    std::string_view portText;
    bool portGiven = false;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string_view::npos) {
            return refused(text, "the IPv6 address has no closing ']'");
        }
        const std::string_view host = rest.substr(1, close - 1);
        if (!ipv6Ok(host)) {
            return refused(text, "the text in brackets is not an IPv6 address");
        }
        url.host = std::string(host);
        rest.remove_prefix(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            return refused(text, "only a port may follow the address");
        }
        portGiven = !rest.empty();
        portText = portGiven ? rest.substr(1) : std::string_view();
    } else {
        const auto colon = rest.find(':');
        const std::string_view host = rest.substr(0, colon);
        if (host.empty()) {
            return refused(text, "no host");
        }
        if (!hostOk(host)) {
            return refused(text, "\"" + tools::Utf8Text(host.substr(0, 80)) + "\" is not a host name or address");
        }
        url.host = std::string(host);
        portGiven = colon != std::string_view::npos;
        portText = portGiven ? rest.substr(colon + 1) : std::string_view();
        if (portText.find(':') != std::string_view::npos) {
            return refused(text, "an IPv6 address must be written in brackets");
        }
    }
    if (portGiven) {
        unsigned port = 0;
        const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() || port < 1 ||
            port > 65535) {
            return refused(text, "the port must be a number from 1 to 65535");
        }
        url.port = static_cast<uint16_t>(port);
    }
    return {url, {}};
}

std::string BrokerUrlText(const BrokerUrl& url) {
    const bool v6 = url.host.find(':') != std::string::npos;
    return std::string(url.tls ? "mqtts" : "mqtt") + "://" + (v6 ? "[" + url.host + "]" : url.host) + ":" +
           std::to_string(url.port);
}

std::string TopicPrefixProblem(std::string_view prefix) {
    const auto said = [&](const std::string& why) {
        return "the topic prefix \"" + tools::Utf8Text(prefix.substr(0, 80)) + "\" " + why;
    };
    if (prefix.empty()) {
        return "the topic prefix is empty";
    }
    if (prefix.size() > 200) {
        return said("is longer than 200 bytes");
    }
    bool escaped = false;
    tools::Utf8Text(prefix, &escaped);
    if (escaped) {
        return said("is not valid UTF-8");
    }
    if (prefix.find_first_of("+#") != std::string_view::npos) {
        return said("holds a wildcard ('+' or '#'), which no topic a message goes to may hold");
    }
    if (std::any_of(prefix.begin(), prefix.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; })) {
        return said("holds a control character");
    }
    if (prefix.front() == '$') {
        return said("starts with '$', which marks the broker's own topics");
    }
    if (prefix.front() == '/' || prefix.back() == '/' || prefix.find("//") != std::string_view::npos) {
        return said("has an empty level (a '/' at an end or two together)");
    }
    return {};
}

std::string ConverterNameProblem(std::string_view name) {
    if (name.empty() || name.size() > 64 || !std::all_of(name.begin(), name.end(), nameCharacter)) {
        return "the converter name \"" + tools::Utf8Text(name.substr(0, 80)) +
               "\" is not 1 to 64 letters, digits, '-', '_' and '.'";
    }
    return {};
}

std::string PortSlug(std::string_view port) {
    std::string_view base = port;
    if (const auto scheme = port.find("://"); scheme != std::string_view::npos) {
        base = port.substr(scheme + 3);
    } else if (const auto slash = port.find_last_of('/'); slash != std::string_view::npos) {
        base = port.substr(slash + 1);
    }
    std::string slug;
    for (const char c : base) {
        if (nameCharacter(static_cast<unsigned char>(c))) {
            slug += c;
        } else if (!slug.empty() && slug.back() != '-') {
            slug += '-';
        }
    }
    slug.resize(std::min<std::size_t>(slug.size(), 64));
    while (!slug.empty() && slug.back() == '-') {
        slug.pop_back();
    }
    return slug.empty() ? "port" : slug;
}

std::string VariableTopic(std::string_view prefix, std::string_view converter, int variable) {
    return joined(prefix, converter, "variable/" + std::to_string(variable));
}

std::string StatusTopic(std::string_view prefix, std::string_view converter) {
    return joined(prefix, converter, "status");
}

std::string DroppedTopic(std::string_view prefix, std::string_view converter) {
    return joined(prefix, converter, "status/dropped");
}

std::string CheckTopic(std::string_view prefix, std::string_view converter) {
    return joined(prefix, converter, "check");
}

std::chrono::seconds ReconnectDelay(int failures) {
    if (failures <= 1) {
        return std::chrono::seconds(1);
    }
    return std::chrono::seconds(failures >= 6 ? 30 : std::min(30, 1 << (failures - 1)));
}

} // namespace mqtt
