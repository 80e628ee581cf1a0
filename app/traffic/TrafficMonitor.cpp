// The traffic monitor: recording, the entry points in the main window, and the --log file.
#include "app/traffic/TrafficMonitor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShortcut>

#include "app/traffic/BusListener.h"
#include "app/traffic/ListenDialog.h"
#include "app/window/Messages.h"
#include "app/traffic/TrafficModel.h"
#include "app/traffic/TrafficWindow.h"
#include "serial/SerialComm.h"

namespace app {

namespace {

const QKeySequence kShortcut(QStringLiteral("Ctrl+L"));

std::string portSettings(const serial::TComm& port) {
    static constexpr const char* kStopBits[] = {"1", "1.5", "2"};
    if (serial::serverKeepsLineSettings(port.Kind())) {
        return port.CommName() + " (raw TCP: the server's own line settings apply)";
    }
    const int dataBits = 5 + static_cast<int>(port.ByteSize());
    return port.CommName() + " at " + std::to_string(port.BaudRate()) + " baud, " + std::to_string(dataBits) +
           serial::parityName(port.Parity()).letter + kStopBits[static_cast<int>(port.StopBits())];
}

void printError(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace

TrafficMonitor::TrafficMonitor(QWidget& mainWindow, const serial::TComm& port)
    : QObject(&mainWindow), mainWindow_(mainWindow), port_(port),
      model_(std::make_unique<TrafficModel>(recorder_.log())),
      busListener_(new BusListener(recorder_, this)) {
    recorder_.onAppended = [this] { model_->scheduleSync(); };
    recorder_.onLogFileFailed = [this](const std::string& reason) {
        reportLogFileFailure(
            QStringLiteral("Writing the traffic log file %1 failed (%2); it is no longer written.")
                .arg(QString::fromStdString(recorder_.logFile().path()),
                     QString::fromLocal8Bit(reason.c_str())));
    };
    // A network port's failure to open comes later, as an event: said as a local port's is.
    connect(busListener_, &BusListener::openFailed, this, [](const QString& message) { ShowMessage(message); },
            Qt::QueuedConnection);
    installEntryPoints();
}

TrafficMonitor::~TrafficMonitor() {
    // The listener records into the log until it has stopped, and the window shows the model and the
    // log: both go before them.
    delete busListener_;
    delete window_;
}

void TrafficMonitor::installEntryPoints() {
    auto* shortcut = new QShortcut(kShortcut, &mainWindow_);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this] { showWindow(); });

    sendField_ = mainWindow_.findChild<QLineEdit*>(QStringLiteral("Edit8"));
    auto* memo = mainWindow_.findChild<QPlainTextEdit*>(QStringLiteral("Memo10"));
    receiveField_ = memo;
    // A plain text field gets mouse context menus through its viewport.
    for (QObject* target : {static_cast<QObject*>(sendField_), static_cast<QObject*>(memo),
                            memo ? static_cast<QObject*>(memo->viewport()) : nullptr}) {
        if (target) {
            target->installEventFilter(this);
        }
    }
}

bool TrafficMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ContextMenu) {
        return QObject::eventFilter(watched, event);
    }
    QWidget* field = watched == sendField_ ? sendField_ : receiveField_;
    std::unique_ptr<QMenu> menu(contextMenuFor(field));
    if (!menu) {
        return QObject::eventFilter(watched, event);
    }
    menu->exec(static_cast<QContextMenuEvent*>(event)->globalPos());
    return true;
}

QMenu* TrafficMonitor::contextMenuFor(QWidget* field) {
    QMenu* menu = nullptr;
    if (auto* line = qobject_cast<QLineEdit*>(field)) {
        menu = line->createStandardContextMenu();
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) {
        menu = memo->createStandardContextMenu();
    }
    if (!menu) {
        return nullptr;
    }
    menu->addSeparator();
    if (!contextEntries.empty()) {
        menu->addActions(QList<QAction*>(contextEntries.begin(), contextEntries.end()));
        menu->addSeparator();
    }
    QAction* open = menu->addAction(QStringLiteral("Traffic Mo&nitor..."));
    open->setObjectName(QStringLiteral("TrafficMonitorAction"));
    open->setShortcut(kShortcut);
    open->setShortcutVisibleInContextMenu(true);
    connect(open, &QAction::triggered, this, [this] { showWindow(); });
    return menu;
}

