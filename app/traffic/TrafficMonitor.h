// The traffic monitor: records every event of the exchange from the start, whether or not its window
// is open, and shows them in a window opened with Ctrl+L or from the context menu of the send and
// receive fields. It observes the exchange and never changes it.
#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "app/exchange/ExchangeObserver.h"
#include "traffic/Recorder.h"

class QAction;
class QMenu;
class QWidget;

namespace app {

class BusListener;
class TrafficModel;
class TrafficWindow;

class TrafficMonitor : public QObject, public ExchangeObserver {
    Q_OBJECT
public:
    // `mainWindow` holds the fields "Edit8" and "Memo10" and receives the shortcut; `port` is the
    // port the exchange writes to.
    TrafficMonitor(QWidget& mainWindow, const serial::TComm& port);
    ~TrafficMonitor() override;

    void frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) override;
    void blockReceived(std::span<const uint8_t> block, int32_t pendingCommand) override;
    void replyTimedOut(std::string_view message, int32_t pendingCommand) override;
    void requestRefused(std::string_view message, int32_t pendingCommand) override;
    void portOpened(const serial::TComm& port) override;
    void portClosed(const serial::TComm& port) override;
    void portOpenFailed(const serial::TComm& port, std::string_view message) override;
    void portLineDiffers(const serial::TComm& port, std::string_view difference) override;
    void portLost(const serial::TComm& port) override;

    // Appends every later event to `path` as a text line. A file that cannot be opened is reported
    // once (on stderr and in a message) and the program goes on without it; returns whether it opened.
    bool startLogFile(const QString& path);

    traffic::Recorder& recorder() { return recorder_; }
    TrafficModel& model() { return *model_; }
    // Shows the window (made on first use) and brings it to the front.
    TrafficWindow& showWindow();
    // nullptr until the window was first shown.
    TrafficWindow* window() const { return window_; }

    // A field's context menu: its standard entries, `contextEntries`, then the monitor's. The caller
    // owns it.
    QMenu* contextMenuFor(QWidget* field);
    std::vector<QAction*> contextEntries;

    // The second port, a listen-only adapter on the bus ("Listen on Another Port...").
    BusListener& busListener() { return *busListener_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void installEntryPoints();
    // "Listen on Another Port..." asks for a port and listens to it; "Stop Listening" stops.
    void listenClicked();
    void reportLogFileFailure(const QString& message);

    QWidget& mainWindow_;
    const serial::TComm& port_;
    traffic::Recorder recorder_;
    std::unique_ptr<TrafficModel> model_;
    BusListener* busListener_;
    TrafficWindow* window_ = nullptr; // a child window of the main window
    QWidget* sendField_ = nullptr;
    QWidget* receiveField_ = nullptr;
};

} // namespace app
