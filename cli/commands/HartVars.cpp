// vx538 hart vars: HART command 3 through the converter, the four dynamic variables.
#include <CLI/CLI.hpp>

#include "cli/Steps.h"
#include "hart/HartFrames.h"
#include "hart/UnitTable.h"
#include "tools/Bytes.h"

namespace cli {

namespace {

std::string trimmedUnit(std::string_view unit) {
    const auto end = unit.find_last_not_of(' ');
    return std::string(unit.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

class HartVars : public Command {
public:
    HartVars() : Command("hart vars", "HART command 3: the four dynamic variables with their units") {}
    void define(CLI::App& app) override {
        DefineHartAddressing(app, addressing_);
        app.add_option("--address", addressing_.address,
                       "polling address of the identity query 0..9 (default 0)")
            ->check(CLI::Range(0, 9));
    }
    void prepare(const Globals&) override { CheckHartAddressing(addressing_); }

    void run(Session& session, Result& result) const override {
        // The variables query is addressed by the identity, as the window addresses it after command 0.
        hart::HartIdentity identity;
        HartIdentity(session, result, addressing_, identity);
        const auto frame = hart::VariablesQueryFrame(addressing_.preambles, !addressing_.secondary, identity);
        const Answer answer = HartRequest(session, result, tools::asText(frame),
                                          traffic::pending::HartVariables, "HART command 3 (variables)");
        const auto block = tools::bytesOf(answer.reply.bytes);
        const auto reply = hart::DecodeVariablesReply(block, std::min<std::size_t>(block.size(), 255));
        if (!reply.variables[0]) {
            throw Failure(code::Unexpected,
                          "the reply to HART command 3 holds no variables: " + answer.reading.meaning);
        }
        constexpr const char* kNames[] = {"PV", "SV", "TV", "QV"};
        result.data("variables", Json::array());
        for (std::size_t i = 0; i < reply.variables.size(); ++i) {
            if (!reply.variables[i]) {
                continue;
            }
            const auto& variable = *reply.variables[i];
            const std::string unit =
                trimmedUnit(hart::UnitEntries()[static_cast<std::size_t>(variable.unitIndex)]);
            result.append("variables", {{"name", kNames[i]}, {"value", variable.valueText}, {"unit", unit}},
                          std::string(kNames[i]) + "  " + variable.valueText + " " + unit);
        }
    }

private:
    HartAddressing addressing_;
};

} // namespace

std::unique_ptr<Command> MakeHartVars() {
    return std::make_unique<HartVars>();
}

} // namespace cli
