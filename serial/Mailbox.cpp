// The notification queue between a port's threads and the main thread, and its wake-up event.
#include "serial/Mailbox.h"

#include <new>

#include <QCoreApplication>
#include <QObject>

namespace serial {

namespace {

// Posted events are handed over under Qt's own lock, which ThreadSanitizer cannot see in an
// uninstrumented Qt. This release/acquire pair states that hand-over in our code as well: the
// wake-up event a thread allocated is visible to the main thread that handles and deletes it.
std::atomic<uint64_t> postedEventFence{0};

} // namespace

void NoticeDeleter::operator()(Notice* notice) const noexcept {
    notice->~Notice();
    ::operator delete(notice);
}

NoticePtr makeNotice(NoticeKind kind, std::size_t capacity) {
    void* memory = ::operator new(sizeof(Notice) + capacity, std::nothrow);
    if (!memory) {
        return nullptr;
    }
    NoticePtr notice(new (memory) Notice);
    notice->kind = kind;
    return notice;
}

Mailbox::Mailbox(QObject* target, QEvent::Type wakeType)
    : head_(&stub_), tail_(&stub_), target_(target), wakeType_(wakeType) {
    room_.create(); // without it, nothing waits for room: the queue is then unbounded as before
}

Mailbox::~Mailbox() {
    while (Notice* notice = pop()) {
        NoticeDeleter()(notice);
    }
}

void Mailbox::post(NoticePtr notice, bool wake) {
    if (notice->kind == NoticeKind::ReceiveData) {
        queuedData_.fetch_add(notice->value);
    }
    push(notice.release());
    if (wake) {
        wakeUp();
    }
}

void Mailbox::wakeUp() {
    // Whoever turns the flag on posts the wake-up; everyone after rides on it until its handling
    // begins. The exchange orders every earlier push before the flag, so a delivery that clears the
    // flag afterwards sees those notices.
    if (!wakePending_.exchange(true, std::memory_order_acq_rel)) {
        postWakeEvent();
    }
}

void Mailbox::detach() {
    std::lock_guard lock(targetMutex_);
    target_ = nullptr;
}

void Mailbox::acceptPostedEvent() {
    postedEventFence.load(std::memory_order_acquire);
}

void Mailbox::beginDelivery() {
    wakePending_.exchange(false, std::memory_order_acq_rel);
}

NoticePtr Mailbox::take() {
    Notice* notice = pop();
    if (notice && !empty()) {
        wakeUp();
    }
    if (notice && notice->kind == NoticeKind::ReceiveData) {
        const std::size_t left = queuedData_.fetch_sub(notice->value) - notice->value;
        if (left <= kMaxQueuedData / 2 && roomWanted_.exchange(false)) {
            room_.signal();
        }
    }
    return NoticePtr(notice);
}

bool Mailbox::waitForRoom(const EventFd& closeEvent) {
    if (room_.fd() < 0) {
        return true;
    }
    while (queuedData_.load() > kMaxQueuedData) {
        roomWanted_.store(true);
        // Announced first, checked again: a main thread that took the blocks meanwhile has either
        // seen the announcement (and signals) or left less than the bound (and this loop ends).
        if (queuedData_.load() <= kMaxQueuedData) {
            break;
        }
        wakeUp(); // what is held back must reach the main thread, or nobody makes room
        const WaitResult waited = waitForPort(closeEvent, room_.fd(), false, std::nullopt);
        room_.drain();
        if (waited != WaitResult::Ready) {
            roomWanted_.store(false);
            return false;
        }
    }
    roomWanted_.store(false);
    return true;
}

void Mailbox::push(Notice* notice) {
    notice->next.store(nullptr, std::memory_order_relaxed);
    Notice* previous = head_.exchange(notice, std::memory_order_acq_rel);
    previous->next.store(notice, std::memory_order_release);
}

Notice* Mailbox::pop() {
    Notice* tail = tail_;
    Notice* next = tail->next.load(std::memory_order_acquire);
    if (tail == &stub_) {
        if (!next) {
            return nullptr;
        }
        tail_ = next;
        tail = next;
        next = next->next.load(std::memory_order_acquire);
    }
    if (next) {
        tail_ = next;
        return tail;
    }
    if (tail != head_.load(std::memory_order_acquire)) {
        // A thread has swapped itself in but not linked yet; its own post() wakes us again.
        return nullptr;
    }
    push(&stub_);
    next = tail->next.load(std::memory_order_acquire);
    if (next) {
        tail_ = next;
        return tail;
    }
    return nullptr;
}

bool Mailbox::empty() const {
    return tail_ == &stub_ && stub_.next.load(std::memory_order_acquire) == nullptr;
}

void Mailbox::postWakeEvent() {
    std::lock_guard lock(targetMutex_);
    if (target_) {
        auto* event = new QEvent(wakeType_);
        postedEventFence.fetch_add(1, std::memory_order_release);
        QCoreApplication::postEvent(target_, event);
    }
}

} // namespace serial
