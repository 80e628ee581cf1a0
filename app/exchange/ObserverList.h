// Several observers of the exchange behind one: each event goes to every one of them, in the order
// they were added (the traffic monitor first, so it records an event before anything reacts to it).
#pragma once

#include <algorithm>
#include <vector>

#include "app/exchange/ExchangeObserver.h"

namespace app {

class ObserverList : public ExchangeObserver {
public:
    void add(ExchangeObserver& observer) { observers_.push_back(&observer); }
    // An observer going away before the list (a window closed) stops hearing events.
    void remove(ExchangeObserver& observer) { std::erase(observers_, &observer); }

    void frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) override {
        each(&ExchangeObserver::frameSent, frame, pendingCommand, written);
    }
    void blockReceived(std::span<const uint8_t> block, int32_t pendingCommand) override {
        each(&ExchangeObserver::blockReceived, block, pendingCommand);
    }
    void blockHandled(const traffic::Reading& reading, int32_t pendingBefore, bool decodes) override {
        each(&ExchangeObserver::blockHandled, reading, pendingBefore, decodes);
    }
    void replyDecoded(int32_t pendingCommand, std::string_view error) override {
        each(&ExchangeObserver::replyDecoded, pendingCommand, error);
    }
    void replyTimedOut(std::string_view message, int32_t pendingCommand) override {
        each(&ExchangeObserver::replyTimedOut, message, pendingCommand);
    }
    void timeoutHandled(std::string_view message) override {
        each(&ExchangeObserver::timeoutHandled, message);
    }
    void requestRefused(std::string_view message, int32_t pendingCommand) override {
        each(&ExchangeObserver::requestRefused, message, pendingCommand);
    }
    void portOpened(const serial::TComm& port) override { each(&ExchangeObserver::portOpened, port); }
    void portClosed(const serial::TComm& port) override { each(&ExchangeObserver::portClosed, port); }
    void portOpenFailed(const serial::TComm& port, std::string_view message) override {
        each(&ExchangeObserver::portOpenFailed, port, message);
    }
    void portLost(const serial::TComm& port) override { each(&ExchangeObserver::portLost, port); }
    void portLineDiffers(const serial::TComm& port, std::string_view difference) override {
        each(&ExchangeObserver::portLineDiffers, port, difference);
    }

private:
    template <class... Params, class... Args>
    void each(void (ExchangeObserver::*hook)(Params...), Args&&... args) {
        // An observer may add or remove one while it hears the event: those added hear the next
        // event, those removed hear no more.
        const std::vector<ExchangeObserver*> now = observers_;
        for (ExchangeObserver* o : now) {
            if (std::find(observers_.begin(), observers_.end(), o) != observers_.end()) {
                (o->*hook)(args...);
            }
        }
    }

    std::vector<ExchangeObserver*> observers_;
};

} // namespace app
