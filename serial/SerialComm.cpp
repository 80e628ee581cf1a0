// TComm: the serial port component, its reader, writer and modem-watch threads, and the notices
// they hand to the main thread. All Linux specifics are behind PosixPort.h.
#include "serial/SerialComm.h"

#include <QEvent>
#include <QPointer>
#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <cerrno>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "serial/LineSettings.h"
#include "serial/Mailbox.h"
#include "serial/PosixPort.h"

namespace serial {

namespace {

// One delivered block holds at most this many bytes.
constexpr std::size_t kReadBlockSize = 2048;
// Threads wake on the close event at once; this bound only catches a thread that does not.
constexpr auto kJoinBound = std::chrono::milliseconds(10000);
// Full blocks handed on while the line still has more, at most, before the main thread is woken.
constexpr int kMaxQuietBlocks = 8;
// Consecutive "ready, but nothing to read" wake-ups after which the reader gives the port up.
constexpr int kSpuriousWakeupLimit = 1000;
// Pause between wake signals while a modem-watch thread is being stopped.
constexpr auto kModemWakeRetry = std::chrono::milliseconds(2);

// The event that tells the main thread to deliver what the port's threads have queued.
QEvent::Type deliveryEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType(QEvent::User + 1));
    return type;
}

struct WriteRequest {
    std::unique_ptr<uint8_t[]> block;
    uint16_t length = 0;
};

// The writer's queue: filled on the main thread, emptied by the writer, which its eventfd wakes.
// It also keeps the send-queue-empty flag, so the flag and the queue always agree.
class WriteQueue {
public:
    bool create() { return wakeUp_.create(); }
    const EventFd& wakeUp() const { return wakeUp_; }
    void drainWakeUps() { wakeUp_.drain(); }

    // False once the writer has ended: nobody would ever write the block.
    bool push(WriteRequest request) {
        {
            std::lock_guard lock(mutex_);
            if (closed_) {
                return false;
            }
            requests_.push_back(std::move(request));
            empty_ = false;
        }
        wakeUp_.signal();
        return true;
    }

    std::optional<WriteRequest> pop() {
        std::lock_guard lock(mutex_);
        if (requests_.empty()) {
            empty_ = true;
            return std::nullopt;
        }
        WriteRequest request = std::move(requests_.front());
        requests_.pop_front();
        return request;
    }

    // The writer has ended: what is queued is dropped and nothing more is taken.
    void close() {
        std::deque<WriteRequest> dropped;
        std::lock_guard lock(mutex_);
        closed_ = true;
        empty_ = true;
        dropped.swap(requests_);
    }

    bool isEmpty() const {
        std::lock_guard lock(mutex_);
        return empty_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<WriteRequest> requests_;
    bool closed_ = false;
    bool empty_ = true;
    EventFd wakeUp_;
};

} // namespace

// What the threads of one open port share with the component. The threads hold it by shared_ptr,
// so a thread that overran its join bound still finds valid descriptors; it then posts nothing.
struct PortSession {
    explicit PortSession(std::shared_ptr<Mailbox> mailbox) : mailbox_(std::move(mailbox)) {}

    std::string path; // the device or URL as opened
    std::unique_ptr<Transport> port;
    EventFd closeEvent;
    WriteQueue writeQueue;
    std::atomic<uint32_t> readInterval{0};
    std::atomic<uint32_t> readTotalMultiplier{0};
    std::atomic<uint32_t> readTotalConstant{0};
    std::atomic<uint32_t> writeTotalMultiplier{0};
    std::atomic<uint32_t> writeTotalConstant{0};
    std::atomic<bool> ignoreNullChar{false};
    std::atomic<bool> hangupRequested{false};
    bool countersSupported = false;
    bool modemWithReads = false; // ring and carrier changes come with the reads, not from a watch
    bool network = false;        // a server may report that it set the line otherwise than asked

    // Made before the threads start, so asking for a hang-up never fails for want of memory.
    bool prepareHangup() {
        hangupNotice_ = makeNotice(NoticeKind::RequestHangup);
        return hangupNotice_ != nullptr;
    }

    // Nothing more reaches the component from this port's threads.
    void closeGate() { closed_.store(true, std::memory_order_release); }

