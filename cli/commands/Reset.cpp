// vx538 reset: parameter initialization, the converter's factory values.
#include "cli/Command.h"
#include "cli/Steps.h"
#include "config/TextCommands.h"

namespace cli {

namespace {

class Reset : public Command {
public:
    Reset()
        : Command(
              "reset",
              "parameter initialization: the converter's factory values (sent at once, no question asked)") {}
    void run(Session& session, Result& result) const override {
        SendOne(session, result, config::parameterInitializationFrame(), "parameter initialization");
    }
};

} // namespace

std::unique_ptr<Command> MakeReset() {
    return std::make_unique<Reset>();
}

} // namespace cli
