// vx538 raw: a frame sent as it stands, its reply shown with what it means.
#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "cli/Steps.h"
#include "hart/HartFrames.h"

namespace cli {

namespace {

class Raw : public Command {
public:
    Raw() : Command("raw", "send TEXT (or --hex BYTES) as it stands and show the reply") {}
    void define(CLI::App& app) override {
        app.add_option("TEXT", text_, "a frame of text, e.g. 'QQQ#QX1#'");
        app.add_option("--hex", hex_, "the frame as hex bytes, e.g. '51 51 51 23 51 56 23'");
    }
    void prepare(const Globals&) override {
        if (text_.empty() == hex_.empty()) {
            throw Failure(code::Usage, "raw needs TEXT or --hex BYTES");
        }
        frame_ = hex_.empty()
                     ? text_
                     : HexArgument(hex_, static_cast<int>(hart::kMaxFrameLength), "51 51 51 23 51 56 23");
    }
    void run(Session& session, Result& result) const override {
        const Answer answer = session.request(frame_, {}, traffic::pending::None, false, "the frame");
        ShowExchange(result, frame_, answer);
        result.field({}, "text", FrameText(answer.reply.bytes), {}, " ");
        result.field({}, "meaning", answer.reading.meaning, {}, " ");
        result.data("verdict", traffic::VerdictText(answer.reading.verdict));
    }

private:
    std::string text_, hex_, frame_;
};

} // namespace

std::unique_ptr<Command> MakeRaw() {
    return std::make_unique<Raw>();
}

} // namespace cli
