// vx538 diff and verify: the converter's values against a configuration file, the differences listed
// (diff) or summed up in one line (verify).
#include "cli/Steps.h"

namespace cli {

namespace {

class Compare : public FileCommand {
public:
    Compare(std::string_view name, std::string_view help, bool list) : FileCommand(name, help), list_(list) {}
    void run(Session& session, Result& result) const override {
        result.exit = CompareWithFile(session, result, file_, backup_, list_);
    }

private:
    bool list_;
};

} // namespace

std::unique_ptr<Command> MakeDiff() {
    return std::make_unique<Compare>("diff",
                                     "list the parameters that differ from FILE (exit 1 when some do)", true);
}

std::unique_ptr<Command> MakeVerify() {
    return std::make_unique<Compare>(
        "verify", "say whether the converter holds FILE's configuration (exit 1 when not)", false);
}

} // namespace cli
