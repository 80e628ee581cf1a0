// Read All, Write All, Save, Load and Compare with File: the entries and the runs behind them.
#include "app/ConfigurationActions.h"

#include <algorithm>

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>

#include "app/Exchange.h"
#include "app/ExchangeStatus.h"
#include "app/Latin1.h"
#include "app/Messages.h"
#include "app/TrafficMonitor.h"
#include "app/VX538AB.h"
#include "config/TextReplies.h"

namespace app {

namespace {

// A configuration file is a few kilobytes; anything far larger is no such file.
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;

struct QueryButton {
    profile::Query query;
    const char* button;
    int32_t pendingCommand;
};

// Read All: the queries of the three tabs, in the order of the tabs and of their groups.
constexpr QueryButton kReadAll[] = {
    {profile::Query::QX1, "Button23", pending::SystemParameters},
    {profile::Query::QX2, "Button34", pending::AnalogOutputs},
    {profile::Query::QX6, "Button52", pending::TestValues},
    {profile::Query::QX4, "Button19", pending::ParseFormat},
    {profile::Query::QX3, "Button31", pending::CustomHart},
};

std::optional<profile::Query> queryOf(int32_t pendingCommand) {
    for (const QueryButton& q : kReadAll) {
        if (q.pendingCommand == pendingCommand) {
            return q.query;
        }
    }
    return std::nullopt;
}

struct SetButton {
    std::string_view key;
    const char* button;
};

// The Set button of each set command of the parameter table.
constexpr SetButton kSetButtons[] = {
    {"MD", "Button24"},      {"JTM", "Button27"},     {"DL", "Button10"},      {"HART0", "Button9"},
    {"CAMD01", "Button17"},  {"CAMD02", "Button18"},  {"MDBS1", "Button39"},   {"MDBS2", "Button40"},
    {"MDBS3", "Button44"},   {"MDBS4", "Button45"},   {"MDBS5", "Button46"},   {"MDBS6", "Button47"},
    {"MDBS7", "Button48"},   {"MDBS8", "Button49"},   {"MDL", "Button50"},     {"BA2", "Button33"},
    {"ADR", "Button29"},     {"BA1", "Button32"},     {"DA1", "Button2"},      {"DA2", "Button3"},
    {"DA3", "Button5"},      {"DA4", "Button8"},      {"DA5", "Button12"},     {"DA6", "Button36"},
    {"DA7", "Button37"},     {"DA8", "Button38"},
};

const char* setButtonOf(std::string_view key) {
    for (const SetButton& s : kSetButtons) {
        if (s.key == key) {
            return s.button;
        }
    }
    return nullptr;
}

// The analog output row (0..7) a set command sets, or -1.
int analogOutputOf(std::string_view key) {
    if (key.size() == 3 && key.starts_with("DA") && key[2] >= '1' && key[2] <= '8') {
        return key[2] - '1';
    }
    return -1;
}

QString valueText(const std::optional<std::string>& value) {
    return value ? latin1(*value) : QStringLiteral("not read");
}

QString parameterName(std::size_t parameter) {
    return latin1(profile::Parameters()[parameter].name);
}

} // namespace

struct ConfigurationActions::Run {
    enum class Kind { ReadAll, WriteAll, Compare };

    Kind kind = Kind::ReadAll;
    QString operation; // "Read All", as the user chose it
    std::unique_ptr<RequestSequence> sequence;
    std::vector<std::function<void()>> sends; // one per step of the sequence
    std::vector<std::string> frames;          // the frame each step sends, for messages
    bool readingBack = false;                 // the sequence is Read All's (of any kind of run)
    int stepsBefore = 0;                      // steps of the phases before this one
    int totalSteps = 0;
    QProgressDialog* dialog = nullptr;

    profile::Configuration readBack;
    std::vector<std::string> problems;

