// The status line: the label, its colour and the countdown.
#include "app/StatusLine.h"

#include <QComboBox>
#include <QLabel>
#include <QWidget>

#include "app/Latin1.h"
#include "app/Lists.h"
#include "app/Timer.h"
#include "serial/SerialComm.h"

namespace app {

namespace {

constexpr int kCountdownStepMs = 100;

} // namespace

StatusLine::StatusLine(QWidget& window, const serial::TComm& port, const Timer& replyTimer)
    : QObject(&window), window_(window), port_(port), replyTimer_(replyTimer),
      // The form places it in the free strip under the send and receive area, across the window.
      label_(window.findChild<QLabel*>(QStringLiteral("StatusLine"))) {
    countdown_.setInterval(kCountdownStepMs);
    connect(&countdown_, &QTimer::timeout, this, [this] { refresh(); });
    refresh();
}

WordOrders StatusLine::wordOrders() const {
    WordOrders orders;
    for (std::size_t i = 0; i < orders.size(); ++i) {
        const auto* list = window_.findChild<QComboBox*>(QStringLiteral("FAMOUT%1").arg(i + 1));
        orders[i] = tools::WordOrderOfIndex(list ? SelectedIndex(list) : -1);
    }
    return orders;
}

void StatusLine::frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) {
    status_.frameSent(frame, pendingCommand, written, written && replyTimer_.Enabled(), port_.IsOpen());
    refresh();
}

void StatusLine::blockReceived(std::span<const uint8_t> block, int32_t pendingCommand) {
    status_.blockReceived(block, pendingCommand, wordOrders());
    refresh();
}

void StatusLine::replyTimedOut(std::string_view message, int32_t) {
    status_.replyTimedOut(message);
    refresh();
}

void StatusLine::requestRefused(std::string_view message, int32_t) {
    status_.requestRefused(message);
    refresh();
}

void StatusLine::portOpened(const serial::TComm& port) {
    status_.portOpened(port.CommName(), port.DevicePath(), port.BaudRate(), static_cast<int>(port.Parity()));
    refresh();
}

void StatusLine::portClosed(const serial::TComm& port) {
    status_.portClosed(port.CommName(), port.DevicePath());
    refresh();
}

void StatusLine::portOpenFailed(const serial::TComm& port, std::string_view message) {
    status_.portOpenFailed(port.CommName(), port.DevicePath(), message);
    refresh();
}

void StatusLine::portLost(const serial::TComm& port) {
    status_.portLost(port.CommName(), port.DevicePath());
    refresh();
}

void StatusLine::replyDecoded(int32_t pendingCommand, std::string_view error) {
    status_.replyDecoded(pendingCommand, error);
    refresh();
}

void StatusLine::note(const std::string& text) {
    status_.note(text);
    refresh();
}

QString StatusLine::eventText() const {
    return shown_.noteText ? QString::fromStdString(shown_.event) : latin1(shown_.event);
}

QString StatusLine::text() const {
    const QString port = QString::fromLocal8Bit(shown_.port);
    return shown_.event.empty() ? port : port + QStringLiteral(" \u2014 ") + eventText();
}

void StatusLine::refresh() {
    shown_ = status_.text(replyTimer_.RemainingMs());
    // Port names are file names; the event's texts are bytes of the line, one character per byte.
    QString html = QString::fromLocal8Bit(shown_.port).toHtmlEscaped();
    if (!shown_.event.empty()) {
        const QString event = eventText().toHtmlEscaped();
        html += QStringLiteral(" &mdash; ");
        html += shown_.fault ? QStringLiteral("<span style=\"color:#c00000\">%1</span>").arg(event) : event;
    }
    label_->setText(html);
    label_->setToolTip(text());
    if (status_.waiting()) {
        countdown_.start();
    } else {
        countdown_.stop();
    }
}

} // namespace app
