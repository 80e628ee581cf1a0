// vx538 test-output: an analog output driven to a test value.
#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "cli/Steps.h"
#include "config/TextCommands.h"
#include "tools/Conversions.h"

namespace cli {

namespace {

class TestOutput : public Command {
public:
    TestOutput() : Command("test-output", "drive analog output N (0..7, DOUTA0..DOUTA7) to VALUE") {}
    void define(CLI::App& app) override {
        app.add_option("N", output_, "output 0..7")->required()->check(CLI::Range(0, 7));
        app.add_option("VALUE", value_, "test value 0..999.9, sent as typed")->required();
    }
    void prepare(const Globals&) override {
        const double value = tools::StrToFloat(value_);
        if (value < 0 || value > 999.9) {
            throw Failure(code::Usage,
                          "output test value " + profile::Quoted(value_) + " is outside 0..999.9");
        }
        frame_ = config::outputTestFrame(output_, value_);
    }
    void run(Session& session, Result& result) const override {
        SendOne(session, result, frame_, "output test");
    }

private:
    int output_ = 0;
    std::string value_, frame_;
};

} // namespace

std::unique_ptr<Command> MakeTestOutput() {
    return std::make_unique<TestOutput>();
}

} // namespace cli
