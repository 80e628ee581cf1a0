// The mapping read from the converter.
#include "jobs/ReadMapping.h"

#include "config/TextCommands.h"
#include "hart/HartFrames.h"
#include "profile/Parameters.h"
#include "tools/Bytes.h"

namespace jobs {

std::string ModeName(int mode) {
    const auto& choices = profile::Parameters()[profile::ParameterIndex("mode")].choices;
    if (mode < 0 || static_cast<std::size_t>(mode) >= choices.size()) {
        return "mode " + std::to_string(mode);
    }
    return std::string(choices[static_cast<std::size_t>(mode)].name);
}

Request ModeRequest(int mode, bool restores) {
    Request request;
    request.frame = config::workingModeFrame(mode);
    request.pending = traffic::pending::SetCommand;
    request.what = "the working mode (" + ModeName(mode) + ")";
    request.restores = restores;
    return request;
}

std::string MappingResult::problemText() const {
    if (mapping) {
        return {};
    }
    if (stop) {
        return stop->sentence();
    }
    std::string text;
    for (const profile::Problem& p : problems) {
        text += (text.empty() ? "" : "; ") + profile::ProblemText(p);
    }
    return text.empty() ? "the converter's configuration holds no mapping" : text;
}

Script::Body ReadMappingJob::run() {
    ReadAllJob read({{profile::Query::QX1, profile::Query::QX3, profile::Query::QX4}});
    co_await drive(read);
    result_.read = read.result();
    if (result_.read.stop) {
        result_.stop = result_.read.stop;
        co_return;
    }
    const auto& replies = result_.read.replies; // one per query, in order, all whole
    profile::MappingRead mapping =
        profile::MappingOfReplies(replies[0].second, replies[1].second, replies[2].second);
    result_.mapping = std::move(mapping.mapping);
    result_.mode = mapping.mode;
    result_.problems = std::move(mapping.problems);
}

bool ReadMappingJob::took(MappingResult& into, std::optional<Stop>& stop) const {
    into = result_;
    stop = result_.stop;
    return result_.mapping.has_value();
}

Request HartBodyRequest(const std::vector<uint8_t>& body, const std::string& preambles, std::string what) {
    Request request;
    request.frame = std::string(tools::asText(hart::ManualFrame(preambles, body)));
    request.pending = traffic::pending::HartManual;
    request.query = true;
    request.showHex = true;
    request.what = std::move(what);
    return request;
}

} // namespace jobs
