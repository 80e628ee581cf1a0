// A bench multimeter on a serial line of its own, as the window's loop check reads it: opened off the
// GUI thread (it may be a network port), asked *IDN? once, then MEAS:CURR:DC? per point after the
// settle time. Every answer arrives as an event; nothing waits on the GUI thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QObject>
#include <QString>
#include <QTimer>

#include "app/window/PortOpener.h"
#include "jobs/Job.h"

namespace serial {
class TComm;
}

namespace app {

class MeterLine : public QObject {
    Q_OBJECT
public:
    explicit MeterLine(QObject* parent = nullptr);
    ~MeterLine() override;

    struct Settings {
        std::string port;
        uint32_t baud = 9600;
        int parity = 0; // as the main window's list: None, Odd, Even
        int settleMs = 500;
        int timeoutMs = 3000;
    };
    // Opens the meter's port and asks its identity; `opened` hears an empty text, or why it cannot be
    // used. A line already open on the same settings is kept.
    void open(const Settings& settings, std::function<void(const QString& problem)> opened);
    bool isOpen() const;
    void close();
    // The meter's reply to *IDN?, as printable text (empty when it gave none).
    const std::string& identity() const { return identity_; }

    // One reading, after the settle time: `done` hears the current, or why there is none.
    void read(std::function<void(const jobs::Outcome&)> done);
    // The reading under way is dropped: its `done` is never called.
    void drop();

private:
    enum class Asking { Nothing, Identity, Reading };
    void ask(Asking what);
    void received(const uint8_t* bytes, uint16_t length);
    void finish(const jobs::Outcome& outcome);

    Settings settings_;
    std::unique_ptr<serial::TComm> comm_;
    PortOpener opener_;
    QTimer settle_;
    QTimer timeout_;
    Asking asking_ = Asking::Nothing;
    std::string reply_;
    std::string identity_;
    std::function<void(const QString&)> opened_;
    std::function<void(const jobs::Outcome&)> done_;
};

} // namespace app
