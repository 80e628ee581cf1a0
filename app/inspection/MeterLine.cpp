// The bench meter's line in the window.
#include "app/inspection/MeterLine.h"

#include "inspection/Readings.h"
#include "jobs/LoopCheck.h"
#include "serial/SerialComm.h"

namespace app {

namespace {

// A meter's reply ends with the silence after it, as vx538 reads it.
constexpr uint32_t kReplyGapMs = 50;

} // namespace

MeterLine::MeterLine(QObject* parent) : QObject(parent) {
    settle_.setSingleShot(true);
    timeout_.setSingleShot(true);
    connect(&settle_, &QTimer::timeout, this, [this] { ask(Asking::Reading); });
    connect(&timeout_, &QTimer::timeout, this, [this] {
        if (asking_ == Asking::Reading) {
            finish(jobs::MeterSilent(settings_.timeoutMs));
        } else if (asking_ == Asking::Identity) {
            // A meter that does not say who it is still measures; the report says it gave no identity.
            asking_ = Asking::Nothing;
            if (const auto opened = std::exchange(opened_, {})) {
                opened(QString());
            }
        }
    });
}

MeterLine::~MeterLine() {
    close();
}

bool MeterLine::isOpen() const {
    return comm_ && comm_->IsOpen();
}

void MeterLine::close() {
    settle_.stop();
    timeout_.stop();
    asking_ = Asking::Nothing;
    // The component stays until the next open: a hang-up closes it from inside its own event.
    if (comm_) {
        comm_->ClosePort();
    }
}

void MeterLine::open(const Settings& settings, std::function<void(const QString&)> opened) {
    if (isOpen() && settings.port == settings_.port && settings.baud == settings_.baud &&
        settings.parity == settings_.parity) {
        settings_ = settings;
        opened(QString());
        return;
    }
    close();
    comm_.reset();
    identity_.clear();
    settings_ = settings;
    if (settings.port.empty()) {
        opened(tr("No port is named for the meter."));
        return;
    }
    opened_ = std::move(opened);
    const bool started = opener_.open(settings.port, [this](std::unique_ptr<serial::Transport> transport,
                                                            const serial::OpenOutcome& outcome,
                                                            const std::string& path) {
        const auto fail = [this](const QString& why) {
            close();
            if (const auto opened = std::exchange(opened_, {})) {
                opened(why);
            }
        };
        if (!transport) {
            const serial::ECommsError error = serial::OpenError(path, outcome);
            fail(tr("The meter's port %1 cannot be opened: %2")
                     .arg(QString::fromStdString(path),
                          QString::fromStdString(error.Reason().empty() ? error.what() : error.Reason())));
            return;
        }
        comm_ = std::make_unique<serial::TComm>();
        comm_->SetBaudRate(settings_.baud);
        comm_->SetParity(static_cast<serial::TParity>(settings_.parity));
        comm_->SetReadIntervalTimeout(kReplyGapMs);
        comm_->OnReceiveData = [this](serial::TComm*, const uint8_t* bytes, uint16_t length) {
            received(bytes, length);
        };
        comm_->OnRequestHangup = [this](serial::TComm*) {
            const Asking was = asking_;
            close();
            if (was == Asking::Reading) {
                if (const auto done = std::exchange(done_, {})) {
                    done(jobs::MeterLost());
                }
            } else if (const auto opened = std::exchange(opened_, {})) {
                opened(tr("The meter's line was lost."));
            }
        };
        try {
            comm_->OpenPortOn(std::move(transport));
        } catch (const serial::ECommsError& error) {
            fail(tr("The meter's port %1 cannot be used: %2")
                     .arg(QString::fromStdString(path), QString::fromStdString(error.what())));
            return;
        }
        ask(Asking::Identity);
    });
    if (!started) {
        if (const auto opened = std::exchange(opened_, {})) {
            opened(tr("The meter's port is still being opened."));
        }
    }
}

void MeterLine::read(std::function<void(const jobs::Outcome&)> done) {
    done_ = std::move(done);
    if (!isOpen()) {
        finish(jobs::MeterLost());
        return;
    }
    settle_.start(settings_.settleMs);
}

void MeterLine::drop() {
    settle_.stop();
    timeout_.stop();
    done_ = {};
    if (asking_ == Asking::Reading) {
        asking_ = Asking::Nothing;
    }
}

void MeterLine::ask(Asking what) {
    const std::string_view command =
        what == Asking::Identity ? inspection::kMeterIdentityCommand : inspection::kMeterReadCommand;
    reply_.clear();
    asking_ = what;
    if (!comm_->SendData(command.data(), static_cast<uint16_t>(command.size()))) {
        if (what == Asking::Reading) {
            finish(jobs::MeterLost());
        }
        return;
    }
    timeout_.start(settings_.timeoutMs);
}

void MeterLine::received(const uint8_t* bytes, uint16_t length) {
    if (asking_ == Asking::Nothing) {
        return; // late, or unasked: no reading of ours
    }
    reply_.append(reinterpret_cast<const char*>(bytes), length);
    timeout_.stop();
    if (asking_ == Asking::Identity) {
        asking_ = Asking::Nothing;
        identity_ = inspection::MeterText(reply_);
        if (const auto opened = std::exchange(opened_, {})) {
            opened(QString());
        }
        return;
    }
    finish(jobs::MeterOutcome(reply_));
}

void MeterLine::finish(const jobs::Outcome& outcome) {
    asking_ = Asking::Nothing;
    timeout_.stop();
    if (const auto done = std::exchange(done_, {})) {
        done(outcome);
    }
}

} // namespace app
