// What the window's loop check and inspection share: the loop check's options (outputs, points,
// tolerance), where its readings come from (typed in the table, or a bench meter speaking SCPI on a
// port of its own) and the table of points as both front ends show it. A reading the job asks for is
// a row of the table whose reading cell waits for the person, or a question to the meter.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QWidget>

#include "app/inspection/MeterLine.h"
#include "jobs/LoopCheck.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTableWidgetItem;

namespace app {

// A few lines of text to read and copy, `lines` high, scrolled when there are more.
QPlainTextEdit* ReadOnlyLines(QWidget* parent, const char* name, int lines);

class LoopPanel : public QWidget {
    Q_OBJECT
public:
    explicit LoopPanel(QWidget* parent);

    // The options as set, or nothing with `problem` saying what is wrong.
    std::optional<jobs::LoopCheckOptions> options(QString& problem) const;
    bool fromMeter() const;
    // "meter" or "typed", as the report names the source of the readings.
    std::string source() const { return fromMeter() ? "meter" : "typed"; }
    const std::string& meterIdentity() const { return meter_.identity(); }
    // The meter's port opened for a run (nothing to do for typed readings); `ready` hears an empty
    // text, or why the run cannot start.
    void prepare(std::function<void(const QString& problem)> ready);
    // While a run is under way its options stay as they are; once it is over the meter's port is let
    // go, for other programs to use between runs.
    void setRunning(bool running);

    // The job asks for a reading: a row waiting for it, the cell open for typing, or the meter asked.
    // `give` hears the reading, or why there is none. Asked to have the meter's leads moved, it asks
    // the person when it reads a meter, and gives at once otherwise.
    void reading(const jobs::Request& request, std::function<void(const jobs::Outcome&)> give);
    // The run was cancelled: the reading asked for is no longer wanted.
    void dropReading();
    bool waiting() const { return static_cast<bool>(give_); }
    // Types `text` into the waiting row's reading cell, as the person does (for tests and scripts).
    void type(const QString& text);
    void skip();
    // The person has moved the meter's leads as asked.
    void leadsMoved();
    bool waitingForLeads() const { return waiting() && !asked_; }
    // The output whose loop the meter's leads go to, while that is asked.
    int leadsTo() const { return leadsTo_; }

    // The points judged so far (rows from the job's result; the waiting one after them), and once the
    // run is over its outputs' lines.
    void show(const jobs::LoopCheckResult& result, bool over);
    void clear();

    QTableWidget* table() const { return table_; }
    QPlainTextEdit* outcome() const { return outcome_; }

signals:
    // Something to say in the dialog's status line.
    void say(const QString& text);

private:
    void edited(QTableWidgetItem* item);
    void give(const jobs::Outcome& outcome);
    // The wait for the person or the meter is over: the buttons off, the row's cells the program's.
    void endWait();
    void addWaitingRow();

    QCheckBox* outputs_[8];
    QLineEdit* points_;
    QDoubleSpinBox* tolerance_;
    QComboBox* source_;
    QLineEdit* meterPort_;
    QComboBox* meterBaud_;
    QComboBox* meterParity_;
    QSpinBox* settle_;
    QTableWidget* table_;
    QPushButton* skip_;
    QPushButton* leads_; // the meter's leads are where they were asked to go
    QPlainTextEdit* outcome_;
    MeterLine meter_;
    std::optional<jobs::Request::LoopReading> asked_;
    std::function<void(const jobs::Outcome&)> give_;
    int waitingRow_ = -1;
    int leadsTo_ = -1;
    int asks_ = 0; // readings asked so far: a typed reading belongs to the one it was typed for
    bool filling_ = false; // the table is being filled: its changes are not the person's
};

} // namespace app