    void post(NoticePtr notice, bool wake = true) {
        if (!closed_.load(std::memory_order_acquire)) {
            mailbox_->post(std::move(notice), wake);
        }
    }
    void wakeUp() { mailbox_->wakeUp(); }
    bool waitForRoom() { return mailbox_->waitForRoom(closeEvent); }

    // False when there was no memory for the notice; the thread then ends with a hang-up.
    bool post(NoticeKind kind, uint32_t value = 0) {
        NoticePtr notice = makeNotice(kind);
        if (!notice) {
            return false;
        }
        notice->value = value;
        post(std::move(notice));
        return true;
    }

    // One open port asks for a hang-up at most once, whichever thread meets the failure first.
    void requestHangup() {
        if (!hangupRequested.exchange(true)) {
            post(std::move(hangupNotice_));
        }
    }

    void setTimeouts(const CommTimeouts& t) {
        readInterval = t.readInterval;
        readTotalMultiplier = t.readTotalMultiplier;
        readTotalConstant = t.readTotalConstant;
        writeTotalMultiplier = t.writeTotalMultiplier;
        writeTotalConstant = t.writeTotalConstant;
    }

    void setLineSettings(const LineSettings& s) {
        port->applyLineSettings(s);
        ignoreNullChar = s.ignoreNullChar;
    }

private:
    std::shared_ptr<Mailbox> mailbox_;
    std::atomic<bool> closed_{false};
    NoticePtr hangupNotice_; // moved out by the one thread that asks first
};

namespace {

// Collects received bytes into blocks and posts each block to the main thread.
class TReadThread {
public:
    explicit TReadThread(std::shared_ptr<PortSession> session) : s_(std::move(session)) {}

    void run() {
        counting_ = s_->countersSupported && s_->port->readCounters(counters_);
        for (;;) {
            // An idle line costs nothing: the wait for a block's first byte has no limit. Bytes the
            // last read carried past a full block begin the next one without a wait.
            const WaitResult waited = carried_ > 0 ? WaitResult::Ready : waitForLine(std::nullopt);
            if (waited == WaitResult::Closed) {
                break;
            }
            if (waited != WaitResult::Ready) {
                s_->requestHangup();
                break;
            }
            if (!collectBlock()) {
                break;
            }
        }
        s_->wakeUp(); // for blocks still held back
        s_->port->purge(QueueSide::Input);
    }

private:
    // A full block is queued without waking the main thread while the line already holds more: the
    // main thread is woken when the reader is about to wait, or after a few such blocks. A stream
    // then costs the main thread one wake-up per few blocks instead of one per block; a block that
    // silence ended, and every block on a line slower than the reader, still wakes it at once.
    WaitResult waitForLine(Deadline deadline) {
        if (quietBlocks_ > 0) {
            const WaitResult atOnce = waitForPort(s_->closeEvent, s_->port->fd(), false, Clock::now());
            if (atOnce != WaitResult::TimedOut) {
                return atOnce;
            }
            quietBlocks_ = 0;
            s_->wakeUp();
        }
        return waitForPort(s_->closeEvent, s_->port->fd(), false, deadline);
    }

    // Nothing: bytes came but were all dropped (null bytes); Spurious: the port said ready and
    // had nothing.
    enum class ReadOutcome { Data, Nothing, Spurious, Gone };

    // Reads into the block that will be handed over (one more byte kept for its terminating zero)
    // and, in the same call, on into the next block, so a line that holds more than the block has
    // room for costs one read, not two. A block that got no byte stays for the next read.
    ReadOutcome readMore() {
        if (!block_) {
            block_ = makeNotice(NoticeKind::ReceiveData, kReadBlockSize + 1);
            if (!block_) {
                return ReadOutcome::Gone;
            }
        }
        // Null bytes are dropped within one block, so then a read stays within it; without memory
        // for the next block, too.
        const bool dropNulls = s_->ignoreNullChar;
        if (!next_ && !dropNulls) {
            next_ = makeNotice(NoticeKind::ReceiveData, kReadBlockSize + 1);
        }
        const std::size_t room = kReadBlockSize - have_;
        uint8_t* const into = block_->bytes() + have_;
        const IoResult r = next_ && !dropNulls
                               ? s_->port->read(into, room, next_->bytes(), kReadBlockSize)
                               : s_->port->read(into, room);
        if (r.kind == IoResult::Failed) {
            return ReadOutcome::Gone;
        }
        // A driver that keeps saying "ready" with nothing to read would turn the wait into a spin;
        // after a long run of such wake-ups the port is treated as gone.
        if (r.kind == IoResult::WouldBlock) {
            return ++spuriousWakeups_ > kSpuriousWakeupLimit ? ReadOutcome::Gone : ReadOutcome::Spurious;
        }
        spuriousWakeups_ = 0;
        std::size_t count = r.count;
        if (count > room) {
            carried_ = count - room;
            count = room;
        }
        if (count > 0 && dropNulls) {
            count = static_cast<std::size_t>(std::remove(into, into + count, uint8_t{0}) - into);
        }
        if (counting_) {
            reportLineErrors();
        }
        if (s_->network) {
            reportLineDifferences();
        }
        have_ += count;
        return count > 0 ? ReadOutcome::Data : ReadOutcome::Nothing;
    }

