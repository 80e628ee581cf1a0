// The client side of Telnet with RFC 2217's COM-PORT option, as bytes in and bytes out: no socket,
// no threads, no locks, no clock (the network port does the I/O, the locking and the timing).
// libtelnet does the Telnet parsing, option negotiation and escaping; this class adds what RFC 2217
// means and the bounds a hostile server must not get past.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "serial/LineSettings.h"
#include "serial/Transport.h"

struct telnet_t;
union telnet_event_t;

namespace serial {

class TelnetCodec {
public:
    // The longest subnegotiation a server may send. RFC 2217's are a few bytes (a signature text a
    // few dozen); anything longer is a broken or hostile server, and its body must never be taken
    // for line data.
    static constexpr std::size_t kMaxSubnegotiation = 1024;

    TelnetCodec();
    ~TelnetCodec();
    TelnetCodec(const TelnetCodec&) = delete;
    TelnetCodec& operator=(const TelnetCodec&) = delete;

    // The client's opening: COM-PORT control offered, binary transmission asked for both ways.
    void start();

    // Decodes received bytes. The line's data goes to `data`, which has room for `size` bytes (data
    // is never longer than what came in); the count is returned. Replies the protocol calls for are
    // added to the output. Once failure() is set nothing more is decoded: bytes after the fault
    // never become data.
    std::size_t receive(const uint8_t* bytes, std::size_t size, uint8_t* data);

    // The line's data as it goes on the wire (each 0xFF doubled), appended to `wire`.
    void encodeData(const uint8_t* bytes, std::size_t size, std::string& wire);

    // RFC 2217 commands for speed, framing, flow control and the DTR and RTS lines, added to the
    // output. Nothing is sent before the server has accepted COM-PORT control; the latest settings
    // are sent when it does. Each is remembered until the server confirms it.
    void setLine(const LineSettings& settings);
    // PURGE-DATA for the server's buffers of the given direction(s): Input is what the server
    // received from the line and has not yet sent to us. Nothing before COM-PORT control is agreed.
    void purge(QueueSide side);

    // Protocol bytes waiting to be sent (negotiation replies, RFC 2217 commands), taken out.
    std::string takeOutput();
    bool hasOutput() const { return !output_.empty(); }
    std::size_t outputSize() const { return output_.size(); }

    enum class ComPort { Asked, Accepted, Refused };
    ComPort comPort() const { return comPort_; }
    // The server has answered a COM-PORT command (it answers the query sent once it accepts).
    bool serverAnswered() const { return serverAnswered_; }

    // Line errors and modem changes the server reported, counted as a UART driver counts them.
    const LineCounters& counters() const { return counters_; }
    // Bytes received that were Telnet or RFC 2217 control rather than line data (a doubled 0xFF of
    // the data counts as data), in all.
    uint64_t controlBytes() const { return controlBytes_; }

    // What the server said it set, 0 until it said so (for messages and tests).
    struct ServerLine {
        uint32_t baud = 0;
        uint8_t dataSize = 0;
        uint8_t parity = 0;   // RFC 2217's numbers: 1 none, 2 odd, 3 even, 4 mark, 5 space
        uint8_t stopSize = 0; // 1 one, 2 two, 3 one and a half
    };
    const ServerLine& serverLine() const { return serverLine_; }

    // Each confirmation that differs from what was asked, one sentence each ("the server set 9600
    // baud where 19200 was asked"), taken out.
    std::vector<std::string> takeDifferences();

    // A fault the stream cannot recover from, in words for the person at the keyboard; empty while
    // all is well.
    const std::string& failure() const { return failure_; }

private:
    // What one setting was asked as, in the order sent, until the server's answers take them; an
    // empty entry is a query (nothing asked).
    enum Item { Baud, DataSize, Parity, StopSize, OutboundFlow, InboundFlow, Dtr, Rts, ItemCount };

    static void onEvent(telnet_t* telnet, telnet_event_t* event, void* self);
    void handle(telnet_event_t& event);
    // How many of `size` bytes may go to libtelnet before a subnegotiation passes its bound.
    std::size_t scan(const uint8_t* bytes, std::size_t size);
    void comPortReport(const uint8_t* body, std::size_t size);
    void sendComPort(uint8_t command, const uint8_t* value, std::size_t size);
    void sendAsked(Item item, uint8_t command, uint32_t value, std::size_t width);
    void sendLine(const LineSettings& settings);
    void confirmed(Item item, uint32_t value);

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
    uint64_t controlBytes_ = 0;
    std::deque<std::optional<uint32_t>> asked_[ItemCount];
    std::vector<std::string> differences_;
    std::string failure_;

    // Where the scan stands in the stream, across receive() calls.
    enum class ScanState { Data, Iac, Option, Sub, SubIac };
    ScanState scanState_ = ScanState::Data;
    std::size_t subLength_ = 0;
    std::size_t escapes_ = 0; // doubled 0xFF of the data in the bytes scanned last: data, not control
};

} // namespace serial