    // Write All: what was sent, and what was not.
    profile::Configuration sent;
    std::vector<std::string> skipped;
    std::vector<std::string> setTimeouts;
    // Compare with File.
    profile::Backup file;
    QString fileName;
};

// Why a read-back after Write All may get no reply: the converter's RS485 port now runs at other
// settings than this port does. Empty when the settings sent are this port's.
QString ConfigurationActions::lineHint(const Run& run) const {
    const auto& baud = run.sent.value("rs485.baud");
    const auto& parity = run.sent.value("rs485.parity");
    if (!baud || !parity) {
        return {};
    }
    const std::string portParity(ParityText(static_cast<int>(form_.Comm1->Parity())));
    const bool same = *baud == std::to_string(form_.Comm1->BaudRate()) &&
                      QString::fromStdString(*parity).compare(QString::fromStdString(portParity),
                                                             Qt::CaseInsensitive) == 0;
    if (same) {
        return {};
    }
    return QStringLiteral(" The converter's RS485 port now runs at %1 %2, this port at %3 %4: if the PC is on "
                          "that port, open it with the new settings and press Read All.")
        .arg(QString::fromStdString(*baud), QString::fromStdString(*parity))
        .arg(form_.Comm1->BaudRate())
        .arg(QString::fromStdString(portParity));
}

ConfigurationActions::ConfigurationActions(TForm1& form) : QObject(&form), form_(form), fields_(form) {
    menu_ = new QMenu(&form_);
    menu_->setObjectName(QStringLiteral("ConfigurationMenu"));
    addAction(QStringLiteral("Read All"), "ReadAllAction", QStringLiteral("Ctrl+R"), &ConfigurationActions::readAll);
    addAction(QStringLiteral("Write All"), "WriteAllAction", QStringLiteral("Ctrl+W"),
              &ConfigurationActions::writeAll);
    menu_->addSeparator();
    addAction(QStringLiteral("Save Configuration..."), "SaveConfigurationAction", QStringLiteral("Ctrl+S"),
              &ConfigurationActions::saveConfiguration);
    addAction(QStringLiteral("Load Configuration..."), "LoadConfigurationAction", QStringLiteral("Ctrl+O"),
              &ConfigurationActions::loadConfiguration);
    addAction(QStringLiteral("Compare with File..."), "CompareWithFileAction", QString(),
              &ConfigurationActions::compareWithFile);
    menu_->addSeparator();
    // Ctrl+L is the traffic monitor's own shortcut; the entry only names it, so the key is not
    // claimed twice.
    auto* traffic = new QAction(QStringLiteral("Traffic Monitor\tCtrl+L"), this);
    traffic->setObjectName(QStringLiteral("TrafficMonitorMenuAction"));
    connect(traffic, &QAction::triggered, this, [this] { form_.Traffic().showWindow(); });
    menu_->addAction(traffic);
    entries_.push_back(traffic);

    // In the header's free space between the logo and the title.
    menuButton_ = new QPushButton(QStringLiteral("Configuration"), &form_);
    menuButton_->setObjectName(QStringLiteral("ConfigurationButton"));
    menuButton_->setAccessibleName(QStringLiteral("Configuration"));
    menuButton_->setGeometry(120, 14, 140, 25);
    menuButton_->setMenu(menu_);
    menuButton_->setFocusPolicy(Qt::TabFocus);

    auto* memo = form_.findChild<QPlainTextEdit*>(QStringLiteral("Memo10"));
    for (QObject* target : {static_cast<QObject*>(form_.findChild<QLineEdit*>(QStringLiteral("Edit8"))),
                            static_cast<QObject*>(memo), memo ? static_cast<QObject*>(memo->viewport()) : nullptr}) {
        if (target) {
            target->installEventFilter(this);
        }
    }
}

ConfigurationActions::~ConfigurationActions() = default;

QAction* ConfigurationActions::addAction(const QString& text, const char* name, const QString& shortcut,
                                         void (ConfigurationActions::*slot)()) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) {
        action->setShortcut(QKeySequence(shortcut));
        action->setShortcutContext(Qt::WindowShortcut);
        action->setShortcutVisibleInContextMenu(true);
        form_.addAction(action);
    }
    connect(action, &QAction::triggered, this, [this, slot] { RunGuarded([this, slot] { (this->*slot)(); }); });
    menu_->addAction(action);
    entries_.push_back(action);
    return action;
}

QMenu* ConfigurationActions::contextMenuFor(QWidget* field) {
    QMenu* menu = form_.Traffic().contextMenuFor(field);
    if (!menu) {
        return nullptr;
    }
    QAction* monitor = menu->findChild<QAction*>(QStringLiteral("TrafficMonitorAction"));
    if (!monitor) {
        const auto actions = menu->actions();
        monitor = actions.isEmpty() ? nullptr : actions.last();
    }
    for (QAction* entry : entries_) {
        if (entry->objectName() != QStringLiteral("TrafficMonitorMenuAction")) {
            menu->insertAction(monitor, entry);
        }
    }
    menu->insertSeparator(monitor);
    return menu;
}

