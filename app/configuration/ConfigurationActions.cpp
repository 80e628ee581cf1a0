// Read All, Write All, Save, Load and Compare with File: the entries, the files, and the runs started.
#include "app/configuration/ConfigurationActions.h"

#include "app/exchange/JobExchange.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>

#include "app/configuration/ConfigurationRun.h"
#include "exchange/Rules.h"
#include "exchange/ExchangeStatus.h"
#include "app/window/Latin1.h"
#include "app/window/Messages.h"
#include "app/configuration/RunReport.h"
#include "app/exchange/StatusLine.h"
#include "app/traffic/TrafficMonitor.h"
#include "app/window/VX538AB.h"
#include "config/TextReplies.h"
#include "tools/Bytes.h"

namespace app {

namespace {

// A configuration file is a few kilobytes; anything far larger is no such file.
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;

} // namespace

ConfigurationActions::ConfigurationActions(TForm1& form) : QObject(&form), form_(form), fields_(form) {
    menu_ = new QMenu(&form_);
    menu_->setObjectName(QStringLiteral("ConfigurationMenu"));
    addAction(QStringLiteral("Read &All"), "ReadAllAction", QStringLiteral("Ctrl+R"),
              &ConfigurationActions::readAll);
    addAction(QStringLiteral("&Write All"), "WriteAllAction", QStringLiteral("Ctrl+W"),
              &ConfigurationActions::writeAll);
    menu_->addSeparator();
    addAction(QStringLiteral("&Save Configuration..."), "SaveConfigurationAction", QStringLiteral("Ctrl+S"),
              &ConfigurationActions::saveConfiguration);
    addAction(QStringLiteral("&Load Configuration..."), "LoadConfigurationAction", QStringLiteral("Ctrl+O"),
              &ConfigurationActions::loadConfiguration);
    addAction(QStringLiteral("C&ompare with File..."), "CompareWithFileAction", QString(),
              &ConfigurationActions::compareWithFile);
    menu_->addSeparator();
    // Ctrl+L is the traffic monitor's own shortcut; the entry only names it, so the key is not
    // claimed twice. It stays enabled through a run, and the fields' context menus have their own.
    auto* traffic = menu_->addAction(QStringLiteral("Traffic Mo&nitor\tCtrl+L"));
    traffic->setObjectName(QStringLiteral("TrafficMonitorMenuAction"));
    connect(traffic, &QAction::triggered, this, [this] { form_.Traffic().showWindow(); });

    // The form places it in the header's free space between the logo and the title.
    menuButton_ = form_.findChild<QPushButton*>(QStringLiteral("ConfigurationButton"));
    menuButton_->setMenu(menu_);

    // The fields' context menus show the entries too, before the traffic monitor's.
    form_.Traffic().contextEntries = entries_;
}

void ConfigurationActions::addAction(const QString& text, const char* name, const QString& shortcut,
                                     void (ConfigurationActions::*slot)()) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) {
        action->setShortcut(QKeySequence(shortcut));
        action->setShortcutContext(Qt::WindowShortcut);
        action->setShortcutVisibleInContextMenu(true);
        form_.addAction(action);
    }
    connect(action, &QAction::triggered, this,
            [this, slot] { RunGuarded([this, slot] { (this->*slot)(); }); });
    menu_->addAction(action);
    entries_.push_back(action);
}

bool ConfigurationActions::portReady(const QString& operation) {
    if (!form_.Comm1->IsOpen()) {
        ShowMessage(QStringLiteral("Serial port is not open; nothing was sent."));
        return false;
    }
    // A run waits for each reply in turn; one still awaited for an earlier request would be taken for
    // the run's. A commissioning window's request is over soon: the run waits for it by itself.
    if (form_.AwaitingReply() && !form_.Jobs().jobWaiting()) {
        ShowMessage(
            QStringLiteral("%1 did not start: the reply to the last request is still awaited. Try again "
                           "once it has come or timed out.")
                .arg(operation));
        return false;
    }
    return true;
}

