// The traffic monitor's second port: a listen-only reader of its own (a thread that only reads),
// whose bus frames join the monitor's log beside the window's exchange. The window's own port and
// exchange are never touched. A network port is opened on that thread too (name lookup, connect,
// negotiation), so a slow or dead server never holds up the window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include <QObject>
#include <QString>

#include "serial/LineTypes.h"
#include "serial/Transport.h"

namespace traffic {
class Recorder;
} // namespace traffic

namespace app {

class BusListener : public QObject {
    Q_OBJECT
public:
    // Frames are recorded into `recorder` on the thread that owns this object.
    explicit BusListener(traffic::Recorder& recorder, QObject* parent = nullptr);
    ~BusListener() override;

    // Opens `port` read-only at `baud` and `parity` and starts listening; stops a listening already
    // going. A local port opens here: returns an empty text, or why it cannot be opened (nothing is
    // listening then). A network port opens on the listening thread: this returns an empty text at
    // once, listening() is true while it connects, and a failure ends the listening with
    // openFailed().
    QString start(const QByteArray& port, uint32_t baud, serial::TParity parity);
    // Stops listening: the frames heard so far are recorded, the port is closed. A network port still
    // connecting is left to its thread, which closes it once connected and reports nothing.
    void stop();
    bool listening() const { return run_ != nullptr; }
    bool connecting() const { return connecting_; }
    // "/dev/ttyUSB1 at 115200 baud, parity none, read-only" while listening.
    const QString& description() const { return description_; }

signals:
    // Listening started or ended (by stop(), because the port went away, or because a network port
    // could not be opened).
    void listeningChanged(bool listening);
    // A network port could not be opened; `message` is what start() returns for a local port.
    void openFailed(const QString& message);

private:
    struct Run;
    void opened(uint64_t generation, const serial::OpenOutcome& outcome);
    // Records the frames the thread has handed over, in line order.
    void drain();
    void ended(uint64_t generation, bool lost);
    static void listen(const std::shared_ptr<Run>& run, bool open);

    traffic::Recorder& recorder_;
    std::shared_ptr<Run> run_;
    std::thread thread_;
    bool connecting_ = false;
    QString description_;
    std::string source_;
    int64_t startEpochUs_ = 0;
    int64_t startSteadyUs_ = 0;
    uint64_t generation_ = 0; // which listening a late notice from a thread belongs to
};

} // namespace app
