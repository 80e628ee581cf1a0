// Steps of the commissioning commands.
#include "cli/Commissioning.h"

#include "cli/Steps.h"
#include "config/TextCommands.h"
#include "hart/HartFrames.h"
#include "profile/Parameters.h"
#include "tools/Bytes.h"

namespace cli {

namespace {

const profile::Parameter& modeParameter() {
    return profile::Parameters()[profile::ParameterIndex("mode")];
}

// One attempt at the mode set command; true when the converter acknowledged it.
bool sendMode(Session& session, int mode) {
    const Answer answer = session.request(config::workingModeFrame(mode),
                                          {ReplyShape::Kind::Request, traffic::pending::SetCommand},
                                          traffic::pending::SetCommand, false, "the working mode");
    return answer.reading.verdict == traffic::Verdict::Acknowledged;
}

} // namespace

std::string ModeName(int mode) {
    const auto& choices = modeParameter().choices;
    if (mode < 0 || static_cast<std::size_t>(mode) >= choices.size()) {
        return "mode " + std::to_string(mode);
    }
    return std::string(choices[static_cast<std::size_t>(mode)].name);
}

ConverterMapping ReadMapping(Session& session, Result& result) {
    const ReadResult read =
        ReadConverter(session, {profile::Query::QX1, profile::Query::QX3, profile::Query::QX4});
    ConverterMapping out;
    try {
        out.mapping = profile::MappingOf(read.values);
        const auto& mode = read.values.value("mode");
        const std::optional<int> index = mode ? profile::ChoiceIndex(modeParameter(), *mode) : std::nullopt;
        if (!index) {
            throw profile::BadValue("mode: not read from the converter");
        }
        out.mode = *index;
    } catch (const profile::BadValue& error) {
        if (read.problems.empty()) {
            throw Failure(code::Unexpected,
                          std::string("the converter's configuration cannot be read: ") + error.what());
        }
        Unexpected(result, read.problems, "the converter's configuration cannot be read");
    }
    return out;
}

profile::HartReply SendHartBody(Session& session, Result& result, const std::vector<uint8_t>& body,
                                std::string_view preambles, std::string_view what) {
    const std::vector<uint8_t> frame = hart::ManualFrame(preambles, body);
    const Answer answer =
        HartRequest(session, result, tools::asText(frame), traffic::pending::HartManual, what);
    const auto placed = PlacedFrame(answer);
    profile::HartReply reply = profile::ReadHartReply(tools::bytesOf(placed.value_or(answer.reply.bytes)));
    if (!reply.ok()) {
        throw Failure(code::Unexpected,
                      "the reply to " + std::string(what) + " is unreadable: " + reply.problem);
    }
    return reply;
}

std::optional<std::vector<uint16_t>> PollVariableRegisters(Session& session, int slaveAddress,
                                                           Answer* answer) {
    const std::vector<uint8_t> request = profile::VariablesRequest(slaveAddress);
    Answer made =
        session.request(tools::asText(request), {ReplyShape::Kind::Request, traffic::pending::ModbusTest},
                        traffic::pending::ModbusTest, true, "the MODBUS read of 40003-40018");
    const auto placed = PlacedFrame(made);
    std::optional<std::vector<uint16_t>> registers;
    if (made.reading.verdict == traffic::Verdict::Good && placed) {
        registers = profile::RegistersOfReply(tools::bytesOf(*placed), request);
    }
    if (answer) {
        *answer = std::move(made);
    }
    return registers;
}

std::vector<uint16_t> ReadVariableRegisters(Session& session, int slaveAddress) {
    Answer answer;
    if (auto registers = PollVariableRegisters(session, slaveAddress, &answer)) {
        return *registers;
    }
    const int failure = answer.reading.verdict == traffic::Verdict::ChecksumWrong ||
                                answer.reading.verdict == traffic::Verdict::Exception
                            ? code::ModbusFault
                            : code::Unexpected;
    throw Failure(failure, "no good reply to the MODBUS read of 40003-40018 at slave " +
                               std::to_string(slaveAddress) + ": " + answer.reading.meaning);
}

bool PutModeBack(Session& session, Result& result, int mode, int attempts) {
    std::optional<serial::EventFd> ownStop;
    std::optional<Session> own;
    const std::string frame = config::workingModeFrame(mode);
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        try {
            if (sendMode(own ? *own : session, mode)) {
                result.line("working mode: " + frame + " -> put back to " + ModeName(mode));
                return true;
            }
        } catch (const Failure& failure) {
            if (failure.code() == code::Interrupted && !own) {
                // Ctrl+C stops every wait on the shared stop event: the mode goes back over a line that
                // does not listen to it.
                LineOptions options = session.line().options();
                session.line().close();
                ownStop.emplace();
                ownStop->create();
                own.emplace(options, *ownStop, nullptr);
                try {
                    own->open();
                } catch (const Failure&) {
                    return false;
                }
                --attempt;
                continue;
            }
            if (failure.code() == code::PortUnusable) {
                return false;
            }
        }
    }
    return false;
}

} // namespace cli
