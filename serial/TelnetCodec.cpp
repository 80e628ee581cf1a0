// RFC 2217 over libtelnet.
#include "serial/TelnetCodec.h"

#include <array>
#include <cstring>

#include <libtelnet.h>

namespace serial {

namespace {

constexpr unsigned char kComPortOption = 44;

// COM-PORT commands from the client; the server answers each with the same number plus 100.
enum ComPortCommand : uint8_t {
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
};
constexpr uint8_t kServerOffset = 100;

// SET-CONTROL values.
enum ControlValue : uint8_t {
    OutboundNone = 1,
    OutboundXonXoff = 2,
    OutboundHardware = 3,
    DtrOn = 8,
    DtrOff = 9,
    RtsOn = 11,
    RtsOff = 12,
    InboundNone = 14,
    InboundXonXoff = 15,
    InboundHardware = 16,
};

// NOTIFY-LINESTATE bits that are errors, and NOTIFY-MODEMSTATE bits that are events.
constexpr uint8_t kOverrunError = 0x02;
constexpr uint8_t kParityError = 0x04;
constexpr uint8_t kFramingError = 0x08;
constexpr uint8_t kBreakDetect = 0x10;
constexpr uint8_t kRingTrailingEdge = 0x04;
constexpr uint8_t kDeltaCarrier = 0x08;

// What this client takes part in: binary transmission both ways (so no byte is translated), the
// usual suppress-go-ahead, and COM-PORT control from our side only. Everything else is refused.
const telnet_telopt_t kOptions[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {kComPortOption, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
};

uint8_t parityNumber(TParity parity) {
    switch (parity) {
    case TParity::None: return 1;
    case TParity::Odd: return 2;
    case TParity::Even: return 3;
    case TParity::Mark: return 4;
    case TParity::Space: return 5;
    }
    return 1;
}

uint8_t stopSizeNumber(TStopBits stopBits) {
    switch (stopBits) {
    case TStopBits::_1: return 1;
    case TStopBits::_2: return 2;
    case TStopBits::_1_5: return 3;
    }
    return 1;
}

} // namespace

TelnetCodec::TelnetCodec() : telnet_(telnet_init(kOptions, &TelnetCodec::onEvent, 0, this)) {
    if (!telnet_) {
        failure_ = "no memory for the Telnet state";
    }
}

TelnetCodec::~TelnetCodec() {
    if (telnet_) {
        telnet_free(telnet_);
    }
}

void TelnetCodec::start() {
    if (!telnet_) {
        return;
    }
    telnet_negotiate(telnet_, TELNET_WILL, kComPortOption);
    telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_BINARY);
    telnet_negotiate(telnet_, TELNET_DO, TELNET_TELOPT_BINARY);
}

std::size_t TelnetCodec::receive(const uint8_t* bytes, std::size_t size, uint8_t* data) {
    if (!telnet_ || size == 0) {
        return 0;
    }
    data_ = data;
    dataRoom_ = size;
    dataCount_ = 0;
    telnet_recv(telnet_, reinterpret_cast<const char*>(bytes), size);
    data_ = nullptr;
    return dataCount_;
}

void TelnetCodec::encodeData(const uint8_t* bytes, std::size_t size, std::string& wire) {
    if (!telnet_ || size == 0) {
        return;
    }
    sink_ = &wire;
    telnet_send(telnet_, reinterpret_cast<const char*>(bytes), size);
    sink_ = &output_;
}

void TelnetCodec::setLine(const LineSettings& settings) {
    line_ = settings;
    haveLine_ = true;
    if (comPort_ == ComPort::Accepted) {
        sendLine(line_);
    }
}

std::string TelnetCodec::takeOutput() {
    std::string out;
    out.swap(output_);
    return out;
}

void TelnetCodec::sendComPort(uint8_t command, const uint8_t* value, std::size_t size) {
    std::array<char, 8> body{};
    body[0] = static_cast<char>(command);
    std::memcpy(body.data() + 1, value, size);
    // libtelnet doubles any 0xFF of the body, as the protocol wants.
    telnet_subnegotiation(telnet_, kComPortOption, body.data(), size + 1);
}

void TelnetCodec::sendLine(const LineSettings& s) {
    const uint8_t baud[4] = {static_cast<uint8_t>(s.baudRate >> 24), static_cast<uint8_t>(s.baudRate >> 16),
                             static_cast<uint8_t>(s.baudRate >> 8), static_cast<uint8_t>(s.baudRate)};
    const auto one = [&](uint8_t command, uint8_t value) { sendComPort(command, &value, 1); };
    // A zero rate asks the server for its current one instead of setting it.
    if (s.baudRate != 0) {
        sendComPort(SetBaudRate, baud, sizeof baud);
    }
    one(SetDataSize, static_cast<uint8_t>(static_cast<int>(s.byteSize) + 5));
    one(SetParity, parityNumber(s.parity));
    one(SetStopSize, stopSizeNumber(s.stopBits));
    const bool hardware = s.outxCtsFlow || s.rtsControl == TRtsControl::RtsHandshake;
    one(SetControl, hardware ? OutboundHardware : s.outxXonXoffFlow ? OutboundXonXoff : OutboundNone);
    one(SetControl, hardware ? InboundHardware : s.inxXonXoffFlow ? InboundXonXoff : InboundNone);
    // As on a local port: no DTR handshake of its own, and RTS idles low where it is meant to be
    // raised only while sending (the server cannot time it to our bytes).
    one(SetControl, s.dtrControl == TDtrControl::DtrDisable ? DtrOff : DtrOn);
    if (!hardware) {
        const bool rtsRaised = s.rtsControl == TRtsControl::RtsEnable;
        one(SetControl, rtsRaised ? RtsOn : RtsOff);
    }
}

void TelnetCodec::onEvent(telnet_t*, telnet_event_t* event, void* self) {
    static_cast<TelnetCodec*>(self)->handle(*event);
}

void TelnetCodec::handle(telnet_event_t& event) {
    switch (event.type) {
    case TELNET_EV_DATA:
        if (!data_ || event.data.size > dataRoom_ - dataCount_) {
            // Only decompression could make more data than came in, and it was never agreed.
            failure_ = "the server sent more data than the connection carried";
            return;
        }
        std::memcpy(data_ + dataCount_, event.data.buffer, event.data.size);
        dataCount_ += event.data.size;
        return;
    case TELNET_EV_SEND:
        sink_->append(event.data.buffer, event.data.size);
        return;
    case TELNET_EV_DO:
        if (event.neg.telopt == kComPortOption && comPort_ != ComPort::Accepted) {
            comPort_ = ComPort::Accepted;
            // Line errors and ring/carrier changes, reported as they happen.
            const uint8_t lineMask = kOverrunError | kParityError | kFramingError | kBreakDetect;
            const uint8_t modemMask = kRingTrailingEdge | kDeltaCarrier;
            sendComPort(SetLineStateMask, &lineMask, 1);
            sendComPort(SetModemStateMask, &modemMask, 1);
            // A rate of 0 asks for the current one: the answer shows the server serves the line
            // (a server whose device is busy negotiates, then closes without answering).
            const uint8_t current[4] = {0, 0, 0, 0};
            sendComPort(SetBaudRate, current, sizeof current);
            if (haveLine_) {
                sendLine(line_);
            }
        }
        return;
    case TELNET_EV_DONT:
        if (event.neg.telopt == kComPortOption) {
            comPort_ = ComPort::Refused;
        }
        return;
    case TELNET_EV_SUBNEGOTIATION:
        if (event.sub.telopt == kComPortOption) {
            comPortReport(reinterpret_cast<const uint8_t*>(event.sub.buffer), event.sub.size);
        }
        return;
    case TELNET_EV_COMPRESS:
        failure_ = "the server started compression, which was never agreed";
        return;
    case TELNET_EV_ERROR:
        failure_ = event.error.msg ? event.error.msg : "Telnet protocol error";
        return;
    default:
        // Warnings (a stray command, say) leave the stream usable; other options were refused.
        return;
    }
}

void TelnetCodec::comPortReport(const uint8_t* body, std::size_t size) {
    if (size < 2 || body[0] <= kServerOffset) {
        return;
    }
    const uint8_t command = body[0] - kServerOffset;
    const uint8_t value = body[1];
    serverAnswered_ = true;
    switch (command) {
    case SetBaudRate:
        if (size >= 5) {
            serverLine_.baud = uint32_t{body[1]} << 24 | uint32_t{body[2]} << 16 | uint32_t{body[3]} << 8 | body[4];
        }
        return;
    case SetDataSize: serverLine_.dataSize = value; return;
    case SetParity: serverLine_.parity = value; return;
    case SetStopSize: serverLine_.stopSize = value; return;
    case NotifyLineState:
        counters_.overrun += (value & kOverrunError) != 0;
        counters_.parity += (value & kParityError) != 0;
        counters_.frame += (value & kFramingError) != 0;
        counters_.brk += (value & kBreakDetect) != 0;
        return;
    case NotifyModemState:
        counters_.ring += (value & kRingTrailingEdge) != 0;
        counters_.carrier += (value & kDeltaCarrier) != 0;
        return;
    default:
        return;
    }
}

} // namespace serial
