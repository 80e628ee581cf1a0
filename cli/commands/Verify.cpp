// vx538 verify: whether the converter holds a configuration file's values, in one line.
#include "cli/Steps.h"

namespace cli {

namespace {

class Verify : public FileCommand {
public:
    std::string_view name() const override { return "verify"; }
    std::string_view help() const override {
        return "say whether the converter holds FILE's configuration (exit 1 when not)";
    }
    void run(Session& session, Result& result) const override {
        result.exit = CompareWithFile(session, result, file_, backup_, false);
    }
};

} // namespace

std::unique_ptr<Command> MakeVerify() {
    return std::make_unique<Verify>();
}

} // namespace cli
