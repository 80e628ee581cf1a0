// vx538 restore: a configuration file put onto the converter, then read back and compared.
#include <CLI/CLI.hpp>

#include "cli/Steps.h"

namespace cli {

namespace {

class Restore : public FileCommand {
public:
    Restore()
        : FileCommand("restore",
                      "check the whole of FILE first (a wrong version, an unknown name or a value out "
                      "of range: nothing is sent), read the converter, send what differs (the line "
                      "settings last: RS485B, slave address, RS485), read back and compare") {}
    void define(CLI::App& app) override {
        FileCommand::define(app);
        app.add_flag("--all", all_, "send every set command, not only those that differ");
        app.add_flag("--dry-run", dryRun_, "print the frames that would be sent, send none");
    }

    void run(Session& session, Result& result) const override {
        result.account.emplace().next = "nothing was sent: run the same restore again";
        const profile::Configuration& target = backup_.values;
        const std::vector<std::size_t> restored = PresentIn(target);
        const ReadResult before = ReadConverter(session, QueriesFor(AllParameters(true)));
        const auto problems = ProblemsFor(before.problems, restored);
        if (!problems.empty() && !all_) {
            Unexpected(result, problems,
                       "the converter's values cannot all be read, so what differs is not known; "
                       "nothing was sent (--all sends everything without comparing)");
        }
        std::vector<profile::PlannedFrame> plan;
        try {
            plan = profile::PlanRestore(target, before.values, all_);
        } catch (const profile::BadValue& error) {
            throw Failure(code::Usage, std::string(error.what()) + "; nothing was sent");
        }
        if (dryRun_) {
            result.account.reset();
            result.data("would_send", Json::array());
            for (const auto& planned : plan) {
                result.append("would_send", FrameText(planned.frame), FrameText(planned.frame));
            }
            result.line(std::to_string(plan.size()) + " set commands would be sent");
            return;
        }
        if (plan.empty()) {
            result.account.emplace();
            result.line("the converter already holds every value of " + file_ + "; nothing sent");
            result.data("sent", Json::array());
            return;
        }
        SendPlan(session, result, plan, before.values, target,
                 "run the same restore again to finish: it sends what still differs");
        const ReadResult after = ReadConverter(session, QueriesFor(restored));
        const auto lines = Differences(result, profile::Compare(target, after.values));
        if (!lines.empty()) {
            std::string message =
                "read back, " + std::to_string(lines.size()) + " parameters differ from the file:";
            for (const std::string& line : lines) {
                message += "\n  " + line;
            }
            throw Failure(code::Unexpected, message);
        }
        result.line("restored " + std::to_string(plan.size()) + " set commands; read back, all " +
                    std::to_string(restored.size()) + " parameters match " + file_);
    }

private:
    bool all_ = false;
    bool dryRun_ = false;
};

} // namespace

std::unique_ptr<Command> MakeRestore() {
    return std::make_unique<Restore>();
}

} // namespace cli
