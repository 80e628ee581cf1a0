// vx538 get: parameters read from the converter (all when none is named).
#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "cli/Steps.h"

namespace cli {

namespace {

class Get : public Command {
public:
    Get() : Command("get", "read parameters (all when none is named) and print them") {}
    void define(CLI::App& app) override {
        app.add_option("NAME", typed_, "parameter names, as 'vx538 params' lists them");
    }

    void prepare(const Globals&) override {
        for (const std::string& name : typed_) {
            names_.push_back(profile::ParameterIndex(name));
        }
        if (names_.empty()) {
            names_ = AllParameters(false);
        }
    }

    void run(Session& session, Result& result) const override {
        const ReadResult read = ReadConverter(session, QueriesFor(names_));
        ShowValues(result, read.values, names_);
        const auto problems = ProblemsFor(read.problems, names_);
        if (!problems.empty()) {
            Unexpected(result, problems, "some values could not be read");
        }
    }

private:
    std::vector<std::string> typed_;
    std::vector<std::size_t> names_;
};

} // namespace

std::unique_ptr<Command> MakeGet() {
    return std::make_unique<Get>();
}

} // namespace cli
