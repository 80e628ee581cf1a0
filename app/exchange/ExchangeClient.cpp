// The commissioning windows' requests through the window's exchange.
#include "app/exchange/ExchangeClient.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include "app/configuration/ConfigurationActions.h"

namespace app {

struct ExchangeClient::Pending {
    Request request;
    std::function<void(const ExchangeOutcome&)> done;
    bool sending = false;     // inside our call of the send function
    bool sent = false;        // written; waits for its outcome
    bool decoding = false;    // its block was handled; the decoder runs next
    ExchangeOutcome outcome;
};

std::optional<std::vector<uint8_t>> ExchangeOutcome::goodFrame() const {
    if (kind != Kind::Reply || reading.verdict != traffic::Verdict::Good || reading.frameLength == 0 ||
        reading.frameOffset + reading.frameLength > block.size()) {
        return std::nullopt;
    }
    const auto begin = block.begin() + static_cast<std::ptrdiff_t>(reading.frameOffset);
    return std::vector<uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(reading.frameLength));
}

ExchangeClient::ExchangeClient(TForm1& form, QObject* parent)
    : QObject(parent), form_(form), othersTimer_(new QTimer(this)) {
    othersTimer_->setSingleShot(true);
    othersTimer_->setInterval(exchange::kReplyTimeoutMs);
    connect(othersTimer_, &QTimer::timeout, this, [this] {
        othersOutstanding_ = false;
        exchangeOver();
    });
    form_.AddObserver(*this);
}

ExchangeClient::~ExchangeClient() {
    holdInput(false);
    form_.RemoveObserver(*this);
}

bool ExchangeClient::exchangeFree() const {
    return form_.Comm1->IsOpen() && !form_.AwaitingReply() && !othersOutstanding_ &&
           !form_.Configuration().running();
}

void ExchangeClient::send(const Request& request, std::function<void(const ExchangeOutcome&)> done) {
    if (current_ || queued_) {
        ExchangeOutcome outcome;
        outcome.message = "another request of this window is under way";
        done(outcome);
        return;
    }
    queued_ = std::make_unique<Pending>();
    queued_->request = request;
    queued_->done = std::move(done);
    trySend();
}

struct ExchangeClient::Chain {
    std::vector<Request> requests;
    std::vector<ExchangeOutcome> outcomes;
    std::function<void(const std::vector<ExchangeOutcome>&)> done;
};

void ExchangeClient::sendAll(std::vector<Request> requests,
                             std::function<void(const std::vector<ExchangeOutcome>&)> done) {
    sendNext(std::make_shared<Chain>(Chain{std::move(requests), {}, std::move(done)}));
}

void ExchangeClient::sendNext(std::shared_ptr<Chain> chain) {
    const std::size_t index = chain->outcomes.size();
    if (index == chain->requests.size()) {
        chain->done(chain->outcomes);
        return;
    }
    send(chain->requests[index], [this, chain](const ExchangeOutcome& outcome) {
        chain->outcomes.push_back(outcome);
        if (!outcome.replied()) {
            chain->done(chain->outcomes);
            return;
        }
        sendNext(chain);
    });
}

void ExchangeClient::cancel() {
    queued_.reset();
    current_.reset();
    holdInput(false);
    deliverHeldInput();
}

void ExchangeClient::trySend() {
    if (!queued_ || current_) {
        return;
    }
    if (!form_.Comm1->IsOpen()) {
        ExchangeOutcome outcome;
        outcome.kind = ExchangeOutcome::Kind::PortClosed;
        outcome.message = "the port is not open";
        const auto done = std::move(queued_->done);
        queued_.reset();
        done(outcome);
        return;
    }
    if (!exchangeFree()) {
        return; // exchangeOver() tries again
    }
    current_ = std::move(queued_);
    current_->sending = true;
    try {
        form_.SendRequest(current_->request);
    } catch (const std::exception& error) {
        if (current_ && !current_->sent) {
            ExchangeOutcome outcome;
            outcome.message = error.what();
            finish(std::move(outcome));
        }
        return;
    }
    if (current_) {
        current_->sending = false;
        if (!current_->sent) {
            // Nothing reported: nothing went out.
            ExchangeOutcome outcome;
            outcome.message = "nothing was sent";
            finish(std::move(outcome));
        }
    }
}

void ExchangeClient::frameSent(std::span<const uint8_t> frame, int32_t, bool written) {
    if (!current_ || !current_->sending) {
        // Its reply may come without the window waiting for it (an output test starts no timer).
        if (written) {
            othersOutstanding_ = true;
            othersTimer_->start();
        }
    }
    if (!current_) {
        return;
    }
    if (current_->sending) {
        if (!written) {
            ExchangeOutcome outcome;
            outcome.message = "the port did not take the request";
            finish(std::move(outcome));
            return;
        }
        current_->sent = true;
        current_->outcome.request.assign(frame.begin(), frame.end());
        holdInput(true);
        return;
    }
    if (written && current_->sent) {
        ExchangeOutcome outcome;
        outcome.kind = ExchangeOutcome::Kind::Interrupted;
        finish(std::move(outcome));
    }
}

