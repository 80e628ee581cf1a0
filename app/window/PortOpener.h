// Opens a network port (name lookup, connect, RFC 2217 negotiation) on a worker thread, so the window
// stays responsive however long the server takes, and hands the outcome to the GUI thread as an
// event. A worker still running when its opener goes away closes what it opened and reports nothing.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <QObject>

#include "serial/Transport.h"

namespace app {

class PortOpener : public QObject {
    Q_OBJECT
public:
    explicit PortOpener(QObject* parent = nullptr);
    ~PortOpener() override;

    // Opens the port `name` names on a worker; `done` runs on this object's thread with the open
    // transport, or with none and the outcome that says why. One open at a time: false, and nothing
    // starts, while one is under way.
    using Done = std::function<void(std::unique_ptr<serial::Transport> opened,
                                    const serial::OpenOutcome& outcome, const std::string& path)>;
    bool open(const std::string& name, Done done);
    bool opening() const { return opening_; }

private:
    // What the worker and this object share: the worker hands its result over only while `receiver`
    // is set, under the lock, so the receiver cannot go away in between.
    struct Shared {
        std::mutex mutex;
        PortOpener* receiver = nullptr;
    };
    std::shared_ptr<Shared> shared_;
    bool opening_ = false;
};

} // namespace app
