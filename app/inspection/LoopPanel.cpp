// The loop check's options, readings and table in the window.
#include "app/inspection/LoopPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/commissioning/JobDialog.h"
#include "inspection/Currents.h"

namespace app {

namespace {

constexpr int kReadingColumn = 4;
constexpr int kVerdictColumn = 6;

// Cells are the program's: only the reading cell of a row waiting for a reading takes typing.
void ReadOnlyRow(QTableWidget* table, int row) {
    for (int c = 0; c < table->columnCount(); ++c) {
        if (QTableWidgetItem* item = table->item(row, c)) {
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        }
    }
}

QLabel* Buddy(const QString& text, QWidget* field, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(field);
    return label;
}

} // namespace

QPlainTextEdit* ReadOnlyLines(QWidget* parent, const char* name, int lines) {
    auto* text = new QPlainTextEdit(parent);
    text->setObjectName(QString::fromLatin1(name));
    text->setReadOnly(true);
    text->setFrameShape(QFrame::NoFrame);
    text->setTabChangesFocus(true);
    text->setFixedHeight(text->fontMetrics().lineSpacing() * lines + text->fontMetrics().descent() +
                         2 * text->frameWidth() +
                         static_cast<int>(2 * text->document()->documentMargin()));
    return text;
}

LoopPanel::LoopPanel(QWidget* parent) : QWidget(parent), meter_(this) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* outputs = new QGroupBox(tr("Outputs (none ticked: every output mapped to a variable)"), this);
    auto* outputRow = new QHBoxLayout(outputs);
    for (int o = 0; o < 8; ++o) {
        outputs_[o] = new QCheckBox(QStringLiteral("DOUTA&%1").arg(o), outputs);
        outputs_[o]->setObjectName(QStringLiteral("LoopOutput%1").arg(o));
        outputRow->addWidget(outputs_[o]);
    }
    layout->addWidget(outputs);

    auto* options = new QHBoxLayout;
    points_ = new QLineEdit(QStringLiteral("4,8,12,16,20"), this);
    points_->setObjectName(QStringLiteral("LoopPoints"));
    points_->setToolTip(tr("The currents to drive, 4 to 20 mA, separated by commas"));
    tolerance_ = new QDoubleSpinBox(this);
    tolerance_->setObjectName(QStringLiteral("LoopTolerance"));
    tolerance_->setRange(0.0, 100.0);
    tolerance_->setDecimals(3);
    tolerance_->setSingleStep(0.05);
    tolerance_->setValue(inspection::kDefaultTolerance);
    options->addWidget(Buddy(tr("&Points (mA):"), points_, this));
    options->addWidget(points_, 1);
    options->addWidget(Buddy(tr("&Tolerance (% of span):"), tolerance_, this));
    options->addWidget(tolerance_);
    layout->addLayout(options);

    auto* readings = new QHBoxLayout;
    source_ = new QComboBox(this);
    source_->setObjectName(QStringLiteral("LoopReadings"));
    source_->addItems({tr("Typed in the table"), tr("From a bench meter (SCPI)")});
    meterPort_ = new QLineEdit(this);
    meterPort_->setObjectName(QStringLiteral("MeterPort"));
    meterPort_->setPlaceholderText(tr("/dev/ttyUSB1, rfc2217://host:port"));
    meterBaud_ = new QComboBox(this);
    meterBaud_->setObjectName(QStringLiteral("MeterBaud"));
    meterBaud_->setEditable(true);
    meterBaud_->addItems({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                          QStringLiteral("57600"), QStringLiteral("115200")});
    meterParity_ = new QComboBox(this);
    meterParity_->setObjectName(QStringLiteral("MeterParity"));
    meterParity_->addItems({tr("None"), tr("Odd"), tr("Even")});
    settle_ = new QSpinBox(this);
    settle_->setObjectName(QStringLiteral("MeterSettle"));
    settle_->setRange(0, 600000);
    settle_->setValue(500);
    settle_->setToolTip(tr("Milliseconds between driving a point and reading the meter"));
    readings->addWidget(Buddy(tr("&Readings:"), source_, this));
    readings->addWidget(source_);
    readings->addWidget(Buddy(tr("Meter p&ort:"), meterPort_, this));
    readings->addWidget(meterPort_, 1);
    readings->addWidget(Buddy(tr("Ba&ud:"), meterBaud_, this));
    readings->addWidget(meterBaud_);
    readings->addWidget(Buddy(tr("Parit&y:"), meterParity_, this));
    readings->addWidget(meterParity_);
    readings->addWidget(Buddy(tr("S&ettle (ms):"), settle_, this));
    readings->addWidget(settle_);
    layout->addLayout(readings);
    const auto meterShown = [this] {
        for (QWidget* w : {static_cast<QWidget*>(meterPort_), static_cast<QWidget*>(meterBaud_),
                           static_cast<QWidget*>(meterParity_), static_cast<QWidget*>(settle_)}) {
            w->setEnabled(fromMeter() && source_->isEnabled());
        }
    };
    connect(source_, &QComboBox::currentIndexChanged, this, meterShown);
    meterShown();

