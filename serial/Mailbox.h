// How notifications travel from a port's threads to the main thread: a queue without locks, and one
// posted event that wakes the main thread only when no wake-up is already on its way to it.
//
// Threads: post() from any thread; every other member on the main thread, the target's thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include <QEvent>

#include "serial/PosixPort.h"

class QObject;

namespace serial {

// The five notifications, in the order of the component's events, and a network server's report that
// it set the line otherwise than asked (its words are the notice's bytes).
enum class NoticeKind : uint8_t { ReceiveData, ReceiveError, RequestHangup, ModemState, SendDataEmpty, LineDiffers };

// One notification. A received block's bytes live in the same allocation, right behind it: the reader
// reads straight into them, so a block is neither zero-filled nor copied on its way to the handler.
struct Notice {
    std::atomic<Notice*> next{nullptr};
    NoticeKind kind = NoticeKind::ReceiveData;
    uint32_t value = 0; // the block's length (or the words'), the line-error flags or the modem bits
    // A received block: when its last byte came in, in microseconds of the steady clock. The block
    // reaches the main thread only after the silence that ends it, so this is earlier than delivery.
    int64_t lastByteUs = 0;

    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this + 1); }
};

struct NoticeDeleter {
    void operator()(Notice* notice) const noexcept;
};
using NoticePtr = std::unique_ptr<Notice, NoticeDeleter>;

// A notice followed by `capacity` uninitialised bytes; null when memory runs out.
NoticePtr makeNotice(NoticeKind kind, std::size_t capacity = 0);

class Mailbox {
public:
    // Bytes of received blocks that may wait for the main thread at most: a port that delivers faster
    // than the main thread takes (a network peer's flood, a main thread held up) then waits in
    // waitForRoom instead of queueing without bound. At 115200 baud it is six minutes of the line.
    static constexpr std::size_t kMaxQueuedData = 4 * 1024 * 1024;

    // Wake-ups are events of `wakeType` posted to `target`, which lives on the main thread.
    Mailbox(QObject* target, QEvent::Type wakeType);
    ~Mailbox(); // frees every notice that was never taken
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // Queues a notice and, when `wake`, wakes the main thread (see wakeUp). A producer that holds
    // the wake-up back must call wakeUp before it next waits.
    void post(NoticePtr notice, bool wake = true);

    // Posts a wake-up unless one is already queued and its handling has not begun.
    void wakeUp();

    // For a port thread, after posting a received block: while more than kMaxQueuedData bytes of
    // blocks wait, waits until the main thread has taken them down to half. False when
    // `closeEvent` was signalled (or the wait failed) first.
    bool waitForRoom(const EventFd& closeEvent);
    std::size_t queuedData() const { return queuedData_.load(); }

    // After this returns no wake-up reaches the target any more (it is being destroyed).
    void detach();

    // Called by the target's event handler before it reads anything of an event, the wake-up's type
    // included: it pairs with the release made when a wake-up is posted, so the event a port thread
    // allocated is seen as handed over (Qt's own lock does that, but a race detector cannot see it).
    static void acceptPostedEvent();

    // Called first when a wake-up event is handled: from here on, a new notice posts a new wake-up.
    void beginDelivery();

    // The oldest notice, or null. While more remain queued, a wake-up stays queued too, so a handler
    // that runs an event loop of its own still receives the notices behind the one it is handling.
    NoticePtr take();

private:
    void push(Notice* notice);
    Notice* pop();
    bool empty() const;
    void postWakeEvent();

    // A multi-producer, single-consumer linked queue (the intrusive design of D. Vyukov): producers
    // swap themselves in at head_; the consumer follows next pointers from tail_. stub_ keeps the
    // list non-empty so neither side ever needs a lock.
    std::atomic<Notice*> head_;
    Notice* tail_;
    Notice stub_;
    // True from the moment a wake-up is posted until its handling begins.
    std::atomic<bool> wakePending_{false};
    std::atomic<std::size_t> queuedData_{0};
    std::atomic<bool> roomWanted_{false};
    EventFd room_; // signalled by the main thread when a waiting producer has room again
    // Guards only the target pointer against detach(), on the wake-up path, not per notice.
    std::mutex targetMutex_;
    QObject* target_;
    const QEvent::Type wakeType_;
};

} // namespace serial
