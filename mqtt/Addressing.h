// Where published values go: the broker's address as typed (mqtt://HOST[:PORT], mqtts:// for TLS),
// the topic prefix, a converter's name (given, or made from its port) and the topics under them.
// Plain C++ without I/O: every text a user gives is checked here before anything connects.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mqtt {

struct BrokerUrl {
    bool tls = false;
    std::string host; // without the brackets of an IPv6 address
    uint16_t port = 1883;
};

struct BrokerUrlReading {
    std::optional<BrokerUrl> url;
    std::string error; // why the text is no broker address, when `url` is empty
};

// mqtt://HOST[:PORT] (port 1883 when none is given) or mqtts://HOST[:PORT] (8883), the scheme in any
// letter case, an IPv6 address in brackets. A user or password in the address is refused: the
// password would show in the process list and the shell's history.
BrokerUrlReading ReadBrokerUrl(std::string_view text);
std::string BrokerUrlText(const BrokerUrl& url);

// Why `prefix` cannot head the topics (empty when it can): levels joined by '/', none empty, no
// wildcard ('+', '#'), no NUL or control character, valid UTF-8, not starting with '$' (the broker's
// own topics), at most 200 bytes.
std::string TopicPrefixProblem(std::string_view prefix);

// Why `name` cannot name a converter in its topics (empty when it can): 1 to 64 letters, digits,
// '-', '_' and '.'.
std::string ConverterNameProblem(std::string_view name);

// A converter's name made from its port when none is given: a device's last path element
// (/dev/ttyUSB0 -> ttyUSB0), a network port's host and port (rfc2217://10.0.0.5:4001 -> 10.0.0.5-4001),
// every other character as '-', runs of them as one.
std::string PortSlug(std::string_view port);

std::string VariableTopic(std::string_view prefix, std::string_view converter, int variable);
std::string StatusTopic(std::string_view prefix, std::string_view converter);
std::string DroppedTopic(std::string_view prefix, std::string_view converter);
std::string CheckTopic(std::string_view prefix, std::string_view converter);

// How long to wait before the next attempt after `failures` failed ones in a row: 1 s, doubled each
// time, at most 30 s.
std::chrono::seconds ReconnectDelay(int failures);

} // namespace mqtt