    QStringList headings;
    for (const char* h : jobs::kLoopHeadings) {
        headings << QString::fromLatin1(h);
    }
    table_ = MakeTable(this, headings, "LoopTable");
    table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::AnyKeyPressed);
    table_->setSelectionBehavior(QAbstractItemView::SelectItems);
    connect(table_, &QTableWidget::itemChanged, this, &LoopPanel::edited);
    layout->addWidget(table_, 1);

    auto* under = new QHBoxLayout;
    outcome_ = ReadOnlyLines(this, "LoopOutcome", 4);
    skip_ = new QPushButton(tr("S&kip Point"), this);
    skip_->setObjectName(QStringLiteral("SkipPointButton"));
    skip_->setEnabled(false);
    skip_->setToolTip(tr("Go on without a reading at this point; it is not checked"));
    connect(skip_, &QPushButton::clicked, this, &LoopPanel::skip);
    leads_ = new QPushButton(tr("Leads Co&nnected"), this);
    leads_->setObjectName(QStringLiteral("LeadsMovedButton"));
    leads_->setEnabled(false);
    leads_->setToolTip(tr("The meter's leads are in the loop of the output named above: go on"));
    connect(leads_, &QPushButton::clicked, this, &LoopPanel::leadsMoved);
    under->addStretch(1);
    under->addWidget(leads_);
    under->addWidget(skip_);
    layout->addLayout(under);
    layout->addWidget(outcome_);
}

std::optional<jobs::LoopCheckOptions> LoopPanel::options(QString& problem) const {
    jobs::LoopCheckOptions options;
    for (int o = 0; o < 8; ++o) {
        if (outputs_[o]->isChecked()) {
            options.outputs.push_back(o);
        }
    }
    try {
        options.points = inspection::ReadPoints(points_->text().toStdString());
    } catch (const std::invalid_argument& error) {
        problem = tr("Points: %1.").arg(QString::fromStdString(error.what()));
        return std::nullopt;
    }
    options.tolerance = tolerance_->value();
    if (fromMeter()) {
        bool number = false;
        const uint baud = meterBaud_->currentText().trimmed().toUInt(&number);
        if (!number || baud == 0) {
            problem = tr("The meter's baud rate must be a positive number of bits per second.");
            return std::nullopt;
        }
        if (meterPort_->text().trimmed().isEmpty()) {
            problem = tr("Name the meter's port, or type the readings in the table.");
            return std::nullopt;
        }
    }
    return options;
}

bool LoopPanel::fromMeter() const {
    return source_->currentIndex() == 1;
}

void LoopPanel::prepare(std::function<void(const QString&)> ready) {
    if (!fromMeter()) {
        meter_.close();
        ready(QString());
        return;
    }
    MeterLine::Settings settings;
    settings.port = meterPort_->text().trimmed().toStdString();
    settings.baud = meterBaud_->currentText().trimmed().toUInt();
    settings.parity = meterParity_->currentIndex();
    settings.settleMs = settle_->value();
    meter_.open(settings, std::move(ready));
}

void LoopPanel::setRunning(bool running) {
    if (!running) {
        meter_.close();
    }
    for (QWidget* w : std::initializer_list<QWidget*>{points_, tolerance_, source_}) {
        w->setEnabled(!running);
    }
    for (QCheckBox* box : outputs_) {
        box->setEnabled(!running);
    }
    const bool meter = fromMeter() && !running;
    for (QWidget* w : std::initializer_list<QWidget*>{meterPort_, meterBaud_, meterParity_, settle_}) {
        w->setEnabled(meter);
    }
}

void LoopPanel::reading(const jobs::Request& request, std::function<void(const jobs::Outcome&)> give) {
    if (request.meterLeads) {
        if (!fromMeter()) {
            give(jobs::ReadingOutcome(0));
            return;
        }
        give_ = std::move(give);
        ++asks_;
        leadsTo_ = *request.meterLeads;
        leads_->setEnabled(true);
        leads_->setFocus();
        emit say(tr("Connect the meter's leads to %1's loop, then press \"Leads Connected\".")
                     .arg(Text(jobs::OutputName(*request.meterLeads))));
        return;
    }
    asked_ = *request.loopReading;
    give_ = std::move(give);
    ++asks_;
    addWaitingRow();
    if (fromMeter()) {
        emit say(Sentence(jobs::ReadingPrompt(*asked_) + ": reading the meter"));
        meter_.read([this](const jobs::Outcome& outcome) { this->give(outcome); });
        return;
    }
    emit say(Sentence(jobs::ReadingPrompt(*asked_) + ": type the reading in mA in its row, or skip the point"));
}

