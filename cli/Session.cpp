// One port's run of a command: requests, replies read against the interpreter, the traffic log.
#include "cli/Session.h"

#include "config/TextCommands.h"
#include "tools/Bytes.h"
#include "tools/Utf8Text.h"
#include "traffic/EventFormat.h"

namespace cli {

using tools::bytesOf;

void TrafficLog::open(const std::string& path) {
    if (path.empty()) {
        return;
    }
    if (const std::string failure = file_.open(path, traffic::TextHeader()); !failure.empty()) {
        throw Failure(code::BadFile, "cannot open the log file " + tools::EchoName(path) + ": " + failure);
    }
    path_ = path;
}

std::string TrafficLog::failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

void TrafficLog::write(const traffic::Event& event, std::string_view port) {
    traffic::Event named = event;
    named.source = std::string(port); // the Source column, which says "window" for the window's own
    named.note = std::string(port) + ": " + named.note;
    const std::string line = traffic::TextLine(named);
    const std::lock_guard lock(mutex_);
    if (!failure_.empty()) {
        return;
    }
    if (const std::string failure = file_.writeLine(line); !failure.empty()) {
        failure_ = "cannot write the log file " + tools::EchoName(path_) + ": " + failure;
    }
}

Session::Session(LineOptions options, const serial::EventFd& stop, TrafficLog* log,
                 const TransportMaker& transport, inspection::ChangeLog* changes)
    : options_(options), transport_(transport), stop_(stop),
      line_(options, stop, transport ? transport(options.port) : nullptr), log_(log), changes_(changes) {
    if (changes_) {
        watch_.emplace(*changes_, options.port);
    }
    if (log_ && log_->isOpen()) {
        recorder_.onAppended = [this] {
            log_->write(recorder_.log().at(recorder_.log().size() - 1), port());
        };
    }
}

void Session::open() {
    if (const auto failure = line_.open()) {
        if (log_ && log_->isOpen()) {
            recorder_.port(traffic::EventKind::Refused, port() + " not opened: " + *failure);
        }
        if (stop_.isSignalled()) {
            throw Failure(code::Interrupted, "interrupted while opening the port");
        }
        throw Failure(code::PortUnusable, *failure);
    }
    collectLineDifferences();
    // The log names the port on every line already; the device it leads to is said where it differs.
    recorder_.port(traffic::EventKind::PortOpened,
                   (line_.path() == port() ? std::string("opened") : "opened as " + line_.path()) + ", " +
                       std::to_string(options_.baud) + " baud, parity " +
                       std::string(ParityName(options_.parity)));
}

void Session::identify() {
    identify_ = false; // once, whatever comes of it
    // A converter that does not answer its queries is said so by the command's own requests.
    if (!watch_->versionKnown()) {
        exchange(config::communicationQueryFrame(), traffic::pending::SystemParameters, true,
                 "the communication query");
    }
    if (!watch_->slaveKnown() && !lineLost_ && !line_.stop().isSignalled()) {
        exchange(config::systemParameterQueryFrame(), traffic::pending::SystemParameters, true,
                 "the system parameters query");
    }
}

Answer Session::exchange(std::string_view frame, int32_t pendingCommand, bool isQuery, std::string_view what,
                         bool despiteLog) {
    if (log_ && !despiteLog) {
        if (const std::string failure = log_->failure(); !failure.empty()) {
            throw Failure(code::BadFile, failure);
        }
    }
    if (identify_ && inspection::ChangesConverter(frame)) {
        identify();
    }
    line_.observer.sent = [&](std::string_view bytes) {
        recorder_.sent(bytesOf(bytes), pendingCommand);
        if (watch_) {
            watch_->sent(bytes);
        }
    };
    line_.observer.received = [&](std::string_view bytes) {
        recorder_.received(bytesOf(bytes), pendingCommand);
    };
    line_.observer.timedOut = [&] { recorder_.timedOut("no reply to " + std::string(what), pendingCommand); };
    Answer answer;
    const ReplyShape shape = pendingCommand == traffic::pending::None
                                 ? ReplyShape{}
                                 : ReplyShape{ReplyShape::Kind::Request, pendingCommand};
    answer.reply = line_.exchange(frame, shape, isQuery);
    line_.observer = {};
    collectLineDifferences();
    if (answer.reply.end == ReplyEnd::Lost) {
        lineLost_ = true;
    }
    if (!answer.reply.bytes.empty()) {
        answer.reading = traffic::Read(bytesOf(answer.reply.bytes), traffic::Direction::Received, pendingCommand,
                                       bytesOf(frame));
        if (watch_) {
            watch_->received(answer.reply.bytes, answer.reading);
        }
    } else if (watch_) {
        watch_->unanswered(answer.reply.end == ReplyEnd::Interrupted ? "interrupted"
                           : answer.reply.end == ReplyEnd::Lost      ? lostWords()
                                                                     : "no reply " + silenceWords(answer));
    }
    return answer;
}

std::string Session::silenceWords(const Answer& answer) const {
    std::string words = "within " + std::to_string(options_.timeout.count()) + " ms";
    if (answer.reply.attempts > 1) {
        words += " (sent " + std::to_string(answer.reply.attempts) + " times)";
    }
    return words;
}

std::string Session::lostWords() const {
    return line_.lostWords();
}

std::unique_ptr<Session> Session::detached(const serial::EventFd& stop) const {
    return std::make_unique<Session>(options_, stop, log_, transport_, changes_);
}

Answer Session::request(std::string_view frame, int32_t pendingCommand, bool isQuery, std::string_view what) {
    Answer answer = exchange(frame, pendingCommand, isQuery, what);
    switch (answer.reply.end) {
    case ReplyEnd::Interrupted:
        throw Failure(code::Interrupted, "interrupted", answer.reply.written);
    case ReplyEnd::NoReply:
        throw Failure(code::NoReply, "no reply to " + std::string(what) + " " + silenceWords(answer), true);
    case ReplyEnd::Lost:
        if (answer.reply.bytes.empty()) {
            // A line that goes while a run is on is a reply that never came (exit 4, with the reason);
            // a port that cannot be opened at all is another matter (exit 3).
            throw Failure(code::NoReply, "no reply: " + lostWords(), answer.reply.written);
        }
        break; // what arrived before the line went is still read
    case ReplyEnd::Complete:
    case ReplyEnd::Quiet:
        break;
    }
    return answer;
}

void Session::collectLineDifferences() {
    for (std::string& words : line_.takeLineDifferences()) {
        recorder_.port(traffic::EventKind::LineDiffers, words);
        lineDifferences_.push_back(std::move(words));
    }
}

} // namespace cli