    void reportLineErrors() {
        LineCounters now;
        if (!s_->port->readCounters(now)) {
            return;
        }
        const uint32_t flags = lineErrorFlags(counters_, now);
        const uint32_t modemBits = s_->modemWithReads ? modemEventBits(counters_, now) : 0;
        counters_ = now;
        if (flags != 0 && !s_->post(NoticeKind::ReceiveError, flags)) {
            s_->requestHangup();
        }
        if (modemBits != 0 && !s_->post(NoticeKind::ModemState, modemBits)) {
            s_->requestHangup();
        }
    }

    void reportLineDifferences() {
        for (const std::string& words : s_->port->takeLineDifferences()) {
            NoticePtr notice = makeNotice(NoticeKind::LineDiffers, words.size() + 1);
            if (!notice) {
                s_->requestHangup();
                return;
            }
            std::memcpy(notice->bytes(), words.data(), words.size());
            notice->bytes()[words.size()] = 0;
            notice->value = static_cast<uint32_t>(words.size());
            s_->post(std::move(notice));
        }
    }

    // When the block in hand ends: more than the interval of silence after the last byte, or the
    // total time after the first byte; whichever comes first. With every term off, a block is
    // what the driver holds right now, so nothing waits without a bound for more bytes.
    Clock::time_point blockDeadline(Clock::time_point first, Clock::time_point last) const {
        using std::chrono::milliseconds;
        const uint32_t interval = s_->readInterval;
        const uint64_t total = uint64_t{s_->readTotalMultiplier} * kReadBlockSize + s_->readTotalConstant;
        if (interval == 0 && total == 0) {
            return Clock::now();
        }
        auto deadline = Clock::time_point::max();
        if (interval != 0) {
            deadline = last + milliseconds(interval);
        }
        if (total != 0) {
            deadline = std::min(deadline, first + milliseconds(total));
        }
        return deadline;
    }

    // Returns false when the reader must end (close event, hang-up, no memory).
    bool collectBlock() {
        ReadOutcome outcome = ReadOutcome::Data;
        if (carried_ > 0) {
            block_ = std::move(next_);
            have_ = std::exchange(carried_, 0);
        } else {
            have_ = 0;
            outcome = readMore();
        }
        if (outcome == ReadOutcome::Gone) {
            s_->requestHangup();
            return false;
        }
        if (outcome != ReadOutcome::Data) {
            return true;
        }
        const auto first = Clock::now();
        auto last = first;
        while (have_ < kReadBlockSize) {
            // A port that stays readable with nothing of the line's (a network server's stream of
            // notifications) would never let the wait time out: silence is measured here too.
            const Clock::time_point deadline = blockDeadline(first, last);
            const bool timed = s_->readInterval != 0 || s_->readTotalConstant != 0 || s_->readTotalMultiplier != 0;
            if (timed && Clock::now() >= deadline) {
                break;
            }
            const WaitResult waited = waitForLine(deadline);
            if (waited == WaitResult::Closed) {
                return false; // a half-collected block is dropped with the port
            }
            if (waited == WaitResult::TimedOut) {
                break;
            }
            outcome = waited == WaitResult::Ready ? readMore() : ReadOutcome::Gone;
            if (outcome == ReadOutcome::Gone) {
                // The bytes that came before the hang-up still reach the owner, then the hang-up.
                deliver(last);
                s_->requestHangup();
                return false;
            }
            if (outcome == ReadOutcome::Data) {
                last = Clock::now();
            }
        }
        return deliver(last);
    }

