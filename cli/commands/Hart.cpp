// The hart commands that talk to the instrument through the converter (transparent mode): its
// identity (command 0), its dynamic variables (command 3), a frame typed as hex, and command 0 at
// each polling address (scan).
#include <CLI/CLI.hpp>

#include "cli/Steps.h"
#include "hart/HartFrames.h"
#include "hart/HartReplies.h"
#include "hart/UnitTable.h"
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

// HART command 0; fills `identity` for requests addressed by it.
hart::IdentityReply hartIdentity(Session& session, Result& result, const HartAddressing& addressing,
                                 hart::HartIdentity& identity) {
    const auto frame =
        hart::IdentityQueryFrame(addressing.preambles, addressing.address, !addressing.secondary);
    const Answer answer = HartRequest(session, result, tools::asText(frame), traffic::pending::HartIdentity,
                                      "HART command 0 (identity)");
    const auto block = tools::bytesOf(answer.reply.bytes);
    const auto reply = hart::DecodeIdentityReply(block, std::min<std::size_t>(block.size(), 255));
    if (!reply) {
        throw Failure(code::Unexpected,
                      "the reply to HART command 0 holds no identity: " + answer.reading.meaning);
    }
    hart::StoreIdentity(*reply, identity);
    identity.pollingAddress = static_cast<uint8_t>(addressing.address);
    return *reply;
}

} // namespace

Run HartId(CLI::App& app) {
    app.description("HART command 0: the instrument's identity");
    const auto addressing = defineAddressed(app, "polling address 0..9 (default 0)");
    return {.prepare = [addressing](const Globals&) { CheckHartAddressing(*addressing); },
            .port =
                [addressing](Session& session, Result& result) {
                    hart::HartIdentity identity;
                    const hart::IdentityReply reply = hartIdentity(session, result, *addressing, identity);
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
                    // The variables query is addressed by the identity, as the window addresses it after
                    // command 0.
                    hart::HartIdentity identity;
                    hartIdentity(session, result, *addressing, identity);
                    const auto frame =
                        hart::VariablesQueryFrame(addressing->preambles, !addressing->secondary, identity);
                    const Answer answer =
                        HartRequest(session, result, tools::asText(frame), traffic::pending::HartVariables,
                                    "HART command 3 (variables)");
                    const auto block = tools::bytesOf(answer.reply.bytes);
                    const auto reply =
                        hart::DecodeVariablesReply(block, std::min<std::size_t>(block.size(), 255));
                    if (!reply.variables[0]) {
                        throw Failure(code::Unexpected, "the reply to HART command 3 holds no variables: " +
                                                            answer.reading.meaning);
                    }
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
                    const Answer answer =
                        HartRequest(session, result, *frame, traffic::pending::HartManual, "the HART frame");
                    ShowExchange(result, *frame, answer);
                    result.field({}, "meaning", answer.reading.meaning, {}, " ");
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
                    result.data("instruments", Json::array());
                    int found = 0;
                    for (int address = 0; address <= o->last; ++address) {
                        const auto frame = hart::IdentityQueryFrameAt(addressing->preambles, address,
                                                                      !addressing->secondary);
                        Answer answer;
                        try {
                            answer = session.request(tools::asText(frame), traffic::pending::HartIdentity,
                                                     true, "HART command 0");
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
                        const auto identity =
                            hart::DecodeIdentityReply(block, std::min<std::size_t>(block.size(), 255));
                        if (!identity) {
                            continue;
                        }
                        if (found++ == 0) {
                            result.line("address  manufacturer  device type  device id  preambles");
                        }
                        char line[96];
                        std::snprintf(line, sizeof line, "%7d  %12s  %11s  %9s  %9s", address,
                                      (identity->manufacturerText + " (" +
                                       tools::ByteToHex(identity->manufacturer) + ")")
                                          .c_str(),
                                      identity->deviceTypeText.c_str(), identity->deviceIdText.c_str(),
                                      identity->reportedPreamblesText.c_str());
                        result.append("instruments",
                                      {{"address", address},
                                       {"manufacturer", identity->manufacturer},
                                       {"device_type", identity->deviceType},
                                       {"device_id", identity->deviceIdText},
                                       {"preambles", identity->reportedPreambles}},
                                      line);
                        if (o->first) {
                            break;
                        }
                    }
                    if (found == 0) {
                        throw Failure(code::HartSilent,
                                      "no instrument answered at polling addresses 0 to " +
                                          std::to_string(o->last) +
                                          " (the converter passes HART only in transparent mode)");
                    }
                }};
}

} // namespace cli::commands
