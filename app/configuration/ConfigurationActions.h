// The window's configuration entries: a menu button in the header and the same entries in the context
// menu of the send and receive fields (Read All, Write All, Save Configuration..., Load
// Configuration..., Compare with File..., Traffic Monitor), the files, and what a saved file tells
// besides the values. The runs of requests behind the entries are ConfigurationRun's.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "app/configuration/ConfigurationFields.h"
#include "app/configuration/ConfigurationRun.h"
#include "app/exchange/ExchangeObserver.h"
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

    ConfigurationFields& fields() { return fields_; }
    QPushButton* menuButton() const { return menuButton_; }
    QMenu* menu() const { return menu_; }
    // The dialog of the run under way; nullptr when none runs.
    QProgressDialog* progress() const { return run_ ? run_->dialog() : nullptr; }
    bool running() const { return run_ != nullptr; }

    void readAll();
    void writeAll();
    void saveConfiguration();
    void loadConfiguration();
    void compareWithFile();
    // Stops the run under way; the request already sent is left to the exchange.
    void cancel() {
        if (run_) {
            run_->cancel();
        }
    }

    // What a file saved now would hold (the values, where they were read, the raw replies).
    profile::Backup backup() const;

    // Whoever sent a query: what the fields now show of its reply is known from here on.
    void replyDecoded(int32_t pendingCommand, std::string_view error) override;

private:
    void addAction(const QString& text, const char* name, const QString& shortcut,
                   void (ConfigurationActions::*slot)());

    bool portReady(const QString& operation);
    // The file the user picks (none while a run is under way) and its `path`, read and checked; nothing
    // when none was picked or after `failure` ("%1 ...: %2", path and why) was shown.
    std::optional<profile::Backup> chooseConfigurationFile(const QString& caption, const QString& failure,
                                                           QString& path);
    void begin(RunState state);

    TForm1& form_;
    ConfigurationFields fields_;
    QPushButton* menuButton_ = nullptr;
    QMenu* menu_ = nullptr;
    std::vector<QAction*> entries_; // in menu order, without the traffic monitor's
    ConfigurationRun* run_ = nullptr;

    // What a saved file tells besides the values: where and when they were read, from which device.
    profile::Backup origin_;
    std::map<std::string, std::string> replies_; // per query key, the latest raw reply
};

} // namespace app
