// vx538 diff: the parameters that differ from a configuration file, listed.
#include "cli/Steps.h"

namespace cli {

namespace {

class Diff : public FileCommand {
public:
    std::string_view name() const override { return "diff"; }
    std::string_view help() const override {
        return "list the parameters that differ from FILE (exit 1 when some do)";
    }
    void run(Session& session, Result& result) const override {
        result.exit = CompareWithFile(session, result, file_, backup_, true);
    }
};

} // namespace

std::unique_ptr<Command> MakeDiff() {
    return std::make_unique<Diff>();
}

} // namespace cli
