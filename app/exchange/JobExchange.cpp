// The jobs' requests through the window's exchange.
#include "app/exchange/JobExchange.h"

#include <QTimer>

#include "app/configuration/ConfigurationActions.h"
#include "app/window/VX538AB.h"

namespace app {

namespace {

bool isHart(int32_t pendingCommand) {
    return pendingCommand == exchange::pending::HartIdentity ||
           pendingCommand == exchange::pending::HartVariables ||
           pendingCommand == exchange::pending::HartManual ||
           pendingCommand == exchange::pending::HartAddress;
}

} // namespace

JobExchange::JobExchange(TForm1& form) : QObject(&form), form_(form), othersTimer_(this), settleTimer_(this) {
    othersTimer_.setObjectName(QStringLiteral("JobOthersTimer"));
    othersTimer_.SetInterval(exchange::kReplyTimeoutMs);
    othersTimer_.OnTimer = [this] {
        othersTimer_.SetEnabled(false);
        othersOutstanding_ = false;
        schedule();
    };
    // The rest of a cut reply comes within a reply's time of its first part, or not at all.
    settleTimer_.setObjectName(QStringLiteral("JobSettleTimer"));
    settleTimer_.SetInterval(exchange::kReplyTimeoutMs);
    settleTimer_.OnTimer = [this] {
        settleTimer_.SetEnabled(false);
        queue_.settled();
        schedule();
    };
    form_.AddObserver(*this);
}

JobExchange::~JobExchange() {
    form_.RemoveObserver(*this);
}

exchange::Owner JobExchange::join(Hear hear) {
    const exchange::Owner owner = nextOwner_++;
    owners_[owner] = std::move(hear);
    return owner;
}

void JobExchange::leave(exchange::Owner owner) {
    queue_.drop(owner);
    owners_.erase(owner);
    schedule();
}

void JobExchange::send(exchange::Owner owner, const jobs::Request& request) {
    if (!form_.Comm1->IsOpen()) {
        // Heard on the next turn, as every outcome is.
        const jobs::Outcome outcome = jobs::NotSent("the serial port is not open");
        QTimer::singleShot(0, this, [this, owner, outcome] {
            if (const auto o = owners_.find(owner); o != owners_.end()) {
                const Hear hear = o->second;
                hear(outcome);
            }
        });
        return;
    }
    if (!queue_.add(owner, request)) {
        qWarning("a job asked for a second request while its first was under way");
        return;
    }
    schedule();
}

bool JobExchange::exchangeFree() const {
    return form_.Comm1->IsOpen() && !form_.Opening() && !form_.AwaitingReply() && !othersOutstanding_ &&
           !form_.Configuration().running();
}

void JobExchange::whenJobsQuiet(std::function<void()> then) {
    if (quiet()) {
        then();
        return;
    }
    quietWaiters_.push_back(std::move(then));
}

void JobExchange::schedule() {
    if (scheduled_) {
        return;
    }
    scheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        scheduled_ = false;
        pump();
    });
}

void JobExchange::pump() {
    for (auto& [owner, outcome] : queue_.takeOutcomes()) {
        if (const auto o = owners_.find(owner); o != owners_.end()) {
            const Hear hear = o->second; // the owner may leave while it hears
            hear(outcome);
        }
    }
    if (quiet() && !quietWaiters_.empty()) {
        for (const auto& then : std::exchange(quietWaiters_, {})) {
            then();
        }
    }
    if (auto turn = queue_.turn(exchangeFree())) {
        sendTurn(std::move(*turn));
    }
}

void JobExchange::sendTurn(exchange::JobQueue::Turn turn) {
    const std::string frame = turn.request.frame;
    Request request = Request::text([frame] { return frame; }, turn.request.pending, 0);
    // HART requests keep the reply timer's interval, as the window's HART buttons do.
    request.kind = isHart(turn.request.pending) ? Request::Kind::Hart : Request::Kind::Standard;
    request.showHex = turn.request.showHex;
    request.job = true;
    sending_ = true;
    try {
        form_.SendRequest(request);
    } catch (const std::exception& error) {
        queue_.notSent(error.what());
    }
    sending_ = false;
    // Nothing reported: nothing went out.
    queue_.notSent("nothing was sent");
    schedule();
}

void JobExchange::frameSent(std::span<const uint8_t>, int32_t, bool written) {
    if (sending_) {
        written ? queue_.written() : queue_.notSent("the port did not take the request");
        return;
    }
    if (written) {
        // A button's request: its reply (or the time it would take) is its own.
        othersOutstanding_ = true;
        othersTimer_.SetEnabled(false);
        othersTimer_.SetEnabled(true);
        queue_.overtaken();
    }
}

void JobExchange::blockReceived(std::span<const uint8_t> block, int32_t) {
    block_.assign(block.begin(), block.end());
}

void JobExchange::blockHandled(const traffic::Reading& reading, int32_t, bool) {
    if (queue_.waiting()) {
        queue_.received(std::move(block_), reading);
    } else {
        othersOutstanding_ = false;
        othersTimer_.SetEnabled(false);
    }
    block_.clear();
    if (queue_.settling()) {
        // A block while the line settles is the rest of the one before: the wait starts again.
        settleTimer_.SetEnabled(false);
        settleTimer_.SetEnabled(true);
    }
    schedule();
}

void JobExchange::replyDecoded(int32_t, std::string_view) {
    schedule();
}

void JobExchange::timeoutHandled(std::string_view) {
    if (queue_.waiting()) {
        queue_.silence();
    } else {
        othersOutstanding_ = false;
        othersTimer_.SetEnabled(false);
    }
    schedule();
}

void JobExchange::requestRefused(std::string_view message, int32_t) {
    if (sending_) {
        queue_.notSent(std::string(message));
    }
}

void JobExchange::portOpened(const serial::TComm&) {
    schedule();
}

void JobExchange::portClosed(const serial::TComm& port) {
    endLine("the port " + port.CommName() + " was closed");
}

void JobExchange::portLost(const serial::TComm& port) {
    endLine("the port " + port.CommName() + " was lost");
}

void JobExchange::endLine(const std::string& why) {
    othersOutstanding_ = false;
    othersTimer_.SetEnabled(false);
    settleTimer_.SetEnabled(false);
    queue_.lineLost(why);
    schedule();
    emit lineEnded(QString::fromLocal8Bit(why));
}

} // namespace app
