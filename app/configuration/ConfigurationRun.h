// A run of requests behind the configuration entries (Read All, Write All, Compare with File): each
// step's request goes out through the exchange's one send function, exactly as its button sends it,
// once the previous step's reply was handled; a progress dialog with Cancel shows the run. What the
// run found, or why it stopped, is told by RunReport.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "app/exchange/ExchangeObserver.h"
#include "exchange/RequestSequence.h"
#include "app/window/VX538AB.h"
#include "profile/BackupFile.h"

class QProgressDialog;

namespace app {

// What a run holds and has found so far: plain data, the report's only input.
struct RunState {
    enum class Kind { ReadAll, WriteAll, Compare };
    explicit RunState(Kind kind = Kind::ReadAll);

    Kind kind;
    QString operation; // "Read All", as the entry names it
    std::unique_ptr<exchange::RequestSequence> sequence;
    std::vector<Request> requests;   // one per step of the sequence
    std::vector<std::string> frames; // the frame each step sends, for messages
    bool readingBack = false;        // the sequence is Read All's (of any kind of run)
    int stepsBefore = 0;             // steps of the phases before this one

    profile::Configuration readBack;
    std::vector<std::string> problems;

    // The reply that ended the run, not being the whole answer its step waits for.
    std::optional<traffic::Reading> rejected;

    // Write All: what it sends, and what it leaves out; the set command of each step.
    profile::Configuration sent;
    std::vector<std::size_t> setters;
    std::vector<std::string> skipped;
    // Compare with File.
    profile::Backup file;
    QString fileName;

    // The queries of Read All as the sequence of this run's next phase.
    void startReadBack();
    // The steps of every phase: Write All's set commands and its read-back.
    int totalSteps() const;
};

// The configuration query whose reply the exchange decodes under `pendingCommand`, if any.
std::optional<profile::Query> QueryDecodedUnder(int32_t pendingCommand);

class ConfigurationRun : public QObject, public ExchangeObserver {
    Q_OBJECT
public:
    // Shows the dialog and sends the first step. `over` is called once the run has ended (the dialog
    // gone); the run is deleted later. `parent` goes before the window does (the window's members are
    // gone once its children are deleted).
    ConfigurationRun(TForm1& form, QObject& parent, RunState state,
                     std::function<void(const ConfigurationRun&)> over);
    ~ConfigurationRun() override;

    // Stops the run; the request already sent is left to the exchange.
    void cancel();

    const RunState& state() const { return state_; }
    QProgressDialog* dialog() const { return dialog_; }

    // What the exchange did, as the sequence takes it; the run moves on when the sequence did.
    void frameSent(std::span<const uint8_t>, int32_t, bool written) override {
        moved(state_.sequence->frameSent(written));
    }
    void blockHandled(const traffic::Reading& reading, int32_t pendingBefore, bool decodes) override;
    void replyDecoded(int32_t pendingCommand, std::string_view error) override;
    void timeoutHandled(std::string_view message) override {
        moved(state_.sequence->timeoutHandled(message));
    }
    void requestRefused(std::string_view message, int32_t) override {
        moved(state_.sequence->requestRefused(message));
    }
    void portClosed(const serial::TComm&) override { moved(state_.sequence->portClosed()); }
    void portLost(const serial::TComm&) override { moved(state_.sequence->portClosed()); }

private:
    void moved(bool movedOn);
    void finish();
    void showProgress();

    TForm1& form_;
    RunState state_;
    std::function<void(const ConfigurationRun&)> over_;
    QProgressDialog* dialog_ = nullptr;
    bool sendQueued_ = false;
    bool ended_ = false;
};

} // namespace app
