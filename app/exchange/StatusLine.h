// The status line along the bottom edge of the window: the port's state and what the last event of
// the exchange was, red for a fault, with the time left while a reply is awaited. It watches the
// exchange and never changes it; it opens no box.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include "app/exchange/ExchangeObserver.h"
#include "exchange/ExchangeStatus.h"
#include "app/exchange/Timer.h"
#include "serial/SerialComm.h"

class QLabel;
class QWidget;

namespace app {

class StatusLine : public QObject, public ExchangeObserver {
    Q_OBJECT
public:
    // `window` holds the label "StatusLine" and the parse format lists (FAMOUT1..FAMOUT8); `replyTimer`
    // is the exchange's reply timer, whose time left is shown.
    StatusLine(QWidget& window, const serial::TComm& port, const Timer& replyTimer);

    // Each event of the exchange goes to the status and the line shows what it now says.
    void frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) override {
        update(&exchange::ExchangeStatus::frameSent, frame, pendingCommand, written, written && replyTimer_.Enabled(),
               port_.IsOpen());
    }
    void blockReceived(std::span<const uint8_t> block, int32_t pendingCommand) override {
        update(&exchange::ExchangeStatus::blockReceived, block, pendingCommand, wordOrders());
    }
    void replyTimedOut(std::string_view message, int32_t) override {
        update(&exchange::ExchangeStatus::replyTimedOut, message);
    }
    void requestRefused(std::string_view message, int32_t) override {
        update(&exchange::ExchangeStatus::requestRefused, message);
    }
    void portOpened(const serial::TComm& port) override {
        update(&exchange::ExchangeStatus::portOpened, port.CommName(), port.DevicePath(), port.BaudRate(),
               static_cast<int>(port.Parity()), serial::serverKeepsLineSettings(port.Kind()));
    }
    void portClosed(const serial::TComm& port) override {
        update(&exchange::ExchangeStatus::portClosed, port.CommName(), port.DevicePath());
    }
    void portOpenFailed(const serial::TComm& port, std::string_view message) override {
        update(&exchange::ExchangeStatus::portOpenFailed, port.CommName(), port.DevicePath(), message);
    }
    void portLost(const serial::TComm& port) override {
        const std::string reason = port.HangupReason();
        update(&exchange::ExchangeStatus::portLost, port.CommName(), port.DevicePath(),
               reason.empty() ? serial::lostLineWords(port.Kind()) : "the connection was ended: " + reason);
    }
    void portLineDiffers(const serial::TComm& port, std::string_view difference) override {
        update(&exchange::ExchangeStatus::lineDiffers, port.CommName(), difference);
    }
    void replyDecoded(int32_t pendingCommand, std::string_view error) override {
        update(&exchange::ExchangeStatus::replyDecoded, pendingCommand, error);
    }

    // Something the window did besides the exchange (a file saved or loaded), shown as its last event.
    // `text` is UTF-8, as file names are.
    void note(const std::string& text) { update(&exchange::ExchangeStatus::note, text); }

    // What the line shows, as plain text, and whether it shows a fault.
    QString text() const;
    bool fault() const { return shown_.fault; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    template <typename... Params, typename... Args>
    void update(void (exchange::ExchangeStatus::*event)(Params...), Args&&... args) {
        (status_.*event)(std::forward<Args>(args)...);
        refresh();
    }
    exchange::WordOrders wordOrders() const;
    QString eventText() const;
    void refresh();

    QWidget& window_;
    const serial::TComm& port_;
    const Timer& replyTimer_;
    QLabel* label_;
    int margin_ = 0; // from the window's left and right edges
    QTimer countdown_;
    exchange::ExchangeStatus status_;
    exchange::StatusText shown_;
};

} // namespace app
