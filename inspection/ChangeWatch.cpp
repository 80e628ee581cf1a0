// One port's set commands logged by their answers, with the values last read on the port.
#include "inspection/ChangeWatch.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "config/TextCommands.h"

namespace inspection {

namespace {

constexpr std::string_view kSetHead = "QQS#";
constexpr std::string_view kFactoryHead = "TAVRIK#";
constexpr std::string_view kFactoryKey = "TAVRIK#PCBSN:";

int64_t systemNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Printable, as a value in a log line.
std::string printable(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        text += (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) ? c : '.';
    }
    return text;
}

// The key of a set frame ("DA4" of "QQS#DA4:..."), or "RESET".
std::string keyOf(std::string_view frame) {
    const std::string_view head = frame.starts_with(kSetHead) ? kSetHead : kFactoryHead;
    const std::string_view rest = frame.substr(std::min(head.size(), frame.size()));
    return printable(rest.substr(0, std::min(rest.find_first_of(":#"), rest.size())));
}

} // namespace

bool ChangesConverter(std::string_view frame) {
    return frame.starts_with(kSetHead) || frame.starts_with(kFactoryHead);
}

ChangeWatch::ChangeWatch(ChangeLog& log, std::string port, Clock clock)
    : log_(log), port_(std::move(port)), clock_(clock ? std::move(clock) : Clock(systemNow)) {}

std::vector<Change> ChangeWatch::changesOf(std::string_view frame) const {
    Change base;
    base.user = log_.user();
    base.host = log_.host();
    base.port = port_;
    base.slave = slave_;
    base.converter = converter_;
    base.frontEnd = log_.frontEnd();
    base.command = keyOf(frame);
    std::vector<Change> changes;
    const auto add = [&](std::string parameter, std::string oldValue, std::string newValue) {
        Change c = base;
        c.parameter = std::move(parameter);
        c.oldValue = std::move(oldValue);
        c.newValue = std::move(newValue);
        changes.push_back(std::move(c));
    };
    if (const auto read = profile::ReadSetFrame(frame)) {
        // A frame carries every parameter of its command: those it changes are the changes; one that
        // changes none is still a set the converter took, so all of them stand then.
        for (const bool onlyChanged : {true, false}) {
            for (const std::size_t p : profile::ParametersOf(read->setter)) {
                const auto& old = known_.value(p);
                if (!onlyChanged || old != read->values.value(p)) {
                    add(profile::Parameters()[p].name, old.value_or(std::string(kNotRead)),
                        *read->values.value(p));
                }
            }
            if (!changes.empty()) {
                break;
            }
        }
    } else if (frame == config::parameterInitializationFrame()) {
        add("all", std::string(kNotRead), "factory values");
    } else if (frame.starts_with(kFactoryKey) && frame.ends_with('#')) {
        const std::string_view value =
            frame.substr(kFactoryKey.size(), frame.size() - kFactoryKey.size() - 1);
        const std::size_t comma = value.find(',');
        add("pcbsn", std::string(kNotRead), printable(value.substr(0, comma)));
        if (comma != std::string_view::npos) {
            add("inspector", std::string(kNotRead), printable(value.substr(comma + 1)));
        }
    } else {
        // A value the table does not take (a frame typed by hand, one the converter will refuse): as it
        // stands, under its parameter's name where the command carries one.
        const std::size_t colon = frame.find(':');
        std::string_view value =
            colon == std::string_view::npos ? std::string_view() : frame.substr(colon + 1);
        if (value.ends_with('#')) {
            value.remove_suffix(1);
        }
        const auto setters = profile::Setters();
        const auto setter = std::find_if(setters.begin(), setters.end(),
                                         [&](const profile::Setter& s) { return s.key == base.command; });
        if (setter != setters.end() && setter->parameters.size() == 1) {
            const std::size_t p = setter->parameters[0];
            add(profile::Parameters()[p].name, known_.value(p).value_or(std::string(kNotRead)),
                printable(value));
        } else {
            add(base.command, std::string(kNotRead), printable(value));
        }
    }
    return changes;
}

void ChangeWatch::settle(Change::Status status, std::string reason) {
    if (!request_ || !ChangesConverter(*request_)) {
        request_.reset();
        return;
    }
    const std::string frame = *std::exchange(request_, std::nullopt);
    std::vector<Change> changes = changesOf(frame);
    const int64_t now = clock_();
    for (Change& c : changes) {
        c.timeMs = now;
        c.status = status;
        c.reason = reason;
    }
    if (status == Change::Status::Acknowledged) {
        if (const auto read = profile::ReadSetFrame(frame)) {
            known_.merge(read->values);
            if (const auto& address = known_.value("modbus.address")) {
                slave_ = *address;
            }
        } else if (frame == config::parameterInitializationFrame()) {
            // The converter now holds its factory values, which only a read will show.
            known_ = profile::Configuration();
            slave_ = std::string(kNotRead);
        }
    }
    log_.write(changes);
    logged_.insert(logged_.end(), changes.begin(), changes.end());
}

void ChangeWatch::sent(std::string_view frame) {
    if (request_) {
        settle(Change::Status::Unanswered, "no answer before the next request");
    }
    request_ = std::string(frame);
}

void ChangeWatch::learn(std::string_view frame, std::string_view reply) {
    if (frame == config::communicationQueryFrame()) {
        const std::size_t at = reply.find("QV:");
        if (at != std::string_view::npos) {
            const std::string_view value = reply.substr(at + 3);
            converter_ = printable(value.substr(0, std::min(value.find('#'), value.size())));
        }
        return;
    }
    for (const profile::Query query : profile::kQueries) {
        if (frame == profile::QueryFrame(query)) {
            profile::DecodeReply(query, reply, known_);
            if (query == profile::Query::QX1) {
                if (const auto& address = known_.value("modbus.address")) {
                    slave_ = *address;
                }
            }
            return;
        }
    }
}

void ChangeWatch::received(std::string_view block, const traffic::Reading& reading) {
    if (!request_) {
        return;
    }
    if (ChangesConverter(*request_)) {
        if (reading.verdict == traffic::Verdict::Acknowledged) {
            settle(Change::Status::Acknowledged, {});
        } else if (reading.verdict == traffic::Verdict::Refused) {
            settle(Change::Status::Refused, reading.meaning);
        } else if (traffic::ReplyEndOf(reading) != traffic::ReplyEnd::Partial) {
            settle(Change::Status::Unanswered, "no acknowledgement: " + reading.meaning);
        }
        return;
    }
    if (reading.verdict == traffic::Verdict::Good) {
        const std::string_view reply =
            reading.frameLength > 0 && reading.frameOffset + reading.frameLength <= block.size()
                ? block.substr(reading.frameOffset, reading.frameLength)
                : block;
        learn(*request_, reply);
        request_.reset();
    }
}

void ChangeWatch::unanswered(std::string_view why) {
    if (request_) {
        settle(Change::Status::Unanswered, std::string(why));
    }
}

void ChangeWatch::forget() {
    if (request_) {
        settle(Change::Status::Unanswered, "the port was closed before an answer");
    }
    known_ = profile::Configuration();
    slave_ = std::string(kNotRead);
    converter_ = std::string(kNotRead);
}

} // namespace inspection
