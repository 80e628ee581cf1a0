// The inspection report's document: made, read back and checked, concluded.
#include "inspection/Report.h"

namespace inspection {

namespace {

// A part that must be an object (or absent), named in the error.
void expectKind(const Json& parent, const char* key, Json::value_t kind, const std::string& where) {
    const auto it = parent.find(key);
    if (it == parent.end()) {
        return;
    }
    if (it->type() != kind) {
        throw ReportError(where + key + " is not " +
                          (kind == Json::value_t::object ? "an object" : "a list"));
    }
}

void checkPart(const Json& stage, const std::string& where) {
    using K = Json::value_t;
    expectKind(stage, "configuration", K::object, where);
    expectKind(stage, "check", K::object, where);
    expectKind(stage, "loop_check", K::object, where);
    for (const char* part : {"check", "loop_check"}) {
        if (stage.contains(part)) {
            const std::string inner = where + part + ".";
            expectKind(stage[part], "rows", K::array, inner);
            expectKind(stage[part], "outputs", K::array, inner);
            expectKind(stage[part], "notes", K::array, inner);
            if (stage[part].contains("outputs")) {
                for (const Json& output : stage[part]["outputs"]) {
                    if (!output.is_object()) {
                        throw ReportError(inner + "outputs holds something that is no output");
                    }
                    expectKind(output, "points", K::array, inner + "outputs[].");
                }
            }
        }
    }
    if (stage.contains("configuration")) {
        expectKind(stage["configuration"], "parameters", K::object, where + "configuration.");
    }
}

std::string verdictOf(const Json& part) {
    const auto it = part.find("verdict");
    return it != part.end() && it->is_string() ? it->get<std::string>() : std::string("not checked");
}

// The latest stage's `key` part: as left when it has one, else as found.
const Json* latest(const Json& report, const char* key) {
    for (const char* stage : {"as_left", "as_found"}) {
        const auto s = report.find(stage);
        if (s != report.end() && s->is_object() && s->contains(key) && (*s)[key].is_object()) {
            return &(*s)[key];
        }
    }
    return nullptr;
}

} // namespace

Json NewReport(std::string writtenBy) {
    return Json{{"format", kReportFormat}, {"version", kReportVersion}, {"written_by", std::move(writtenBy)}};
}

Json ReadReport(std::string_view text) {
    Json report = Json::parse(text, nullptr, false);
    if (report.is_discarded() || !report.is_object()) {
        throw ReportError("not an inspection report: not a JSON object");
    }
    const auto format = report.find("format");
    if (format == report.end() || !format->is_string() || format->get<std::string>() != kReportFormat) {
        throw ReportError("not an inspection report: its format is not " + std::string(kReportFormat));
    }
    const auto version = report.find("version");
    if (version == report.end() || !version->is_number_integer() || version->get<int64_t>() < 1) {
        throw ReportError("the report has no version this program reads");
    }
    if (version->get<int64_t>() > kReportVersion) {
        throw ReportError("the report is of version " + std::to_string(version->get<int64_t>()) +
                          ", newer than this program reads (" + std::to_string(kReportVersion) + ")");
    }
    using K = Json::value_t;
    for (const char* key : {"converter", "instrument", "as_found", "as_left", "verdict"}) {
        expectKind(report, key, K::object, "");
    }
    for (const char* key : {"differences", "changes"}) {
        expectKind(report, key, K::array, "");
    }
    for (const char* stage : {"as_found", "as_left"}) {
        if (report.contains(stage)) {
            checkPart(report[stage], std::string(stage) + ".");
        }
    }
    return report;
}

void Conclude(Json& report) {
    Json parts = Json::object();
    const auto text = [](const Json& j, const char* key) {
        const auto it = j.find(key);
        return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    const Json converter = report.value("converter", Json::object());
    const std::string version = converter.is_object() ? text(converter, "version") : std::string();
    parts["converter"] = version.empty() || version == "not read" ? "not checked" : "pass";
    if (report.contains("instrument") && report["instrument"].is_object()) {
        const Json& instrument = report["instrument"];
        parts["instrument"] = instrument.value("read", false) == true ? "pass" : "not checked";
    }
    const bool complete = text(report, "stage") != "as found";
    const bool found = latest(report, "configuration") != nullptr;
    const bool left = report.contains("as_left") && report["as_left"].is_object() &&
                      report["as_left"].contains("configuration");
    parts["configuration"] = found && (left || !complete) ? "pass" : "not checked";
    for (const char* key : {"check", "loop_check"}) {
        if (const Json* part = latest(report, key)) {
            parts[key] = verdictOf(*part);
        }
    }
    std::string overall = "pass";
    for (const auto& [name, verdict] : parts.items()) {
        if (verdict == "fail") {
            overall = "fail";
        } else if (verdict != "pass" && overall == "pass") {
            overall = "incomplete";
        }
    }
    report["verdict"] = {{"overall", overall}, {"parts", parts}};
}

Json Differences(const Json& found, const Json& left) {
    Json out = Json::array();
    const Json none = Json::object();
    const Json& a = found.is_object() ? found : none;
    const Json& b = left.is_object() ? left : none;
    const auto shown = [](const Json* v) -> Json {
        if (!v) {
            return "not read";
        }
        return v->is_string() ? *v : Json(v->dump());
    };
    for (const auto& [name, value] : a.items()) {
        const auto other = b.find(name);
        if (other == b.end() || *other != value) {
            out.push_back({{"parameter", name},
                           {"as_found", shown(&value)},
                           {"as_left", shown(other == b.end() ? nullptr : &*other)}});
        }
    }
    for (const auto& [name, value] : b.items()) {
        if (!a.contains(name)) {
            out.push_back({{"parameter", name}, {"as_found", shown(nullptr)}, {"as_left", shown(&value)}});
        }
    }
    return out;
}

} // namespace inspection
