// vx538 factory: the factory record (board serial number and inspector).
#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "cli/Steps.h"
#include "config/TextCommands.h"

namespace cli {

namespace {

class Factory : public Command {
public:
    Factory() : Command("factory", "write the factory record (board serial number and inspector)") {}
    void define(CLI::App& app) override {
        app.add_option("--pcbsn", pcbsn_, "board serial number, 0..99999999")->required();
        app.add_option("--inspector", inspector_, "inspector number, 0..999")->required();
    }
    void prepare(const Globals&) override { frame_ = config::factoryRecordFrame(pcbsn_, inspector_); }
    void run(Session& session, Result& result) const override {
        SendOne(session, result, frame_, "factory record");
    }

private:
    std::string pcbsn_, inspector_, frame_;
};

} // namespace

std::unique_ptr<Command> MakeFactory() {
    return std::make_unique<Factory>();
}

} // namespace cli
