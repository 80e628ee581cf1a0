// What a network server sends, decoded in pieces of any size: the line's data never outgrows what
// came in, nothing after a fault (an over-long subnegotiation) is ever data, every byte is either
// data or counted as control, confirmations compared with what was asked stay bounded, and any data
// sent through the encoder comes back out of the decoder byte for byte.
#include <string>

#include "serial/TelnetCodec.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using fuzzcheck::check;
    if (size == 0) {
        return 0;
    }
    const std::size_t piece = 1 + data[0] % 64;
    const uint8_t* stream = data + 1;
    const std::size_t length = size - 1;

    serial::TelnetCodec server;
    server.start();
    server.setLine({}); // settings asked for before and after the server accepts
    std::string out(length, '\0');
    std::size_t dataBytes = 0;
    for (std::size_t at = 0; at < length; at += piece) {
        const std::size_t n = std::min(piece, length - at);
        const bool failedBefore = !server.failure().empty();
        const std::size_t got = server.receive(stream + at, n, reinterpret_cast<uint8_t*>(out.data()));
        check(got <= n, "telnet: more data than received");
        check(!failedBefore || got == 0, "telnet: data after the stream failed");
        dataBytes += got;
        server.takeOutput();
        server.purge(serial::QueueSide::Input);
    }
    server.setLine({});
    check(dataBytes + server.controlBytes() <= length, "telnet: more bytes decoded than received");
    // A data byte takes at most two bytes on the wire (a doubled 0xFF); everything else is control.
    check(!server.failure().empty() || length <= 2 * dataBytes + server.controlBytes(),
          "telnet: a byte neither data nor control");
    const auto differences = server.takeDifferences();
    check(differences.size() <= 32, "telnet: differences unbounded");
    for (const std::string& difference : differences) {
        check(difference.rfind("the server set ", 0) == 0, "telnet: a difference without its words");
    }
    check(server.outputSize() < 64 * 1024 + 4 * length, "telnet: output out of proportion");

    // The same bytes as line data: through the encoder and back, whatever the cut.
    serial::TelnetCodec sender;
    std::string wire;
    sender.encodeData(stream, length, wire);
    check(wire.size() >= length && wire.size() <= 2 * length, "telnet: escaping size");
    serial::TelnetCodec receiver;
    std::string back;
    std::string chunk(wire.size(), '\0');
    for (std::size_t at = 0; at < wire.size(); at += piece) {
        const std::size_t n = std::min(piece, wire.size() - at);
        const std::size_t got = receiver.receive(reinterpret_cast<const uint8_t*>(wire.data()) + at, n,
                                                 reinterpret_cast<uint8_t*>(chunk.data()));
        back.append(chunk.data(), got);
    }
    check(back == fuzzcheck::asText(stream, length), "telnet: data does not survive the round trip");
    check(receiver.failure().empty(), "telnet: escaped data read as a protocol error");
    return 0;
}
