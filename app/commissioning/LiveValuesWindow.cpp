// The Live Values window.
#include "app/commissioning/LiveValuesWindow.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/commissioning/LiveChart.h"
#include "app/exchange/JobExchange.h"
#include "app/window/Messages.h"
#include "app/window/VX538AB.h"
#include "app/window/WindowKeys.h"
#include "traffic/EventFormat.h"

namespace app {

namespace {

enum Column { Name, Value, Minimum, Maximum, Mean, Source, ColumnCount };

int64_t nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

QString number(double value) {
    return std::isfinite(value) ? QString::fromStdString(profile::ValueText(static_cast<float>(value)))
                                : (std::isnan(value) ? QStringLiteral("-") : QString::number(value));
}

// How long a span is, in the unit that reads best: "45 s", "10 min", "6 h", "3 d".
QString durationText(int64_t ms) {
    const int64_t seconds = (ms + 500) / 1000;
    if (seconds < 120) {
        return QObject::tr("%1 s").arg(seconds);
    }
    if (seconds < 2 * 3600) {
        return QObject::tr("%1 min").arg((seconds + 30) / 60);
    }
    if (seconds < 2 * 86400) {
        return QObject::tr("%1 h").arg((seconds + 1800) / 3600);
    }
    return QObject::tr("%1 d").arg((seconds + 43200) / 86400);
}

// The span minimum, maximum and mean cover, for their headings: the last so long while the chart
// follows the newest samples, else the times at its two ends.
QString spanText(int64_t fromMs, int64_t toMs, bool following, bool anySamples) {
    if (!anySamples) {
        return QObject::tr("no samples");
    }
    if (following) {
        return QObject::tr("last %1").arg(durationText(toMs - fromMs));
    }
    const auto time = [](int64_t ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss"));
    };
    return QStringLiteral("%1\u2013%2").arg(time(fromMs), time(toMs));
}

} // namespace

LiveValuesWindow::LiveValuesWindow(TForm1& form, QWidget* parent)
    : QWidget(parent, Qt::Window), form_(form), runner_(form.Jobs(), this), chart_(new LiveChart(samples_, this)),
      interval_(new QSpinBox(this)), startStop_(new QPushButton(tr("&Start"), this)),
      pause_(new QPushButton(tr("&Pause"), this)), csvButton_(new QPushButton(tr("CS&V File..."), this)),
      csvLabel_(new QLabel(this)), table_(new QTableWidget(profile::kMappedVariables, ColumnCount, this)),
      status_(new QLabel(this)), timer_(this) {
    setObjectName("LiveValuesWindow");
    setWindowTitle(tr("Live Values"));
    interval_->setObjectName("LiveInterval");
    startStop_->setObjectName("LiveStartStop");
    pause_->setObjectName("LivePause");
    csvButton_->setObjectName("LiveCsvFile");
    csvLabel_->setObjectName("LiveCsvState");
    table_->setObjectName("LiveTable");
    status_->setObjectName("LiveStatus");

    interval_->setRange(kMinimumIntervalMs, 3'600'000);
    interval_->setSingleStep(250);
    interval_->setSuffix(tr(" ms"));
    interval_->setValue(1000);
    interval_->setAccessibleName(tr("Poll interval"));
    pause_->setCheckable(true);
    pause_->setToolTip(tr("Hold the chart where it is; polling goes on"));
    auto* autoscale = new QPushButton(tr("&Autoscale"), this);
    autoscale->setObjectName("LiveAutoscale");
    autoscale->setToolTip(tr("Fit the value axis to the samples shown"));
    auto* follow = new QPushButton(tr("&Follow"), this);
    follow->setObjectName("LiveFollow");
    follow->setToolTip(tr("Show the newest samples again (double-click the chart does the same)"));

    auto* close = new QPushButton(tr("&Close"), this);
    close->setObjectName("LiveClose");
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    // Return starts or stops polling (an interval typed and Return starts it); Esc closes, as Close.
    GiveDialogKeys(*this, startStop_);

    auto* controls = new QHBoxLayout;
    auto* intervalLabel = new QLabel(tr("&Interval:"), this);
    intervalLabel->setBuddy(interval_);
    controls->addWidget(intervalLabel);
    controls->addWidget(interval_);
    controls->addWidget(startStop_);
    controls->addSpacing(12);
    controls->addWidget(pause_);
    controls->addWidget(autoscale);
    controls->addWidget(follow);
    controls->addSpacing(12);
    controls->addWidget(csvButton_);
    controls->addWidget(csvLabel_, 1);
    controls->addWidget(close);

    table_->setHorizontalHeaderLabels({tr("Variable"), tr("Value\n(latest)"), QString(), QString(), QString(),
                                       tr("Source")});
    updateSpanHeadings();
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setToolTip(tr("Minimum, maximum and mean are over the span the chart shows"));
    for (int n = 1; n <= profile::kMappedVariables; ++n) {
        auto* name = new QTableWidgetItem(tr("%1 (%2)").arg(n).arg(profile::RegisterOfVariable(n)));
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        name->setCheckState(Qt::Checked);
        table_->setItem(n - 1, Name, name);
        for (int c = Value; c < ColumnCount; ++c) {
            table_->setItem(n - 1, c, new QTableWidgetItem(QStringLiteral("-")));
        }
        chart_->setVariableName(n - 1, tr("%1 (%2)").arg(n).arg(profile::RegisterOfVariable(n)));
    }
    // Numbers keep their width as they change: room for the longest a single's shortest text takes.
    table_->resizeColumnsToContents();
    // The statistics' headings name their span, at most two times of day.
    const int numberWidth =
        std::max(table_->fontMetrics().horizontalAdvance(QStringLiteral("-1.2345678e+38")),
                 table_->horizontalHeader()->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00\u201300:00:00"))) +
        16;
    for (int c = Value; c <= Mean; ++c) {
        table_->setColumnWidth(c, numberWidth);
    }
    table_->setMinimumHeight(table_->verticalHeader()->length() + table_->horizontalHeader()->height() + 4);

    // A long message wraps (and a long file name is cut) instead of widening the window.
    status_->setWordWrap(true);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    csvLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(table_);
    splitter->addWidget(chart_);
    splitter->setStretchFactor(1, 1);
    // Neither the table nor the chart may be squeezed away: the chart keeps legible axes.
    splitter->setChildrenCollapsible(false);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(splitter, 1);
    layout->addWidget(status_);
    resize(960, 660);

    connect(interval_, &QSpinBox::valueChanged, this, [this](int value) { timer_.SetInterval(value); });
    connect(startStop_, &QPushButton::clicked, this, [this] { polling_ ? stop() : start(); });
    connect(pause_, &QPushButton::toggled, this, [this](bool paused) { chart_->setFrozen(paused); });
    connect(autoscale, &QPushButton::clicked, chart_, &LiveChart::autoscale);
    connect(follow, &QPushButton::clicked, chart_, &LiveChart::followLatest);
    connect(csvButton_, &QPushButton::clicked, this, [this] {
        if (csv_.isOpen()) {
            setCsvFile({});
            return;
        }
        const QString path = ChooseFile(FileDialogKind::Save, tr("Append the samples to a CSV file"),
                                        tr("CSV files (*.csv)"), QStringLiteral("csv"));
        if (!path.isEmpty()) {
            setCsvFile(path);
        }
    });
    connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == Name) {
            const bool shown = item->checkState() == Qt::Checked;
            if (chart_->variableVisible(item->row()) != shown) {
                chart_->setVariableVisible(item->row(), shown);
            }
        }
    });
    connect(chart_, &LiveChart::visibilityChanged, this, [this](int variable, bool visible) {
        QTableWidgetItem* item = table_->item(variable, Name);
        if ((item->checkState() == Qt::Checked) != visible) {
            item->setCheckState(visible ? Qt::Checked : Qt::Unchecked);
        }
    });
    connect(chart_, &LiveChart::visibleSpanChanged, this, [this] {
        // Statistics once per turn of the event loop, however many range changes came.
        QTimer::singleShot(0, this, [this] { updateStatistics(); });
    });

    timer_.setObjectName(QStringLiteral("LivePollTimer"));
    timer_.SetInterval(interval_->value());
    timer_.OnTimer = [this] { tick(); };
    connect(&form_.Jobs(), &JobExchange::lineEnded, this, [this](const QString& why) {
        if (polling_) {
            stopFor(why);
        }
    });
    setStatus(tr("Press Start to poll the converter's registers 40003-40018."));
}

