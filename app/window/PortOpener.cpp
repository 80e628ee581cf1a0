// A network port opened off the GUI thread.
#include "app/window/PortOpener.h"

#include <system_error>
#include <thread>

namespace app {

PortOpener::PortOpener(QObject* parent) : QObject(parent), shared_(std::make_shared<Shared>()) {
    shared_->receiver = this;
}

PortOpener::~PortOpener() {
    const std::lock_guard lock(shared_->mutex);
    shared_->receiver = nullptr;
}

bool PortOpener::open(const std::string& name, Done done) {
    if (opening_) {
        return false;
    }
    opening_ = true;
    // The result travels in a shared block: the queued call's function must be copyable.
    struct Result {
        std::unique_ptr<serial::Transport> transport;
        serial::OpenOutcome outcome;
    };
    auto work = [shared = shared_, name, done = std::move(done)] {
        auto result = std::make_shared<Result>();
        result->transport = serial::makeTransport(name);
        result->outcome = result->transport->open();
        const std::lock_guard lock(shared->mutex);
        if (!shared->receiver) {
            result->transport->close(); // nobody is left to take it
            return;
        }
        PortOpener* receiver = shared->receiver;
        QMetaObject::invokeMethod(
            receiver,
            [receiver, result, done] {
                receiver->opening_ = false;
                const std::string path = result->transport->name();
                if (result->outcome.result != serial::OpenResult::Opened) {
                    result->transport.reset();
                }
                done(std::move(result->transport), result->outcome, path);
            },
            Qt::QueuedConnection);
    };
    try {
        std::thread(std::move(work)).detach();
    } catch (const std::system_error&) {
        opening_ = false;
        throw;
    }
    return true;
}

} // namespace app
