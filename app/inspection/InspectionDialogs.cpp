// The window's loop check and inspection, each a thin dialog over its job.
#include "app/inspection/InspectionDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/inspection/ChangeRecorder.h"
#include "app/inspection/LoopPanel.h"
#include "app/inspection/ReportDialog.h"
#include "app/window/Latin1.h"
#include "app/window/VX538AB.h"
#include "serial/PosixPort.h"
#include "traffic/Recorder.h"

namespace app {

namespace {

// Start (the default button) and Close under the dialog's content.
QPushButton* Buttons(QDialog* dialog, QVBoxLayout* layout, const QString& start, const char* name) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    buttons->button(QDialogButtonBox::Close)->setText(QDialog::tr("&Close"));
    auto* button = buttons->addButton(start, QDialogButtonBox::ActionRole);
    button->setObjectName(QString::fromLatin1(name));
    button->setDefault(true);
    button->setAutoDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    layout->addWidget(buttons);
    return button;
}

} // namespace

LoopJobDialog::LoopJobDialog(TForm1& form, QWidget* parent) : JobDialog(form, parent), panel_(new LoopPanel(this)) {
    connect(panel_, &LoopPanel::say, status_, &QLabel::setText);
    readLoops([this](const jobs::Request& request) {
        if (const jobs::LoopCheckResult* loop = loopSoFar()) {
            panel_->show(*loop, false);
        }
        panel_->reading(request, [this](const jobs::Outcome& outcome) { giveReading(outcome); });
    });
}

void LoopJobDialog::prepareThen(bool meter, std::function<void()> go) {
    preparing_ = true;
    cancelled_ = false;
    const auto ready = [this, go = std::move(go)](const QString& problem) {
        preparing_ = false;
        if (cancelled_ || !problem.isEmpty()) {
            status_->setText(cancelled_ ? tr("Cancelled before anything was sent.") : problem);
            idle();
            return;
        }
        panel_->clear();
        go();
    };
    if (meter) {
        status_->setText(panel_->fromMeter() ? tr("Opening the meter's port...") : QString());
        panel_->prepare(ready);
    } else {
        ready(QString());
    }
}

void LoopJobDialog::cancel() {
    if (preparing_) {
        cancelled_ = true;
        return;
    }
    panel_->dropReading();
    cancelJob();
}

void LoopJobDialog::hideEvent(QHideEvent* event) {
    // Closed, the run ends and puts back what it changed; an inspection paused as found stays paused
    // and goes on when the dialog is opened again.
    cancel();
    JobDialog::hideEvent(event);
}

LoopCheckDialog::LoopCheckDialog(TForm1& form, QWidget* parent) : LoopJobDialog(form, parent) {
    setObjectName(QStringLiteral("LoopCheckDialog"));
    setWindowTitle(tr("Loop Check"));
    resize(860, 560);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel_, 1);
    status_->setObjectName(QStringLiteral("LoopStatus"));
    layout->addWidget(status_);
    startCancel_ = Buttons(this, layout, tr("&Start"), "LoopStartButton");
    connect(startCancel_, &QPushButton::clicked, this, [this] { checking() ? cancel() : start(); });
}

void LoopCheckDialog::start() {
    if (checking()) {
        return;
    }
    QString problem;
    const auto options = panel_->options(problem);
    if (!options) {
        status_->setText(problem);
        return;
    }
    if (!portOpen()) {
        return;
    }
    startCancel_->setText(tr("&Cancel"));
    panel_->setRunning(true);
    prepareThen(true, [this, options = *options] {
        result_.reset();
        job_ = run(std::make_unique<jobs::LoopCheckJob>(options),
                   [this](const jobs::LoopCheckJob& job) { finished(job.result()); });
        if (!job_) {
            idle();
        }
    });
}

void LoopCheckDialog::finished(const jobs::LoopCheckResult& result) {
    job_ = nullptr;
    result_ = result;
    panel_->show(result, true);
    status_->setText(Sentence(result.summary()));
    idle();
}

void LoopCheckDialog::idle() {
    startCancel_->setText(tr("&Start"));
    panel_->setRunning(false);
}

InspectionDialog::InspectionDialog(TForm1& form, QWidget* parent) : LoopJobDialog(form, parent) {
    setObjectName(QStringLiteral("InspectionDialog"));
    setWindowTitle(tr("Inspection"));
    resize(860, 720);
    auto* layout = new QVBoxLayout(this);
    auto* fields = new QFormLayout;
    inspector_ = new QLineEdit(this);
    inspector_->setObjectName(QStringLiteral("InspectorName"));
    checkTolerance_ = new QDoubleSpinBox(this);
    checkTolerance_->setObjectName(QStringLiteral("CheckTolerance"));
    checkTolerance_->setRange(0.0, 100.0);
    checkTolerance_->setDecimals(3);
    checkTolerance_->setValue(jobs::CheckOptions{}.tolerance);
    loop_ = new QCheckBox(tr("Check the &loops of the analog outputs"), this);
    loop_->setObjectName(QStringLiteral("InspectLoops"));
    fields->addRow(tr("&Inspector:"), inspector_);
    fields->addRow(tr("&Mapping check tolerance (%):"), checkTolerance_);
    fields->addRow(loop_);
    layout->addLayout(fields);
    panel_->setEnabled(false);
    connect(loop_, &QCheckBox::toggled, panel_, [this](bool on) { panel_->setEnabled(on && !inspecting()); });
    layout->addWidget(panel_, 1);
    summary_ = ReadOnlyLines(this, "InspectionSummary", 6);
    layout->addWidget(summary_);
    status_->setObjectName(QStringLiteral("InspectionStatus"));
    layout->addWidget(status_);
    foundButton_ = Buttons(this, layout, tr("&As Found"), "AsFoundButton");
    foundButton_->setToolTip(tr("Read and check the converter as found; adjust it afterwards if needed"));
    leftButton_ = new QPushButton(tr("&Finish As Left"), this);
    leftButton_->setObjectName(QStringLiteral("AsLeftButton"));
    leftButton_->setToolTip(tr("Read and check the converter again as left, and show the report"));
    leftButton_->setEnabled(false);
    if (auto* box = findChild<QDialogButtonBox*>()) {
        box->addButton(leftButton_, QDialogButtonBox::ActionRole);
    }
    connect(foundButton_, &QPushButton::clicked, this, [this] { inspecting() ? cancel() : asFound(); });
    connect(leftButton_, &QPushButton::clicked, this, &InspectionDialog::asLeft);
}