LiveValuesWindow::~LiveValuesWindow() = default;

void LiveValuesWindow::setInterval(int milliseconds) {
    interval_->setValue(milliseconds);
}

void LiveValuesWindow::start() {
    if (polling_) {
        return;
    }
    if (!form_.Comm1->IsOpen()) {
        // It uses the main window's port and never opens it itself.
        setStatus(tr("The serial port is not open: open it in the main window first."));
        return;
    }
    polling_ = true;
    startStop_->setText(tr("S&top"));
    setStatus(tr("Reading the slave address and the parse format..."));
    auto job = std::make_unique<jobs::ReadMappingJob>();
    const jobs::ReadMappingJob& read = *job;
    runner_.start(std::move(job), [this, &read] { configurationRead(read.result()); });
}

void LiveValuesWindow::configurationRead(const jobs::MappingResult& result) {
    if (!polling_) {
        return;
    }
    if (!result.mapping) {
        const QString problem = QString::fromStdString(result.problemText());
        stopFor(problem);
        setStatus(tr("Cannot poll: %1").arg(problem));
        return;
    }
    mapping_ = result.mapping;
    for (int n = 1; n <= profile::kMappedVariables; ++n) {
        table_->item(n - 1, Source)->setText(QString::fromStdString(profile::SourceText(*mapping_, n)));
    }
    setStatus(tr("Polling slave %1 every %2 ms.").arg(mapping_->slaveAddress).arg(interval_->value()));
    due_ = true;
    timer_.SetEnabled(true);
    pollIfDue();
}