bool ConfigurationActions::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ContextMenu) {
        return QObject::eventFilter(watched, event);
    }
    auto* memo = form_.findChild<QPlainTextEdit*>(QStringLiteral("Memo10"));
    QWidget* field = watched == memo || (memo && watched == memo->viewport()) ? static_cast<QWidget*>(memo)
                                                                               : qobject_cast<QWidget*>(watched);
    std::unique_ptr<QMenu> menu(contextMenuFor(field));
    if (!menu) {
        return QObject::eventFilter(watched, event);
    }
    menu->exec(static_cast<QContextMenuEvent*>(event)->globalPos());
    return true;
}

QProgressDialog* ConfigurationActions::progress() const {
    return run_ ? run_->dialog : nullptr;
}

bool ConfigurationActions::portReady(const QString& operation) {
    if (!form_.Comm1->IsOpen()) {
        ShowMessage(QStringLiteral("Serial port is not open; nothing was sent."));
        return false;
    }
    // A run waits for each reply in turn; one still awaited for an earlier request would be taken for
    // the run's.
    if (form_.Timer3->Enabled() || form_.Timer2->Enabled()) {
        ShowMessage(QStringLiteral("%1 did not start: the reply to the last request is still awaited. Try again "
                                   "once it has come or timed out.")
                        .arg(operation));
        return false;
    }
    return true;
}

void ConfigurationActions::startReadBack(Run& run) {
    std::vector<SequenceStep> steps;
    run.sends.clear();
    run.frames.clear();
    for (const QueryButton& q : kReadAll) {
        steps.push_back({std::string(profile::QueryTitle(q.query)), q.pendingCommand});
        auto* button = form_.findChild<QPushButton*>(QString::fromLatin1(q.button));
        run.sends.emplace_back([button] { button->click(); });
        run.frames.push_back(profile::QueryFrame(q.query));
    }
    run.sequence = std::make_unique<RequestSequence>(std::move(steps), true);
    run.readingBack = true;
}

void ConfigurationActions::readAll() {
    if (running() || !portReady(QStringLiteral("Read All"))) {
        return;
    }
    auto run = std::make_unique<Run>();
    run->kind = Run::Kind::ReadAll;
    run->operation = QStringLiteral("Read All");
    startReadBack(*run);
    run->totalSteps = static_cast<int>(run->sequence->steps().size());
    begin(std::move(run));
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
    auto run = std::make_unique<Run>();
    run->kind = Run::Kind::WriteAll;
    run->operation = QStringLiteral("Write All");
    std::vector<SequenceStep> steps;
    for (const profile::PlannedFrame& planned : plan) {
        const profile::Setter& setter = profile::Setters()[planned.setter];
        auto* button = form_.findChild<QPushButton*>(QString::fromLatin1(setButtonOf(setter.key)));
        if (!button->isEnabled()) {
            // The last four outputs while the totalizer output is on: the window does not show what
            // the converter holds there, so there is nothing of them to send.
            run->skipped.emplace_back(setter.title);
            continue;
        }
        steps.push_back({std::string(setter.title), pending::SetCommand});
        run->frames.push_back(planned.frame);
        if (const int output = analogOutputOf(setter.key); output >= 0) {
            // The row's exact values, which its five-character fields may show shortened.
            run->sends.emplace_back([this, output] {
                form_.SendAnalogOutput(output, fields_.rangeText(output, true), fields_.rangeText(output, false));
            });
        } else {
            run->sends.emplace_back([button] { button->click(); });
        }
        for (const std::size_t p : profile::ParametersOf(planned.setter)) {
            run->sent.set(p, *values.value(p));
        }
    }
    run->totalSteps = static_cast<int>(steps.size() + std::size(kReadAll));
    run->sequence = std::make_unique<RequestSequence>(std::move(steps), false);
    begin(std::move(run));
}

