// The status line: the label, its colour and the countdown.
#include "app/exchange/StatusLine.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QWidget>

#include "app/window/Latin1.h"
#include "app/window/Lists.h"

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
    // The form puts it along the bottom edge at the window's smallest size; it stays on that edge, as
    // wide as the window, whatever size the window is given.
    margin_ = label_->x();
    window_.installEventFilter(this);
    refresh();
}

bool StatusLine::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::Resize) {
        const QSize size = window_.size();
        label_->setGeometry(margin_, size.height() - label_->height(), size.width() - 2 * margin_,
                            label_->height());
    }
    return QObject::eventFilter(watched, event);
}

exchange::WordOrders StatusLine::wordOrders() const {
    exchange::WordOrders orders;
    for (std::size_t i = 0; i < orders.size(); ++i) {
        const auto* list = window_.findChild<QComboBox*>(QStringLiteral("FAMOUT%1").arg(i + 1));
        orders[i] = tools::WordOrderOfIndex(list ? SelectedIndex(list) : -1);
    }
    return orders;
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
    status_.waiting() ? countdown_.start() : countdown_.stop();
}

} // namespace app
