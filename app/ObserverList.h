// Several observers of the exchange behind one: each event goes to every one of them, in the order
// they were added (the traffic monitor first, so it records an event before anything reacts to it).
#pragma once

#include <vector>

#include "app/ExchangeObserver.h"

namespace app {

class ObserverList : public ExchangeObserver {
public:
    void add(ExchangeObserver& observer) { observers_.push_back(&observer); }

    void frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) override {
        for (ExchangeObserver* o : observers_) {
            o->frameSent(frame, pendingCommand, written);
        }
    }
    void blockReceived(std::span<const uint8_t> block, int32_t pendingCommand) override {
        for (ExchangeObserver* o : observers_) {
            o->blockReceived(block, pendingCommand);
        }
    }
    void replyTimedOut(std::string_view message, int32_t pendingCommand) override {
        for (ExchangeObserver* o : observers_) {
            o->replyTimedOut(message, pendingCommand);
        }
    }
    void requestRefused(std::string_view message, int32_t pendingCommand) override {
        for (ExchangeObserver* o : observers_) {
            o->requestRefused(message, pendingCommand);
        }
    }
    void portOpened(const serial::TComm& port) override {
        for (ExchangeObserver* o : observers_) {
            o->portOpened(port);
        }
    }
    void portClosed(const serial::TComm& port) override {
        for (ExchangeObserver* o : observers_) {
            o->portClosed(port);
        }
    }
    void portOpenFailed(const serial::TComm& port, std::string_view message) override {
        for (ExchangeObserver* o : observers_) {
            o->portOpenFailed(port, message);
        }
    }
    void portLost(const serial::TComm& port) override {
        for (ExchangeObserver* o : observers_) {
            o->portLost(port);
        }
    }

private:
    std::vector<ExchangeObserver*> observers_;
};

} // namespace app
