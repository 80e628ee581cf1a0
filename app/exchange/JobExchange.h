// How the jobs of the commissioning windows (Live Values, Find Instrument, the field list, Check
// Mapping, Register Map) share the window's one port: each job's next request waits its turn in one
// queue and goes out through the exchange's one send function only while the exchange is free (no
// reply awaited, no configuration run, the line settled). A button's request never waits: it goes out
// as it always has, and a job's request it overtook is sent again once the exchange is free. What
// came of a request reaches its job on a later turn of the event loop, never inside the exchange's
// own handlers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <QObject>

#include "app/exchange/ExchangeObserver.h"
#include "app/exchange/Timer.h"
#include "exchange/JobQueue.h"
#include "jobs/Job.h"

class TForm1;

namespace app {

class JobExchange : public QObject, public ExchangeObserver {
    Q_OBJECT
public:
    using Hear = std::function<void(const jobs::Outcome&)>;

    explicit JobExchange(TForm1& form);
    ~JobExchange() override;

    // A new owner for the queue; its requests' outcomes go to `hear`.
    exchange::Owner join(Hear hear);
    // The owner leaves: its queued request is dropped, one on the line ends unheard.
    void leave(exchange::Owner owner);

    // The owner's next request joins the queue. With the port closed it is not sent: the owner hears
    // NotSent.
    void send(exchange::Owner owner, const jobs::Request& request);
    // The owner gives up its request: dropped when still in line; one on the line ends unheard.
    void withdraw(exchange::Owner owner) { queue_.drop(owner); }

    // Whether the exchange is free for a job's request now: the port open, no reply awaited (also to
    // a request that starts no reply timer, such as an output test, for as long as the reply timer
    // would run), no configuration run, the port not being opened.
    bool exchangeFree() const;
    // A job's request is on the line and waits for its reply: the reply timer runs for it.
    bool jobWaiting() const { return queue_.waiting(); }
    // The owner's request still waits its turn: withdrawn now, it never goes out.
    bool queued(exchange::Owner owner) const { return queue_.queued(owner); }
    // No job's request is on the line, and the line is not settling after one.
    bool quiet() const { return !queue_.inFlight() && !queue_.settling(); }
    // Runs `then` once quiet() (at once when it is); a configuration run starts there, and jobs wait
    // for it.
    void whenJobsQuiet(std::function<void()> then);
    // What kept the exchange from jobs other than its own events has gone (a configuration run
    // ended): the next request may go.
    void resume() { schedule(); }

    // The exchange's events, as the window reports them.
    void frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) override;
    void blockReceived(std::span<const uint8_t> block, int32_t pendingCommand) override;
    void blockHandled(const traffic::Reading& reading, int32_t pendingBefore, bool decodes) override;
    void replyDecoded(int32_t pendingCommand, std::string_view error) override;
    void timeoutHandled(std::string_view message) override;
    void requestRefused(std::string_view message, int32_t pendingCommand) override;
    void portOpened(const serial::TComm& port) override;
    void portClosed(const serial::TComm& port) override;
    void portLost(const serial::TComm& port) override;

signals:
    // The port was closed or lost: every job's request ended with it. `why` names the port.
    void lineEnded(const QString& why);

private:
    // On the next turn of the event loop: outcomes to their owners, then the next request if its turn
    // has come.
    void schedule();
    void pump();
    void sendTurn(exchange::JobQueue::Turn turn);
    void endLine(const std::string& why);

    TForm1& form_;
    exchange::JobQueue queue_;
    std::map<exchange::Owner, Hear> owners_;
    exchange::Owner nextOwner_ = 1;
    bool sending_ = false;   // inside our call of the send function
    bool scheduled_ = false; // a pump is on its way
    std::string block_;      // the block being handled, whole
    // Someone else's frame went out and no block or timeout has followed it yet (a request that
    // starts no reply timer still gets a reply).
    bool othersOutstanding_ = false;
    Timer othersTimer_;
    // The line settles after a block that was not the whole reply.
    Timer settleTimer_;
    std::vector<std::function<void()>> quietWaiters_;
};

} // namespace app
