// The list of logged changes, filtered by port, parameter and time.
#include "app/inspection/ChangeLogDialog.h"

#include <chrono>
#include <fstream>
#include <sstream>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "inspection/ChangeLog.h"
#include "serial/PosixPort.h"

namespace app {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

ChangeLogDialog::ChangeLogDialog(std::string path, std::function<std::string()> port, QWidget* parent)
    : QDialog(parent), path_(std::move(path)), port_(std::move(port)) {
    setWindowTitle(tr("Change Log"));
    setObjectName(QStringLiteral("ChangeLogDialog"));
    resize(980, 420);
    auto* layout = new QVBoxLayout(this);
    auto* filters = new QHBoxLayout;
    thisPort_ = new QCheckBox(tr("This port only"), this);
    thisPort_->setObjectName(QStringLiteral("ThisPortOnly"));
    parameter_ = new QLineEdit(this);
    parameter_->setObjectName(QStringLiteral("ParameterFilter"));
    parameter_->setPlaceholderText(tr("every parameter"));
    since_ = new QLineEdit(this);
    since_->setObjectName(QStringLiteral("SinceFilter"));
    since_->setPlaceholderText(tr("2026-12-10, 2h, 7d"));
    auto* refresh = new QPushButton(tr("Refresh"), this);
    filters->addWidget(thisPort_);
    filters->addWidget(new QLabel(tr("Parameter:"), this));
    filters->addWidget(parameter_);
    filters->addWidget(new QLabel(tr("Since:"), this));
    filters->addWidget(since_);
    filters->addWidget(refresh);
    layout->addLayout(filters);

    table_ = new QTableWidget(0, 9, this);
    table_->setObjectName(QStringLiteral("ChangeTable"));
    table_->setHorizontalHeaderLabels({tr("Time (UTC)"), tr("Port"), tr("Slave"), tr("Converter"),
                                       tr("Parameter"), tr("Old value"), tr("New value"), tr("Status"),
                                       tr("By")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("ChangeLogStatus"));
    status_->setWordWrap(true);
    layout->addWidget(status_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(refresh, &QPushButton::clicked, this, &ChangeLogDialog::refresh);
    connect(thisPort_, &QCheckBox::toggled, this, &ChangeLogDialog::refresh);
    connect(parameter_, &QLineEdit::editingFinished, this, &ChangeLogDialog::refresh);
    connect(since_, &QLineEdit::editingFinished, this, &ChangeLogDialog::refresh);
}

void ChangeLogDialog::refresh() {
    table_->setRowCount(0);
    if (path_.empty()) {
        status_->setText(tr("The change log is off (--no-change-log)."));
        return;
    }
    inspection::ChangeFilter filter;
    filter.parameter = parameter_->text().trimmed().toStdString();
    const QString since = since_->text().trimmed();
    if (!since.isEmpty()) {
        filter.sinceMs = inspection::ReadSince(since.toStdString(), nowMs());
        if (!filter.sinceMs) {
            status_->setText(tr("\"%1\" is no time: 2026-12-10, 2026-12-10T08:15, 2h or 7d.").arg(since));
            return;
        }
    }
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream whole;
    whole << in.rdbuf();
    const inspection::ChangeLogText log = inspection::ReadChangeLog(whole.str());
    const std::string port = port_ ? port_() : std::string();
    int rows = 0;
    for (const inspection::Change& c : log.changes) {
        if (thisPort_->isChecked() && c.port != port && serial::deviceOf(c.port) != serial::deviceOf(port)) {
            continue;
        }
        if (!inspection::Matches(c, filter)) {
            continue;
        }
        table_->insertRow(rows);
        const QString status = text(std::string(inspection::StatusText(c.status))) +
                               (c.reason.empty() ? QString() : QStringLiteral(" (%1)").arg(text(c.reason)));
        const QString cells[] = {text(inspection::UtcTimeText(c.timeMs)),
                                 text(c.port),
                                 text(c.slave),
                                 text(c.converter),
                                 text(c.parameter),
                                 text(c.oldValue),
                                 text(c.newValue),
                                 status,
                                 text(c.frontEnd + " " + c.user + "@" + c.host)};
        for (int column = 0; column < 9; ++column) {
            table_->setItem(rows, column, new QTableWidgetItem(cells[column]));
        }
        ++rows;
    }
    table_->resizeColumnsToContents();
    table_->scrollToBottom();
    QString note = tr("%1 of %2 changes in %3").arg(rows).arg(log.changes.size()).arg(text(path_));
    if (log.unreadable > 0) {
        note += tr("; %1 lines are no change and were skipped").arg(log.unreadable);
    }
    status_->setText(note);
}

} // namespace app
