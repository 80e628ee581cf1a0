// What the commissioning dialogs share: a job of jobs/ stepped through the window's job queue, a
// status line that says what it is doing and how it ended, and a close (Escape, the window's close
// button) that cancels the job, so nothing more is sent for a dialog nobody looks at.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QDialog>
#include <QStringList>

#include "app/exchange/JobRunner.h"
#include "jobs/Job.h"

class QLabel;
class QTableWidget;
class TForm1;

namespace app {

class JobDialog : public QDialog {
    Q_OBJECT
public:
    // Whether the dialog's job is under way.
    bool busy() const { return runner_.running(); }
    QLabel* status() const { return status_; }

protected:
    JobDialog(TForm1& form, QWidget* parent);

    // Starts `job` once the port is open (otherwise says so and returns nullptr); `over` hears it
    // when it has no more requests. The job lives until the next run.
    template <class J, class Over> J* run(std::unique_ptr<J> job, Over over) {
        if (!portOpen()) {
            return nullptr;
        }
        J* started = job.get();
        runner_.start(std::move(job), [started, over = std::move(over)] { over(*started); });
        return started;
    }
    void cancelJob() { runner_.cancel(); }
    // The job's loop readings go to `asked`; what came of one is given back by giveReading.
    void readLoops(std::function<void(const jobs::Request&)> asked) { runner_.onReading = std::move(asked); }
    void giveReading(const jobs::Outcome& outcome) { runner_.give(outcome); }
    // Each request as it joins the queue: its `what` in the status line.
    virtual void asking(const jobs::Request& request);
    void hideEvent(QHideEvent* event) override;

    // The Transparent Mode tab's "Preamble Length:" and master, as the jobs' HART requests use them.
    std::string preambles() const;
    bool primaryMaster() const;

    TForm1& form_;
    QLabel* status_;

    // The dialogs use the main window's port and never open it themselves: closed, they say so.
    bool portOpen();

private:

    JobRunner runner_;
};

// A table of rows the user picks from, its columns named by `headers`.
QTableWidget* MakeTable(QWidget* parent, const QStringList& headers, const char* name);
// Puts `cells` into row `row`, adding rows as needed.
void SetRow(QTableWidget* table, int row, const QStringList& cells);
QString Text(const std::string& text);
// The jobs' words as a sentence of a dialog: its first letter upper-case, a full stop at its end.
QString Sentence(const std::string& words);

} // namespace app