std::optional<profile::Backup> ConfigurationActions::readConfigurationFile(const QString& path,
                                                                          const QString& failure) {
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
    if (running()) {
        return;
    }
    const QString path = ChooseFile(FileDialogKind::Open, QStringLiteral("Compare with File"));
    if (path.isEmpty()) {
        return;
    }
    const QString name = QFileInfo(path).fileName();
    auto run = std::make_unique<Run>();
    if (auto file = readConfigurationFile(path, QStringLiteral("%1 cannot be compared: %2"))) {
        run->file = std::move(*file);
    } else {
        return;
    }
    if (!portReady(QStringLiteral("Compare with File"))) {
        return;
    }
    run->kind = Run::Kind::Compare;
    run->operation = QStringLiteral("Compare with File");
    run->fileName = name;
    startReadBack(*run);
    run->totalSteps = static_cast<int>(run->sequence->steps().size());
    begin(std::move(run));
}

void ConfigurationActions::begin(std::unique_ptr<Run> run) {
    run_ = std::move(run);
    for (QAction* entry : entries_) {
        if (entry->objectName() != QStringLiteral("TrafficMonitorMenuAction")) {
            entry->setEnabled(false);
        }
    }
    auto* dialog = new QProgressDialog(&form_);
    dialog->setObjectName(QStringLiteral("ConfigurationProgress"));
    dialog->setWindowTitle(run_->operation);
    dialog->setWindowModality(Qt::NonModal);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    dialog->setRange(0, run_->totalSteps);
    connect(dialog, &QProgressDialog::canceled, this, &ConfigurationActions::cancel);
    run_->dialog = dialog;
    showProgress();
    dialog->show();
    moved(true);
}

void ConfigurationActions::showProgress() {
    Run& run = *run_;
    const RequestSequence& sequence = *run.sequence;
    const int done = run.stepsBefore + static_cast<int>(sequence.completed());
    run.dialog->setValue(done);
    if (!sequence.over()) {
        const SequenceStep& step = sequence.steps()[sequence.current()];
        const QString doing = run.readingBack ? QStringLiteral("reading the %1") : QStringLiteral("setting the %1");
        run.dialog->setLabelText(QStringLiteral("%1: %2 (%3 of %4)...")
                                     .arg(run.operation, doing.arg(QString::fromStdString(step.title)))
                                     .arg(done + 1)
                                     .arg(run.totalSteps));
    }
}

void ConfigurationActions::moved(bool movedOn) {
    if (!movedOn || !run_ || sendQueued_) {
        return;
    }
    // Not inside the exchange's handler that reported the event: the next request, or a message box,
    // comes once that handler has returned.
    sendQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        sendQueued_ = false;
        if (!run_) {
            return;
        }
        if (run_->sequence->over()) {
            finish();
        } else if (run_->sequence->readyToSend()) {
            showProgress();
            sendStep();
        }
    });
}

void ConfigurationActions::sendStep() {
    RequestSequence& sequence = *run_->sequence;
    const std::size_t step = sequence.current();
    sequence.sending();
    run_->sends.at(step)();
    // The send may have ended the run (a refusal shown in a box while it ran, the port lost).
    if (!run_) {
        return;
    }
    run_->sequence->sendFinished();
    moved(run_->sequence->over());
}

void ConfigurationActions::cancel() {
    if (!run_) {
        return;
    }
    run_->sequence->cancel();
    moved(true);
}

