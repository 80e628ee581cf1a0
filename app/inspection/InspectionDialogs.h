// The window's inspection: "Loop Check..." (each chosen output driven through its points, the loop
// current typed in the table or read from a bench meter, judged as vx538 loop-check judges it) and
// "Inspection..." (as found, then, after the person's adjustments with the dialog left open, as left,
// into the report "Open Inspection Report..." shows and saves). Both step the jobs vx538 runs; the
// working mode and test values go back however the run ends.
#pragma once

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

class LoopCheckDialog : public JobDialog {
    Q_OBJECT
public:
    explicit LoopCheckDialog(TForm1& form, QWidget* parent = nullptr);

    // Start, or Cancel while running.
    void start();
    void cancel();
    bool checking() const { return busy() || preparing_; }
    LoopPanel* panel() const { return panel_; }
    // The last run's result, once a run ended.
    const std::optional<jobs::LoopCheckResult>& result() const { return result_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void finished(const jobs::LoopCheckResult& result);
    void idle();

    LoopPanel* panel_;
    QPushButton* startCancel_;
    jobs::LoopCheckJob* job_ = nullptr;
    std::optional<jobs::LoopCheckResult> result_;
    bool preparing_ = false; // the meter's port is being opened
    bool cancelled_ = false; // ... and the run was cancelled meanwhile
};

class InspectionDialog : public JobDialog {
    Q_OBJECT
public:
    explicit InspectionDialog(TForm1& form, QWidget* parent = nullptr);

    // As found: identity, configuration, instrument, mapping check and, when ticked, the loop check.
    void asFound();
    // As left, once as found is done: the same again, the configuration read, the report made and shown.
    void asLeft();
    void cancel();
    bool inspecting() const { return busy() || preparing_; }
    // The report as found (paused), then the whole report once as left is done.
    const std::optional<inspection::Json>& found() const { return found_; }
    const std::optional<inspection::Json>& report() const { return report_; }
    ReportDialog* reportDialog() const;
    LoopPanel* panel() const { return panel_; }
    QCheckBox* loopCheck() const { return loop_; }
    QPlainTextEdit* summary() const { return summary_; }
    QLineEdit* inspector() const { return inspector_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void run(bool left);
    void inspected(const jobs::InspectionResult& result, bool left);
    jobs::ReportFacts facts(bool paused) const;
    std::vector<inspection::Change> changesSince(int64_t sinceMs) const;
    void idle();

    QLineEdit* inspector_;
    QDoubleSpinBox* checkTolerance_;
    QCheckBox* loop_;
    LoopPanel* panel_;
    QPlainTextEdit* summary_; // what the last stage found, part by part
    QPushButton* foundButton_;
    QPushButton* leftButton_;
    jobs::InspectionJob* job_ = nullptr;
    std::optional<inspection::Json> found_;
    std::optional<inspection::Json> report_;
    QPointer<ReportDialog> reportDialog_;
    int64_t startedMs_ = 0;
    bool preparing_ = false;
    bool cancelled_ = false;
};

} // namespace app