void InspectionDialog::asFound() {
    run(false);
}

void InspectionDialog::asLeft() {
    if (found_) {
        run(true);
    }
}

void InspectionDialog::run(bool left) {
    if (inspecting()) {
        return;
    }
    jobs::InspectionOptions options;
    options.readAsLeft = left;
    // As left checks what as found checked, so the two stand side by side in the report.
    options.loopCheck = left ? found_->value("as_found", inspection::Json::object()).contains("loop_check")
                             : loop_->isChecked();
    if (options.loopCheck) {
        QString problem;
        const auto loop = panel_->options(problem);
        if (!loop) {
            status_->setText(problem);
            return;
        }
        options.loop = *loop;
    }
    if (!portOpen()) {
        return;
    }
    options.check.tolerance = checkTolerance_->value();
    options.check.preambles = preambles();
    options.identity.preambles = preambles();
    options.identity.master = primaryMaster();
    bool number = false;
    const int address = form_.findChild<QComboBox*>(QStringLiteral("ComboBox30"))->currentText().toInt(&number);
    options.identity.address = number && address >= 0 && address <= 63 ? address : 0;

    foundButton_->setText(tr("&Cancel"));
    leftButton_->setEnabled(false);
    loop_->setEnabled(false);
    inspector_->setEnabled(false);
    panel_->setRunning(true);
    startedMs_ = traffic::Now().wallMs;
    prepareThen(options.loopCheck, [this, options, left] {
        job_ = JobDialog::run(std::make_unique<jobs::InspectionJob>(options),
                              [this, left](const jobs::InspectionJob& job) { inspected(job.result(), left); });
        if (!job_) {
            idle();
        }
    });
}

jobs::ReportFacts InspectionDialog::facts(bool paused) const {
    jobs::ReportFacts facts;
    facts.writtenBy = "vx538-config " VX538_VERSION;
    facts.inspector = inspector_->text().toStdString();
    facts.port = form_.Comm1->CommName();
    facts.startedMs = startedMs_;
    facts.finishedMs = traffic::Now().wallMs;
    facts.readings = panel_->source();
    facts.meter = panel_->meterIdentity();
    facts.checkTolerance = checkTolerance_->value();
    facts.paused = paused;
    return facts;
}

std::vector<inspection::Change> InspectionDialog::changesSince(int64_t sinceMs) const {
    const std::string path = form_.Changes().path();
    QFile file(QString::fromStdString(path));
    if (path.empty() || !file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const std::string device = serial::deviceOf(form_.Comm1->CommName());
    return inspection::ChangesSince(inspection::ReadChangeLog(file.readAll().toStdString()), sinceMs,
                                    [&](const std::string& p) { return serial::deviceOf(p) == device; });
}

void InspectionDialog::inspected(const jobs::InspectionResult& result, bool left) {
    job_ = nullptr;
    if (result.loop) {
        panel_->show(*result.loop, true);
    }
    QStringList lines;
    if (!left) {
        found_ = jobs::InspectionReport(result, facts(true), changesSince(startedMs_));
        report_.reset();
        const inspection::Json& verdict = (*found_)["verdict"];
        lines << tr("As found: %1.").arg(Text(verdict.value("overall", std::string())));
        for (const auto& [part, v] : verdict["parts"].items()) {
            lines << Text(part + ": " + v.get<std::string>());
        }
        lines << tr("Adjust the converter now if it needs it (this dialog may stay open), then press "
                    "\"Finish As Left\".");
    } else {
        const int64_t since =
            inspection::ReadUtcTime(found_->value("finished", std::string())).value_or(startedMs_);
        report_ = jobs::FinishedReport(*found_, result, facts(false), changesSince(since));
        const inspection::Json& verdict = (*report_)["verdict"];
        lines << tr("Verdict: %1.").arg(Text(verdict.value("overall", std::string())));
        for (const auto& [part, v] : verdict["parts"].items()) {
            lines << Text(part + ": " + v.get<std::string>());
        }
        if (report_->contains("differences")) {
            lines << tr("%1 parameters differ between as found and as left.")
                         .arg((*report_)["differences"].size());
        }
    }
    for (const std::string& note : result.notes) {
        lines << Text(note);
    }
    if (result.stop) {
        lines << Sentence("incomplete: " + result.stop->sentence());
    }
    summary_->setPlainText(lines.join(QLatin1Char('\n')));
    status_->setText(lines.front());
    idle();
    if (left && report_) {
        reportDialog_ = new ReportDialog(*report_, this);
        reportDialog_->setAttribute(Qt::WA_DeleteOnClose);
        reportDialog_->show();
    }
}

ReportDialog* InspectionDialog::reportDialog() const {
    return reportDialog_.data();
}

void InspectionDialog::idle() {
    foundButton_->setText(tr("&As Found"));
    leftButton_->setEnabled(found_.has_value());
    loop_->setEnabled(true);
    inspector_->setEnabled(true);
    panel_->setRunning(false);
    panel_->setEnabled(loop_->isChecked());
}

} // namespace app
