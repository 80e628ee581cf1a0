// Set commands sent from the window, written to the change log as their replies come.
#include "app/inspection/ChangeRecorder.h"

#include <cstdio>

#include <QAction>
#include <QMenu>

#include "app/configuration/ConfigurationActions.h"
#include "app/inspection/ChangeLogDialog.h"
#include "app/inspection/ReportDialog.h"
#include "app/window/VX538AB.h"
#include "serial/SerialComm.h"

namespace app {

ChangeRecorder::ChangeRecorder(TForm1& form) : form_(form) {
    // Beside the whole-configuration entries whose writes it lists, before the traffic monitor's.
    QMenu* menu = form_.Configuration().menu();
    QAction* before = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->objectName() == QStringLiteral("TrafficMonitorMenuAction")) {
            before = a;
        }
    }
    auto* action = new QAction(tr("C&hange Log..."), menu);
    action->setObjectName(QStringLiteral("ChangeLogAction"));
    menu->insertAction(before, action);
    connect(action, &QAction::triggered, this, [this] { showLog(); });
    // A report vx538 inspect wrote, shown and kept as PDF or HTML.
    auto* report = new QAction(tr("Open &Inspection Report..."), menu);
    report->setObjectName(QStringLiteral("OpenReportAction"));
    menu->insertAction(before, report);
    connect(report, &QAction::triggered, this, [this] { ReportDialog::open(&form_); });
}

ChangeRecorder::~ChangeRecorder() = default;

void ChangeRecorder::start(const std::string& path) {
    watch_.reset();
    path_ = path;
    problem_.clear();
    log_ = std::make_unique<inspection::ChangeLog>(path, "window", [this](const std::string& why) {
        // Said once; the set it belongs to goes on as if nothing happened.
        problem_ = QString::fromStdString(why);
        std::fprintf(stderr, "vx538-config: warning: %s\n", why.c_str());
    });
}

void ChangeRecorder::watch(const std::string& port) {
    watch_.reset();
    block_.clear();
    if (log_ && log_->enabled()) {
        watch_.emplace(*log_, port);
    }
}

void ChangeRecorder::portOpened(const serial::TComm& port) {
    watch(port.CommName());
}

void ChangeRecorder::portClosed(const serial::TComm&) {
    if (watch_) {
        watch_->unanswered("the port was closed");
        watch_.reset();
    }
}

void ChangeRecorder::portLost(const serial::TComm&) {
    if (watch_) {
        watch_->unanswered("the line was lost");
        watch_.reset();
    }
}

void ChangeRecorder::frameSent(std::span<const uint8_t> frame, int32_t, bool written) {
    if (!watch_ || !written) {
        return; // nothing went on the line: nothing to log
    }
    block_.clear();
    watch_->sent(std::string_view(reinterpret_cast<const char*>(frame.data()), frame.size()));
}

void ChangeRecorder::blockReceived(std::span<const uint8_t> block, int32_t) {
    block_.assign(reinterpret_cast<const char*>(block.data()), block.size());
}

void ChangeRecorder::blockHandled(const traffic::Reading& reading, int32_t, bool) {
    if (!watch_) {
        return;
    }
    const std::size_t before = watch_->logged().size();
    watch_->received(block_, reading);
    block_.clear();
    if (watch_->logged().size() != before) {
        emit logged();
    }
}

void ChangeRecorder::replyTimedOut(std::string_view, int32_t) {
    if (!watch_) {
        return;
    }
    const std::size_t before = watch_->logged().size();
    watch_->unanswered("no reply in time");
    if (watch_->logged().size() != before) {
        emit logged();
    }
}

ChangeLogDialog& ChangeRecorder::showLog() {
    if (!dialog_) {
        dialog_ = new ChangeLogDialog(
            path_, [this] { return form_.Comm1->CommName(); }, &form_);
        dialog_->setAttribute(Qt::WA_DeleteOnClose);
        connect(this, &ChangeRecorder::logged, dialog_, &ChangeLogDialog::refresh);
    }
    dialog_->refresh();
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
    return *dialog_;
}

} // namespace app
