// The window's inspection: "Loop Check..." (each chosen output driven through its points, the loop
// current typed in the table or read from a bench meter, judged as vx538 loop-check judges it) and
// "Inspection..." (as found, then, after the person's adjustments with the dialog left open, as left,
// into the report "Open Inspection Report..." shows and saves). Both step the jobs vx538 runs; the
// working mode and test values go back however the run ends.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QPointer>

#include "app/commissioning/JobDialog.h"
#include "app/inspection/ReportDialog.h"
#include "inspection/Report.h"
#include "jobs/Inspection.h"

class QCheckBox;
class QDoubleSpinBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace app {

class LoopPanel;

// What both share: the loop panel whose readings the job waits for, the meter opened before the job
// starts, and a cancel (Cancel, Escape, the dialog closed) that reaches a reading being waited for.
class LoopJobDialog : public JobDialog {
    Q_OBJECT
public:
    void cancel();
    LoopPanel* panel() const { return panel_; }

protected:
    LoopJobDialog(TForm1& form, QWidget* parent);
    void hideEvent(QHideEvent* event) override;
    // Opens the meter's port when `meter`, then runs `go`; when the port cannot be used or the run
    // was cancelled meanwhile, says so and runs idle() instead.
    void prepareThen(bool meter, std::function<void()> go);
    bool preparing() const { return preparing_; }
    // The loop check's points so far, shown before each reading; nothing while there is none.
    virtual const jobs::LoopCheckResult* loopSoFar() const = 0;
    // The buttons and fields as they are between runs.
    virtual void idle() = 0;

    LoopPanel* panel_;

private:
    bool preparing_ = false; // the meter's port is being opened
    bool cancelled_ = false; // ... and the run was cancelled meanwhile
};

class LoopCheckDialog : public LoopJobDialog {
    Q_OBJECT
public:
    explicit LoopCheckDialog(TForm1& form, QWidget* parent = nullptr);

    // Start, or Cancel while running.
    void start();
    bool checking() const { return busy() || preparing(); }
    // The last run's result, once a run ended.
    const std::optional<jobs::LoopCheckResult>& result() const { return result_; }

protected:
    const jobs::LoopCheckResult* loopSoFar() const override { return job_ ? &job_->result() : nullptr; }
    void idle() override;

private:
    void finished(const jobs::LoopCheckResult& result);

    QPushButton* startCancel_;
    jobs::LoopCheckJob* job_ = nullptr;
    std::optional<jobs::LoopCheckResult> result_;
};

class InspectionDialog : public LoopJobDialog {
    Q_OBJECT
public:
    explicit InspectionDialog(TForm1& form, QWidget* parent = nullptr);

    // As found: identity, configuration, instrument, mapping check and, when ticked, the loop check.
    void asFound();
    // As left, once as found is done: the same again, the configuration read, the report made and shown.
    void asLeft();
    bool inspecting() const { return busy() || preparing(); }
    // The report as found (paused), then the whole report once as left is done.
    const std::optional<inspection::Json>& found() const { return found_; }
    const std::optional<inspection::Json>& report() const { return report_; }
    ReportDialog* reportDialog() const;
    QCheckBox* loopCheck() const { return loop_; }
    QPlainTextEdit* summary() const { return summary_; }
    QLineEdit* inspector() const { return inspector_; }

protected:
    const jobs::LoopCheckResult* loopSoFar() const override {
        return job_ && job_->result().loop ? &*job_->result().loop : nullptr;
    }
    void idle() override;

private:
    void run(bool left);
    void inspected(const jobs::InspectionResult& result, bool left);
    jobs::ReportFacts facts(bool paused) const;
    std::vector<inspection::Change> changesSince(int64_t sinceMs) const;

    QLineEdit* inspector_;
    QDoubleSpinBox* checkTolerance_;
    QCheckBox* loop_;
    QPlainTextEdit* summary_; // what the last stage found, part by part
    QPushButton* foundButton_;
    QPushButton* leftButton_;
    jobs::InspectionJob* job_ = nullptr;
    std::optional<inspection::Json> found_;
    std::optional<inspection::Json> report_;
    QPointer<ReportDialog> reportDialog_;
    int64_t startedMs_ = 0;
};

} // namespace app
