// The traffic monitor's listen-only second port.
#include "app/traffic/BusListener.h"

#include <vector>

#include "serial/PortUrl.h"
#include "traffic/BusListen.h"
#include "traffic/Recorder.h"

namespace app {

namespace {

const char* parityName(serial::TParity parity) {
    switch (parity) {
    case serial::TParity::Odd:
        return "odd";
    case serial::TParity::Even:
        return "even";
    default:
        return "none";
    }
}

} // namespace

BusListener::BusListener(traffic::Recorder& recorder, QObject* parent)
    : QObject(parent), recorder_(recorder) {
    stop_.create();
}

BusListener::~BusListener() {
    stop();
}

QString BusListener::start(const QByteArray& port, uint32_t baud, serial::TParity parity) {
    stop();
    auto listen = std::make_unique<traffic::BusListen>(port.toStdString(), baud, parity);
    const serial::OpenOutcome opened = listen->open();
    if (opened.result != serial::OpenResult::Opened) {
        return QStringLiteral("%1 cannot be opened to listen: %2")
            .arg(
                QString::fromLocal8Bit(listen->path().c_str()),
                QString::fromLocal8Bit(opened.reason.empty() ? "not a serial port." : opened.reason.c_str()));
    }
    stop_.drain();
    listen_ = std::move(listen);
    source_ = listen_->path();
    startEpochUs_ = listen_->startEpochUs();
    // The listen's time 0 on the steady clock as well, read at once, so the frames take their place
    // among the window's own events by the one clock those are kept in.
    const traffic::Stamp now = traffic::Now();
    startSteadyUs_ = now.steadyMs * 1000 - (now.wallMs * 1000 - startEpochUs_);
    if (serial::serverKeepsLineSettings(source_)) {
        description_ = QStringLiteral("%1 (raw TCP: the server's own line settings apply), receive only")
                           .arg(QString::fromLocal8Bit(source_.c_str()));
    } else {
        description_ =
            QStringLiteral("%1 at %2 baud, parity %3, %4")
                .arg(QString::fromLocal8Bit(source_.c_str()))
                .arg(baud)
                .arg(QLatin1String(parityName(parity)),
                     listen_->isNetwork() ? QStringLiteral("receive only") : QStringLiteral("read-only"));
    }
    recorder_.busPort(traffic::EventKind::PortOpened, source_,
                      "listening on " + description_.toLocal8Bit().toStdString());
    const uint64_t generation = ++generation_;
    // The thread only reads and frames; the frames are recorded on this object's thread.
    thread_ = std::thread([this, generation, listen = listen_.get()] {
        const traffic::BusListen::End end = listen->run(
            stop_, -1, [](std::span<const uint8_t>, int64_t) {},
            [this](std::vector<traffic::BusFrame>& frames) {
                bool first = false;
                {
                    const std::lock_guard lock(mutex_);
                    first = heard_.empty();
                    for (traffic::BusFrame& frame : frames) {
                        heard_.push_back(std::move(frame));
                    }
                }
                frames.clear();
                if (first) {
                    QMetaObject::invokeMethod(this, &BusListener::drain, Qt::QueuedConnection);
                }
            });
        if (end == traffic::BusListen::End::Lost) {
            QMetaObject::invokeMethod(
                this, [this, generation] { ended(generation, true); }, Qt::QueuedConnection);
        }
    });
    emit listeningChanged(true);
    return {};
}

void BusListener::drain() {
    std::vector<traffic::BusFrame> frames;
    {
        const std::lock_guard lock(mutex_);
        frames.swap(heard_);
    }
    // A frame is placed by its last byte, as the window's own frames are.
    for (const traffic::BusFrame& frame : frames) {
        recorder_.bus(frame, source_,
                      traffic::Stamp{(startEpochUs_ + frame.endUs) / 1000, (startSteadyUs_ + frame.endUs) / 1000});
    }
}

void BusListener::stop() {
    if (!listen_) {
        return;
    }
    stop_.signal();
    ended(generation_, false);
}

void BusListener::ended(uint64_t generation, bool lost) {
    if (!listen_ || generation != generation_) {
        return;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    drain();
    listen_.reset();
    recorder_.busPort(lost ? traffic::EventKind::PortLost : traffic::EventKind::PortClosed, source_,
                      lost ? (serial::isNetworkPortName(source_) ? serial::lostLineWords(source_)
                                                                 : std::string("the port went away")) +
                                 "; listening stopped"
                           : std::string("listening stopped"));
    description_.clear();
    emit listeningChanged(false);
}

} // namespace app
