// vx538 hart send: a HART frame typed as hex, sent after the preambles, its reply shown.
#include <CLI/CLI.hpp>

#include "cli/Steps.h"
#include "hart/HartFrames.h"
#include "tools/Bytes.h"

namespace cli {

namespace {

class HartSend : public Command {
public:
    HartSend() : Command("hart send", "send a HART frame typed as hex byte text after the preambles") {}
    void define(CLI::App& app) override {
        DefineHartAddressing(app, addressing_);
        app.add_option("HEX", hex_, "delimiter to data, e.g. '82 26 0C 0A 1B 2C 03 00'")->required();
    }
    void prepare(const Globals&) override {
        const std::string body = HexArgument(hex_, hart::kManualFrameMaxBytes, "82 26 0C 0A 1B 2C 03 00");
        frame_ = std::string(tools::asText(hart::ManualFrame(addressing_.preambles, tools::bytesOf(body))));
    }
    void run(Session& session, Result& result) const override {
        const Answer answer =
            HartRequest(session, result, frame_, traffic::pending::HartManual, "the HART frame");
        ShowExchange(result, frame_, answer);
        result.field({}, "meaning", answer.reading.meaning, {}, " ");
    }

private:
    HartAddressing addressing_;
    std::string hex_, frame_;
};

} // namespace

std::unique_ptr<Command> MakeHartSend() {
    return std::make_unique<HartSend>();
}

} // namespace cli