    bool deliver(Clock::time_point lastByte) {
        if (have_ == 0) {
            return true;
        }
        const bool full = have_ == kReadBlockSize;
        block_->bytes()[have_] = 0;
        block_->value = static_cast<uint32_t>(have_);
        block_->lastByteUs =
            std::chrono::duration_cast<std::chrono::microseconds>(lastByte.time_since_epoch()).count();
        const bool wake = !full || ++quietBlocks_ >= kMaxQuietBlocks;
        s_->post(std::move(block_), wake);
        if (wake) {
            quietBlocks_ = 0;
        }
        have_ = 0;
        // A peer faster than the main thread waits here, in its socket's buffers, not in memory.
        return s_->waitForRoom();
    }

    std::shared_ptr<PortSession> s_;
    NoticePtr block_; // the block being collected; null between blocks
    std::size_t have_ = 0;
    NoticePtr next_;          // the block after it, read into when a read brings more than fits
    std::size_t carried_ = 0; // bytes a read put into next_

    int quietBlocks_ = 0; // queued without a wake-up of the main thread
    int spuriousWakeups_ = 0;
    bool counting_ = false;
    LineCounters counters_;
};

// Writes the queued requests in order, each one fully, and reports when the queue has drained.
class TWriteThread {
public:
    explicit TWriteThread(std::shared_ptr<PortSession> session) : s_(std::move(session)) {}

    void run() {
        bool notify = true;
        for (;;) {
            std::optional<WriteRequest> request = s_->writeQueue.pop();
            if (!request) {
                if (notify) {
                    if (!s_->post(NoticeKind::SendDataEmpty)) {
                        s_->requestHangup();
                        break;
                    }
                    notify = false;
                }
                const WaitResult waited =
                    waitForPort(s_->closeEvent, s_->writeQueue.wakeUp().fd(), false, std::nullopt);
                if (waited == WaitResult::Closed) {
                    break;
                }
                if (waited != WaitResult::Ready) {
                    s_->requestHangup();
                    break;
                }
                s_->writeQueue.drainWakeUps();
                continue;
            }
            if (s_->closeEvent.isSignalled() || !writeBlock(*request)) {
                break;
            }
            notify = true;
        }
        s_->writeQueue.close();
        s_->port->purge(QueueSide::Output);
    }

private:
    // Each attempt at the remaining bytes is bounded by the total write timeout when one is set;
    // an attempt that ends without writing anything gives up the block instead of trying again.
    bool writeBlock(const WriteRequest& request) {
        const uint8_t* next = request.block.get();
        std::size_t left = request.length;
        while (left > 0) {
            const uint64_t total = uint64_t{s_->writeTotalMultiplier} * left + s_->writeTotalConstant;
            const Deadline deadline =
                total != 0 ? Deadline(Clock::now() + std::chrono::milliseconds(total)) : std::nullopt;
            bool progressed = false;
            for (;;) {
                const IoResult r = s_->port->write(next, left);
                if (r.kind == IoResult::Done) {
                    next += r.count;
                    left -= r.count;
                    progressed = true;
                    if (left == 0) {
                        return true;
                    }
                    continue;
                }
                if (r.kind == IoResult::Failed) {
                    s_->requestHangup();
                    return false;
                }
                const WaitResult waited = waitForPort(s_->closeEvent, s_->port->fd(), true, deadline);
                if (waited == WaitResult::Closed) {
                    return false;
                }
                if (waited == WaitResult::Failed || (waited == WaitResult::TimedOut && !progressed)) {
                    s_->requestHangup();
                    return false;
                }
                if (waited == WaitResult::TimedOut) {
                    break; // a new attempt for what is left
                }
            }
        }
        return true;
    }

    std::shared_ptr<PortSession> s_;
};

// Reports ring and carrier-detect changes on ports whose driver counts them. Its ioctl blocks in the
// driver, so closing wakes it with a signal (see installModemWakeSignal).
class ModemWatchThread {
public:
    explicit ModemWatchThread(std::shared_ptr<PortSession> session) : s_(std::move(session)) {}

