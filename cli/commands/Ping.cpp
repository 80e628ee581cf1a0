// vx538 ping: the communication query, its reply and how long it took.
#include "cli/Command.h"
#include "cli/Steps.h"
#include "config/TextCommands.h"
#include "traffic/EventFormat.h"

namespace cli {

namespace {

class Ping : public Command {
public:
    Ping() : Command("ping", "send the communication query and show the reply") {}

    void run(Session& session, Result& result) const override {
        const Answer answer =
            session.request(config::communicationQueryFrame(),
                            {ReplyShape::Kind::Request, traffic::pending::SystemParameters},
                            traffic::pending::SystemParameters, true, "the communication query");
        // The reply the interpreter found in the block, without the noise around it.
        const traffic::Reading& reading = answer.reading;
        const std::string& block = answer.reply.bytes;
        const bool framed =
            reading.frameLength > 0 && reading.frameOffset + reading.frameLength <= block.size();
        const std::string reply = framed ? block.substr(reading.frameOffset, reading.frameLength) : block;
        std::string note = std::to_string(answer.reply.elapsed.count()) + " ms";
        if (reply.size() < block.size()) {
            note += ", " + std::to_string(block.size() - reply.size()) + " bytes of noise around it";
        }
        result.field("reply", {}, FrameText(reply) + "  (" + note + ")", FrameText(reply));
        result.data("block_hex", traffic::HexText(block));
        result.data("ms", answer.reply.elapsed.count());
    }
};

} // namespace

std::unique_ptr<Command> MakePing() {
    return std::make_unique<Ping>();
}

} // namespace cli
