// vx538 check: what each of the eight registers must hold, from the instrument's replies to the read
// meter commands as the converter applies the parse format, against what registers 40003-40018 hold.
#include <CLI/CLI.hpp>

#include "cli/Commissioning.h"
#include "cli/Steps.h"
#include "config/TextCommands.h"

#include <cmath>

namespace cli {

namespace {

std::string valueText(const std::optional<float>& value, const std::string& unit) {
    if (!value) {
        return "-";
    }
    return profile::ValueText(*value) + (unit.empty() ? "" : " " + unit);
}

// `text` followed by blanks to `width` characters (not bytes: units such as the degree signs take
// three bytes each).
std::string padded(const std::string& text, std::size_t width) {
    std::size_t characters = 0;
    for (const char c : text) {
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return text + std::string(characters < width ? width - characters : 0, ' ');
}

Json number(const std::optional<float>& value) {
    if (!value || !std::isfinite(*value)) {
        return nullptr;
    }
    return std::stod(profile::ValueText(*value));
}

class Check : public Command {
public:
    Check()
        : Command("check",
                  "check that registers 40003-40018 hold what the instrument's replies make of them (exit 1 "
                  "when a variable differs)") {}
    void define(CLI::App& app) override {
        DefineHartAddressing(app, addressing_);
        app.add_option("--tolerance", tolerance_,
                       "percent of the value a register may differ by, widened by how far the instrument's value "
                       "moved between the reads before and after the registers (default 0.5)")
            ->check(CLI::Range(0.0, 100.0));
        app.add_flag("--switch-mode", switchMode_,
                     "switch the converter to transparent mode for the HART reads when it is in another mode, and "
                     "put that mode back afterwards (also after a fault or Ctrl+C)");
    }

    void prepare(const Globals&) override { CheckHartAddressing(addressing_); }

    void run(Session& session, Result& result) const override {
        const ConverterMapping converter = ReadMapping(session, result);
        const profile::Mapping& mapping = converter.mapping;
        std::vector<int> commands;
        for (int c = 1; c <= 2; ++c) {
            const profile::MeterCommand& meter = mapping.commands[static_cast<std::size_t>(c - 1)];
            if (mapping.polling && meter.enabled && !meter.body.empty()) {
                commands.push_back(c);
            }
        }
        if (commands.empty()) {
            result.line("the converter polls no read meter command: its registers hold nothing of the instrument");
            result.exit = code::Differences;
            return;
        }
        const bool switching = converter.mode != kTransparentMode;
        if (switching && !switchMode_) {
            throw Failure(code::WrongMode,
                          "the HART reads need the converter in transparent mode, and it is in " +
                              ModeName(converter.mode) + ": run again with --switch-mode to switch it for the check "
                              "and put " + ModeName(converter.mode) + " back afterwards");
        }
        try {
            // Inside: a switch whose reply was lost or cut by Ctrl+C may still have been taken.
            if (switching) {
                SendSet(session, result, config::workingModeFrame(kTransparentMode), "working mode");
            }
            compare(session, result, mapping, commands);
        } catch (...) {
            if (switching && !PutModeBack(session, result, converter.mode, kRestoreAttempts)) {
                leftSwitched(result, converter.mode);
            }
            throw;
        }
        if (switching && !PutModeBack(session, result, converter.mode, kRestoreAttempts)) {
            leftSwitched(result, converter.mode);
            throw Failure(code::NoReply, "the converter did not take its working mode back");
        }
    }

private:
    static constexpr int kRestoreAttempts = 5;

    static void leftSwitched(Result& result, int mode) {
        result.line("the converter may still be in transparent mode: vx538 set mode=" + ModeName(mode));
        result.data("mode_left", "transparent");
    }

    void compare(Session& session, Result& result, const profile::Mapping& mapping, const std::vector<int>& commands) const {
        std::array<profile::CommandReads, 2> reads;
        const auto readHart = [&](bool after) {
            for (const int c : commands) {
                const auto& body = mapping.commands[static_cast<std::size_t>(c - 1)].body;
                profile::HartReply reply =
                    SendHartBody(session, result, body, addressing_.preambles, "read meter command " + std::to_string(c));
                (after ? reads[static_cast<std::size_t>(c - 1)].after : reads[static_cast<std::size_t>(c - 1)].before) =
                    std::move(reply);
            }
        };
        readHart(false);
        const std::vector<uint16_t> registers = ReadVariableRegisters(session, mapping.slaveAddress);
        readHart(true);
        const std::vector<profile::CheckRow> rows =
            profile::CheckMapping(mapping, reads, registers, profile::kFirstVariableRegister, tolerance_);

        result.line("var  register  " + padded("source", 44) + "  " + padded("HART", 22) + "  " + padded("MODBUS", 14) +
                    "  verdict");
        result.data("variables", Json::array());
        int failures = 0;
        for (const profile::CheckRow& row : rows) {
            char head[32];
            std::snprintf(head, sizeof head, "%3d  %8d  ", row.variable, row.registerNumber);
            std::string text = head + padded(row.source, 44) + "  " + padded(valueText(row.hartBefore, row.unit), 22) +
                               "  " + padded(valueText(row.modbus, {}), 14) + "  " +
                               std::string(profile::VerdictName(row.verdict));
            if (!row.note.empty() && row.verdict != profile::CheckVerdict::NotPolled) {
                text += "\n     " + row.note;
            }
            Json json = {{"variable", row.variable},
                         {"register", row.registerNumber},
                         {"source", row.source},
                         {"hart", number(row.hartBefore)},
                         {"hart_after", number(row.hartAfter)},
                         {"unit", row.unit},
                         {"modbus", number(row.modbus)},
                         {"verdict", profile::VerdictName(row.verdict)},
                         {"note", row.note}};
            result.append("variables", std::move(json), text);
            failures += profile::IsFailure(row.verdict) ? 1 : 0;
        }
        result.data("tolerance_percent", tolerance_);
        if (failures > 0) {
            result.line(std::to_string(failures) + (failures == 1 ? " variable differs" : " variables differ"));
            result.exit = code::Differences;
        } else {
            result.line("every polled variable holds what the instrument's replies make of it");
        }
    }

    HartAddressing addressing_;
    double tolerance_ = 0.5;
    bool switchMode_ = false;
};

} // namespace

std::unique_ptr<Command> MakeCheck() {
    return std::make_unique<Check>();
}

} // namespace cli
