// The status line's texts, from the exchange's events and the frame interpreter's reading of them.
#include "exchange/ExchangeStatus.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "exchange/Rules.h"
#include "profile/Mapping.h"
#include "serial/PortUrl.h"
#include "tools/Conversions.h"
#include "tools/ModbusRequest.h"
#include "traffic/Interpreter.h"

namespace exchange {

namespace {

// What a verdict is called on the status line, where the kind of frame makes it precise: a checksum by
// its protocol, an acknowledgement or refusal as a set command's.
std::string verdictPhrase(const traffic::Reading& reading, int32_t pendingCommand) {
    using traffic::Verdict;
    static constexpr std::string_view kPhrases[] = {
        "received",         "reply good",      "acknowledged",        "refused",         "",
        "MODBUS exception", "reply cut short", "echo of the request", "unexpected reply"};
    const Verdict verdict = reading.verdict;
    if (verdict == Verdict::ChecksumWrong) {
        return reading.protocol == traffic::Protocol::Modbus ? "MODBUS CRC wrong"
               : reading.protocol == traffic::Protocol::Hart ? "HART check byte wrong"
                                                             : std::string(traffic::VerdictText(verdict));
    }
    const bool set = pendingCommand == pending::SetCommand &&
                     (verdict == Verdict::Acknowledged || verdict == Verdict::Refused);
    return (set ? "set " : "") + std::string(kPhrases[static_cast<std::size_t>(verdict)]);
}

std::string floatText(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    std::string text(buffer, result.ptr);
    // Numbers are shown with the decimal separator of the user's locale, as in the fields.
    std::replace(text.begin(), text.end(), '.', tools::DecimalSeparator());
    return text;
}

std::string secondsText(int ms) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d%c%d s", ms / 1000, tools::DecimalSeparator(), (ms % 1000) / 100);
    return buffer;
}

// "COM3 (/dev/ttyS2)", or the name alone when it is the path.
std::string PortText(std::string_view name, std::string_view path) {
    return std::string(name) + (path.empty() || path == name ? "" : " (" + std::string(path) + ")");
}

} // namespace

std::string_view ParityText(int parity) {
    static constexpr std::string_view kNames[] = {"None", "Odd", "Even", "Mark", "Space"};
    return parity >= 0 && parity < 5 ? kNames[parity] : std::string_view("?");
}

std::string ModbusVariablesText(std::span<const uint8_t> replyFrame, std::span<const uint8_t> request,
                                const WordOrders& orders) {
    if (request.size() < 6 || request[1] != tools::kReadHoldingRegisters || replyFrame.size() < 3 ||
        replyFrame[1] != tools::kReadHoldingRegisters) {
        return {};
    }
    const int first = profile::kFirstRegister + (request[2] << 8 | request[3]);
    const std::size_t dataBytes = std::min<std::size_t>(replyFrame[2], replyFrame.size() - 3);
    const std::vector<uint16_t> registers = tools::RegistersFromBytes(replyFrame.subspan(3, dataBytes));
    std::string out;
    for (int variable = 1; variable <= static_cast<int>(orders.size()); ++variable) {
        const auto& order = orders[static_cast<std::size_t>(variable - 1)];
        if (const auto value =
                order ? profile::VariableOfRegisters(registers, first, variable, *order) : std::nullopt) {
            out += (out.empty() ? "" : ", ") + std::to_string(variable) + " = " + floatText(*value);
        }
    }
    return out;
}

void ExchangeStatus::event(std::string text, bool fault) {
    event_ = std::move(text);
    fault_ = fault;
    note_ = false;
    blockShown_ = false;
}

void ExchangeStatus::portEvent(std::string port, std::string text, bool fault) {
    port_ = std::move(port);
    waiting_ = false;
    requestBytes_.clear();
    event(std::move(text), fault);
}

