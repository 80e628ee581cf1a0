// The traffic monitor's window.
#include "app/traffic/TrafficWindow.h"

#include <set>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFontDatabase>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include "app/window/Latin1.h"
#include "app/window/Messages.h"
#include "app/traffic/TrafficModel.h"
#include "app/window/WindowKeys.h"
#include "traffic/EventFormat.h"

namespace app {

namespace {

QString counted(uint64_t count) {
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(count));
}

} // namespace

TrafficWindow::TrafficWindow(traffic::EventLog& log, TrafficModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window), log_(log), model_(model) {
    setObjectName(QStringLiteral("TrafficMonitor"));
    setWindowTitle(QStringLiteral("Traffic Monitor"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* clear = new QPushButton(QStringLiteral("Clea&r"), this);
    clear->setObjectName(QStringLiteral("TrafficClear"));
    pauseAutoscroll_ = new QCheckBox(QStringLiteral("&Pause autoscroll"), this);
    pauseAutoscroll_->setObjectName(QStringLiteral("TrafficPauseAutoscroll"));
    auto* copy = new QPushButton(QStringLiteral("&Copy"), this);
    copy->setObjectName(QStringLiteral("TrafficCopy"));
    copy->setToolTip(QStringLiteral("Copy the selected rows as text lines (Ctrl+C)"));
    auto* save = new QPushButton(QStringLiteral("&Save..."), this);
    save->setObjectName(QStringLiteral("TrafficSave"));
    save->setToolTip(QStringLiteral("Save every row as text lines (.txt) or CSV (.csv)"));
    listen_ = new QPushButton(this);
    listen_->setObjectName(QStringLiteral("TrafficListen"));
    listen_->setToolTip(QStringLiteral("Add the frames a listen-only adapter hears on another port (the RS485 "
                                       "bus) to this table; this window's own port is not touched"));
    listening_ = new QLabel(this);
    listening_->setObjectName(QStringLiteral("TrafficListening"));
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("TrafficCount"));
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("TrafficNote"));
    note_->setStyleSheet(QStringLiteral("QLabel { color: #8A4B00; }"));
    note_->hide();

    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("TrafficTable"));
    table_->setModel(&model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->setAlternatingRowColors(true);
    table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Every row one line high: the view never measures rows, so 100,000 of them stay cheap.
    QHeaderView* rows = table_->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    rows->hide();
    QHeaderView* columns = table_->horizontalHeader();
    // The meaning takes what the other columns leave; they are as wide as their heading and the
    // longest text they usually hold, and the user can widen them.
    columns->setStretchLastSection(true);
    fitColumns();
    // However small the window, a few rows stay in view.
    constexpr int kRowsAtLeast = 6;
    table_->setMinimumHeight(columns->sizeHint().height() + kRowsAtLeast * rows->defaultSectionSize() +
                             2 * table_->frameWidth());

    auto* copyAction = new QAction(QStringLiteral("Copy"), table_);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    auto* selectAllAction = new QAction(QStringLiteral("Select All"), table_);
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    selectAllAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    table_->addAction(copyAction);
    table_->addAction(selectAllAction);
    table_->setContextMenuPolicy(Qt::ActionsContextMenu);

    // Esc, Close or Return put the monitor away, as they do a dialog; recording goes on.
    auto* close = new QPushButton(QStringLiteral("Cl&ose"), this);
    close->setObjectName(QStringLiteral("TrafficClose"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    GiveDialogKeys(*this, close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(clear);
    buttons->addWidget(pauseAutoscroll_);
    buttons->addWidget(copy);
    buttons->addWidget(save);
    buttons->addWidget(listen_);
    buttons->addWidget(listening_);
    buttons->addStretch(1);
    buttons->addWidget(count_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(note_);
    layout->addWidget(table_, 1);

    connect(clear, &QPushButton::clicked, this, &TrafficWindow::clear);
    connect(copy, &QPushButton::clicked, this, &TrafficWindow::copySelectedRows);
    connect(copyAction, &QAction::triggered, this, &TrafficWindow::copySelectedRows);
    connect(selectAllAction, &QAction::triggered, table_, &QTableView::selectAll);
    connect(save, &QPushButton::clicked, this, &TrafficWindow::save);
    connect(listen_, &QPushButton::clicked, this, &TrafficWindow::listenClicked);
    setListening(false, {});
    connect(pauseAutoscroll_, &QCheckBox::toggled, this, [this](bool paused) {
        if (!paused) {
            table_->scrollToBottom();
        }
    });
    connect(&model_, &TrafficModel::synced, this, &TrafficWindow::refresh);

    resize(kDefaultSize);
    refresh();
}

void TrafficWindow::fitColumns() {
    using traffic::Column;
    const QFontMetrics cell(table_->font());
    const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Room for the cell's margins and the grid line.
    const int margin = 2 * table_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table_) + 12;
    const auto widest = [&](const QFontMetrics& metrics, std::initializer_list<const char*> texts) {
        int width = 0;
        for (const char* text : texts) {
            width = std::max(width, metrics.horizontalAdvance(QString::fromLatin1(text)));
        }
        return width + margin;
    };
    // A longer text is elided; its tooltip, a copy and the files hold it whole.
    const std::pair<Column, int> contents[] = {
        {Column::Time, widest(cell, {"00:00:00.000"})},
        {Column::Source, widest(cell, {"window", "ttyUSB0"})},
        {Column::SinceRequest, widest(cell, {"99999 ms"})},
        {Column::Direction, widest(cell, {"port opened", "port closed", "received", "timeout"})},
        {Column::Pending, widest(cell, {"201 System Parameters", "302 MODBUS Test"})},
        {Column::Length, widest(cell, {"2048"})},
        // A MODBUS read request's six bytes before its CRC, ten characters of text.
        {Column::Hex, widest(fixed, {"00 00 00 00 00 00 ..."})},
        {Column::Text, widest(fixed, {"0000000000"})},
    };
    QHeaderView* columns = table_->horizontalHeader();
    for (const auto& [column, width] : contents) {
        const int c = static_cast<int>(column);
        table_->setColumnWidth(c, std::max(width, columns->sectionSizeHint(c)));
    }
}

bool TrafficWindow::autoscrollPaused() const {
    return pauseAutoscroll_->isChecked();
}

void TrafficWindow::refresh() {
    count_->setText(countText());
    const QString note = noteText();
    note_->setText(note);
    note_->setVisible(!note.isEmpty());
    if (!autoscrollPaused()) {
        table_->scrollToBottom();
    }
}

QString TrafficWindow::countText() const {
    const auto rows = static_cast<uint64_t>(model_.rowCount());
    return counted(rows) + (rows == 1 ? QStringLiteral(" event") : QStringLiteral(" events"));
}

QString TrafficWindow::noteText() const {
    if (log_.dropped() == 0) {
        return {};
    }
    return QStringLiteral("The oldest %1 events were dropped: the monitor keeps the latest %2. "
                          "Use --log FILE to keep a whole session.")
        .arg(counted(log_.dropped()), counted(log_.capacity()));
}

void TrafficWindow::setListening(bool listening, const QString& description) {
    listen_->setText(listening ? QStringLiteral("Stop &Listening") : QStringLiteral("&Listen on Another Port..."));
    listening_->setText(listening ? QStringLiteral("listening on ") + description : QString());
    listening_->setVisible(listening);
}

QString TrafficWindow::selectedRowsText() const {
    std::set<int> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
        rows.insert(index.row());
    }
    QString text;
    for (int row : rows) {
        if (const traffic::Event* event = model_.eventAt(row)) {
            text += latin1(traffic::TextLine(*event)) + QLatin1Char('\n');
        }
    }
    return text;
}

void TrafficWindow::copySelectedRows() const {
    const QString text = selectedRowsText();
    if (!text.isEmpty()) {
        QApplication::clipboard()->setText(text);
    }
}

QString TrafficWindow::saveTo(const QString& path, FileFormat format) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    const auto line = [&](const std::string& text) {
        file.write(text.data(), static_cast<qint64>(text.size()));
        file.write("\n", 1);
    };
    line(format == FileFormat::Csv ? traffic::CsvHeader() : traffic::TextHeader());
    for (std::size_t i = 0; i < log_.size(); ++i) {
        line(format == FileFormat::Csv ? traffic::CsvLine(log_.at(i)) : traffic::TextLine(log_.at(i)));
    }
    // A failed write leaves an existing file as it was.
    if (!file.commit()) {
        return file.errorString();
    }
    return {};
}

void TrafficWindow::save() {
    static const QString textFilter = QStringLiteral("Text lines (*.txt *.log)");
    static const QString csvFilter = QStringLiteral("CSV (*.csv)");
    QFileDialog dialog(this, QStringLiteral("Save Traffic"),
                       QDir::homePath() + QStringLiteral("/traffic.txt"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({textFilter, csvFilter});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter == csvFilter ? QStringLiteral("csv") : QStringLiteral("txt"));
    });
    // The dialog asks before it lets an existing file be chosen.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString path = dialog.selectedFiles().constFirst();
    const FileFormat format =
        path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ? FileFormat::Csv : FileFormat::Text;
    if (const QString failure = saveTo(path, format); !failure.isEmpty()) {
        ShowMessage(QStringLiteral("The traffic could not be saved to %1: %2").arg(path, failure));
    }
}

void TrafficWindow::clear() {
    log_.clear();
    model_.sync();
}

} // namespace app
