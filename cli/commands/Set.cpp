// vx538 set: values sent with the set commands that carry them, then read back.
#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "cli/Steps.h"

namespace cli {

namespace {

class Set : public Command {
public:
    Set() : Command("set", "set parameters, then read them back and say whether they took") {}
    void define(CLI::App& app) override {
        app.add_option("NAME=VALUE", assignments_, "e.g. rs485.baud=19200 mode=single-meter ao3.variable=2")
            ->required();
    }

    void prepare(const Globals&) override {
        if (assignments_.empty()) {
            throw Failure(code::Usage, "set needs NAME=VALUE");
        }
        for (const std::string& assignment : assignments_) {
            const auto equals = assignment.find('=');
            if (equals == std::string::npos) {
                throw Failure(code::Usage, profile::Quoted(assignment) + " is not NAME=VALUE");
            }
            const std::string name = assignment.substr(0, equals);
            const std::size_t index = profile::ParameterIndex(name);
            if (values_.has(index)) {
                throw Failure(code::Usage, std::string(profile::Parameters()[index].name) +
                                               " is given twice; give each parameter once");
            }
            if (!profile::Parameters()[index].restorable) {
                throw Failure(code::Usage,
                              name + " is reported by the converter but no command sets it (test-output "
                                     "and test-totalizer drive the outputs)");
            }
            values_.setTyped(name, assignment.substr(equals + 1));
        }
    }

    void run(Session& session, Result& result) const override {
        result.account.emplace().next = "nothing was sent: run the same set again";
        const std::vector<std::size_t> named = PresentIn(values_);
        // The set commands also carry the other parameters of their frame: read those first.
        std::vector<std::size_t> carried;
        for (const std::size_t p : named) {
            for (const std::size_t q : profile::ParametersOf(*profile::SetterOf(p))) {
                carried.push_back(q);
            }
        }
        const auto queries = QueriesFor(carried);
        const ReadResult before = ReadConverter(session, queries);
        const auto problems = ProblemsFor(before.problems, carried);
        if (!problems.empty()) {
            Unexpected(result, problems, "the values sent with these cannot be read");
        }
        SendPlan(session, result, profile::PlanRestore(values_, before.values, true), before.values, values_,
                 "run the same set again");

        const ReadResult after = ReadConverter(session, queries);
        Json took = Json::object();
        bool allTook = true;
        for (const std::size_t p : named) {
            const auto& now = after.values.value(p);
            const bool ok = now == values_.value(p);
            allTook = allTook && ok;
            result.line(NameOf(p) +
                        (ok ? " = " + *now + " (took)"
                            : ": did not take, the converter holds " + now.value_or("(not read)")));
            took[NameOf(p)] = ok;
        }
        result.data("took", std::move(took));
        if (!allTook) {
            throw Failure(code::Unexpected, "the converter did not take every value");
        }
    }

private:
    std::vector<std::string> assignments_;
    profile::Configuration values_;
};

} // namespace

std::unique_ptr<Command> MakeSet() {
    return std::make_unique<Set>();
}

} // namespace cli
