// RFC 2217 over libtelnet.
#include "serial/TelnetCodec.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "serial/LineTypes.h"

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
    PurgeData = 12,
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

// Telnet's own bytes, as far as the bound on subnegotiations needs them.
constexpr uint8_t kIac = 255;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;
constexpr uint8_t kWill = 251;
constexpr uint8_t kDont = 254;

// Confirmations kept waiting per setting at most: a server that never answers costs no more.
constexpr std::size_t kMaxAsked = 16;
// Differences kept until they are taken, at most.
constexpr std::size_t kMaxDifferences = 32;

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

// What a SET-CONTROL value sets, in words; the same words say what was asked and what was set.
struct ControlWords {
    uint8_t value;
    const char* words;
};
constexpr ControlWords kControlWords[] = {
    {OutboundNone, "no outbound flow control"},      {OutboundXonXoff, "outbound XON/XOFF"},
    {OutboundHardware, "outbound RTS/CTS"},          {17, "outbound DCD flow control"},
    {19, "outbound DSR flow control"},               {InboundNone, "no inbound flow control"},
    {InboundXonXoff, "inbound XON/XOFF"},            {InboundHardware, "inbound RTS/CTS"},
    {18, "inbound DTR flow control"},                {DtrOn, "DTR on"},
    {DtrOff, "DTR off"},                             {RtsOn, "RTS on"},
    {RtsOff, "RTS off"},
};

std::string controlText(uint32_t value) {
    for (const ControlWords& c : kControlWords) {
        if (c.value == value) {
            return c.words;
        }
    }
    return "control value " + std::to_string(value);
}

std::string parityText(uint32_t number) {
    return number >= 1 && number <= 5 ? std::string(parityName(static_cast<TParity>(number - 1)).word)
                                      : "number " + std::to_string(number);
}

std::string stopText(uint32_t number) {
    switch (number) {
    case 1: return "1 stop bit";
    case 2: return "2 stop bits";
    case 3: return "1.5 stop bits";
    default: return "stop size " + std::to_string(number);
    }
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
    if (!telnet_ || size == 0 || !failure_.empty()) {
        return 0;
    }
    // libtelnet ends an over-long subnegotiation with a mere warning and takes the rest of its body
    // for data; so the bound is kept here, before it sees a byte past it.
    const std::size_t taken = scan(bytes, size);
    data_ = data;
    dataRoom_ = size;
    dataCount_ = 0;
    telnet_recv(telnet_, reinterpret_cast<const char*>(bytes), taken);
    data_ = nullptr;
    controlBytes_ += taken - std::min(taken, dataCount_ + escapes_);
    if (taken < size && failure_.empty()) {
        failure_ = "the server sent a Telnet subnegotiation longer than " + std::to_string(kMaxSubnegotiation) +
                   " bytes, which no serial device server sends; none of it is taken for line data";
    }
    return dataCount_;
}

std::size_t TelnetCodec::scan(const uint8_t* bytes, std::size_t size) {
    // What a byte after IAC starts, as libtelnet reads it.
    const auto afterIac = [this](uint8_t b) {
        if (b == kSb) {
            scanState_ = ScanState::Sub;
            subLength_ = 0;
        } else if (b >= kWill && b <= kDont) {
            scanState_ = ScanState::Option;
        } else {
            scanState_ = ScanState::Data; // a command, or IAC IAC: a data byte 0xFF
        }
    };
    escapes_ = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const uint8_t b = bytes[i];
        switch (scanState_) {
        case ScanState::Data:
            if (b == kIac) {
                scanState_ = ScanState::Iac;
            }
            break;
        case ScanState::Iac:
            escapes_ += b == kIac;
            afterIac(b);
            break;
        case ScanState::Option:
            scanState_ = ScanState::Data;
            break;
        case ScanState::Sub:
        case ScanState::SubIac:
            if (scanState_ == ScanState::Sub && b == kIac) {
                scanState_ = ScanState::SubIac;
                break;
            }
            if (scanState_ == ScanState::SubIac && b == kSe) {
                scanState_ = ScanState::Data;
                break;
            }
            if (scanState_ == ScanState::SubIac && b != kIac) {
                afterIac(b); // libtelnet ends the subnegotiation there and reads b as a command
                break;
            }
            scanState_ = ScanState::Sub; // a body byte (IAC IAC in a body is one 0xFF)
            if (++subLength_ > kMaxSubnegotiation) {
                return i;
            }
            break;
        }
    }
    return size;
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

