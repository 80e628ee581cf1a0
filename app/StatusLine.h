// The status line along the bottom edge of the window: the port's state and what the last event of
// the exchange was, red for a fault, with the time left while a reply is awaited. It watches the
// exchange and never changes it; it opens no box.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include "app/ExchangeObserver.h"
#include "app/ExchangeStatus.h"

class QLabel;
class QWidget;

namespace app {

class Timer;

class StatusLine : public QObject, public ExchangeObserver {
    Q_OBJECT
public:
    // `window` holds the label "StatusLine" and the parse format lists (FAMOUT1..FAMOUT8); `replyTimer`
    // is the exchange's reply timer, whose time left is shown.
    StatusLine(QWidget& window, const serial::TComm& port, const Timer& replyTimer);

    void frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) override;
    void blockReceived(std::span<const uint8_t> block, int32_t pendingCommand) override;
    void replyTimedOut(std::string_view message, int32_t pendingCommand) override;
    void requestRefused(std::string_view message, int32_t pendingCommand) override;
    void portOpened(const serial::TComm& port) override;
    void portClosed(const serial::TComm& port) override;
    void portOpenFailed(const serial::TComm& port, std::string_view message) override;
    void portLost(const serial::TComm& port) override;
    void replyDecoded(int32_t pendingCommand, std::string_view error) override;

    // Something the window did besides the exchange (a file saved or loaded), shown as its last event.
    // `text` is UTF-8, as file names are.
    void note(const std::string& text);

    // What the line shows, as plain text, and whether it shows a fault.
    QString text() const;
    bool fault() const { return shown_.fault; }
    QLabel* label() const { return label_; }

private:
    WordOrders wordOrders() const;
    QString eventText() const;
    void refresh();

    QWidget& window_;
    const serial::TComm& port_;
    const Timer& replyTimer_;
    QLabel* label_;
    QTimer countdown_;
    ExchangeStatus status_;
    StatusText shown_;
};

} // namespace app
