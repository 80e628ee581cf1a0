// vx538 params: the parameter table, for people, scripts or docs/parameters.md.
#include <CLI/CLI.hpp>

#include "cli/Command.h"
#include "profile/Parameters.h"

namespace cli {

namespace {

class Params : public Command {
public:
    Params() : Command("params", "list the named parameters, their values and meanings") {}
    void define(CLI::App& app) override {
        app.add_flag("--markdown", markdown_, "as the Markdown table of docs/parameters.md");
    }
    bool usesPorts() const override { return false; }

    void runAlone(const Globals&, Result& result) const override {
        if (markdown_) {
            const std::string markdown = profile::ParametersMarkdown();
            result.line(markdown.substr(0, markdown.size() - 1));
            return;
        }
        Json all = Json::array();
        for (const profile::Parameter& p : profile::Parameters()) {
            std::string values = profile::ValuesText(p);
            if (!p.unit.empty()) {
                values += " (" + std::string(p.unit) + ")";
            }
            all.push_back({{"name", p.name},
                           {"query", profile::QueryKey(p.query)},
                           {"values", profile::ValuesText(p)},
                           {"unit", p.unit},
                           {"restorable", p.restorable},
                           {"description", p.description}});
            result.field(
                {}, std::string(p.name),
                values + "  -- " + std::string(p.description) + (p.restorable ? "" : " (not restored)"), {});
        }
        result.document(std::move(all));
    }

private:
    bool markdown_ = false;
};

} // namespace

std::unique_ptr<Command> MakeParams() {
    return std::make_unique<Params>();
}

} // namespace cli
