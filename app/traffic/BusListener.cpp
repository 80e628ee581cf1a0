// The traffic monitor's listen-only second port.
#include "app/traffic/BusListener.h"

#include <vector>

#include "bus/Listen.h"
#include "bus/PortSource.h"
#include "serial/PortUrl.h"
#include "traffic/Recorder.h"

namespace app {

BusListener::BusListener(traffic::Recorder& recorder, QObject* parent)
    : QObject(parent), recorder_(recorder) {
    stop_.create();
}

BusListener::~BusListener() {
    stop();
}

QString BusListener::start(const QByteArray& port, uint32_t baud, serial::TParity parity) {
    stop();
    auto listen = std::make_unique<bus::PortSource>(port.toStdString(), baud, parity);
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
    if (serial::serverKeepsLineSettings(listen_->kind())) {
        description_ = QStringLiteral("%1 (raw TCP: the server's own line settings apply), receive only")
                           .arg(QString::fromLocal8Bit(source_.c_str()));
    } else {
        description_ =
            QStringLiteral("%1 at %2 baud, parity %3, %4")
                .arg(QString::fromLocal8Bit(source_.c_str()))
                .arg(baud)
                .arg(QLatin1String(serial::parityName(parity).word.data(),
                                   static_cast<qsizetype>(serial::parityName(parity).word.size())),
                     listen_->isNetwork() ? QStringLiteral("receive only") : QStringLiteral("read-only"));
    }
    recorder_.busPort(traffic::EventKind::PortOpened, source_,
                      "listening on " + description_.toLocal8Bit().toStdString());
    const uint64_t generation = ++generation_;
    // The thread only reads and frames; the frames are recorded on this object's thread.
    thread_ = std::thread([this, generation, source = listen_.get()] {
        bus::Listen listen(
            *source, traffic::BusLine::ForBaud(source->baud(), source->parity() != serial::TParity::None));
        const bus::Listened listened = listen.run(
            stop_, -1, [](std::span<const uint8_t>, int64_t) { return true; },
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
                return true;
            });
        if (listened.end == bus::Listened::End::Lost) {
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
    for (const traffic::BusFrame& frame : frames) {
        recorder_.bus(frame, source_, (startEpochUs_ + frame.startUs) / 1000);
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
    const std::string why =
        lost ? (listen_->isNetwork() ? listen_->lostWords() : std::string("the port went away")) + "; listening stopped"
             : std::string("listening stopped");
    listen_.reset();
    recorder_.busPort(lost ? traffic::EventKind::PortLost : traffic::EventKind::PortClosed, source_, why);
    description_.clear();
    emit listeningChanged(false);
}

} // namespace app
