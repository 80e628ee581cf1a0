// vx538 modbus read: the MODBUS RTU read test, registers shown with the CRC verdict.
#include <CLI/CLI.hpp>

#include "cli/Steps.h"
#include "tools/Bytes.h"
#include "tools/ModbusRequest.h"
#include "tools/RegisterValues.h"

namespace cli {

namespace {

class ModbusRead : public Command {
public:
    ModbusRead() : Command("modbus read", "read holding registers and show them with the CRC verdict") {}
    void define(CLI::App& app) override {
        app.add_option("--slave", slave_, "slave address 0..255 (default 1)");
        app.add_option("--start", start_, "start address 0..65535 (default 0, register 40001)");
        app.add_option("--count", count_, "register count 0..65535 (default 18)");
    }
    void prepare(const Globals&) override {
        frame_ = std::string(tools::asText(tools::ReadHoldingRegistersRequest(slave_, start_, count_)));
    }

    void run(Session& session, Result& result) const override {
        const ReplyShape shape{ReplyShape::Kind::Request, traffic::pending::ModbusTest};
        const Answer answer =
            session.request(frame_, shape, traffic::pending::ModbusTest, true, "the MODBUS read");
        const traffic::Reading& reading = answer.reading;
        ShowExchange(result, frame_, answer);
        // The interpreter's one line, a clause per line.
        std::string meaning = reading.meaning;
        for (std::size_t at; (at = meaning.find("; ")) != std::string::npos;) {
            result.line("  " + meaning.substr(0, at));
            meaning.erase(0, at + 2);
        }
        result.line("  " + meaning);
        result.data("verdict", traffic::VerdictText(reading.verdict));
        if (reading.verdict == traffic::Verdict::Good && reading.frameLength >= 5) {
            // The registers of the frame the interpreter found: after slave, function and byte count.
            result.data("registers", tools::RegistersFromBytes(
                                         tools::bytesOf(answer.reply.bytes)
                                             .subspan(reading.frameOffset + 3, reading.frameLength - 5)));
        }
        switch (reading.verdict) {
        case traffic::Verdict::Good:
            return;
        case traffic::Verdict::ChecksumWrong:
            throw Failure(code::ModbusFault, "the MODBUS reply failed its CRC");
        case traffic::Verdict::Exception:
            throw Failure(code::ModbusFault, "the MODBUS reply is an exception");
        default:
            throw Failure(code::Unexpected, "no good MODBUS reply (" +
                                                std::string(traffic::VerdictText(reading.verdict)) + ")");
        }
    }

private:
    std::string slave_ = "1", start_ = "0", count_ = "18";
    std::string frame_;
};

} // namespace

std::unique_ptr<Command> MakeModbusRead() {
    return std::make_unique<ModbusRead>();
}

} // namespace cli