void TelnetCodec::purge(QueueSide side) {
    if (!telnet_ || comPort_ != ComPort::Accepted) {
        return;
    }
    const uint8_t which = side == QueueSide::Input ? 1 : side == QueueSide::Output ? 2 : 3;
    sendComPort(PurgeData, &which, 1);
}

std::vector<std::string> TelnetCodec::takeDifferences() {
    std::vector<std::string> out;
    out.swap(differences_);
    return out;
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

void TelnetCodec::sendAsked(Item item, uint8_t command, uint32_t value, std::size_t width) {
    std::deque<std::optional<uint32_t>>& asked = asked_[item];
    if (asked.size() >= kMaxAsked) {
        asked.pop_front();
    }
    // A zero rate asks the server for its current one: nothing to compare its answer with.
    asked.push_back(command == SetBaudRate && value == 0 ? std::nullopt : std::optional<uint32_t>(value));
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    sendComPort(command, bytes + sizeof bytes - width, width);
}

void TelnetCodec::sendLine(const LineSettings& s) {
    if (s.baudRate != 0) {
        sendAsked(Baud, SetBaudRate, s.baudRate, 4);
    }
    sendAsked(DataSize, SetDataSize, static_cast<uint32_t>(s.byteSize) + 5, 1);
    sendAsked(Parity, SetParity, parityNumber(s.parity), 1);
    sendAsked(StopSize, SetStopSize, stopSizeNumber(s.stopBits), 1);
    const bool hardware = s.outxCtsFlow || s.rtsControl == TRtsControl::RtsHandshake;
    sendAsked(OutboundFlow, SetControl,
              hardware ? OutboundHardware : s.outxXonXoffFlow ? OutboundXonXoff : OutboundNone, 1);
    sendAsked(InboundFlow, SetControl, hardware ? InboundHardware : s.inxXonXoffFlow ? InboundXonXoff : InboundNone,
              1);
    // As on a local port: no DTR handshake of its own, and RTS idles low where it is meant to be
    // raised only while sending (the server cannot time it to our bytes).
    sendAsked(Dtr, SetControl, s.dtrControl == TDtrControl::DtrDisable ? DtrOff : DtrOn, 1);
    if (!hardware) {
        const bool rtsRaised = s.rtsControl == TRtsControl::RtsEnable;
        sendAsked(Rts, SetControl, rtsRaised ? RtsOn : RtsOff, 1);
    }
}

void TelnetCodec::confirmed(Item item, uint32_t value) {
    std::deque<std::optional<uint32_t>>& asked = asked_[item];
    if (asked.empty()) {
        return; // a report nobody asked for
    }
    const std::optional<uint32_t> wanted = asked.front();
    asked.pop_front();
    if (!wanted || *wanted == value || differences_.size() >= kMaxDifferences) {
        return;
    }
    std::string set;
    std::string was;
    switch (item) {
    case Baud:
        set = std::to_string(value) + " baud";
        was = std::to_string(*wanted);
        break;
    case DataSize:
        set = std::to_string(value) + " data bits";
        was = std::to_string(*wanted);
        break;
    case Parity:
        set = "parity " + parityText(value);
        was = parityText(*wanted);
        break;
    case StopSize:
        set = stopText(value);
        was = stopText(*wanted);
        break;
    default:
        set = controlText(value);
        was = controlText(*wanted);
        break;
    }
    differences_.push_back("the server set " + set + " where " + was + " was asked");
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
            sendAsked(Baud, SetBaudRate, 0, 4);
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
            confirmed(Baud, serverLine_.baud);
        }
        return;
    case SetDataSize:
        serverLine_.dataSize = value;
        confirmed(DataSize, value);
        return;
    case SetParity:
        serverLine_.parity = value;
        confirmed(Parity, value);
        return;
    case SetStopSize:
        serverLine_.stopSize = value;
        confirmed(StopSize, value);
        return;
    case SetControl:
        if (value <= OutboundHardware || value == 17 || value == 19) {
            confirmed(OutboundFlow, value);
        } else if ((value >= 13 && value <= InboundHardware) || value == 18) {
            confirmed(InboundFlow, value);
        } else if (value >= 7 && value <= DtrOff) {
            confirmed(Dtr, value);
        } else if (value >= 10 && value <= RtsOff) {
            confirmed(Rts, value);
        }
        return;
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
