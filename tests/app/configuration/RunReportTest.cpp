// What a run of the configuration entries says at its end, without a window: Write All's account of
// its set commands wherever it stopped, and Compare's differences told apart from what could not be
// read.
#include <gtest/gtest.h>

#include "app/configuration/RunReport.h"

namespace {

using app::RunState;
namespace pending = exchange::pending;

// A value its parameter takes, whatever it is: enough for the texts.
std::string someValue(const profile::Parameter& p) {
    switch (p.kind) {
    case profile::Kind::Choice:
    case profile::Kind::NumericChoice:
        return std::string(p.choices[0].name);
    case profile::Kind::Integer:
        return std::to_string(p.minimum);
    case profile::Kind::Coefficient:
        return "1.000";
    case profile::Kind::HexBytes:
        return "01";
    case profile::Kind::Float:
    case profile::Kind::Text:
        break;
    }
    return "0";
}

// Write All's set phase over the first four set commands, played up to where `stop` leaves it.
RunState writeAll(const std::function<void(exchange::RequestSequence&, RunState&)>& stop) {
    RunState run;
    run.kind = RunState::Kind::WriteAll;
    run.operation = QStringLiteral("Write All");
    std::vector<exchange::SequenceStep> steps;
    for (std::size_t s = 0; s < 4; ++s) {
        steps.push_back({std::string(profile::Setters()[s].title), pending::SetCommand});
        run.frames.push_back("F" + std::to_string(s));
        run.setters.push_back(s);
        for (const std::size_t p : profile::ParametersOf(s)) {
            run.sent.set(p, someValue(profile::Parameters()[p]));
        }
    }
    run.sequence = std::make_unique<exchange::RequestSequence>(std::move(steps), true);
    stop(*run.sequence, run);
    return run;
}

void send(exchange::RequestSequence& s) {
    s.sending();
    s.frameSent(true);
    s.sendFinished();
}

void acknowledge(exchange::RequestSequence& s, int count) {
    for (int i = 0; i < count; ++i) {
        send(s);
        s.blockHandled(pending::SetCommand);
    }
}

std::string title(std::size_t setter) {
    return std::string(profile::Setters()[setter].title);
}

TEST(RunReport, WriteAllAccountsForEverySetCommandWhereverItStopped) {
    const struct {
        const char* what;
        std::function<void(exchange::RequestSequence&, RunState&)> stop;
        std::string text;
        std::string detail;
    } rows[] = {
        {"no reply midway",
         [](auto& s, auto&) {
             acknowledge(s, 2);
             send(s);
             s.timeoutHandled("Parameter Setting Timeout!");
         },
         "Write All stopped: Parameter Setting Timeout! No reply came to the set command of the " + title(2) +
             " (F2). 2 of 4 set commands were sent and acknowledged, 1 was sent without an answer (the "
             "converter "
             "may have taken it), 1 not sent. The converter is partly configured: press Write All again to "
             "finish.",
         "Sent and acknowledged: " + title(0) + ", " + title(1) + "\nSent without an answer: " + title(2) +
             "\nNot sent: " + title(3)},
        {"refused",
         [](auto& s, RunState& run) {
             acknowledge(s, 1);
             send(s);
             run.rejected =
                 traffic::Reading{"reply QQS#MD:ERR#: the command was refused", traffic::Verdict::Refused};
             s.replyRejected(pending::SetCommand, "refused");
         },
         "Write All stopped: the converter refused the set command of the " + title(1) +
             " (F1) (reply QQS#MD:ERR#: the command was refused). 1 of 4 set commands were sent and "
             "acknowledged, "
             "1 was refused, 2 not sent. The converter is partly configured: press Write All again to "
             "finish.",
         "Sent and acknowledged: " + title(0) + "\nRefused: " + title(1) + "\nNot sent: " + title(2) + ", " +
             title(3)},
        {"cancelled between two set commands",
         [](auto& s, auto&) {
             acknowledge(s, 3);
             s.cancel();
         },
         "Write All was cancelled. 3 of 4 set commands were sent and acknowledged, 1 not sent. The converter "
         "is "
         "partly configured: press Write All again to finish.",
         "Sent and acknowledged: " + title(0) + ", " + title(1) + ", " + title(2) +
             "\nNot sent: " + title(3)},
        {"the port closed while the first waited",
         [](auto& s, auto&) {
             send(s);
             s.portClosed();
         },
         "Write All stopped: the port was closed. 0 of 4 set commands were sent and acknowledged, 1 was sent "
         "without an answer (the converter may have taken it), 3 not sent. The converter is partly "
         "configured: "
         "press Write All again to finish.",
         "Sent without an answer: " + title(0) + "\nNot sent: " + title(1) + ", " + title(2) + ", " +
             title(3)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const RunState run = writeAll(row.stop);
        const auto message = app::RunReport(run, {9600, "None"});
        ASSERT_TRUE(message.has_value());
        EXPECT_EQ(message->text.toStdString(), row.text);
        EXPECT_EQ(message->detail.toStdString(), row.detail);
    }
}

TEST(RunReport, CompareCountsWhatCouldNotBeReadApartFromWhatDiffers) {
    const std::size_t address = profile::ParameterIndex("modbus.address");
    const std::size_t interval = profile::ParameterIndex("modbus.interval");
    const std::size_t mode = profile::ParameterIndex("mode");
    const struct {
        const char* what;
        std::vector<std::pair<std::size_t, const char*>> read;
        std::string text;
        std::string detail;
    } rows[] = {
        {"one differs, one was not read",
         {{address, "7"}, {interval, "30"}},
         "1 parameter(s) of the converter differ from f.json, 1 could not be read:",
         "modbus.interval: file 25, converter 30\n\nCould not be read: mode"},
        {"only not read",
         {{address, "7"}, {interval, "25"}},
         "No parameter of the converter that could be read differs from f.json; 1 could not be read:",
         "Could not be read: mode"},
        {"all read, all alike",
         {{address, "7"}, {interval, "25"}, {mode, "transparent"}},
         "No parameter of the converter differs from f.json.",
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        RunState run;
        run.kind = RunState::Kind::Compare;
        run.fileName = QStringLiteral("f.json");
        run.file.values.set(address, "7");
        run.file.values.set(interval, "25");
        run.file.values.set(mode, "transparent");
        for (const auto& [p, value] : row.read) {
            run.readBack.set(p, value);
        }
        run.sequence = std::make_unique<exchange::RequestSequence>(std::vector<exchange::SequenceStep>{}, true);
        const auto message = app::RunReport(run, {9600, "None"});
        ASSERT_TRUE(message.has_value());
        EXPECT_EQ(message->text.toStdString(), row.text);
        EXPECT_EQ(message->detail.toStdString(), row.detail);
    }
}

} // namespace
