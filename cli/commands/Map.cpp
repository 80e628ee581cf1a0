// vx538 map: registers 40001-40018 as a PLC programmer needs them: the variable, its source field and
// unit, data type, word order, coefficient, with the slave address and line settings.
#include <CLI/CLI.hpp>

#include "cli/Commissioning.h"
#include "cli/Steps.h"

namespace cli {

namespace {

class Map : public Command {
public:
    Map()
        : Command("map",
                  "the register map for the integrator: registers 40001-40018 with source, unit, type, word "
                  "order and coefficient (--json for scripts)") {}
    void define(CLI::App& app) override {
        DefineHartAddressing(app, addressing_);
        auto* csv = app.add_flag("--csv", csv_, "as CSV, a row per register pair");
        app.add_flag("--markdown", markdown_, "as a Markdown table")->excludes(csv);
    }
    void prepare(const Globals& globals) override {
        CheckHartAddressing(addressing_);
        json_ = globals.json;
        if (json_ && (csv_ || markdown_)) {
            throw Failure(code::Usage, "--json, --csv and --markdown each choose the whole output: give one");
        }
    }

    void run(Session& session, Result& result) const override {
        const ConverterMapping converter = ReadMapping(session, result);
        const profile::Mapping& mapping = converter.mapping;
        // The units come from the instrument where it answers; without it the map still stands.
        std::optional<profile::InstrumentIdentity> identity;
        std::array<std::optional<profile::HartReply>, 2> replies;
        std::string silent;
        const auto ask = [&](const std::vector<uint8_t>& body, const std::string& what) -> std::optional<profile::HartReply> {
            try {
                return SendHartBody(session, result, body, addressing_.preambles, what);
            } catch (const Failure& failure) {
                if (failure.code() != code::HartSilent && failure.code() != code::Unexpected) {
                    throw;
                }
                silent = failure.what();
                return std::nullopt;
            }
        };
        const auto& first = mapping.commands[0].body.empty() ? mapping.commands[1].body : mapping.commands[0].body;
        if (const std::vector<uint8_t> body = profile::BodyWithCommand(first, 0); !body.empty()) {
            if (const auto reply = ask(body, "HART command 0 (identity)")) {
                identity = profile::IdentityOfReply(*reply);
            }
        }
        for (int c = 1; c <= 2 && silent.empty(); ++c) {
            if (mapping.polled(c == 1 ? 1 : 5)) {
                replies[static_cast<std::size_t>(c - 1)] =
                    ask(mapping.commands[static_cast<std::size_t>(c - 1)].body, "read meter command " + std::to_string(c));
            }
        }
        const std::vector<profile::MapRow> rows = profile::RegisterMap(mapping, replies);
        if (json_) {
            result.document(Json::parse(profile::FormatRegisterMap(mapping, rows, identity, profile::MapFormat::Json)));
            return;
        }
        const profile::MapFormat format =
            csv_ ? profile::MapFormat::Csv : (markdown_ ? profile::MapFormat::Markdown : profile::MapFormat::Text);
        std::string text = profile::FormatRegisterMap(mapping, rows, identity, format);
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        result.line(text);
        if (!silent.empty() && format == profile::MapFormat::Text) {
            result.line("(" + silent + ")");
        }
    }

private:
    HartAddressing addressing_;
    bool csv_ = false;
    bool markdown_ = false;
    bool json_ = false;
};

} // namespace

std::unique_ptr<Command> MakeMap() {
    return std::make_unique<Map>();
}

} // namespace cli