void ExchangeStatus::portOpened(std::string_view name, std::string_view path, uint32_t baud, int parity) {
    portEvent(PortText(name, path) + " open, " +
                  (serial::serverKeepsLineSettings(name)
                       ? std::string("the server's own line settings apply")
                       : std::to_string(baud) + " " + std::string(ParityText(parity))),
              {}, false);
}

void ExchangeStatus::portClosed(std::string_view name, std::string_view path) {
    portEvent(PortText(name, path) + " closed", {}, false);
}

void ExchangeStatus::portOpenFailed(std::string_view name, std::string_view path, std::string_view message) {
    portEvent(PortText(name, path) + " closed", "not opened: " + std::string(message), true);
}

void ExchangeStatus::portLost(std::string_view name, std::string_view path) {
    portEvent(PortText(name, path) + " lost, closed", serial::lostLineWords(name), true);
}

void ExchangeStatus::frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written,
                               bool awaitsReply, bool portOpen) {
    const std::string meaning = traffic::Read(frame, traffic::Direction::Sent, pendingCommand).meaning;
    if (!written) {
        event(std::string("not sent, ") + (portOpen ? "the port did not take it" : "the port is not open") +
                  ": " + meaning,
              true);
        return;
    }
    request_ = meaning;
    requestPending_ = pendingCommand;
    requestBytes_.assign(frame.begin(), frame.end());
    waiting_ = awaitsReply;
    event(awaitsReply ? std::string() : "sent: " + meaning, false);
}

void ExchangeStatus::blockReceived(std::span<const uint8_t> block, int32_t pendingCommand,
                                   const WordOrders& orders) {
    waiting_ = false;
    const traffic::Reading reading =
        traffic::Read(block, traffic::Direction::Received, pendingCommand, requestBytes_);
    std::string text = verdictPhrase(reading, pendingCommand) + ": ";
    if (pendingCommand == pending::ModbusTest && reading.verdict == traffic::Verdict::Good &&
        reading.frameOffset + reading.frameLength <= block.size()) {
        // The variables first: the registers' own listing is long, and the line is one line.
        const std::string variables = ModbusVariablesText(
            block.subspan(reading.frameOffset, reading.frameLength), requestBytes_, orders);
        if (!variables.empty()) {
            text += "variables as floats in the parse format's word order: " + variables + "; ";
        }
    }
    text += reading.meaning;
    replyMeaning_ = reading.meaning;
    event(std::move(text), traffic::IsFault(reading.verdict));
    blockShown_ = ReceiveActionFor(pendingCommand).startParse;
}

void ExchangeStatus::replyTimedOut(std::string_view message) {
    waiting_ = false;
    std::string text = "timeout: no reply to " + (request_.empty() ? std::string("the request") : request_);
    if (!message.empty()) {
        text += " (" + std::string(message) + ")";
    }
    event(std::move(text), true);
}

void ExchangeStatus::note(std::string_view text) {
    event(std::string(text), false);
    note_ = true;
}

void ExchangeStatus::requestRefused(std::string_view message) {
    event("not sent: " + std::string(message), true);
}

void ExchangeStatus::replyDecoded(int32_t, std::string_view error) {
    if (blockShown_ && !error.empty()) {
        event("decoding stopped: " + std::string(error), true);
    } else if (blockShown_ && !fault_) {
        // A fault found in the block (a wrong check byte) stays on show: decoding does not make it good.
        event("reply decoded: " + replyMeaning_, false);
    }
}

StatusText ExchangeStatus::text(int remainingMs) const {
    StatusText out{port_, event_, fault_, note_};
    if (waiting_) {
        out.event = "waiting for the reply to " + request_ + " (" +
                    traffic::PendingText(requestPending_, requestBytes_) + ")";
        if (remainingMs >= 0) {
            out.event += ", " + secondsText(remainingMs) + " left";
        }
        out.fault = false;
        out.noteText = false;
    }
    return out;
}

} // namespace exchange