void ConfigurationActions::readAll() {
    RunState run(RunState::Kind::ReadAll);
    if (!running() && portReady(run.operation)) {
        begin(std::move(run));
    }
}

void ConfigurationActions::writeAll() {
    if (running() || !portReady(QStringLiteral("Write All"))) {
        return;
    }
    // Every field is checked before anything is sent, so a bad one stops Write All with nothing
    // half written.
    profile::Configuration values;
    std::vector<profile::PlannedFrame> plan;
    try {
        values = fields_.valuesToSend();
        plan = profile::PlanRestore(values, profile::Configuration(), true);
    } catch (const profile::BadValue& error) {
        ShowMessage(QStringLiteral("Write All sent nothing: %1").arg(latin1(error.what())));
        return;
    }
    RunState run(RunState::Kind::WriteAll);
    std::vector<exchange::SequenceStep> steps;
    for (const profile::PlannedFrame& planned : plan) {
        const profile::Setter& setter = profile::Setters()[planned.setter];
        if (setter.kind == profile::SetKind::AnalogOutput && !form_.AnalogOutputSettable(setter.number)) {
            // The last four outputs while the totalizer output is on: the window does not show what
            // the converter holds there, so there is nothing of them to send.
            run.skipped.emplace_back(setter.title);
            continue;
        }
        steps.push_back({std::string(setter.title), exchange::pending::SetCommand});
        run.frames.push_back(planned.frame);
        run.setters.push_back(planned.setter);
        // The request its Set button makes; an analog output row with its exact values, which its
        // five-character fields may show shortened.
        // The read meter commands' Set buttons send their frames as bytes; every other one its text.
        run.requests.push_back(setter.kind == profile::SetKind::ReadMeter
                                   ? Request::readMeterCommand(planned.frame)
                                   : Request::setFrame(planned.frame));
        for (const std::size_t p : profile::ParametersOf(planned.setter)) {
            run.sent.set(p, *values.value(p));
        }
    }
    // The first set command without an answer stops it: what follows would only wait as long.
    run.sequence = std::make_unique<exchange::RequestSequence>(std::move(steps), true);
    begin(std::move(run));
}

std::optional<profile::Backup>
ConfigurationActions::chooseConfigurationFile(const QString& caption, const QString& failure, QString& path) {
    path = running() ? QString() : ChooseFile(FileDialogKind::Open, caption);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowMessage(failure.arg(path, file.errorString()));
        return std::nullopt;
    }
    if (file.size() > kMaxFileBytes) {
        ShowMessage(failure.arg(path, QStringLiteral("it is far too large for a configuration file.")));
        return std::nullopt;
    }
    const QByteArray text = file.readAll();
    try {
        return profile::ReadBackup(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    } catch (const profile::FileError& error) {
        ShowMessage(failure.arg(path, QString::fromUtf8(error.what())));
        return std::nullopt;
    }
}

void ConfigurationActions::compareWithFile() {
    QString path;
    auto file = chooseConfigurationFile(QStringLiteral("Compare with File"),
                                        QStringLiteral("%1 cannot be compared: %2"), path);
    if (!file || !portReady(QStringLiteral("Compare with File"))) {
        return;
    }
    RunState run(RunState::Kind::Compare);
    run.file = std::move(*file);
    run.fileName = QFileInfo(path).fileName();
    begin(std::move(run));
}

void ConfigurationActions::begin(RunState state) {
    if (!state.sequence) {
        state.startReadBack();
    }
    for (QAction* entry : entries_) {
        entry->setEnabled(false);
    }
    run_ = new ConfigurationRun(form_, *this, std::move(state), [this](const ConfigurationRun& run) {
        // Over: the entries are back, and what the run found or why it stopped is told.
        run_ = nullptr;
        for (QAction* entry : entries_) {
            entry->setEnabled(true);
        }
        form_.Jobs().resume();
        const PortSettings port{form_.Comm1->BaudRate(),
                                std::string(exchange::ParityText(static_cast<int>(form_.Comm1->Parity())))};
        if (const auto message = RunReport(run.state(), port)) {
            message->report ? ShowReport(message->text, message->detail) : ShowMessage(message->text);
        }
    });
}

