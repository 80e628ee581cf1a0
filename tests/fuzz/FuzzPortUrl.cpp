// Port names as typed: a network name that reads has a host, a port from 1 to 65535 and reads the
// same when written out again; one that does not read says why and names the forms.
#include <string>

#include "serial/PortUrl.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    const std::string_view text = fuzzcheck::asText(data, size);
    const serial::PortUrlReading reading = serial::readPortUrl(text);
    if (!reading.name) {
        check(!reading.error.empty(), "port url: refused without a reason");
        check(reading.error.find("rfc2217://HOST:PORT") != std::string::npos, "port url: refusal names no forms");
        return 0;
    }
    check(serial::isNetworkPortName(text), "port url: read a name that is not a network name");
    check(reading.error.empty(), "port url: a reason beside a name");
    const serial::NetworkPortName& n = *reading.name;
    check(!n.host.empty() && n.port >= 1, "port url: no host or port");
    const bool v6 = n.host.find(':') != std::string::npos;
    const std::string again = std::string(n.protocol == serial::NetworkPortName::Protocol::Raw ? "socket" : "rfc2217") +
                              "://" + (v6 ? "[" + n.host + "]" : n.host) + ":" + std::to_string(n.port);
    const serial::PortUrlReading second = serial::readPortUrl(again);
    check(second.name && second.name->host == n.host && second.name->port == n.port &&
              second.name->protocol == n.protocol,
          "port url: does not read back");
    return 0;
}