    void run() {
        LineCounters before;
        if (!s_->port->readCounters(before)) {
            return;
        }
        while (!s_->closeEvent.isSignalled()) {
            const ModemWait waited = s_->port->waitModemChange();
            if (s_->closeEvent.isSignalled() || waited == ModemWait::Unsupported) {
                break;
            }
            if (waited == ModemWait::Interrupted) {
                continue;
            }
            LineCounters now;
            if (waited == ModemWait::Failed || !s_->port->readCounters(now)) {
                s_->requestHangup();
                break;
            }
            const uint32_t bits = modemEventBits(before, now);
            before = now;
            if (bits != 0 && !s_->post(NoticeKind::ModemState, bits)) {
                s_->requestHangup();
                break;
            }
        }
    }

private:
    std::shared_ptr<PortSession> s_;
};

// A std::thread whose end can be awaited with a bound. The body waits for a start signal, so a
// thread is created first and started only once every thread of the port exists.
class PortThread {
public:
    ~PortThread() { stop("port", nullptr); }

    template <class Body>
    void create(std::shared_future<bool> start, int priorityBoost, Body body) {
        std::promise<void> ended;
        ended_ = ended.get_future();
        thread_ = std::thread([start, priorityBoost, ended = std::move(ended), body = std::move(body)]() mutable {
            ended.set_value_at_thread_exit();
            if (!start.get()) {
                return;
            }
            raiseCurrentThreadPriority(priorityBoost);
            body();
        });
    }

    // Waits up to the join bound for the thread to end; `nudge`, when given, is called at short
    // intervals meanwhile (for a thread blocked where the close event cannot reach it).
    void stop(const char* name, void (*nudge)(pthread_t)) {
        if (!thread_.joinable()) {
            return;
        }
        const auto giveUp = Clock::now() + kJoinBound;
        bool ended = false;
        if (nudge) {
            while (!ended && Clock::now() < giveUp) {
                nudge(thread_.native_handle());
                ended = ended_.wait_for(kModemWakeRetry) == std::future_status::ready;
            }
        } else {
            ended = ended_.wait_until(giveUp) == std::future_status::ready;
        }
        if (ended) {
            thread_.join();
            return;
        }
        std::fprintf(stderr, "serial: the %s thread did not end within %lld ms after the close; it is left to end on its own\n",
                     name, static_cast<long long>(kJoinBound.count()));
        thread_.detach();
        allEnded_ = false;
    }

    bool endedCleanly() const { return allEnded_; }

private:
    std::thread thread_;
    std::future<void> ended_;
    bool allEnded_ = true;
};

} // namespace

struct TComm::Impl {
    explicit Impl(TComm* owner) : mailbox(std::make_shared<Mailbox>(owner, deliveryEventType())) {}
    ~Impl() { mailbox->detach(); }

    std::string commName = "COM2";
    LineSettings line;
    CommTimeouts timeouts;
    // Outlives the sessions: what they queued before a close is still delivered afterwards.
    std::shared_ptr<Mailbox> mailbox;
    std::shared_ptr<PortSession> session; // null exactly when the port is closed
    std::optional<PortThread> reader;
    std::optional<PortThread> modemWatch;
    std::optional<PortThread> writer;
    // While OnReceiveData runs: when the delivered block's last byte came in.
    std::optional<Clock::time_point> lastByte;
    // When SendData last handed a block to the writer.
    std::optional<Clock::time_point> lastSend;

    template <class T>
    void setLine(T LineSettings::*member, T value) {
        if (line.*member == value) {
            return;
        }
        line.*member = value;
        if (session) {
            session->setLineSettings(line);
        }
    }

    void setTimeout(uint32_t CommTimeouts::*member, uint32_t value) {
        if (timeouts.*member == value) {
            return;
        }
        timeouts.*member = value;
        if (session) {
            session->setTimeouts(timeouts);
        }
    }

    // Stops every thread of the open port and releases it; see ClosePort.
    void close() {
        if (!session) {
            return;
        }
        session->closeEvent.signal();
        bool clean = true;
        if (reader) {
            session->port->purge(QueueSide::Input);
            reader->stop("reader", nullptr);
            clean = clean && reader->endedCleanly();
            reader.reset();
        }
        if (modemWatch) {
            modemWatch->stop("modem watch", wakeBlockedThread);
            clean = clean && modemWatch->endedCleanly();
            modemWatch.reset();
        }
        if (writer) {
            session->port->purge(QueueSide::Output);
            writer->stop("writer", nullptr);
            clean = clean && writer->endedCleanly();
            writer.reset();
        }
        session->closeGate();
        // A thread that overran keeps the descriptors until it ends; closing them under it could
        // hand their numbers to someone else while it still uses them.
        if (clean) {
            session->port->close();
        }
        session.reset();
    }
};