void ConfigurationActions::replyDecoded(int32_t pendingCommand, std::string_view) {
    const std::string& received = form_.ReceivedText();
    if (const auto query = QueryDecodedUnder(pendingCommand)) {
        // Whoever sent the query: what the fields now show of the reply is known from here on.
        fields_.noteReply(*query, received);
        if (config::containsMarker(received, profile::QueryKey(*query))) {
            replies_[std::string(profile::QueryKey(*query))] = tools::asText(form_.ReceiveBuffer());
            origin_.date = profile::UtcDateText(QDateTime::currentMSecsSinceEpoch());
            origin_.port = form_.Comm1->DevicePath();
        }
        if (config::containsMarker(received, "QV")) {
            origin_.device = received.substr(0, received.find('#', received.find("QV")) + 1);
        }
    }
}

profile::Backup ConfigurationActions::backup() const {
    profile::Backup backup = origin_;
    const QString program = QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(),
                                                        QCoreApplication::applicationVersion());
    backup.writtenBy = program.trimmed().toStdString();
    if (backup.date.empty()) {
        backup.date = profile::UtcDateText(QDateTime::currentMSecsSinceEpoch());
    }
    backup.values = fields_.heldValues();
    for (const profile::Query query : profile::kQueries) {
        if (const auto reply = replies_.find(std::string(profile::QueryKey(query)));
            reply != replies_.end()) {
            backup.replies.push_back(*reply);
        }
    }
    return backup;
}

void ConfigurationActions::saveConfiguration() {
    if (running()) {
        return;
    }
    profile::Backup saved;
    try {
        saved = backup();
    } catch (const profile::BadValue& error) {
        ShowMessage(QStringLiteral("Nothing was saved: %1").arg(latin1(error.what())));
        return;
    }
    if (saved.values.count() == 0) {
        ShowMessage(
            QStringLiteral("Nothing to save yet: no value was read from the converter or loaded from a "
                           "file since the program started. Press \"Read All\" first."));
        return;
    }
    const QString path = ChooseFile(FileDialogKind::Save, QStringLiteral("Save Configuration"));
    if (path.isEmpty()) {
        return;
    }
    // Written whole or not at all: an existing file is replaced only once the new one is complete.
    QSaveFile file(path);
    saved.saved = profile::UtcDateText(QDateTime::currentMSecsSinceEpoch());
    const std::string text = profile::WriteBackup(saved);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !file.commit()) {
        ShowMessage(
            QStringLiteral("The configuration was not saved to %1: %2").arg(path, file.errorString()));
        return;
    }
    form_.Status().note("saved " + std::to_string(saved.values.count()) + " values, read " + saved.date +
                        ", to " + path.toStdString());
}

void ConfigurationActions::loadConfiguration() {
    QString path;
    const auto file = chooseConfigurationFile(QStringLiteral("Load Configuration"),
                                              QStringLiteral("%1 was not loaded: %2"), path);
    if (!file) {
        return;
    }
    const profile::Backup& loaded = *file;
    try {
        // Checks every value against its field before the first one changes.
        fields_.show(loaded.values);
    } catch (const profile::BadValue& error) {
        ShowMessage(QStringLiteral("%1 was not loaded: %2").arg(path, latin1(error.what())));
        return;
    }
    // Rows the file gives values for can be sent again, whatever the last reply made of them.
    for (int output = 4; output < 8; ++output) {
        if (loaded.values.has(profile::ParameterIndex("ao" + std::to_string(output) + ".variable"))) {
            form_.SetAnalogOutputSettable(output, true);
        }
    }
    origin_.date = loaded.date;
    origin_.port = loaded.port;
    origin_.device = loaded.device;
    form_.Status().note("loaded " + std::to_string(loaded.values.count()) + " values" +
                        (loaded.date.empty() ? std::string() : ", read " + loaded.date) + ", from " +
                        path.toStdString() + " into the fields; nothing was sent");
    for (const auto& [key, reply] : loaded.replies) {
        replies_[key] = reply;
    }
}

} // namespace app
