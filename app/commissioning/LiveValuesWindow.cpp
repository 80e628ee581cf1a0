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
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/commissioning/CommissioningDialogs.h"
#include "app/commissioning/LiveChart.h"
#include "app/window/Messages.h"
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
    : QWidget(parent, Qt::Window), form_(form), client_(form, this), chart_(new LiveChart(samples_, this)),
      interval_(new QSpinBox(this)), startStop_(new QPushButton(tr("&Start"), this)),
      pause_(new QPushButton(tr("&Pause"), this)), csvButton_(new QPushButton(tr("CS&V File..."), this)),
      csvLabel_(new QLabel(this)), table_(new QTableWidget(profile::kMappedVariables, ColumnCount, this)),
      status_(new QLabel(this)), timer_(new QTimer(this)) {
    setObjectName("LiveValuesWindow");
    setWindowTitle(tr("Live Values"));
    interval_->setObjectName("LiveInterval");
    startStop_->setObjectName("LiveStartStop");
    pause_->setObjectName("LivePause");
    csvButton_->setObjectName("LiveCsvFile");
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

    connect(interval_, &QSpinBox::valueChanged, this, [this](int value) { timer_->setInterval(value); });
    connect(startStop_, &QPushButton::clicked, this, [this] { polling_ ? stop() : start(); });
    connect(pause_, &QPushButton::toggled, this, [this](bool paused) { chart_->setFrozen(paused); });
    connect(autoscale, &QPushButton::clicked, chart_, &LiveChart::autoscale);
    connect(follow, &QPushButton::clicked, chart_, &LiveChart::followLatest);
    connect(csvButton_, &QPushButton::clicked, this, [this] {
        if (csv_) {
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

    timer_->setInterval(interval_->value());
    connect(timer_, &QTimer::timeout, this, [this] { tick(); });
    client_.onExchangeFree = [this] { pollIfDue(); };
    setStatus(tr("Press Start to poll the converter's registers 40003-40018."));
}

LiveValuesWindow::~LiveValuesWindow() {
    if (csv_) {
        std::fclose(csv_);
    }
}

void LiveValuesWindow::setInterval(int milliseconds) {
    interval_->setValue(milliseconds);
}

void LiveValuesWindow::start() {
    if (polling_) {
        return;
    }
    if (!PortOpenOrSay(form_, status_)) {
        return;
    }
    polling_ = true;
    startStop_->setText(tr("S&top"));
    setStatus(tr("Reading the slave address and the parse format..."));
    ReadMapping(client_, [this](std::optional<profile::Mapping> mapping, std::optional<int>,
                                QString problem) { configurationRead(std::move(mapping), problem); });
}

void LiveValuesWindow::configurationRead(std::optional<profile::Mapping> mapping, const QString& problem) {
    if (!polling_) {
        return;
    }
    if (!mapping) {
        stop();
        setStatus(tr("Cannot poll: %1").arg(problem));
        return;
    }
    mapping_ = std::move(mapping);
    request_ = profile::VariablesRequest(mapping_->slaveAddress);
    for (int n = 1; n <= profile::kMappedVariables; ++n) {
        table_->item(n - 1, Source)->setText(QString::fromStdString(profile::SourceText(*mapping_, n)));
    }
    setStatus(tr("Polling slave %1 every %2 ms.").arg(mapping_->slaveAddress).arg(interval_->value()));
    due_ = true;
    timer_->start();
    pollIfDue();
}

void LiveValuesWindow::stop() {
    polling_ = false;
    due_ = false;
    timer_->stop();
    startStop_->setText(tr("&Start"));
    if (!client_.busy()) {
        setStatus(tr("Stopped: %1 samples, %2 missed.").arg(polls_).arg(missed_));
    }
}

void LiveValuesWindow::tick() {
    due_ = true;
    pollIfDue();
}

void LiveValuesWindow::pollIfDue() {
    if (!polling_ || !due_ || !mapping_ || client_.busy() || !client_.exchangeFree()) {
        return;
    }
    due_ = false;
    // Timeout kind 0: a missed poll is counted here, with no message box for each one.
    const std::vector<uint8_t> frame = request_;
    Request poll =
        Request::text([frame] { return std::string(frame.begin(), frame.end()); }, exchange::pending::ModbusTest, 0);
    poll.showHex = true;
    client_.send(poll, [this](const ExchangeOutcome& outcome) { polled(outcome); });
}

void LiveValuesWindow::polled(const ExchangeOutcome& outcome) {
    const int64_t now = nowMs();
    switch (outcome.kind) {
    case ExchangeOutcome::Kind::PortClosed:
    case ExchangeOutcome::Kind::NotSent:
        stop();
        setStatus(tr("Polling stopped: %1.").arg(QString::fromStdString(outcome.message)));
        return;
    case ExchangeOutcome::Kind::Interrupted:
        return; // another request took the exchange: no sample, the next poll comes as due
    case ExchangeOutcome::Kind::NoReply:
    case ExchangeOutcome::Kind::Reply:
        break;
    }
    std::optional<profile::Sample> sample;
    if (const auto frame = outcome.goodFrame()) {
        if (const auto registers = profile::RegistersOfReply(*frame, request_)) {
            sample = profile::SampleOfRegisters(*registers, *mapping_);
        }
    }
    record(now, sample);
    if (polling_) {
        setStatus(tr("Polling slave %1 every %2 ms: %3 samples, %4 missed%5.")
                      .arg(mapping_->slaveAddress)
                      .arg(interval_->value())
                      .arg(polls_)
                      .arg(missed_)
                      .arg(sample ? QString()
                                  : tr("; the last poll got %1")
                                        .arg(outcome.kind == ExchangeOutcome::Kind::NoReply
                                                 ? tr("no reply")
                                                 : QString::fromStdString(outcome.reading.meaning))));
    } else {
        setStatus(tr("Stopped: %1 samples, %2 missed.").arg(polls_).arg(missed_));
    }
}

void LiveValuesWindow::record(int64_t timeMs, const std::optional<profile::Sample>& sample) {
    ++polls_;
    if (sample) {
        samples_.append(timeMs, *sample);
        last_ = sample;
    } else {
        ++missed_;
        samples_.appendMissed(timeMs);
    }
    if (csv_) {
        const std::string line = profile::SampleCsvLine(
            traffic::DateTimeText(timeMs), std::span<const std::optional<profile::Sample>>(&sample, 1));
        std::fprintf(csv_, "%s\n", line.c_str());
        std::fflush(csv_);
    }
    chart_->samplesChanged();
    updateTable();
    updateStatistics();
}

void LiveValuesWindow::updateTable() {
    for (int n = 1; n <= profile::kMappedVariables; ++n) {
        table_->item(n - 1, Value)
            ->setText(last_ ? number((*last_)[static_cast<std::size_t>(n - 1)]) : QStringLiteral("-"));
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
    if (csv_) {
        std::fclose(csv_);
        csv_ = nullptr;
    }
    if (path.isEmpty()) {
        csvButton_->setText(tr("CS&V File..."));
        csvLabel_->clear();
        return true;
    }
    csv_ = std::fopen(path.toLocal8Bit().constData(), "a");
    if (!csv_) {
        setStatus(tr("Cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    if (std::ftell(csv_) == 0) {
        const std::string prefix;
        std::fprintf(csv_, "%s\n",
                     profile::SampleCsvHeader(std::span<const std::string>(&prefix, 1)).c_str());
        std::fflush(csv_);
    }
    csvButton_->setText(tr("Stop CS&V"));
    csvLabel_->setText(tr("appending to %1").arg(path));
    return true;
}

void LiveValuesWindow::setStatus(const QString& text) {
    status_->setText(text);
}

void LiveValuesWindow::closeEvent(QCloseEvent* event) {
    // Closed, it leaves the exchange as it would be without it.
    stop();
    client_.cancel();
    setCsvFile({});
    QWidget::closeEvent(event);
}

} // namespace app
