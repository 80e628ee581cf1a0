// The client side of Telnet with RFC 2217's COM-PORT option, as bytes in and bytes out: no socket,
// no threads, no locks (the network port does the I/O and the locking). libtelnet does the Telnet
// parsing, option negotiation and escaping; this class adds what RFC 2217 means.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/LineSettings.h"
#include "serial/Transport.h"

struct telnet_t;
union telnet_event_t;

namespace serial {

class TelnetCodec {
public:
    TelnetCodec();
    ~TelnetCodec();
    TelnetCodec(const TelnetCodec&) = delete;
    TelnetCodec& operator=(const TelnetCodec&) = delete;

    // The client's opening: COM-PORT control offered, binary transmission asked for both ways.
    void start();

    // Decodes received bytes. The line's data goes to `data`, which has room for `size` bytes (data
    // is never longer than what came in); the count is returned. Replies the protocol calls for are
    // added to the output.
    std::size_t receive(const uint8_t* bytes, std::size_t size, uint8_t* data);

    // The line's data as it goes on the wire (each 0xFF doubled), appended to `wire`.
    void encodeData(const uint8_t* bytes, std::size_t size, std::string& wire);

    // RFC 2217 commands for speed, framing, flow control and the DTR and RTS lines, added to the
    // output. Nothing is sent before the server has accepted COM-PORT control; the latest settings
    // are sent when it does.
    void setLine(const LineSettings& settings);

    // Protocol bytes waiting to be sent (negotiation replies, RFC 2217 commands), taken out.
    std::string takeOutput();
    bool hasOutput() const { return !output_.empty(); }

    enum class ComPort { Asked, Accepted, Refused };
    ComPort comPort() const { return comPort_; }
    // The server has answered a COM-PORT command (it answers the query sent once it accepts).
    bool serverAnswered() const { return serverAnswered_; }

    // Line errors and modem changes the server reported, counted as a UART driver counts them.
    const LineCounters& counters() const { return counters_; }

    // What the server said it set, 0 until it said so (for messages and tests).
    struct ServerLine {
        uint32_t baud = 0;
        uint8_t dataSize = 0;
        uint8_t parity = 0;   // RFC 2217's numbers: 1 none, 2 odd, 3 even, 4 mark, 5 space
        uint8_t stopSize = 0; // 1 one, 2 two, 3 one and a half
    };
    const ServerLine& serverLine() const { return serverLine_; }

    // A protocol error the stream cannot recover from (libtelnet's words); empty while all is well.
    const std::string& failure() const { return failure_; }

private:
    static void onEvent(telnet_t* telnet, telnet_event_t* event, void* self);
    void handle(telnet_event_t& event);
    void comPortReport(const uint8_t* body, std::size_t size);
    void sendComPort(uint8_t command, const uint8_t* value, std::size_t size);
    void sendLine(const LineSettings& settings);

    telnet_t* telnet_ = nullptr;
    std::string output_;
    std::string* sink_ = &output_; // where libtelnet's outgoing bytes go
    uint8_t* data_ = nullptr;      // where received line data goes during receive()
    std::size_t dataRoom_ = 0;
    std::size_t dataCount_ = 0;
    ComPort comPort_ = ComPort::Asked;
    bool serverAnswered_ = false;
    bool haveLine_ = false;
    LineSettings line_;
    LineCounters counters_;
    ServerLine serverLine_;
    std::string failure_;
};

} // namespace serial
