// The traffic monitor's second port: a listen-only reader of its own (a thread that only reads),
// whose bus frames join the monitor's log beside the window's exchange. The window's own port and
// exchange are never touched.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <QObject>
#include <QString>

#include "serial/LineTypes.h"
#include "serial/PosixPort.h"
#include "traffic/BusFramer.h"

namespace traffic {
class BusListen;
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
    // going. Returns an empty text, or why the port cannot be opened (nothing is listening then).
    QString start(const QByteArray& port, uint32_t baud, serial::TParity parity);
    // Stops listening: the frames heard so far are recorded, the port is closed.
    void stop();
    bool listening() const { return listen_ != nullptr; }
    // "/dev/ttyUSB1 at 115200 baud, parity none, read-only" while listening.
    const QString& description() const { return description_; }

signals:
    // Listening started or ended (by stop() or because the port went away).
    void listeningChanged(bool listening);

private:
    // Records the frames the thread has handed over, in line order.
    void drain();
    void ended(uint64_t generation, bool lost);

    traffic::Recorder& recorder_;
    std::unique_ptr<traffic::BusListen> listen_;
    serial::EventFd stop_;
    std::thread thread_;
    QString description_;
    std::string source_;
    int64_t startEpochUs_ = 0;
    int64_t startSteadyUs_ = 0;
    uint64_t generation_ = 0; // which listening a late notice from a thread belongs to
    // Handed over by the thread, taken by drain().
    std::mutex mutex_;
    std::vector<traffic::BusFrame> heard_;
};

} // namespace app