ECommsError OpenError(const std::string& path, const OpenOutcome& outcome) {
    return ECommsError(outcome.result == OpenResult::NotCommDevice ? "File handle is not a comm handle "
                                                                    : "Error opening serial port",
                       path, outcome.error, outcome.reason);
}

TComm::TComm(QObject* parent) : QObject(parent), d(std::make_unique<Impl>(this)) {}

TComm::~TComm() {
    ClosePort();
}

void TComm::OpenPort() {
    OpenPortOn(makeTransport(d->commName));
}

void TComm::OpenPortOn(std::unique_ptr<Transport> port) {
    if (d->session) {
        throw ECommsError("This serial port already opened", d->session->path, 0,
                          "this window has it open already; close it first.");
    }
    if (!port->isOpen()) {
        if (const OpenOutcome opened = port->open(); opened.result != OpenResult::Opened) {
            throw OpenError(port->name(), opened);
        }
    }
    OpenPort(std::move(port));
}

std::unique_ptr<Transport> TComm::ConnectPort(const std::string& commName, const EventFd* cancel) {
    std::unique_ptr<Transport> port = makeTransport(commName);
    port->cancelOpenOn(cancel);
    const OpenOutcome opened = port->open();
    port->cancelOpenOn(nullptr);
    switch (opened.result) {
    case OpenResult::Opened:
        break;
    case OpenResult::CannotOpen:
        throw ECommsError("Error opening serial port", port->name(), opened.error, opened.reason);
    case OpenResult::NotCommDevice:
        throw ECommsError("File handle is not a comm handle ", port->name(), opened.error, opened.reason);
    }
    return port;
}

void TComm::OpenPort(std::unique_ptr<Transport> connected) {
    if (d->session) {
        throw ECommsError("This serial port already opened", d->session->path, 0,
                          "this window has it open already; close it first.");
    }
    if (!connected || !connected->isOpen()) {
        throw ECommsError("Error opening serial port", connected ? connected->name() : d->commName, 0,
                          "the port was not connected.");
    }
    auto session = std::make_shared<PortSession>(d->mailbox);
    session->port = std::move(connected);
    const std::string path = session->port->name();
    session->path = path;
    const auto failure = [&](const char* message, int errorNumber) {
        return ECommsError(message, path, errorNumber, openFailureReason(errorNumber));
    };
    // The driver's queues cannot be sized on Linux (the tty layer sizes its own), so that step has
    // nothing to do and cannot fail.
    session->port->purge(QueueSide::Both);
    session->setTimeouts(d->timeouts);
    session->setLineSettings(d->line);
    if (!session->closeEvent.create() || !session->writeQueue.create() || !session->prepareHangup()) {
        throw failure("Unable to create event", errno); // the session's destructor releases the port
    }
    LineCounters probe;
    session->countersSupported = session->port->readCounters(probe);
    session->modemWithReads = session->port->modemChangesComeWithReads();
    session->network = isNetwork(session->port->kind());

    // Threads are created first and started together, so a failure leaves none of them running.
    std::promise<bool> start;
    const std::shared_future<bool> started = start.get_future().share();
    const auto abandon = [&](const char* message, const std::system_error& error) {
        start.set_value(false);
        d->reader.reset();
        d->modemWatch.reset();
        d->writer.reset();
        session->closeGate();
        throw failure(message, error.code().value());
    };
    try {
        d->reader.emplace().create(started, 2, [s = session] { TReadThread(s).run(); });
        if (session->countersSupported && !session->modemWithReads && installModemWakeSignal()) {
            d->modemWatch.emplace().create(started, 2, [s = session] { ModemWatchThread(s).run(); });
        }
    } catch (const std::system_error& e) {
        abandon("Unable to create read thread", e);
    }
    try {
        d->writer.emplace().create(started, 1, [s = session] { TWriteThread(s).run(); });
    } catch (const std::system_error& e) {
        abandon("Unable to create write thread", e);
    }
    d->session = std::move(session);
    start.set_value(true);
}

void TComm::ClosePort() {
    d->close();
}

