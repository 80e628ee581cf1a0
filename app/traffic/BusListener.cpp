// The traffic monitor's listen-only second port.
#include "app/traffic/BusListener.h"

#include <chrono>
#include <mutex>
#include <vector>

#include "bus/Listen.h"
#include "bus/PortSource.h"
#include "serial/PortUrl.h"
#include "serial/PosixPort.h"
#include "traffic/Recorder.h"

namespace app {

namespace {

QString openFailure(const std::string& path, const serial::OpenOutcome& outcome) {
    return QStringLiteral("%1 cannot be opened to listen: %2")
        .arg(QString::fromLocal8Bit(path.c_str()),
             QString::fromLocal8Bit(outcome.reason.empty() ? "not a serial port." : outcome.reason.c_str()));
}

} // namespace

// What the listening thread and the listener share. The thread reaches the listener only through
// `receiver`, under the lock, so the listener can leave a thread still connecting behind without
// waiting for it.
struct BusListener::Run {
    Run(const QByteArray& port, uint32_t baud, serial::TParity parity, uint64_t generation)
        : listen(port.toStdString(), baud, parity), generation(generation) {
        stop.create();
    }

    bus::PortSource listen;
    const uint64_t generation;
    serial::EventFd stop;
    std::mutex mutex;
    BusListener* receiver = nullptr;
    std::vector<traffic::BusFrame> heard; // handed over by the thread, taken by drain()
};

BusListener::BusListener(traffic::Recorder& recorder, QObject* parent)
    : QObject(parent), recorder_(recorder) {}

BusListener::~BusListener() {
    stop();
}

QString BusListener::start(const QByteArray& port, uint32_t baud, serial::TParity parity) {
    stop();
    auto run = std::make_shared<Run>(port, baud, parity, ++generation_);
    if (run->listen.isNetwork()) {
        run->receiver = this;
        run_ = run;
        connecting_ = true;
        source_ = run->listen.path();
        description_ = QStringLiteral("%1 (connecting...)").arg(QString::fromLocal8Bit(source_.c_str()));
        thread_ = std::thread([run] { listen(run, true); });
        emit listeningChanged(true);
        return {};
    }
    const serial::OpenOutcome outcome = run->listen.open();
    if (outcome.result != serial::OpenResult::Opened) {
        return openFailure(run->listen.path(), outcome);
    }
    run->receiver = this;
    run_ = run;
    opened(run->generation, outcome);
    thread_ = std::thread([run] { listen(run, false); });
    emit listeningChanged(true);
    return {};
}

void BusListener::listen(const std::shared_ptr<Run>& run, bool open) {
    if (open) {
        const serial::OpenOutcome outcome = run->listen.open(&run->stop);
        const std::lock_guard lock(run->mutex);
        if (!run->receiver) {
            return; // left while connecting: the port closes with the run
        }
        QMetaObject::invokeMethod(
            run->receiver,
            [receiver = run->receiver, generation = run->generation, outcome] {
                receiver->opened(generation, outcome);
            },
            Qt::QueuedConnection);
        if (outcome.result != serial::OpenResult::Opened) {
            return;
        }
    }
    // The thread only reads and frames; the frames are recorded on the listener's thread, after the
    // opening (both are posted there in this order).
    bus::Listen listen(run->listen, traffic::BusLine::ForBaud(run->listen.baud(),
                                                              run->listen.parity() != serial::TParity::None));
    const bus::Listened listened = listen.run(
        run->stop, -1, [](std::span<const uint8_t>, int64_t) { return true; },
        [&run](std::vector<traffic::BusFrame>& frames) {
            const std::lock_guard lock(run->mutex);
            const bool first = run->heard.empty();
            for (traffic::BusFrame& frame : frames) {
                run->heard.push_back(std::move(frame));
            }
            frames.clear();
            if (first && run->receiver) {
                QMetaObject::invokeMethod(run->receiver, &BusListener::drain, Qt::QueuedConnection);
            }
            return true;
        });
    if (listened.end == bus::Listened::End::Lost) {
        const std::lock_guard lock(run->mutex);
        if (run->receiver) {
            QMetaObject::invokeMethod(
                run->receiver,
                [receiver = run->receiver, generation = run->generation] {
                    receiver->ended(generation, true);
                },
                Qt::QueuedConnection);
        }
    }
}

void BusListener::opened(uint64_t generation, const serial::OpenOutcome& outcome) {
    if (!run_ || generation != run_->generation) {
        return;
    }
    const bus::PortSource& listen = run_->listen;
    if (outcome.result != serial::OpenResult::Opened) {
        const QString message = openFailure(listen.path(), outcome);
        if (thread_.joinable()) {
            thread_.join(); // it has nothing more to do
        }
        run_.reset();
        connecting_ = false;
        description_.clear();
        emit listeningChanged(false);
        emit openFailed(message);
        return;
    }
    connecting_ = false;
    source_ = listen.path();
    startEpochUs_ = listen.startEpochUs();
    // The listen's time 0 on the steady clock as well, both clocks read at once to the microsecond,
    // so the frames take their place among the window's own events by the clock those are kept in.
    using namespace std::chrono;
    const int64_t steadyNowUs = duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    const int64_t wallNowUs = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    startSteadyUs_ = steadyNowUs - (wallNowUs - startEpochUs_);
    const std::string_view parityWord = serial::parityName(listen.parity()).word;
    const QString parity = QString::fromLatin1(parityWord.data(), static_cast<qsizetype>(parityWord.size()));
    if (serial::serverKeepsLineSettings(listen.kind())) {
        description_ = QStringLiteral("%1 (raw TCP: the server's own line settings apply), receive only")
                           .arg(QString::fromLocal8Bit(source_.c_str()));
    } else {
        description_ = QStringLiteral("%1 at %2 baud, parity %3, %4")
                           .arg(QString::fromLocal8Bit(source_.c_str()))
                           .arg(listen.baud())
                           .arg(parity, listen.isNetwork() ? QStringLiteral("receive only")
                                                           : QStringLiteral("read-only"));
    }
    recorder_.busPort(traffic::EventKind::PortOpened, source_,
                      "listening on " + description_.toLocal8Bit().toStdString());
    emit listeningChanged(true); // the description is complete now
}

void BusListener::drain() {
    if (!run_) {
        return;
    }
    std::vector<traffic::BusFrame> frames;
    {
        const std::lock_guard lock(run_->mutex);
        frames.swap(run_->heard);
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
    if (!run_) {
        return;
    }
    if (connecting_) {
        // The name lookup or connect cannot be interrupted: the thread is left to finish it alone.
        {
            const std::lock_guard lock(run_->mutex);
            run_->receiver = nullptr;
        }
        run_->stop.signal();
        thread_.detach();
        run_.reset();
        connecting_ = false;
        description_.clear();
        emit listeningChanged(false);
        return;
    }
    run_->stop.signal();
    ended(run_->generation, false);
}

void BusListener::ended(uint64_t generation, bool lost) {
    if (!run_ || generation != run_->generation || connecting_) {
        return;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    drain();
    {
        const std::lock_guard lock(run_->mutex);
        run_->receiver = nullptr;
    }
    const std::string why =
        lost ? (run_->listen.isNetwork() ? run_->listen.lostWords() : std::string("the port went away")) +
                   "; listening stopped"
             : std::string("listening stopped");
    run_.reset();
    recorder_.busPort(lost ? traffic::EventKind::PortLost : traffic::EventKind::PortClosed, source_, why);
    description_.clear();
    emit listeningChanged(false);
}

} // namespace app
