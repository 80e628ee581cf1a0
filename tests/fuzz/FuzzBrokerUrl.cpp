// Broker addresses as typed: one that reads has a host and a port and reads the same when written out
// again; one that does not says why, names the forms, and holds only valid UTF-8 (it is printed).
#include <string>

#include "mqtt/Addressing.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tools/Utf8Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    const std::string_view text = fuzzcheck::asText(data, size);
    const mqtt::BrokerUrlReading reading = mqtt::ReadBrokerUrl(text);
    if (!reading.url) {
        check(reading.error.find("mqtt://HOST[:PORT]") != std::string::npos, "broker url: refusal names no forms");
        bool escaped = false;
        tools::Utf8Text(reading.error, &escaped);
        check(!escaped, "broker url: a refusal that is not UTF-8");
        check(reading.error.size() < 600, "broker url: a refusal that echoes all it was given");
        return 0;
    }
    check(reading.error.empty(), "broker url: a reason beside an address");
    check(!reading.url->host.empty() && reading.url->port >= 1, "broker url: no host or port");
    const mqtt::BrokerUrlReading again = mqtt::ReadBrokerUrl(mqtt::BrokerUrlText(*reading.url));
    check(again.url && again.url->host == reading.url->host && again.url->port == reading.url->port &&
              again.url->tls == reading.url->tls,
          "broker url: does not read back");
    check(mqtt::ConverterNameProblem(mqtt::PortSlug(text)).empty(), "port slug: not a name");
    return 0;
}
