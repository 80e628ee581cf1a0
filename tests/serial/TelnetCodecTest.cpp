// The Telnet codec's bounds against a hostile server and its reading of the server's confirmations,
// as bytes in and out: no socket.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/TelnetCodec.h"

namespace {

constexpr int IAC = 255, SB = 250, SE = 240, DO = 253, WILL = 251;

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (const int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

// A COM-PORT subnegotiation from the server, its 0xFF bytes doubled.
std::string comPort(std::initializer_list<int> body) {
    std::string s = bytes({IAC, SB, 44});
    for (const int v : body) {
        s.push_back(static_cast<char>(v));
        if (v == 0xFF) {
            s.push_back(static_cast<char>(v));
        }
    }
    return s + bytes({IAC, SE});
}

struct Decoded {
    std::string data;
    std::string failure;
};

// Feeds `wire` in pieces of `piece` bytes (0: whole), collecting the data.
Decoded decode(serial::TelnetCodec& codec, const std::string& wire, std::size_t piece) {
    Decoded out;
    const std::size_t step = piece == 0 ? wire.size() : piece;
    for (std::size_t at = 0; at < wire.size(); at += step) {
        const std::string part = wire.substr(at, step);
        std::vector<uint8_t> data(part.size());
        const std::size_t n = codec.receive(reinterpret_cast<const uint8_t*>(part.data()), part.size(), data.data());
        out.data.append(reinterpret_cast<const char*>(data.data()), n);
    }
    out.failure = codec.failure();
    return out;
}

// A server's subnegotiation never becomes line data: one longer than the bound ends the stream
// (a server that keeps it open, or hides a frame in 20 KB of it), one within it is taken as Telnet,
// however the stream is cut.
TEST(TelnetCodecBounds, ASubnegotiationPastItsBoundEndsTheStreamAndNoneOfItIsData) {
    const std::size_t bound = serial::TelnetCodec::kMaxSubnegotiation;
    const std::string modbusRequest = bytes({0x01, 0x03, 0x00, 0x02, 0x00, 0x04, 0xE5, 0xC9});
    const std::string atBound = bytes({IAC, SB, 44}) + std::string(bound - 1, '\x01') + bytes({IAC, SE});
    const std::string overBound = bytes({IAC, SB, 44}) + std::string(bound, '\x01') + bytes({IAC, SE});
    const std::string hidden = bytes({IAC, SB, 44}) + std::string(17000, '\0') + modbusRequest +
                               std::string(3000, '\0') + bytes({IAC, SE});
    // 0xFF doubled inside a body counts once, as it is one byte of the body.
    const std::string doubled = bytes({IAC, SB, 44}) + std::string(2 * (bound - 1), '\xFF') + bytes({IAC, SE});
    const std::string endless = bytes({IAC, SB, 44}) + std::string(100000, '\x07');
    // libtelnet ends a body at IAC followed by anything but SE or IAC and reads that byte as a
    // command; what follows is data again.
    const std::string brokenOff = bytes({IAC, SB, 44, 1, 2, IAC, 241}) + "QX1";
    struct Case {
        const char* what;
        std::string wire;
        std::string data;    // what reaches the line
        bool fails;
    } cases[] = {
        {"a body at the bound, then data", "A" + atBound + "B", "AB", false},
        {"a body one byte over the bound", "A" + overBound + "B", "A", true},
        {"20 KB with a MODBUS request inside", hidden + "B", "", true},
        {"doubled 0xFF counted once", doubled + "B", "B", false},
        {"a body without end", "A" + endless, "A", true},
        {"a body broken off by another command", brokenOff, "QX1", false},
    };
    for (const Case& c : cases) {
        for (const std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{512}}) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            serial::TelnetCodec codec;
            const Decoded got = decode(codec, c.wire, piece);
            EXPECT_EQ(got.failure.empty(), !c.fails) << got.failure;
            if (c.fails) {
                EXPECT_NE(got.failure.find("subnegotiation longer than"), std::string::npos) << got.failure;
                EXPECT_EQ(got.data.find(modbusRequest), std::string::npos);
                // Whatever came before the fault is all that was ever data.
                EXPECT_EQ(got.data, c.data.substr(0, got.data.size()));
            } else {
                EXPECT_EQ(got.data, c.data);
            }
        }
    }
}