void LiveValuesWindow::stop() {
    polling_ = false;
    due_ = false;
    timer_.SetEnabled(false);
    startStop_->setText(tr("&Start"));
    // A poll on the line ends as it would; nothing more is asked.
    runner_.cancel();
    setStatus(tr("Stopped: %1 samples, %2 missed.").arg(polls_).arg(missed_));
}

void LiveValuesWindow::tick() {
    due_ = true;
    pollIfDue();
}

void LiveValuesWindow::pollIfDue() {
    // A poll waits its turn in the window's queue; one due meanwhile goes once it is over.
    if (!polling_ || !due_ || !mapping_ || runner_.running()) {
        return;
    }
    due_ = false;
    auto job = std::make_unique<jobs::LivePollJob>(*mapping_);
    const jobs::LivePollJob& poll = *job;
    runner_.start(std::move(job), [this, &poll] { polled(poll.result()); });
}

void LiveValuesWindow::polled(const jobs::PollResult& result) {
    if (!polling_) {
        return;
    }
    if (result.ended()) {
        // The line went, or the poll could not go out: no later poll would be answered either.
        stopFor(QString::fromStdString(result.missed->sentence()));
        return;
    }
    record(nowMs(), result.sample);
    setStatus(tr("Polling slave %1 every %2 ms: %3 samples, %4 missed%5.")
                  .arg(mapping_->slaveAddress)
                  .arg(interval_->value())
                  .arg(polls_)
                  .arg(missed_)
                  .arg(result.missed ? tr("; the last poll: %1").arg(QString::fromStdString(result.missed->sentence()))
                                     : QString()));
    pollIfDue();
}

void LiveValuesWindow::stopFor(const QString& why) {
    const bool wasPolling = polling_;
    stop();
    setStatus(tr("Polling stopped: %1.").arg(why));
    if (wasPolling && samples_.size() > 0 && !std::isnan(samples_.valueAt(samples_.size() - 1, 0))) {
        // Nothing was read from here until polling starts again: the chart breaks its lines here.
        samples_.appendMissed(nowMs());
        chart_->samplesChanged();
    }
    stale_ = last_.has_value();
    updateTable();
}

