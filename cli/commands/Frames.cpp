// The commands that send one frame and show its reply: the communication query (ping), the set
// commands of the converter's tests and records (reset, factory, test-output, test-totalizer), a
// frame as typed (raw) and the MODBUS RTU read test (modbus read).
#include <CLI/CLI.hpp>

#include "cli/Steps.h"
#include "config/TextCommands.h"
#include "hart/HartFrames.h"
#include "tools/Bytes.h"
#include "tools/Conversions.h"
#include "tools/ModbusRequest.h"
#include "tools/RegisterValues.h"
#include "traffic/EventFormat.h"

namespace cli::commands {

namespace {

// A command that sends one set frame, built from its options before any port is opened, and shows it
// with its reply and its account.
Run sendsOne(std::string_view title, std::function<std::string()> build) {
    const auto frame = std::make_shared<std::string>();
    return {.prepare = [frame, build](const Globals&) { *frame = build(); },
            .port = [frame, title](Session& session,
                                   Result& result) { SendOne(session, result, *frame, title); }};
}

} // namespace

Run Ping(CLI::App& app) {
    app.description("send the communication query and show the reply");
    return {.port = [](Session& session, Result& result) {
        const Answer answer =
            session.request(config::communicationQueryFrame(), traffic::pending::SystemParameters, true,
                            "the communication query");
        // The reply the interpreter found in the block, without the noise around it.
        const std::string& block = answer.reply.bytes;
        const std::string reply(PlacedFrame(answer).value_or(block));
        std::string note = std::to_string(answer.reply.elapsed.count()) + " ms";
        if (reply.size() < block.size()) {
            note += ", " + std::to_string(block.size() - reply.size()) + " bytes of noise around it";
        }
        result.field("reply", {}, FrameText(reply) + "  (" + note + ")", FrameText(reply));
        result.data("block_hex", traffic::HexText(block));
        result.data("ms", answer.reply.elapsed.count());
    }};
}

Run Reset(CLI::App& app) {
    app.description(
        "parameter initialization: the converter's factory values (sent at once, no question asked)");
    return sendsOne("parameter initialization", [] { return config::parameterInitializationFrame(); });
}

Run Factory(CLI::App& app) {
    app.description("write the factory record (board serial number and inspector)");
    const auto record = std::make_shared<std::pair<std::string, std::string>>();
    app.add_option("--pcbsn", record->first, "board serial number, 0..99999999")->required();
    app.add_option("--inspector", record->second, "inspector number, 0..999")->required();
    return sendsOne("factory record",
                    [record] { return config::factoryRecordFrame(record->first, record->second); });
}

Run TestOutput(CLI::App& app) {
    app.description("drive analog output N (0..7, DOUTA0..DOUTA7) to VALUE");
    const auto test = std::make_shared<std::pair<int, std::string>>(0, "");
    app.add_option("N", test->first, "output 0..7")->required()->check(CLI::Range(0, 7));
    app.add_option("VALUE", test->second, "test value 0..999.9, sent as typed")->required();
    return sendsOne("output test", [test] {
        const double value = tools::StrToFloat(test->second);
        if (value < 0 || value > 999.9) {
            throw Failure(code::Usage,
                          "output test value " + profile::Quoted(test->second) + " is outside 0..999.9");
        }
        return config::outputTestFrame(test->first, test->second);
    });
}

Run TestTotalizer(CLI::App& app) {
    app.description("drive the totalizer output to VALUE (0..999999999)");
    const auto value = std::make_shared<std::string>();
    app.add_option("VALUE", *value, "totalizer test value")->required();
    return sendsOne("totalizer test", [value] {
        tools::StrToIntUpTo(*value, 999999999, "Totalizer test value");
        return config::totalizerTestFrame(*value);
    });
}

Run Raw(CLI::App& app) {
    app.description("send TEXT (or --hex BYTES) as it stands and show the reply");
    struct Options {
        std::string text, hex, frame;
    };
    const auto o = std::make_shared<Options>();
    app.add_option("TEXT", o->text, "a frame of text, e.g. 'QQQ#QX1#'");
    app.add_option("--hex", o->hex, "the frame as hex bytes, e.g. '51 51 51 23 51 56 23'");
    return {.prepare =
                [o](const Globals&) {
                    if (o->text.empty() == o->hex.empty()) {
                        throw Failure(code::Usage, "raw needs TEXT or --hex BYTES");
                    }
                    o->frame = o->hex.empty() ? o->text
                                              : HexArgument(o->hex, static_cast<int>(hart::kMaxFrameLength),
                                                            "51 51 51 23 51 56 23");
                },
            .port =
                [o](Session& session, Result& result) {
                    const Answer answer =
                        session.request(o->frame, traffic::pending::None, false, "the frame");
                    ShowExchange(result, o->frame, answer);
                    result.field({}, "text", FrameText(answer.reply.bytes), {}, " ");
                    result.field({}, "meaning", answer.reading.meaning, {}, " ");
                    result.data("verdict", traffic::VerdictText(answer.reading.verdict));
                }};
}

Run ModbusRead(CLI::App& app) {
    app.description("read holding registers and show them with the CRC verdict");
    struct Options {
        std::string slave = "1", start = "0", count = "18", frame;
    };
    const auto o = std::make_shared<Options>();
    app.add_option("--slave", o->slave, "slave address 0..255 (default 1)");
    app.add_option("--start", o->start, "start address 0..65535 (default 0, register 40001)");
    app.add_option("--count", o->count, "register count 0..65535 (default 18)");
    return {.prepare =
                [o](const Globals&) {
                    o->frame = std::string(
                        tools::asText(tools::ReadHoldingRegistersRequest(o->slave, o->start, o->count)));
                },
            .port =
                [o](Session& session, Result& result) {
                    const Answer answer =
                        session.request(o->frame, traffic::pending::ModbusTest, true, "the MODBUS read");
                    const traffic::Reading& reading = answer.reading;
                    ShowExchange(result, o->frame, answer);
                    // The interpreter's one line, a clause per line.
                    std::string meaning = reading.meaning;
                    for (std::size_t at; (at = meaning.find("; ")) != std::string::npos;) {
                        result.line("  " + meaning.substr(0, at));
                        meaning.erase(0, at + 2);
                    }
                    result.line("  " + meaning);
                    result.data("verdict", traffic::VerdictText(reading.verdict));
                    if (reading.verdict == traffic::Verdict::Good && reading.frameLength >= 5) {
                        // The registers of the frame the interpreter found: after slave, function and byte
                        // count.
                        result.data("registers",
                                    tools::RegistersFromBytes(
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
                        throw Failure(code::Unexpected,
                                      "no good MODBUS reply (" +
                                          std::string(traffic::VerdictText(reading.verdict)) + ")");
                    }
                }};
}

} // namespace cli::commands