void ExchangeClient::requestRefused(std::string_view message, int32_t) {
    if (current_ && current_->sending) {
        ExchangeOutcome outcome;
        outcome.message = std::string(message);
        finish(std::move(outcome));
    }
}

void ExchangeClient::blockHandled(const traffic::Reading& reading, int32_t, bool decodes) {
    othersOutstanding_ = false;
    if (current_ && current_->sent && !current_->decoding) {
        const std::span<const uint8_t> block = form_.ReceiveBuffer();
        current_->outcome.block.assign(block.begin(), block.end());
        current_->outcome.reading = reading;
        if (decodes) {
            current_->decoding = true;
            return;
        }
        ExchangeOutcome outcome = std::move(current_->outcome);
        outcome.kind = ExchangeOutcome::Kind::Reply;
        finish(std::move(outcome));
        return;
    }
    if (!decodes) {
        exchangeOver();
    }
}

void ExchangeClient::replyDecoded(int32_t, std::string_view) {
    if (current_ && current_->decoding) {
        ExchangeOutcome outcome = std::move(current_->outcome);
        outcome.kind = ExchangeOutcome::Kind::Reply;
        finish(std::move(outcome));
        return;
    }
    exchangeOver();
}

void ExchangeClient::timeoutHandled(std::string_view) {
    othersOutstanding_ = false;
    if (current_ && current_->sent) {
        ExchangeOutcome outcome = std::move(current_->outcome);
        outcome.kind = ExchangeOutcome::Kind::NoReply;
        finish(std::move(outcome));
        return;
    }
    exchangeOver();
}

void ExchangeClient::portClosed(const serial::TComm&) {
    othersOutstanding_ = false;
    if (current_) {
        ExchangeOutcome outcome;
        outcome.kind = ExchangeOutcome::Kind::PortClosed;
        outcome.message = "the port was closed";
        finish(std::move(outcome));
    }
}

void ExchangeClient::portLost(const serial::TComm& port) {
    portClosed(port);
}

void ExchangeClient::finish(ExchangeOutcome outcome) {
    if (!current_) {
        return;
    }
    if (outcome.request.empty()) {
        outcome.request = current_->outcome.request;
    }
    auto done = std::move(current_->done);
    current_.reset();
    // Input held meanwhile goes first, then the window hears the outcome (and may send again, once
    // the exchange that input started is over); never inside the exchange's own handler.
    QTimer::singleShot(0, this, [this, done = std::move(done), outcome = std::move(outcome)] {
        holdInput(false);
        deliverHeldInput();
        done(outcome);
        trySend();
    });
}

void ExchangeClient::exchangeOver() {
    QTimer::singleShot(0, this, [this] {
        trySend();
        if (onExchangeFree && exchangeFree() && !busy()) {
            onExchangeFree();
        }
    });
}

void ExchangeClient::holdInput(bool hold) {
    if (hold == holding_) {
        return;
    }
    holding_ = hold;
    if (hold) {
        qApp->installEventFilter(this);
    } else {
        qApp->removeEventFilter(this);
    }
}

void ExchangeClient::deliverHeldInput() {
    while (!held_.empty() && !holding_) {
        auto [receiver, event] = std::move(held_.front());
        held_.pop_front();
        if (receiver) {
            QCoreApplication::sendEvent(receiver, event.get());
        }
    }
}

namespace {

// Whether `object` belongs to the main window: one of its widgets, a menu it opened, one of its actions.
bool ofMainWindow(QObject* object, const QWidget& form) {
    if (auto* action = qobject_cast<QAction*>(object)) {
        object = action->parent();
    }
    for (auto* widget = qobject_cast<QWidget*>(object); widget; widget = widget->parentWidget()) {
        if (widget == &form) {
            return true;
        }
        if (widget->isWindow() && !qobject_cast<QMenu*>(widget)) {
            return false;
        }
    }
    return false;
}

} // namespace

bool ExchangeClient::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
        if (holding_ && ofMainWindow(watched, form_)) {
            held_.emplace_back(watched, std::unique_ptr<QEvent>(event->clone()));
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

profile::Configuration ConfigurationOfReplies(const std::vector<profile::Query>& queries,
                                              const std::vector<ExchangeOutcome>& outcomes,
                                              std::vector<std::string>& problems) {
    profile::Configuration values;
    for (std::size_t i = 0; i < queries.size(); ++i) {
        const std::string key(profile::QueryKey(queries[i]));
        if (i >= outcomes.size() || !outcomes[i].replied()) {
            problems.push_back("no reply to the " + std::string(profile::QueryTitle(queries[i])) + " query (" + key + ")");
            continue;
        }
        const std::vector<uint8_t>& block = outcomes[i].block;
        for (const profile::Problem& problem :
             profile::DecodeReply(queries[i], {reinterpret_cast<const char*>(block.data()), block.size()}, values)) {
            problems.push_back(profile::ProblemText(problem));
        }
    }
    return values;
}

} // namespace app
