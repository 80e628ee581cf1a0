// How the commissioning windows (Live Values, Find Instrument, the field list, Check Mapping, Register
// Map) share the window's one port: each of their requests goes out through the exchange's one send
// function only while the exchange is free (no reply awaited, no configuration run), and its outcome
// is what the exchange then reports. While such a request waits for its reply, input meant for the
// main window is held and delivered, in order, once the exchange is over, so a button pressed then
// gets exactly its own exchange and never the reply to a request of ours.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

#include "app/exchange/ExchangeObserver.h"
#include "app/window/VX538AB.h"
#include "profile/Configuration.h"

class QEvent;
class QTimer;

namespace app {

struct ExchangeOutcome {
    enum class Kind {
        Reply,       // a block was handled (and decoded, for a query the window decodes)
        NoReply,     // the reply timer ran out
        NotSent,     // refused before anything was written, or the port did not take it
        PortClosed,  // the port was closed or lost meanwhile
        Interrupted, // another request went out while ours waited
    };
    Kind kind = Kind::NotSent;
    std::vector<uint8_t> request;
    std::vector<uint8_t> block;  // the block handled (as the receive buffer holds it)
    traffic::Reading reading;    // the interpreter's reading of it against the request
    std::string message;         // why it was not sent

    bool replied() const { return kind == Kind::Reply; }
    // The reply frame the interpreter found in the block, when it found a good one.
    std::optional<std::vector<uint8_t>> goodFrame() const;
};

class ExchangeClient : public QObject, public ExchangeObserver {
    Q_OBJECT
public:
    explicit ExchangeClient(TForm1& form, QObject* parent = nullptr);
    ~ExchangeClient() override;

    TForm1& form() const { return form_; }

    // Whether a request of ours could go out now: the port open, no reply awaited (also to a request
    // that starts no reply timer, such as an output test, for as long as the reply timer would run),
    // no run under way.
    bool exchangeFree() const;
    // A request of ours is on its way or waits for its reply.
    bool busy() const { return current_ != nullptr; }

    // Sends `request` once the exchange is free (at once if it is); `done` hears the outcome. One
    // request at a time: a second send while busy replaces nothing and reports NotSent.
    void send(const Request& request, std::function<void(const ExchangeOutcome&)> done);
    // Sends the requests one after another, each once the previous one's exchange is over; `done`
    // hears every outcome, stopping after the first that is not a reply.
    void sendAll(std::vector<Request> requests, std::function<void(const std::vector<ExchangeOutcome>&)> done);
    // Forgets the request under way (its reply, if one comes, is left to the window) and the rest.
    void cancel();

    // The exchange became free after someone else's request: a window waiting to send hears it.
    std::function<void()> onExchangeFree;

    void frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) override;
    void blockHandled(const traffic::Reading& reading, int32_t pendingBefore, bool decodes) override;
    void replyDecoded(int32_t pendingCommand, std::string_view error) override;
    void timeoutHandled(std::string_view message) override;
    void requestRefused(std::string_view message, int32_t pendingCommand) override;
    void portClosed(const serial::TComm& port) override;
    void portLost(const serial::TComm& port) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Pending;
    struct Chain;

    void sendNext(std::shared_ptr<Chain> chain);
    void trySend();
    void finish(ExchangeOutcome outcome);
    void exchangeOver();
    void holdInput(bool hold);
    void deliverHeldInput();

    TForm1& form_;
    std::unique_ptr<Pending> queued_;  // waits for the exchange to be free
    std::unique_ptr<Pending> current_; // sent, waits for its outcome
    bool holding_ = false;
    // Someone else's frame went out and no block or timeout has followed it yet.
    bool othersOutstanding_ = false;
    QTimer* othersTimer_ = nullptr;
    std::deque<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> held_;
};

// The configuration as the replies of `outcomes` report it (each a query's reply): what the
// commissioning windows read before they work. Problems (a missing reply, a field a reply lacks) are
// appended to `problems`.
profile::Configuration ConfigurationOfReplies(const std::vector<profile::Query>& queries,
                                              const std::vector<ExchangeOutcome>& outcomes,
                                              std::vector<std::string>& problems);

} // namespace app
