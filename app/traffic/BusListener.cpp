// The traffic monitor's listen-only second port.
#include "app/traffic/BusListener.h"

#include <chrono>
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
    // The listen's time 0 on the steady clock as well, both clocks read at once to the microsecond,
    // so the frames take their place among the window's own events by the clock those are kept in.
    using namespace std::chrono;
    const int64_t steadyNowUs = duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    const int64_t wallNowUs = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    startSteadyUs_ = steadyNowUs - (wallNowUs - startEpochUs_);
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
    // A frame is placed when its last byte was seen, as the window's own frames are. Not by its
    // estimated line time: a delivery holding a request and its reply would put the request a whole
    // reply's length earlier, before the window's own writing of it.
    for (const traffic::BusFrame& frame : frames) {
        const std::chrono::steady_clock::time_point lastByte{std::chrono::microseconds(startSteadyUs_ + frame.seenUs)};
        traffic::Stamp when = traffic::StampOf(lastByte);
        when.wallMs = (startEpochUs_ + frame.seenUs) / 1000; // the time of day the listen gives it
        recorder_.bus(frame, source_, when);
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
