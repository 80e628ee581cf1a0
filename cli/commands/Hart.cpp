// The hart commands that talk to the instrument through the converter (transparent mode): its
// identity (command 0), its dynamic variables (command 3), a frame typed as hex, and command 0 at
// each polling address (scan).
#include <utility>

#include <CLI/CLI.hpp>

#include "cli/Jobs.h"
#include "cli/Steps.h"
#include "hart/HartFrames.h"
#include "hart/HartReplies.h"
#include "hart/UnitTable.h"
#include "jobs/Instrument.h"
#include "jobs/Scan.h"
#include "tools/Bytes.h"
#include "tools/Conversions.h"
#include "traffic/EventFormat.h"

namespace cli::commands {

namespace {

// --preambles, --secondary and --address (`addressHelp`), checked before any port is opened.
std::shared_ptr<HartAddressing> defineAddressed(CLI::App& app, const char* addressHelp) {
    const auto addressing = DefineHartAddressing(app);
    app.add_option("--address", addressing->address, addressHelp)->check(CLI::Range(0, 9));
    return addressing;
}

// Commands 0 (and 3 when `variables`) through the identity job; a stop ends the command.
jobs::IdentityResult askIdentity(Session& session, const HartAddressing& addressing, bool variables) {
    jobs::IdentityJob job({addressing.preambles, addressing.address, !addressing.secondary, variables});
    RunJob(session, job);
    if (job.result().stop) {
        Fail(*job.result().stop);
    }
    return job.result();
}

} // namespace

Run HartId(CLI::App& app) {
    app.description("HART command 0: the instrument's identity");
    const auto addressing = defineAddressed(app, "polling address 0..9 (default 0)");
    return {.prepare = [addressing](const Globals&) { CheckHartAddressing(*addressing); },
            .port =
                [addressing](Session& session, Result& result) {
                    const hart::IdentityReply reply = *askIdentity(session, *addressing, false).identity;
                    const std::string id = traffic::HexText(tools::asText(reply.deviceId));
                    result.field("manufacturer", "manufacturer",
                                 reply.manufacturerText + " (" + tools::ByteToHex(reply.manufacturer) + ")",
                                 reply.manufacturer);
                    result.field("device_type", "device type",
                                 reply.deviceTypeText + " (" + tools::ByteToHex(reply.deviceType) + ")",
                                 reply.deviceType);
                    result.field("device_id", "device id", reply.deviceIdText + " (" + id + ")",
                                 reply.deviceIdText);
                    result.field("preambles", "preambles", reply.reportedPreamblesText,
                                 reply.reportedPreambles);
                }};
}

Run HartVars(CLI::App& app) {
    app.description("HART command 3: the four dynamic variables with their units");
    const auto addressing = defineAddressed(app, "polling address of the identity query 0..9 (default 0)");
    return {.prepare = [addressing](const Globals&) { CheckHartAddressing(*addressing); },
            .port =
                [addressing](Session& session, Result& result) {
                    const hart::VariablesReply reply = *askIdentity(session, *addressing, true).variables;
                    constexpr const char* kNames[] = {"PV", "SV", "TV", "QV"};
                    result.data("variables", Json::array());
                    for (std::size_t i = 0; i < reply.variables.size(); ++i) {
                        if (!reply.variables[i]) {
                            continue;
                        }
                        const auto& variable = *reply.variables[i];
                        // The unit table's entries are padded with blanks.
                        const std::string_view entry =
                            hart::UnitEntries()[static_cast<std::size_t>(variable.unitIndex)];
                        const std::string unit(entry.substr(0, entry.find_last_not_of(' ') + 1));
                        result.append("variables",
                                      {{"name", kNames[i]}, {"value", variable.valueText}, {"unit", unit}},
                                      std::string(kNames[i]) + "  " + variable.valueText + " " + unit);
                    }
                }};
}

Run HartSend(CLI::App& app) {
    app.description("send a HART frame typed as hex byte text after the preambles");
    const auto addressing = DefineHartAddressing(app);
    const auto hex = std::make_shared<std::string>();
    const auto frame = std::make_shared<std::string>();
    app.add_option("HEX", *hex, "delimiter to data, e.g. '82 26 0C 0A 1B 2C 03 00'")->required();
    return {.prepare =
                [addressing, hex, frame](const Globals&) {
                    const std::string body =
                        HexArgument(*hex, hart::kManualFrameMaxBytes, "82 26 0C 0A 1B 2C 03 00");
                    *frame = tools::asText(hart::ManualFrame(addressing->preambles, tools::bytesOf(body)));
                },
            .port =
                [frame](Session& session, Result& result) {
                    jobs::Request request;
                    request.frame = *frame;
                    request.pending = traffic::pending::HartManual;
                    request.query = true;
                    request.what = "the HART frame";
                    const Answer answer = session.exchange(request.frame, request.pending, true, request.what);
                    if (!answer.reply.bytes.empty()) {
                        ShowExchange(result, *frame, answer);
                        result.field({}, "meaning", answer.reading.meaning, {}, " ");
                    }
                    const jobs::Outcome outcome = OutcomeOf(session, answer);
                    if (!outcome.whole()) {
                        Fail(jobs::StopOf(request, outcome));
                    }
                }};
}

Run HartScan(CLI::App& app) {
    app.description(
        "command 0 at each polling address: the instruments behind the converter and their addresses");
    const auto addressing = DefineHartAddressing(app);
    struct Options {
        int last = 15;
        bool first = false;
    };
    const auto o = std::make_shared<Options>();
    app.add_option("--to", o->last, "last polling address: 15 (HART 5, the default) or 63 (HART 6 and 7)")
        ->check(CLI::IsMember({15, 63}));
    app.add_flag("--first", o->first, "stop at the first instrument that answers");
    return {.prepare = [addressing](const Globals&) { CheckHartAddressing(*addressing); },
            .port =
                [addressing, o](Session& session, Result& result) {
                    jobs::ScanJob job({addressing->preambles, !addressing->secondary, o->last, o->first});
                    RunJob(session, job);
                    const jobs::ScanResult& scan = job.result();
                    result.data("instruments", Json::array());
                    bool headed = false;
                    for (const jobs::ScanAnswer& answer : scan.answers) {
                        if (!answer.identity) {
                            result.line("address " + std::to_string(answer.address) + ": " + answer.text);
                            result.append("answered_badly", {{"address", answer.address},
                                                             {"outcome", jobs::OutcomeText(answer.kind)},
                                                             {"meaning", answer.text}});
                            continue;
                        }
                        const hart::IdentityReply& identity = *answer.identity;
                        if (!std::exchange(headed, true)) {
                            result.line("address  manufacturer  device type  device id  preambles");
                        }
                        char line[96];
                        std::snprintf(line, sizeof line, "%7d  %12s  %11s  %9s  %9s", answer.address,
                                      (identity.manufacturerText + " (" + tools::ByteToHex(identity.manufacturer) +
                                       ")")
                                          .c_str(),
                                      identity.deviceTypeText.c_str(), identity.deviceIdText.c_str(),
                                      identity.reportedPreamblesText.c_str());
                        result.append("instruments",
                                      {{"address", answer.address},
                                       {"manufacturer", identity.manufacturer},
                                       {"device_type", identity.deviceType},
                                       {"device_id", identity.deviceIdText},
                                       {"preambles", identity.reportedPreambles}},
                                      line);
                    }
                    if (scan.stop) {
                        Fail(*scan.stop);
                    }
                    if (scan.found() == 0) {
                        // Only damaged or foreign replies is no silence: something is there.
                        throw Failure(scan.answers.empty() ? code::HartSilent : code::Unexpected, scan.summary());
                    }
                }};
}

} // namespace cli::commands