void LiveValuesWindow::record(int64_t timeMs, const std::optional<profile::Sample>& sample) {
    ++polls_;
    if (sample) {
        samples_.append(timeMs, *sample);
        last_ = sample;
        lastTimeMs_ = timeMs;
    } else {
        ++missed_;
        samples_.appendMissed(timeMs);
    }
    stale_ = !sample && last_.has_value();
    if (csv_.isOpen()) {
        const std::string line = profile::SampleCsvLine(
            traffic::DateTimeText(timeMs), std::span<const std::optional<profile::Sample>>(&sample, 1));
        if (!csv_.writeLine(line)) {
            // The file takes no more: writing stops, said where the file is named; polling goes on.
            csvButton_->setText(tr("CS&V File..."));
            csvLabel_->setText(tr("stopped: %1 takes no more lines (%2)")
                                   .arg(QString::fromLocal8Bit(csv_.name()), QString::fromLocal8Bit(csv_.error())));
        }
    }
    chart_->samplesChanged();
    updateTable();
    updateStatistics();
}

void LiveValuesWindow::updateTable() {
    // Numbers from an older poll stay readable but grey and slanted, with their age in the tooltip.
    const QString age = stale_ ? tr("Read at %1, %2 s ago: the polls since got no good reply.")
                                     .arg(QDateTime::fromMSecsSinceEpoch(lastTimeMs_).toString(QStringLiteral("HH:mm:ss")))
                                     .arg((nowMs() - lastTimeMs_) / 1000)
                               : QString();
    for (int n = 1; n <= profile::kMappedVariables; ++n) {
        QTableWidgetItem* item = table_->item(n - 1, Value);
        item->setText(last_ ? number((*last_)[static_cast<std::size_t>(n - 1)]) : QStringLiteral("-"));
        QFont font = item->font();
        font.setItalic(stale_);
        item->setFont(font);
        item->setForeground(stale_ ? QBrush(Qt::gray) : QBrush());
        item->setToolTip(age);
    }
}

void LiveValuesWindow::updateSpanHeadings() {
    const QString span = spanText(chart_->visibleFrom(), chart_->visibleTo(), chart_->following(), samples_.size() > 0);
    const std::pair<Column, QString> headings[] = {
        {Minimum, tr("Minimum")}, {Maximum, tr("Maximum")}, {Mean, tr("Mean")}};
    for (const auto& [column, name] : headings) {
        const QString text = name + QStringLiteral("\n(") + span + QLatin1Char(')');
        QTableWidgetItem* heading = table_->horizontalHeaderItem(column);
        if (!heading) {
            table_->setHorizontalHeaderItem(column, new QTableWidgetItem(text));
        } else if (heading->text() != text) {
            heading->setText(text);
        }
    }
}

void LiveValuesWindow::updateStatistics() {
    updateSpanHeadings();
    const auto stats = samples_.stats(chart_->visibleFrom(), chart_->visibleTo());
    for (int v = 0; v < profile::kMappedVariables; ++v) {
        const jobs::LiveSamples::Stats& s = stats[static_cast<std::size_t>(v)];
        table_->item(v, Minimum)->setText(number(s.minimum));
        table_->item(v, Maximum)->setText(number(s.maximum));
        table_->item(v, Mean)->setText(number(s.mean));
    }
}

bool LiveValuesWindow::setCsvFile(const QString& path) {
    csv_.close();
    csvButton_->setText(tr("CS&V File..."));
    csvLabel_->clear();
    if (path.isEmpty()) {
        return true;
    }
    const std::string prefix;
    // A FIFO without a reader is refused at once: the window does not wait for one.
    if (!csv_.open(path.toLocal8Bit().toStdString(), profile::SampleCsvHeader(std::span<const std::string>(&prefix, 1)),
                   tools::OutputWait{0, -1})) {
        setStatus(tr("Cannot write %1: %2").arg(path, QString::fromLocal8Bit(csv_.error())));
        return false;
    }
    csvButton_->setText(tr("Stop CS&V"));
    csvLabel_->setText(tr("appending to %1").arg(path));
    csvLabel_->setToolTip(path);
    return true;
}

void LiveValuesWindow::setStatus(const QString& text) {
    status_->setText(text);
}

void LiveValuesWindow::closeEvent(QCloseEvent* event) {
    // Closed, it leaves the exchange as it would be without it.
    if (polling_) {
        stop();
    }
    setCsvFile({});
    QWidget::closeEvent(event);
}

} // namespace app
