// The inspection's sequence and its report's parts.
#include "jobs/Inspection.h"

#include <cmath>
#include <cstdio>

#include "profile/BackupFile.h"
#include "profile/Parameters.h"

namespace jobs {

namespace {

using inspection::Json;

// A converter silent for a moment still gets the mode back.
constexpr int kModeAttempts = 5;

// Nothing more can reach the converter after it, or the person stopped.
bool ends(const std::optional<Stop>& stop) {
    return stop && (stop->kind == Outcome::Kind::LineLost || stop->kind == Outcome::Kind::NotSent ||
                    stop->kind == Outcome::Kind::Interrupted);
}

std::string verdictWord(inspection::Verdict verdict) {
    switch (verdict) {
    case inspection::Verdict::Pass:
        return "pass";
    case inspection::Verdict::Fail:
        return "fail";
    case inspection::Verdict::NotChecked:
        break;
    }
    return "not checked";
}

Json number(std::optional<double> value) {
    return value && std::isfinite(*value) ? Json(*value) : Json(nullptr);
}

Json floatNumber(const std::optional<float>& value) {
    if (!value || !std::isfinite(*value)) {
        return nullptr;
    }
    return std::stod(profile::ValueText(*value));
}

std::string hex2(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

// "VX538-T-B" of "QQQ#QV:VX538-T-B#".
std::string versionOf(const std::optional<std::string>& device) {
    if (!device) {
        return std::string(inspection::kNotRead);
    }
    const std::size_t at = device->find("QV:");
    if (at == std::string::npos) {
        return std::string(inspection::kNotRead);
    }
    const std::string rest = device->substr(at + 3);
    return rest.substr(0, rest.find('#'));
}

Json stagePart(const std::optional<ReadResult>& read, const std::optional<CheckResult>& check,
               double checkTolerance, const std::optional<LoopCheckResult>& loop, const ReportFacts& facts,
               int64_t dateMs) {
    Json part = Json::object();
    if (read && !read->stop) {
        part["configuration"] = InspectionResult::Configuration(*read, facts.port, facts.writtenBy, dateMs);
    }
    if (check) {
        part["check"] = CheckJson(*check);
        part["check"]["tolerance"] = checkTolerance;
    }
    if (loop) {
        part["loop_check"] = LoopCheckJson(*loop, facts.readings, facts.meter);
    }
    return part;
}

Json instrumentPart(const InspectionResult& r, const IdentityOptions& options) {
    if (r.identity) {
        return InstrumentJson(*r.identity, options);
    }
    std::string why = "not reached";
    if (r.hartSwitched && !r.check) {
        why = "the converter did not take transparent mode, in which alone it passes HART frames on";
    }
    return {{"read", false}, {"note", why}};
}

} // namespace

Json InspectionResult::Configuration(const ReadResult& read, const std::string& port,
                                     const std::string& writtenBy, int64_t dateMs) {
    profile::Backup backup;
    backup.writtenBy = writtenBy;
    backup.date = profile::UtcDateText(dateMs);
    backup.port = port;
    backup.device = read.device.value_or("");
    backup.values = read.values;
    if (read.device) {
        backup.replies.emplace_back("QV", *read.device);
    }
    backup.replies.insert(backup.replies.end(), read.replies.begin(), read.replies.end());
    return Json::parse(profile::WriteBackup(backup));
}

Script::Body InspectionJob::run() {
    const std::vector<profile::Query> all(std::begin(profile::kQueries), std::end(profile::kQueries));
    ReadAllJob found({all, true});
    co_await drive(found);
    result_.found = found.result();
    if (result_.found.stop) {
        result_.stop = result_.found.stop;
        co_return;
    }
    const auto& modeValue = result_.found.values.value("mode");
    const int original =
        (modeValue ? profile::ChoiceIndex(profile::Parameters()[profile::ParameterIndex("mode")], *modeValue)
                   : std::nullopt)
            .value_or(kTransparentMode);

    // The instrument answers only in transparent mode: switched for its parts, then put back.
    bool hart = true;
    if (original != kTransparentMode) {
        result_.hartSwitched = true;
        const Request request = ModeRequest(kTransparentMode, false);
        const Outcome outcome = co_await ask(request);
        if (!outcome.whole()) {
            hart = false;
            const Stop stop = StopOf(request, outcome, {"the instrument's identity", "the mapping check"});
            result_.notes.push_back(stop.sentence());
            if (ends(stop)) {
                result_.stop = stop;
            }
        }
    }
    if (hart) {
        IdentityOptions identityOptions = options_.identity;
        identityOptions.variables = false;
        IdentityJob identity(identityOptions);
        co_await drive(identity);
        result_.identity = identity.result();
        CheckOptions checkOptions = options_.check;
        checkOptions.switchMode = false; // the mode is this job's to switch
        CheckJob check(checkOptions);
        co_await drive(check);
        result_.check = check.result();
        if (ends(result_.check->stop)) {
            result_.stop = result_.check->stop;
        }
    }
    if (result_.hartSwitched) {
        const Request back = ModeRequest(original, true);
        PutBackJob put({back}, kModeAttempts);
        co_await drive(put);
        if (put.done().empty()) {
            result_.hartLeftSwitched = true;
            result_.notes.push_back(
                "the converter may still be in transparent mode: set its working mode back to " +
                ModeName(original));
        } else {
            result_.notes.push_back("working mode: " + back.frame + " -> put back to " + ModeName(original));
        }
    }
    if (result_.stop || cancelled()) {
        co_return;
    }
    if (options_.loopCheck) {
        LoopCheckJob loop(options_.loop);
        co_await drive(loop);
        result_.loop = loop.result();
        if (ends(result_.loop->stop)) {
            result_.stop = result_.loop->stop;
            co_return;
        }
    }
    if (options_.readAsLeft && !cancelled()) {
        ReadAllJob left({all, false});
        co_await drive(left);
        result_.left = left.result();
        if (result_.left->stop) {
            result_.stop = result_.left->stop;
        }
    }
}

Json CheckJson(const CheckResult& check) {
    using End = CheckResult::End;
    std::string verdict = "not checked";
    if (check.end == End::Checked) {
        verdict = check.failures() > 0 ? "fail" : "pass";
    } else if (check.end == End::NothingPolled) {
        verdict = "fail"; // the registers hold nothing of the instrument
    }
    Json rows = Json::array();
    for (const profile::CheckRow& row : check.rows) {
        rows.push_back({{"variable", row.variable},
                        {"register", row.registerNumber},
                        {"source", row.source},
                        {"hart", floatNumber(row.hartBefore)},
                        {"unit", row.unit},
                        {"modbus", floatNumber(row.modbus)},
                        {"verdict", profile::VerdictName(row.verdict)},
                        {"note", row.note}});
    }
    return {{"verdict", verdict}, {"summary", check.summary()}, {"rows", rows}, {"notes", check.notes}};
}

Json LoopCheckJson(const LoopCheckResult& loop, const std::string& readings, const std::string& meter) {
    Json outputs = Json::array();
    for (const LoopOutput& o : loop.outputs) {
        Json points = Json::array();
        for (const inspection::PointResult& p : o.points) {
            const bool planned = !p.testValue.empty();
            points.push_back({{"point_ma", p.pointMa},
                              {"test_value", planned ? Json(p.testValue) : Json(nullptr)},
                              {"expected_ma", planned ? Json(p.expectedMa) : Json(nullptr)},
                              {"reading_ma", number(p.readingMa)},
                              {"error_percent", number(p.errorPercent)},
                              {"verdict", verdictWord(p.verdict)},
                              {"note", p.note}});
        }
        outputs.push_back({{"output", o.output},
                           {"name", OutputName(o.output)},
                           {"variable", o.variable.value_or(std::string(inspection::kNotRead))},
                           {"at_4ma", o.at4mA.value_or(std::string(inspection::kNotRead))},
                           {"at_20ma", o.at20mA.value_or(std::string(inspection::kNotRead))},
                           {"verdict", verdictWord(o.verdict)},
                           {"note", o.note},
                           {"points", points}});
    }
    Json json = {{"verdict", verdictWord(loop.verdict())},
                 {"summary", loop.summary()},
                 {"tolerance", loop.tolerance},
                 {"readings", readings}};
    if (!meter.empty()) {
        json["meter"] = meter;
    }
    json["outputs"] = outputs;
    json["notes"] = loop.notes;
    return json;
}

Json InstrumentJson(const IdentityResult& identity, const IdentityOptions& options) {
    if (!identity.identity) {
        return {{"read", false}, {"note", identity.stop ? identity.stop->sentence() : identity.meaning}};
    }
    const hart::IdentityReply& id = *identity.identity;
    char deviceId[16];
    std::snprintf(deviceId, sizeof deviceId, "%02X %02X %02X", id.deviceId[0], id.deviceId[1],
                  id.deviceId[2]);
    return {{"read", true},
            {"manufacturer", hex2(id.manufacturer)},
            {"device_type", hex2(id.deviceType)},
            {"device_id", deviceId},
            {"polling_address", options.address},
            {"preambles", id.reportedPreambles}};
}

Json ChangesJson(const std::vector<inspection::Change>& changes) {
    Json list = Json::array();
    for (const inspection::Change& change : changes) {
        list.push_back(Json::parse(inspection::ChangeLine(change)));
    }
    return list;
}

Json InspectionReport(const InspectionResult& result, const ReportFacts& facts,
                      const std::vector<inspection::Change>& changes) {
    Json report = inspection::NewReport(facts.writtenBy);
    report["stage"] = facts.paused ? "as found" : "complete";
    report["inspector"] = facts.inspector;
    report["port"] = facts.port;
    report["started"] = inspection::UtcTimeText(facts.startedMs);
    report["finished"] = inspection::UtcTimeText(facts.finishedMs);
    report["converter"] = {
        {"device", result.found.device.value_or("")},
        {"version", versionOf(result.found.device)},
        {"slave_address",
         result.found.values.value("modbus.address").value_or(std::string(inspection::kNotRead))}};
    IdentityOptions identity;
    report["instrument"] = instrumentPart(result, identity);
    const double tolerance = facts.checkTolerance;
    report["as_found"] =
        stagePart(result.found, result.check, tolerance, result.loop, facts, facts.startedMs);
    if (result.left) {
        report["as_left"] =
            stagePart(result.left, std::nullopt, tolerance, std::nullopt, facts, facts.finishedMs);
    }
    if (report["as_found"].contains("configuration") && report.contains("as_left") &&
        report["as_left"].contains("configuration")) {
        report["differences"] = inspection::Differences(report["as_found"]["configuration"]["parameters"],
                                                        report["as_left"]["configuration"]["parameters"]);
    }
    report["changes"] = ChangesJson(changes);
    if (!result.notes.empty()) {
        report["notes"] = result.notes;
    }
    inspection::Conclude(report);
    return report;
}

Json FinishedReport(Json found, const InspectionResult& left, const ReportFacts& facts,
                    const std::vector<inspection::Change>& changes) {
    if (found.value("stage", std::string()) != "as found") {
        throw inspection::ReportError(
            "the report is not one paused as found (inspect --as-found writes those)");
    }
    if (!found.contains("as_found") || !found["as_found"].contains("configuration")) {
        throw inspection::ReportError("the report holds no configuration as found");
    }
    Json report = std::move(found);
    report["stage"] = "complete";
    report["written_by"] = facts.writtenBy;
    report["finished"] = inspection::UtcTimeText(facts.finishedMs);
    if (!facts.inspector.empty() && report.value("inspector", std::string()) != facts.inspector) {
        const std::string before = report.value("inspector", std::string());
        report["inspector"] = before.empty() ? facts.inspector : before + ", " + facts.inspector;
    }
    if (report.value("instrument", Json::object()).value("read", false) != true && left.identity) {
        report["instrument"] = InstrumentJson(*left.identity, IdentityOptions{});
    }
    const double tolerance = facts.checkTolerance;
    report["as_left"] = stagePart(left.left ? left.left : std::optional<ReadResult>(), left.check, tolerance,
                                  left.loop, facts, facts.finishedMs);
    if (report["as_left"].contains("configuration")) {
        report["differences"] = inspection::Differences(report["as_found"]["configuration"]["parameters"],
                                                        report["as_left"]["configuration"]["parameters"]);
    }
    Json all = report.value("changes", Json::array());
    for (const Json& change : ChangesJson(changes)) {
        all.push_back(change);
    }
    report["changes"] = all;
    if (!left.notes.empty()) {
        report["notes_as_left"] = left.notes;
    }
    inspection::Conclude(report);
    return report;
}

} // namespace jobs
