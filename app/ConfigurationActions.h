// The window's configuration entries: a menu button in the header and the same entries in the context
// menu of the send and receive fields (Read All, Write All, Save Configuration..., Load
// Configuration..., Compare with File..., Traffic Monitor), and the runs of requests behind them. A
// run clicks the window's own buttons one after another, each once the previous one's reply was
// handled, so every request is exactly what its button sends; a progress dialog with Cancel shows it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "app/ConfigurationFields.h"
#include "app/ExchangeObserver.h"
#include "app/RequestSequence.h"
#include "profile/BackupFile.h"

class QAction;
class QMenu;
class QProgressDialog;
class QPushButton;
class TForm1;

namespace app {

class ConfigurationActions : public QObject, public ExchangeObserver {
    Q_OBJECT
public:
    explicit ConfigurationActions(TForm1& form);
    ~ConfigurationActions() override;

    ConfigurationFields& fields() { return fields_; }
    QPushButton* menuButton() const { return menuButton_; }
    QMenu* menu() const { return menu_; }
    // The dialog of the run under way; nullptr when none runs.
    QProgressDialog* progress() const;
    bool running() const { return run_ != nullptr; }

    void readAll();
    void writeAll();
    void saveConfiguration();
    void loadConfiguration();
    void compareWithFile();
    // Stops the run under way; the request already sent is left to the exchange.
    void cancel();

    // What a file saved now would hold (the values, where they were read, the raw replies).
    profile::Backup backup() const;

    // The exchange's events, to follow the run's step.
    void frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) override;
    void blockReceived(std::span<const uint8_t>, int32_t) override {}
    void replyTimedOut(std::string_view, int32_t) override {}
    void requestRefused(std::string_view message, int32_t pendingCommand) override;
    void portOpened(const serial::TComm&) override {}
    void portClosed(const serial::TComm& port) override;
    void portOpenFailed(const serial::TComm&, std::string_view) override {}
    void portLost(const serial::TComm& port) override;

    // The window's hooks after each step of the exchange has run to its end.
    void blockHandled(int32_t pendingBefore);
    void replyDecoded(int32_t pendingCommand, const QString& error);
    void timeoutHandled(const QString& message);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Run;

    QAction* addAction(const QString& text, const char* name, const QString& shortcut, void (ConfigurationActions::*slot)());
    // The field's context menu: the traffic monitor's (standard entries and "Traffic Monitor..."), with
    // these entries before its own.
    QMenu* contextMenuFor(QWidget* field);

    bool portReady(const QString& operation);
    // The checked file, or nothing after `failure` ("%1 ...: %2", path and why) was shown.
    std::optional<profile::Backup> readConfigurationFile(const QString& path, const QString& failure);
    QString lineHint(const Run& run) const;
    // Starts the queries of Read All as the next phase of `run`.
    void startReadBack(Run& run);
    void begin(std::unique_ptr<Run> run);
    void moved(bool movedOn);
    void sendStep();
    void finish();
    void showProgress();

    TForm1& form_;
    ConfigurationFields fields_;
    QPushButton* menuButton_ = nullptr;
    QMenu* menu_ = nullptr;
    std::vector<QAction*> entries_; // in menu order, the traffic monitor's last
    std::unique_ptr<Run> run_;
    bool sendQueued_ = false;

    // What a saved file tells besides the values.
    std::string date_;
    std::string port_;
    std::string device_;
    std::vector<std::pair<std::string, std::string>> replies_; // per query key, the latest raw reply
};

} // namespace app