TrafficWindow& TrafficMonitor::showWindow() {
    if (!window_) {
        window_ = new TrafficWindow(recorder_.log(), *model_, &mainWindow_);
        model_->sync();
        window_->setListening(busListener_->listening(), busListener_->description());
        connect(window_, &TrafficWindow::listenClicked, this, &TrafficMonitor::listenClicked);
        connect(busListener_, &BusListener::listeningChanged, window_,
                [this](bool listening) { window_->setListening(listening, busListener_->description()); });
        // Beside the main window, as high as it, when the screen has room there for the table at its
        // usual width (narrower, the meaning column would be squeezed to nothing); otherwise where
        // the window system puts it.
        constexpr int kGap = 8;
        constexpr int kNarrowest = TrafficWindow::kDefaultSize.width();
        constexpr int kWidest = 1600;
        const QRect main = mainWindow_.frameGeometry();
        const QScreen* screen = mainWindow_.screen();
        const int room = screen ? screen->availableGeometry().right() - main.right() - kGap : 0;
        if (room >= kNarrowest) {
            window_->resize(std::min(room, kWidest), std::max(window_->height(), main.height()));
            window_->move(main.right() + kGap, main.top());
        }
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    return *window_;
}

void TrafficMonitor::listenClicked() {
    if (busListener_->listening()) {
        busListener_->stop();
        return;
    }
    // Not modal: the window's exchange and the table go on while the port is chosen.
    auto* dialog = new ListenDialog(window_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (const QString failure = busListener_->start(dialog->port(), dialog->baud(), dialog->parity());
            !failure.isEmpty()) {
            ShowMessage(failure);
        }
    });
    dialog->open();
}

bool TrafficMonitor::startLogFile(const QString& path) {
    const std::string failure = recorder_.openLogFile(path.toLocal8Bit().toStdString());
    if (failure.empty()) {
        return true;
    }
    const QString message = QStringLiteral("The traffic log file %1 cannot be opened (%2); the program runs "
                                           "without it.")
                                .arg(path, QString::fromLocal8Bit(failure.c_str()));
    printError(message);
    ShowMessage(message);
    return false;
}

void TrafficMonitor::reportLogFileFailure(const QString& message) {
    printError(message);
    // Not inside the exchange's handler that is recording: a message box there would hold it up.
    QMetaObject::invokeMethod(
        this, [message] { ShowMessage(message); }, Qt::QueuedConnection);
}

namespace {

// The port's moment when it has one, else now.
traffic::Stamp stampAt(std::optional<std::chrono::steady_clock::time_point> moment) {
    return moment ? traffic::StampOf(*moment) : traffic::Now();
}

} // namespace

void TrafficMonitor::frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) {
    if (written) {
        // When it was handed to the port: a busy machine may run the port's threads, and a listening
        // port's, before this one resumes, and their rows must not come first.
        recorder_.sent(frame, pendingCommand, stampAt(port_.LastSendTime()));
    } else {
        recorder_.notWritten(frame, pendingCommand,
                             port_.IsOpen() ? "the port did not take it" : "the port is not open");
    }
}

void TrafficMonitor::blockReceived(std::span<const uint8_t> block, int32_t pendingCommand) {
    // A block is delivered only after the silence that ends it; it happened when its last byte came.
    recorder_.received(block, pendingCommand, stampAt(port_.LastByteTime()));
}

void TrafficMonitor::replyTimedOut(std::string_view message, int32_t pendingCommand) {
    recorder_.timedOut(message, pendingCommand);
}

void TrafficMonitor::requestRefused(std::string_view message, int32_t pendingCommand) {
    recorder_.refused(message, pendingCommand);
}

void TrafficMonitor::portOpened(const serial::TComm& port) {
    recorder_.port(traffic::EventKind::PortOpened, portSettings(port));
}

void TrafficMonitor::portClosed(const serial::TComm& port) {
    recorder_.port(traffic::EventKind::PortClosed, port.CommName());
}

void TrafficMonitor::portOpenFailed(const serial::TComm& port, std::string_view message) {
    recorder_.port(traffic::EventKind::Refused, port.CommName() + " not opened: " + std::string(message));
}

void TrafficMonitor::portLost(const serial::TComm& port) {
    const std::string reason = port.HangupReason();
    recorder_.port(traffic::EventKind::PortLost,
                   port.CommName() + ": " +
                       (reason.empty() ? serial::lostLineWords(port.Kind()) : "the connection was ended: " + reason));
}

void TrafficMonitor::portLineDiffers(const serial::TComm& port, std::string_view difference) {
    recorder_.port(traffic::EventKind::LineDiffers, port.CommName() + ": " + std::string(difference));
}

} // namespace app
