// vx538 hart id: HART command 0 through the converter, the instrument's identity.
#include <CLI/CLI.hpp>

#include "cli/Steps.h"
#include "tools/Bytes.h"
#include "tools/Conversions.h"
#include "traffic/EventFormat.h"

namespace cli {

namespace {

class HartId : public Command {
public:
    HartId() : Command("hart id", "HART command 0: the instrument's identity") {}
    void define(CLI::App& app) override {
        DefineHartAddressing(app, addressing_);
        app.add_option("--address", addressing_.address, "polling address 0..9 (default 0)")
            ->check(CLI::Range(0, 9));
    }
    void prepare(const Globals&) override { CheckHartAddressing(addressing_); }

    void run(Session& session, Result& result) const override {
        hart::HartIdentity identity;
        const hart::IdentityReply reply = HartIdentity(session, result, addressing_, identity);
        const std::string id = traffic::HexText(tools::asText(reply.deviceId));
        result.field("manufacturer", "manufacturer",
                     reply.manufacturerText + " (" + tools::ByteToHex(reply.manufacturer) + ")",
                     reply.manufacturer);
        result.field("device_type", "device type",
                     reply.deviceTypeText + " (" + tools::ByteToHex(reply.deviceType) + ")",
                     reply.deviceType);
        result.field("device_id", "device id", reply.deviceIdText + " (" + id + ")", reply.deviceIdText);
        result.field("preambles", "preambles", reply.reportedPreamblesText, reply.reportedPreambles);
    }

private:
    HartAddressing addressing_;
};

} // namespace

std::unique_ptr<Command> MakeHartId() {
    return std::make_unique<HartId>();
}

} // namespace cli
