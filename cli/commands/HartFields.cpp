// vx538 hart fields: the converter's read meter command sent to the instrument as configured, its
// reply's data listed by the offsets the parse format's addresses count.
#include <CLI/CLI.hpp>

#include "cli/Commissioning.h"
#include "cli/Steps.h"

namespace cli {

namespace {

class HartFields : public Command {
public:
    HartFields()
        : Command("hart fields",
                  "the instrument's reply to a read meter command by offset, the fields of commands 1, 2 "
                  "and 3 named: what each parse address reads") {}
    void define(CLI::App& app) override {
        DefineHartAddressing(app, addressing_);
        app.add_option("--command", command_, "read meter command 1 (variables 1-4, the default) or 2 (5-8)")
            ->check(CLI::IsMember({1, 2}));
    }
    void prepare(const Globals&) override { CheckHartAddressing(addressing_); }

    void run(Session& session, Result& result) const override {
        const ConverterMapping converter = ReadMapping(session, result);
        const profile::MeterCommand& meter = converter.mapping.commands[static_cast<std::size_t>(command_ - 1)];
        const std::string name = "read meter command " + std::to_string(command_);
        if (meter.body.empty()) {
            throw Failure(code::Unexpected, name + " is empty in the converter (vx538 set read" +
                                                std::to_string(command_) + ".command=...)");
        }
        if (!converter.mapping.polling || !meter.enabled) {
            result.line("(the converter does not poll " + name + ": " +
                        (converter.mapping.polling ? "it is off" : "HART polling is off") + ")");
        }
        const profile::HartReply reply = SendHartBody(session, result, meter.body, addressing_.preambles, name);
        result.field("command", "HART command", std::to_string(reply.command), reply.command);
        if (!reply.succeeded()) {
            result.line("the instrument answered with a response code the converter takes no values from");
        }
        result.line("offset  length  field             value");
        result.data("fields", Json::array());
        for (const profile::ReplyField& field : profile::ListFields(reply.command, reply.data)) {
            char line[64];
            std::snprintf(line, sizeof line, "%6d  %6d  %-16s  ", field.offset, field.length,
                          field.name.empty() ? "-" : field.name.c_str());
            Json json = {{"offset", field.offset}, {"length", field.length}, {"name", field.name},
                         {"value", field.value}};
            if (field.number) {
                json["number"] = Json(std::stod(profile::ValueText(*field.number)));
            }
            if (!field.unit.empty()) {
                json["unit"] = field.unit;
            }
            json["pickable"] = field.pickable;
            result.append("fields", std::move(json), line + field.value);
        }
    }

private:
    HartAddressing addressing_;
    int command_ = 1;
};

} // namespace

std::unique_ptr<Command> MakeHartFields() {
    return std::make_unique<HartFields>();
}

} // namespace cli