bool TComm::SendData(const void* Buffer, uint16_t Length) {
    if (!d->session || Length == 0) {
        return false;
    }
    WriteRequest request;
    try {
        request.block = std::make_unique<uint8_t[]>(std::size_t{Length} + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::memcpy(request.block.get(), Buffer, Length);
    request.length = Length;
    // Taken before the writer is woken: no byte of the block can be on the line earlier.
    const auto handedOver = Clock::now();
    if (!d->session->writeQueue.push(std::move(request))) {
        return false;
    }
    d->lastSend = handedOver;
    return true;
}

bool TComm::IsOpen() const {
    return d->session != nullptr;
}

std::string TComm::DevicePath() const {
    return portPathFor(d->commName);
}

std::optional<std::chrono::steady_clock::time_point> TComm::LastByteTime() const {
    return d->lastByte;
}

std::optional<std::chrono::steady_clock::time_point> TComm::LastSendTime() const {
    return d->lastSend;
}

bool TComm::IsSendQueueEmpty() const {
    return !d->session || d->session->writeQueue.isEmpty();
}

PortKind TComm::Kind() const {
    return d->session ? d->session->port->kind() : portKindOf(d->commName);
}

std::string TComm::HangupReason() const {
    return d->session ? d->session->port->failureReason() : std::string();
}

bool TComm::event(QEvent* e) {
    Mailbox::acceptPostedEvent();
    if (e->type() != deliveryEventType()) {
        return QObject::event(e);
    }
    // A handler may close the port or even destroy the component; what it leaves queued is freed
    // with the mailbox.
    const std::shared_ptr<Mailbox> mailbox = d->mailbox;
    const QPointer<TComm> alive(this);
    mailbox->beginDelivery();
    while (NoticePtr notice = mailbox->take()) {
        deliver(*notice);
        if (!alive) {
            break;
        }
    }
    return true;
}

void TComm::deliver(Notice& notice) {
    // Each handler is copied before the call, so a handler may reassign its own event safely.
    switch (notice.kind) {
    case NoticeKind::ReceiveData:
        if (auto handler = OnReceiveData) {
            // Cleared again afterwards even if the handler throws, so no later caller sees this block's time.
            const QPointer<TComm> alive(this);
            d->lastByte = Clock::time_point(std::chrono::microseconds(notice.lastByteUs));
            const auto forget = qScopeGuard([&] {
                if (alive) {
                    d->lastByte.reset();
                }
            });
            handler(this, notice.bytes(), static_cast<uint16_t>(notice.value & 0xFFFF));
        }
        break;
    case NoticeKind::ReceiveError:
        if (auto handler = OnReceiveError) {
            handler(this, notice.value);
        }
        break;
    case NoticeKind::ModemState:
        if (auto handler = OnModemStateChange) {
            handler(this, notice.value);
        }
        break;
    case NoticeKind::RequestHangup:
        if (auto handler = OnRequestHangup) {
            handler(this);
        }
        break;
    case NoticeKind::SendDataEmpty:
        if (auto handler = OnSendDataEmpty) {
            handler(this);
        }
        break;
    case NoticeKind::LineDiffers:
        if (auto handler = OnLineDiffers) {
            handler(this, std::string(reinterpret_cast<const char*>(notice.bytes()), notice.value));
        }
        break;
    }
}

// Properties. CommName and Parity are only stored: the next OpenPort uses them.
const std::string& TComm::CommName() const { return d->commName; }
void TComm::SetCommName(const std::string& value) { d->commName = value; }
TParity TComm::Parity() const { return d->line.parity; }
void TComm::SetParity(TParity value) { d->line.parity = value; }

uint32_t TComm::BaudRate() const { return d->line.baudRate; }
void TComm::SetBaudRate(uint32_t value) { d->setLine(&LineSettings::baudRate, value); }
bool TComm::ParityCheck() const { return d->line.parityCheck; }
void TComm::SetParityCheck(bool value) { d->setLine(&LineSettings::parityCheck, value); }
bool TComm::Outx_CtsFlow() const { return d->line.outxCtsFlow; }
void TComm::SetOutx_CtsFlow(bool value) { d->setLine(&LineSettings::outxCtsFlow, value); }
bool TComm::Outx_DsrFlow() const { return d->line.outxDsrFlow; }
void TComm::SetOutx_DsrFlow(bool value) { d->setLine(&LineSettings::outxDsrFlow, value); }
TDtrControl TComm::DtrControl() const { return d->line.dtrControl; }
void TComm::SetDtrControl(TDtrControl value) { d->setLine(&LineSettings::dtrControl, value); }
bool TComm::DsrSensitivity() const { return d->line.dsrSensitivity; }
void TComm::SetDsrSensitivity(bool value) { d->setLine(&LineSettings::dsrSensitivity, value); }
bool TComm::TxContinueOnXoff() const { return d->line.txContinueOnXoff; }
void TComm::SetTxContinueOnXoff(bool value) { d->setLine(&LineSettings::txContinueOnXoff, value); }
bool TComm::Outx_XonXoffFlow() const { return d->line.outxXonXoffFlow; }
void TComm::SetOutx_XonXoffFlow(bool value) { d->setLine(&LineSettings::outxXonXoffFlow, value); }
bool TComm::Inx_XonXoffFlow() const { return d->line.inxXonXoffFlow; }
void TComm::SetInx_XonXoffFlow(bool value) { d->setLine(&LineSettings::inxXonXoffFlow, value); }
bool TComm::ReplaceWhenParityError() const { return d->line.replaceWhenParityError; }
void TComm::SetReplaceWhenParityError(bool value) { d->setLine(&LineSettings::replaceWhenParityError, value); }
bool TComm::IgnoreNullChar() const { return d->line.ignoreNullChar; }
void TComm::SetIgnoreNullChar(bool value) { d->setLine(&LineSettings::ignoreNullChar, value); }
TRtsControl TComm::RtsControl() const { return d->line.rtsControl; }
void TComm::SetRtsControl(TRtsControl value) { d->setLine(&LineSettings::rtsControl, value); }
uint16_t TComm::XonLimit() const { return d->line.xonLimit; }
void TComm::SetXonLimit(uint16_t value) { d->setLine(&LineSettings::xonLimit, value); }
uint16_t TComm::XoffLimit() const { return d->line.xoffLimit; }
void TComm::SetXoffLimit(uint16_t value) { d->setLine(&LineSettings::xoffLimit, value); }
TByteSize TComm::ByteSize() const { return d->line.byteSize; }
void TComm::SetByteSize(TByteSize value) { d->setLine(&LineSettings::byteSize, value); }
TStopBits TComm::StopBits() const { return d->line.stopBits; }
void TComm::SetStopBits(TStopBits value) { d->setLine(&LineSettings::stopBits, value); }
char TComm::XonChar() const { return d->line.xonChar; }
void TComm::SetXonChar(char value) { d->setLine(&LineSettings::xonChar, value); }
char TComm::XoffChar() const { return d->line.xoffChar; }
void TComm::SetXoffChar(char value) { d->setLine(&LineSettings::xoffChar, value); }
char TComm::ReplacedChar() const { return d->line.replacedChar; }
void TComm::SetReplacedChar(char value) { d->setLine(&LineSettings::replacedChar, value); }

uint32_t TComm::ReadIntervalTimeout() const { return d->timeouts.readInterval; }
void TComm::SetReadIntervalTimeout(uint32_t value) { d->setTimeout(&CommTimeouts::readInterval, value); }
uint32_t TComm::ReadTotalTimeoutMultiplier() const { return d->timeouts.readTotalMultiplier; }
void TComm::SetReadTotalTimeoutMultiplier(uint32_t value) { d->setTimeout(&CommTimeouts::readTotalMultiplier, value); }
uint32_t TComm::ReadTotalTimeoutConstant() const { return d->timeouts.readTotalConstant; }
void TComm::SetReadTotalTimeoutConstant(uint32_t value) { d->setTimeout(&CommTimeouts::readTotalConstant, value); }
uint32_t TComm::WriteTotalTimeoutMultiplier() const { return d->timeouts.writeTotalMultiplier; }
void TComm::SetWriteTotalTimeoutMultiplier(uint32_t value) { d->setTimeout(&CommTimeouts::writeTotalMultiplier, value); }
uint32_t TComm::WriteTotalTimeoutConstant() const { return d->timeouts.writeTotalConstant; }
void TComm::SetWriteTotalTimeoutConstant(uint32_t value) { d->setTimeout(&CommTimeouts::writeTotalConstant, value); }

} // namespace serial
