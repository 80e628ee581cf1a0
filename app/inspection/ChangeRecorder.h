// Logs every set command the window sends (its Set buttons, Write All, a loaded file written) with
// what came of it, and offers the log's list and the report viewer in the Configuration menu. It
// only observes the exchange, so nothing the window sends or shows changes because of it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QPointer>

#include "app/exchange/ExchangeObserver.h"
#include "inspection/ChangeWatch.h"

class TForm1;

namespace app {

class ChangeLogDialog;

class ChangeRecorder : public QObject, public ExchangeObserver {
    Q_OBJECT
public:
    explicit ChangeRecorder(TForm1& form);
    ~ChangeRecorder() override;

    // Logs from now on to `path` (empty: nothing is logged). A port already open is watched from here.
    void start(const std::string& path);
    const std::string& path() const { return path_; }
    // Why the log could not be written, once it could not (said once on standard error as well).
    const QString& problem() const { return problem_; }

    // Opens (or raises) the list of the log.
    ChangeLogDialog& showLog();

    void frameSent(std::span<const uint8_t> frame, int32_t pendingCommand, bool written) override;
    void blockReceived(std::span<const uint8_t> block, int32_t pendingCommand) override;
    void blockHandled(const traffic::Reading& reading, int32_t pendingBefore, bool decodes) override;
    void replyTimedOut(std::string_view message, int32_t pendingCommand) override;
    void portOpened(const serial::TComm& port) override;
    void portClosed(const serial::TComm& port) override;
    void portLost(const serial::TComm& port) override;

signals:
    // A line was appended (or would have been, had the log been writable).
    void logged();

private:
    void watch(const std::string& port);

    TForm1& form_;
    std::string path_;
    QString problem_;
    std::unique_ptr<inspection::ChangeLog> log_;
    std::optional<inspection::ChangeWatch> watch_;
    std::string block_;
    std::size_t count_ = 0;
    QPointer<ChangeLogDialog> dialog_;
};

} // namespace app
