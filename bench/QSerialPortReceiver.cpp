// The comparison receiver: Qt's QSerialPort on the main thread, read on readyRead. Where blocks are
// asked for, a precise single-shot timer restarted on every arrival ends a block after the silence,
// which is what a QSerialPort program has to do to see replies the way TComm delivers them.
#include <QSerialPort>
#include <QTimer>

#include "bench/Receivers.h"

namespace bench {
namespace {

class QSerialPortReceiver : public Receiver {
public:
    const char* name() const override { return "QSerialPort"; }

    bool open(const std::string& path, uint32_t intervalMs) override {
        port_.setPortName(QString::fromStdString(path));
        if (!port_.open(QIODevice::ReadWrite)) {
            return false;
        }
        port_.setBaudRate(QSerialPort::Baud9600);
        port_.setDataBits(QSerialPort::Data8);
        port_.setParity(QSerialPort::NoParity);
        port_.setStopBits(QSerialPort::OneStop);
        port_.setFlowControl(QSerialPort::NoFlowControl);
        silence_.setSingleShot(true);
        silence_.setTimerType(Qt::PreciseTimer);
        silence_.setInterval(static_cast<int>(intervalMs));
        QObject::connect(&silence_, &QTimer::timeout, [this] { endBlock(); });
        QObject::connect(&port_, &QSerialPort::readyRead, [this, intervalMs] {
            while (port_.bytesAvailable() > 0) {
                const qint64 n = port_.read(scratch_, sizeof scratch_);
                if (n <= 0) {
                    break;
                }
                pending_ += static_cast<std::size_t>(n);
            }
            if (intervalMs == 0) {
                endBlock();
            } else {
                silence_.start();
            }
        });
        QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError error) {
            if (error != QSerialPort::NoError && onFailure) {
                onFailure();
            }
        });
        return true;
    }

private:
    void endBlock() {
        if (pending_ > 0 && onBlock) {
            onBlock(pending_);
        }
        pending_ = 0;
    }

    QSerialPort port_;
    QTimer silence_;
    std::size_t pending_ = 0;
    char scratch_[65536];
};

} // namespace

std::unique_ptr<Receiver> makeQSerialPortReceiver() {
    return std::make_unique<QSerialPortReceiver>();
}

} // namespace bench
