// vx538 test-totalizer: the totalizer output driven to a test value.
#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "cli/Steps.h"
#include "config/TextCommands.h"
#include "tools/Conversions.h"

namespace cli {

namespace {

class TestTotalizer : public Command {
public:
    TestTotalizer() : Command("test-totalizer", "drive the totalizer output to VALUE (0..999999999)") {}
    void define(CLI::App& app) override {
        app.add_option("VALUE", value_, "totalizer test value")->required();
    }
    void prepare(const Globals&) override {
        tools::StrToIntUpTo(value_, 999999999, "Totalizer test value");
        frame_ = config::totalizerTestFrame(value_);
    }
    void run(Session& session, Result& result) const override {
        SendOne(session, result, frame_, "totalizer test");
    }

private:
    std::string value_, frame_;
};

} // namespace

std::unique_ptr<Command> MakeTestTotalizer() {
    return std::make_unique<TestTotalizer>();
}

} // namespace cli
