// Set commands with their account, and Write All / restore around them.
#include "jobs/Write.h"

#include "profile/Parameters.h"
#include "tools/Conversions.h"

namespace jobs {

namespace {

// What a line setting sent without an answer may have changed, and how the converter is reached then.
std::string mayHold(const profile::Setter& setter, const profile::Configuration& values) {
    const auto port = [&](std::string_view name, std::string_view prefix) {
        const std::string baud = values.value(std::string(prefix) + ".baud").value_or("?");
        const std::string parity = values.value(std::string(prefix) + ".parity").value_or("?");
        return "the converter may now run its " + std::string(name) + " port at " + baud + " baud, parity " +
               parity + ": reach it there with --baud " + baud + " --parity " + parity;
    };
    switch (setter.kind) {
    case profile::SetKind::Rs485:
        return port("RS485", "rs485");
    case profile::SetKind::Rs485B:
        return port("RS485B", "rs485b");
    case profile::SetKind::SlaveAddress: {
        const std::string address = values.value("modbus.address").value_or("?");
        return "the converter may now answer MODBUS as slave " + address + " (vx538 modbus read --slave " +
               address + ")";
    }
    default:
        return {};
    }
}

// The RS485 settings a configuration holds, when it holds both and the baud rate is a number.
std::optional<Request::LineSettings> rs485Of(const profile::Configuration& values) {
    const auto& baud = values.value("rs485.baud");
    const auto& parity = values.value("rs485.parity");
    if (!baud || !parity) {
        return std::nullopt;
    }
    try {
        return Request::LineSettings{static_cast<uint32_t>(tools::StrToInt(*baud)), *parity};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

std::vector<SetCommand> SetCommandsOf(const std::vector<profile::PlannedFrame>& plan,
                                      const profile::Configuration& merged) {
    std::vector<SetCommand> out;
    for (const profile::PlannedFrame& planned : plan) {
        const profile::Setter& setter = profile::Setters()[planned.setter];
        SetCommand command{setter.key, setter.title, planned.frame, std::nullopt, mayHold(setter, merged)};
        if (setter.kind == profile::SetKind::Rs485) {
            command.rs485 = rs485Of(merged);
        }
        out.push_back(std::move(command));
    }
    return out;
}

SendJob::SendJob(SendOptions options) : options_(std::move(options)) {
    for (const SetCommand& c : options_.commands) {
        result_.account.notSent.push_back({c.key, c.title});
    }
}

Script::Body SendJob::run() {
    Account& account = result_.account;
    std::optional<Request::LineSettings> line = options_.line;
    for (const SetCommand& command : options_.commands) {
        account.inFlight = account.notSent.front();
        account.notSent.erase(account.notSent.begin());
        Request request;
        request.frame = command.frame;
        request.pending = traffic::pending::SetCommand;
        request.what = command.title;
        const Outcome outcome = co_await ask(request);
        const bool heard =
            outcome.kind != Outcome::Kind::Silence && outcome.kind != Outcome::Kind::LineLost &&
            outcome.kind != Outcome::Kind::NotSent && outcome.kind != Outcome::Kind::Interrupted;
        if (heard) {
            result_.sent.push_back({command.key, command.frame, outcome.block,
                                    std::string(traffic::VerdictText(outcome.reading.verdict))});
        }
        if (outcome.whole()) {
            account.acknowledged.push_back(*account.inFlight);
            account.inFlight.reset();
            if (command.rs485 && line && *command.rs485 != *line) {
                line = command.rs485;
                followLine(*line);
                result_.notes.push_back("the line now runs at " + std::to_string(line->baud) +
                                        " baud, parity " + line->parity +
                                        ", as the converter's RS485 port does");
            }
            continue;
        }
        Stop stop = StopOf(request, outcome);
        switch (outcome.kind) {
        case Outcome::Kind::Refused:
            account.refused.push_back(*account.inFlight);
            account.inFlight.reset();
            stop.text = "the converter refused " + command.title + ": " + FrameText(outcome.block);
            break;
        case Outcome::Kind::Cut:
        case Outcome::Kind::Damaged:
        case Outcome::Kind::Unexpected:
            // A late reply to an earlier command, or a reply cut short, says nothing of this one.
            stop.text = "no answer to " + command.title + " of its own: what came (" +
                        FrameText(outcome.block) + ") echoes another command or none";
            break;
        default:
            break;
        }
        if (!outcome.sent) {
            account.notSent.insert(account.notSent.begin(), *account.inFlight);
            account.inFlight.reset();
        }
        if (account.inFlight) {
            account.mayHold = command.mayHold;
        }
        account.next =
            (account.mayHold.empty() ? "" : "reach the converter as said above, then ") + options_.again;
        for (const Account::Command& c : account.notSent) {
            stop.notReached.push_back(c.title);
        }
        result_.stop = std::move(stop);
        co_return;
    }
}

bool WriteJob::stopped(const std::optional<Stop>& stop) {
    if (stop) {
        result_.end = WriteResult::End::Stopped;
        result_.stop = stop;
    }
    return stop.has_value();
}

Script::Body WriteJob::run() {
    using End = WriteResult::End;
    ReadAllJob before({options_.readFirst});
    co_await drive(before);
    result_.before = before.result();
    if (stopped(result_.before.stop)) {
        co_return;
    }
    result_.problems = ProblemsFor(result_.before.problems, options_.mustRead);
    if (!result_.problems.empty() && !options_.anyway) {
        result_.end = End::Unreadable;
        co_return;
    }
    try {
        result_.plan = profile::PlanRestore(options_.target, result_.before.values, options_.all);
    } catch (const profile::BadValue& error) {
        result_.end = End::BadPlan;
        result_.badPlan = error.what();
        co_return;
    }
    if (options_.dryRun || result_.plan.empty()) {
        result_.end = options_.dryRun ? End::Planned : End::NothingToDo;
        co_return;
    }
    profile::Configuration merged = result_.before.values;
    merged.merge(options_.target);
    // The line follows the converter's RS485 port only when it runs at that port's settings now.
    const bool lineIsRs485 = options_.line && rs485Of(result_.before.values) == options_.line;
    SendJob send(
        {SetCommandsOf(result_.plan, merged), lineIsRs485 ? options_.line : std::nullopt, options_.again});
    co_await drive(send);
    result_.send = send.result();
    if (stopped(result_.send.stop)) {
        co_return;
    }
    ReadAllJob back({options_.readBack});
    co_await drive(back);
    result_.after = back.result();
    if (stopped(result_.after.stop)) {
        co_return;
    }
    result_.differences = profile::Compare(options_.target, result_.after.values);
    result_.end = result_.differences.empty() ? End::Done : End::Differs;
}

} // namespace jobs