// Control traffic is counted apart from data, so the port can tell a flood of it.
TEST(TelnetCodecBounds, ControlBytesAreCountedApartFromData) {
    serial::TelnetCodec codec;
    const std::string notices = comPort({106, 0x0E}) + comPort({107, 0x0C});
    const std::string wire = "AB" + notices + bytes({IAC, IAC}) + bytes({IAC, WILL, 31});
    const Decoded got = decode(codec, wire, 3);
    EXPECT_EQ(got.data, "AB\xFF");
    EXPECT_EQ(codec.controlBytes(), wire.size() - 4); // "AB" and the doubled 0xFF are data
}

serial::LineSettings line(uint32_t baud, serial::TParity parity) {
    serial::LineSettings s;
    s.baudRate = baud;
    s.parity = parity;
    s.outxXonXoffFlow = false;
    s.inxXonXoffFlow = false;
    return s;
}

// Each confirmation is compared with what was asked of that setting, in the order asked; a query's
// answer (the rate of 0 sent when the server accepts) and a report nobody asked for compare with
// nothing.
TEST(TelnetCodecConfirmations, EachDifferenceFromWhatWasAskedIsSaidOnce) {
    const auto baud = [](uint32_t b) {
        return comPort({101, static_cast<int>(b >> 24), static_cast<int>((b >> 16) & 0xFF),
                        static_cast<int>((b >> 8) & 0xFF), static_cast<int>(b & 0xFF)});
    };
    // Answers to the 0 query and to a full setLine(19200, odd, 8N1, no flow, DTR on, RTS on).
    const std::string query = baud(9600);
    const std::string asAsked = baud(19200) + comPort({102, 8}) + comPort({103, 2}) + comPort({104, 1}) +
                                comPort({105, 1}) + comPort({105, 14}) + comPort({105, 8}) + comPort({105, 11});
    struct Case {
        const char* what;
        std::string answers;
        std::vector<std::string> differences;
    } cases[] = {
        {"every answer as asked", query + asAsked, {}},
        {"another speed", query + baud(9600) + comPort({103, 2}), {"the server set 9600 baud where 19200 was asked"}},
        {"another parity and RTS off", query + baud(19200) + comPort({102, 8}) + comPort({103, 1}) + comPort({105, 1}) +
                                           comPort({105, 14}) + comPort({105, 8}) + comPort({105, 12}),
         {"the server set parity none where odd was asked", "the server set RTS off where RTS on was asked"}},
        {"7 data bits, 2 stop bits", query + baud(19200) + comPort({102, 7}) + comPort({103, 2}) + comPort({104, 2}),
         {"the server set 7 data bits where 8 was asked", "the server set 2 stop bits where 1 stop bit was asked"}},
        {"a speed 0xFFFFFF of escaped bytes", query + baud(0x00FFFFFF),
         {"the server set 16777215 baud where 19200 was asked"}},
        {"reports nobody asked for", query + asAsked + baud(4800) + comPort({103, 3}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        serial::TelnetCodec codec;
        codec.setLine(line(19200, serial::TParity::Odd));
        codec.start();
        decode(codec, bytes({IAC, DO, 44}), 0); // the server accepts: the query and the settings go
        ASSERT_EQ(codec.comPort(), serial::TelnetCodec::ComPort::Accepted);
        const Decoded got = decode(codec, c.answers, 5);
        EXPECT_TRUE(got.failure.empty()) << got.failure;
        EXPECT_EQ(codec.takeDifferences(), c.differences);
        EXPECT_TRUE(codec.takeDifferences().empty()); // each said once
    }
}

// A purge reaches the server as PURGE-DATA, once it has agreed to COM-PORT control.
TEST(TelnetCodecConfirmations, APurgeIsSentToTheServerOnlyOnceControlIsAgreed) {
    serial::TelnetCodec codec;
    codec.start();
    codec.takeOutput();
    codec.purge(serial::QueueSide::Input);
    EXPECT_TRUE(codec.takeOutput().empty());
    decode(codec, bytes({IAC, DO, 44}), 0);
    codec.takeOutput();
    struct Case {
        serial::QueueSide side;
        int value;
    } cases[] = {{serial::QueueSide::Input, 1}, {serial::QueueSide::Output, 2}, {serial::QueueSide::Both, 3}};
    for (const Case& c : cases) {
        codec.purge(c.side);
        EXPECT_EQ(codec.takeOutput(), bytes({IAC, SB, 44, 12, c.value, IAC, SE}));
    }
}

} // namespace