void ConfigurationActions::finish() {
    Run& run = *run_;
    RequestSequence& sequence = *run.sequence;
    if (run.kind == Run::Kind::WriteAll && !run.readingBack && sequence.end() == RequestSequence::End::Finished) {
        for (const std::size_t step : sequence.timedOutSteps()) {
            run.setTimeouts.push_back(sequence.steps()[step].title);
        }
        run.stepsBefore = static_cast<int>(sequence.steps().size());
        startReadBack(run);
        showProgress();
        moved(true);
        return;
    }

    // The run is over: what it found, or why it stopped.
    std::unique_ptr<Run> over = std::move(run_);
    over->dialog->disconnect(this);
    over->dialog->hide();
    over->dialog->deleteLater();
    for (QAction* entry : entries_) {
        entry->setEnabled(true);
    }

    const std::size_t at = sequence.current();
    const auto stepText = [&] {
        if (at >= sequence.steps().size()) {
            return QString();
        }
        const QString title = QString::fromStdString(sequence.steps()[at].title);
        const QString frame = latin1(over->frames.at(at));
        return over->readingBack ? QStringLiteral("the %1 query (%2)").arg(title, frame)
                                 : QStringLiteral("the set command of the %1 (%2)").arg(title, frame);
    };
    const QString stopped = QStringLiteral("%1 stopped: ").arg(over->operation);
    switch (sequence.end()) {
    case RequestSequence::End::None:
    case RequestSequence::End::Cancelled: return;
    case RequestSequence::End::TimedOut: {
        QString text = stopped + QStringLiteral("%1 No reply came to %2.")
                                     .arg(QString::fromLatin1(sequence.endMessage()), stepText());
        if (over->kind == Run::Kind::WriteAll) {
            text += QStringLiteral(" The set commands were sent.") + lineHint(*over);
        }
        ShowMessage(text);
        return;
    }
    case RequestSequence::End::NotSent:
        ShowMessage(stopped + QStringLiteral("%1 was not sent.").arg(stepText()));
        return;
    case RequestSequence::End::Interrupted:
        ShowMessage(stopped + QStringLiteral("another request was sent while it waited for the reply to %1.")
                                  .arg(stepText()));
        return;
    case RequestSequence::End::PortClosed:
        ShowMessage(stopped + QStringLiteral("the port was closed."));
        return;
    case RequestSequence::End::Finished: break;
    }

    QStringList notRead;
    for (const std::string& problem : over->problems) {
        notRead << latin1(problem);
    }
    const auto appendNotRead = [&](QStringList& lines) {
        if (!notRead.isEmpty()) {
            lines << QString() << QStringLiteral("Not read from the converter:") << notRead;
        }
    };
    if (over->kind == Run::Kind::WriteAll) {
        const auto differences = profile::Compare(over->sent, over->readBack);
        const int sent = static_cast<int>(over->stepsBefore);
        QStringList lines;
        for (const profile::Difference& d : differences) {
            lines << QStringLiteral("%1: sent %2, read back %3")
                         .arg(parameterName(d.parameter), valueText(d.expected), valueText(d.actual));
        }
        if (!over->setTimeouts.empty()) {
            QStringList titles;
            for (const std::string& t : over->setTimeouts) {
                titles << QString::fromStdString(t);
            }
            lines << QString() << QStringLiteral("No reply to the set command of: %1").arg(titles.join(QStringLiteral(", ")));
        }
        if (!over->skipped.empty()) {
            QStringList titles;
            for (const std::string& t : over->skipped) {
                titles << QString::fromStdString(t);
            }
            lines << QString()
                  << QStringLiteral("Not sent, their Set buttons being disabled while the totalizer output is on: %1")
                         .arg(titles.join(QStringLiteral(", ")));
        }
        appendNotRead(lines);
        const QString text =
            differences.empty()
                ? QStringLiteral("Write All sent %1 set commands; every value sent reads back as sent.").arg(sent)
                : QStringLiteral("Write All sent %1 set commands; %2 of the values read back differently:")
                      .arg(sent)
                      .arg(differences.size());
        ShowReport(text, lines.join(QLatin1Char('\n')).trimmed());
        return;
    }
    if (over->kind == Run::Kind::Compare) {
        const auto differences = profile::Compare(over->file.values, over->readBack);
        QStringList lines;
        for (const profile::Difference& d : differences) {
            lines << QStringLiteral("%1: file %2, converter %3")
                         .arg(parameterName(d.parameter), valueText(d.expected), valueText(d.actual));
        }
        appendNotRead(lines);
        const QString text = differences.empty()
                                 ? QStringLiteral("No parameter of the converter differs from %1.").arg(over->fileName)
                                 : QStringLiteral("%1 parameter(s) of the converter differ from %2:")
                                       .arg(differences.size())
                                       .arg(over->fileName);
        ShowReport(text, lines.join(QLatin1Char('\n')).trimmed());
    }
}

void ConfigurationActions::frameSent(std::span<const uint8_t>, int32_t, bool written) {
    if (run_) {
        moved(run_->sequence->frameSent(written));
    }
}

void ConfigurationActions::requestRefused(std::string_view message, int32_t) {
    if (run_) {
        moved(run_->sequence->requestRefused(message));
    }
}

void ConfigurationActions::portClosed(const serial::TComm&) {
    if (run_) {
        moved(run_->sequence->portClosed());
    }
}

void ConfigurationActions::portLost(const serial::TComm&) {
    if (run_) {
        moved(run_->sequence->portClosed());
    }
}