void LoopPanel::addWaitingRow() {
    if (!asked_) {
        return;
    }
    filling_ = true;
    waitingRow_ = table_->rowCount();
    SetRow(table_, waitingRow_,
           {Text(jobs::OutputName(asked_->output)), Text(inspection::MaText(asked_->pointMa)),
            Text(asked_->testValue), Text(inspection::MaText(asked_->expectedMa)), QString(),
            QStringLiteral("-"), fromMeter() ? tr("reading the meter") : tr("waiting for a reading")});
    ReadOnlyRow(table_, waitingRow_);
    QTableWidgetItem* cell = table_->item(waitingRow_, kReadingColumn);
    filling_ = false;
    skip_->setEnabled(true);
    table_->scrollToItem(cell);
    if (!fromMeter()) {
        cell->setFlags(cell->flags() | Qt::ItemIsEditable);
        table_->setCurrentItem(cell);
        table_->setFocus();
        table_->editItem(cell);
    }
}

void LoopPanel::edited(QTableWidgetItem* item) {
    if (filling_ || !give_ || fromMeter() || item->row() != waitingRow_ || item->column() != kReadingColumn) {
        return;
    }
    const QString text = item->text().trimmed();
    if (text.isEmpty()) {
        return;
    }
    if (const auto ma = inspection::ReadNumber(text.toStdString())) {
        // Given on the next turn: what it starts rebuilds the table, this item with it, and the item
        // is still inside its own change here.
        QTimer::singleShot(0, this, [this, ma, asked = asks_] {
            if (give_ && asked == asks_) {
                give(jobs::ReadingOutcome(*ma));
            }
        });
        return;
    }
    emit say(tr("'%1' is no reading in mA: type it again, or skip the point.").arg(text));
    // Open again once the editor that gave it has closed, its text selected to be typed over.
    QTimer::singleShot(0, this, [this, item] {
        if (give_ && item->row() == waitingRow_) {
            table_->editItem(item);
            if (auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget())) {
                editor->selectAll();
            }
        }
    });
}

void LoopPanel::type(const QString& text) {
    if (give_ && waitingRow_ >= 0) {
        table_->item(waitingRow_, kReadingColumn)->setText(text);
    }
}

void LoopPanel::skip() {
    if (asked_) {
        give(jobs::NoReading("skipped"));
    }
}

void LoopPanel::leadsMoved() {
    if (waitingForLeads()) {
        give(jobs::ReadingOutcome(0));
    }
}

void LoopPanel::give(const jobs::Outcome& outcome) {
    const auto give = std::exchange(give_, {});
    endWait();
    if (give) {
        give(outcome);
    }
}

void LoopPanel::dropReading() {
    meter_.drop();
    give_ = {};
    if (waitingRow_ >= 0) {
        filling_ = true;
        table_->item(waitingRow_, kVerdictColumn)->setText(tr("cancelled"));
        filling_ = false;
    }
    endWait();
    waitingRow_ = -1;
}

void LoopPanel::endWait() {
    asked_.reset();
    skip_->setEnabled(false);
    leads_->setEnabled(false);
    if (waitingRow_ >= 0) {
        // The open editor goes with its row: what it holds was taken, or is no longer wanted.
        filling_ = true;
        ReadOnlyRow(table_, waitingRow_);
        filling_ = false;
    }
}

void LoopPanel::show(const jobs::LoopCheckResult& result, bool over) {
    filling_ = true;
    // Leave an open editor before its row goes.
    table_->setCurrentItem(nullptr);
    table_->setRowCount(0);
    int row = 0;
    for (const jobs::LoopOutput& o : result.outputs) {
        for (const inspection::PointResult& p : o.points) {
            QStringList cells;
            for (const std::string& c : jobs::PointCells(o.output, p)) {
                cells << Text(c);
            }
            SetRow(table_, row, cells);
            ReadOnlyRow(table_, row);
            ++row;
        }
    }
    waitingRow_ = -1;
    filling_ = false;
    QStringList lines;
    if (over) {
        for (const jobs::LoopOutput& o : result.outputs) {
            lines << Text(jobs::OutputLine(o));
        }
        for (const std::string& note : result.notes) {
            lines << Text(note);
        }
        if (over && fromMeter() && !meter_.identity().empty()) {
            lines << tr("meter: %1").arg(Text(meter_.identity()));
        }
    }
    outcome_->setPlainText(lines.join(QLatin1Char('\n')));
    // The verdict, last, takes the room that is left.
    for (int c = 0; c + 1 < table_->columnCount(); ++c) {
        table_->resizeColumnToContents(c);
    }
    if (give_) {
        addWaitingRow();
    }
}

void LoopPanel::clear() {
    filling_ = true;
    table_->setRowCount(0);
    filling_ = false;
    waitingRow_ = -1;
    outcome_->clear();
}

} // namespace app
