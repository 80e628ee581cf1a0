// vx538 hart scan: command 0 at each short polling address through the converter, every instrument
// that answers listed.
#include <CLI/CLI.hpp>

#include "cli/Steps.h"
#include "hart/HartFrames.h"
#include "hart/HartReplies.h"
#include "tools/Bytes.h"
#include "tools/Conversions.h"

namespace cli {

namespace {

class HartScan : public Command {
public:
    HartScan()
        : Command("hart scan",
                  "command 0 at each polling address: the instruments behind the converter and their "
                  "addresses") {}
    void define(CLI::App& app) override {
        DefineHartAddressing(app, addressing_);
        app.add_option("--to", last_, "last polling address: 15 (HART 5, the default) or 63 (HART 6 and 7)")
            ->check(CLI::IsMember({15, 63}));
        app.add_flag("--first", first_, "stop at the first instrument that answers");
    }
    void prepare(const Globals&) override { CheckHartAddressing(addressing_); }

    void run(Session& session, Result& result) const override {
        result.data("instruments", Json::array());
        int found = 0;
        for (int address = 0; address <= last_; ++address) {
            const auto frame = hart::IdentityQueryFrameAt(addressing_.preambles, address, !addressing_.secondary);
            Answer answer;
            try {
                answer = session.request(tools::asText(frame),
                                         {ReplyShape::Kind::Request, traffic::pending::HartIdentity},
                                         traffic::pending::HartIdentity, true, "HART command 0");
            } catch (const Failure& failure) {
                if (failure.code() == code::NoReply) {
                    continue; // nobody at this address
                }
                throw;
            }
            if (answer.reading.verdict != traffic::Verdict::Good) {
                result.line("address " + std::to_string(address) + ": " + answer.reading.meaning);
                continue;
            }
            const auto block = tools::bytesOf(answer.reply.bytes);
            const auto identity = hart::DecodeIdentityReply(block, std::min<std::size_t>(block.size(), 255));
            if (!identity) {
                continue;
            }
            if (found++ == 0) {
                result.line("address  manufacturer  device type  device id  preambles");
            }
            char line[96];
            std::snprintf(line, sizeof line, "%7d  %12s  %11s  %9s  %9s", address,
                          (identity->manufacturerText + " (" + tools::ByteToHex(identity->manufacturer) + ")").c_str(),
                          identity->deviceTypeText.c_str(), identity->deviceIdText.c_str(),
                          identity->reportedPreamblesText.c_str());
            result.append("instruments",
                          {{"address", address},
                           {"manufacturer", identity->manufacturer},
                           {"device_type", identity->deviceType},
                           {"device_id", identity->deviceIdText},
                           {"preambles", identity->reportedPreambles}},
                          line);
            if (first_) {
                break;
            }
        }
        if (found == 0) {
            throw Failure(code::HartSilent, "no instrument answered at polling addresses 0 to " +
                                                std::to_string(last_) +
                                                " (the converter passes HART only in transparent mode)");
        }
    }

private:
    HartAddressing addressing_;
    int last_ = 15;
    bool first_ = false;
};

} // namespace

std::unique_ptr<Command> MakeHartScan() {
    return std::make_unique<HartScan>();
}

} // namespace cli