void ConfigurationActions::blockHandled(int32_t pendingBefore) {
    if (run_) {
        moved(run_->sequence->blockHandled(pendingBefore));
    }
}

void ConfigurationActions::replyDecoded(int32_t pendingCommand, const QString&) {
    const std::string& received = form_.ReceivedText();
    if (const auto query = queryOf(pendingCommand)) {
        // Whoever sent the query: what the fields now show of the reply is known from here on.
        fields_.noteReply(*query, received);
        if (config::containsMarker(received, profile::QueryKey(*query))) {
            const auto raw = form_.ReceiveBuffer();
            const std::string key(profile::QueryKey(*query));
            std::string reply(reinterpret_cast<const char*>(raw.data()), raw.size());
            auto it = std::find_if(replies_.begin(), replies_.end(), [&](const auto& r) { return r.first == key; });
            if (it == replies_.end()) {
                replies_.emplace_back(key, std::move(reply));
            } else {
                it->second = std::move(reply);
            }
            date_ = profile::UtcDateText(QDateTime::currentMSecsSinceEpoch());
            port_ = form_.Comm1->DevicePath();
        }
        if (config::containsMarker(received, "QV")) {
            device_ = received.substr(0, received.find('#', received.find("QV")) + 1);
        }
        // The reply a run's query waits for: its values are the run's read-back.
        if (run_ && run_->readingBack && !run_->sequence->over()) {
            const SequenceStep& step = run_->sequence->steps()[run_->sequence->current()];
            if (step.pendingCommand == pendingCommand) {
                for (std::string& problem : profile::DecodeReply(*query, received, run_->readBack)) {
                    run_->problems.push_back(std::move(problem));
                }
            }
        }
    }
    if (run_) {
        moved(run_->sequence->replyDecoded(pendingCommand));
    }
}

void ConfigurationActions::timeoutHandled(const QString& message) {
    if (run_) {
        moved(run_->sequence->timeoutHandled(message.toStdString()));
    }
}

profile::Backup ConfigurationActions::backup() const {
    profile::Backup backup;
    const QString program =
        QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion());
    backup.writtenBy = program.trimmed().toStdString();
    backup.date = date_.empty() ? profile::UtcDateText(QDateTime::currentMSecsSinceEpoch()) : date_;
    backup.port = port_;
    backup.device = device_;
    backup.values = fields_.heldValues();
    for (const profile::Query query : profile::kQueries) {
        for (const auto& reply : replies_) {
            if (reply.first == profile::QueryKey(query)) {
                backup.replies.push_back(reply);
            }
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
        ShowMessage(QStringLiteral("Nothing to save yet: no value was read from the converter or loaded from a "
                                   "file since the program started. Press \"Read All\" first."));
        return;
    }
    const QString path = ChooseFile(FileDialogKind::Save, QStringLiteral("Save Configuration"));
    if (path.isEmpty()) {
        return;
    }
    // Written whole or not at all: an existing file is replaced only once the new one is complete.
    QSaveFile file(path);
    const std::string text = profile::WriteBackup(saved);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !file.commit()) {
        ShowMessage(QStringLiteral("The configuration was not saved to %1: %2").arg(path, file.errorString()));
    }
}

void ConfigurationActions::loadConfiguration() {
    if (running()) {
        return;
    }
    const QString path = ChooseFile(FileDialogKind::Open, QStringLiteral("Load Configuration"));
    if (path.isEmpty()) {
        return;
    }
    const auto file = readConfigurationFile(path, QStringLiteral("%1 was not loaded: %2"));
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
    static constexpr const char* kLastRowButtons[] = {"Button12", "Button36", "Button37", "Button38"};
    for (int output = 4; output < 8; ++output) {
        if (loaded.values.has(profile::ParameterIndex("ao" + std::to_string(output) + ".variable"))) {
            form_.findChild<QPushButton*>(QString::fromLatin1(kLastRowButtons[output - 4]))->setEnabled(true);
        }
    }
    date_ = loaded.date;
    port_ = loaded.port;
    device_ = loaded.device;
    for (auto& reply : loaded.replies) {
        auto it = std::find_if(replies_.begin(), replies_.end(), [&](const auto& r) { return r.first == reply.first; });
        if (it == replies_.end()) {
            replies_.push_back(std::move(reply));
        } else {
            it->second = std::move(reply.second);
        }
    }
}

} // namespace app
