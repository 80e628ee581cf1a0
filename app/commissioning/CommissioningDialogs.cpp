// The commissioning dialogs that ask the instrument: the scan and the reply's fields.
#include "app/commissioning/CommissioningDialogs.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/window/Messages.h"
#include "app/window/VX538AB.h"
#include "profile/Mapping.h"

namespace app {

namespace {

template <class T> T* control(TForm1& form, const char* name) {
    return form.findChild<T*>(QString::fromLatin1(name));
}

} // namespace

// ---- Find Instrument ----

InstrumentScanDialog::InstrumentScanDialog(TForm1& form, QWidget* parent)
    : JobDialog(form, parent), range_(new QComboBox(this)),
      first_(new QCheckBox(tr("Stop at the &first instrument"), this)),
      startCancel_(new QPushButton(tr("&Scan"), this)), progress_(new QProgressBar(this)),
      table_(MakeTable(
          this, {tr("Address"), tr("Manufacturer"), tr("Device Type"), tr("Device ID"), tr("Preambles")},
          "ScanTable")) {
    setObjectName("InstrumentScanDialog");
    setWindowTitle(tr("Find Instrument"));
    range_->setObjectName("ScanRange");
    first_->setObjectName("ScanFirst");
    startCancel_->setObjectName("ScanStartCancel");
    startCancel_->setDefault(true); // Return scans, and cancels a scan under way
    status_->setObjectName("ScanStatus");
    range_->addItems({tr("0 to 15 (HART 5)"), tr("0 to 63 (HART 6 and 7)")});
    range_->setAccessibleName(tr("Polling addresses"));
    first_->setChecked(true);
    auto* use = new QPushButton(tr("&Use Address"), this);
    use->setObjectName("ScanUse");
    use->setToolTip(tr("Select the address in \"HART Address:\" of the Transparent Mode tab"));

    auto* top = new QHBoxLayout;
    auto* addresses = new QLabel(tr("&Addresses:"), this);
    addresses->setBuddy(range_);
    top->addWidget(addresses);
    top->addWidget(range_);
    top->addWidget(first_);
    top->addStretch(1);
    top->addWidget(startCancel_);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(status_, 1);
    bottom->addWidget(use);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(progress_);
    layout->addWidget(table_, 1);
    layout->addLayout(bottom);
    resize(560, 320);
    status_->setText(tr("Sends command 0 to each polling address in transparent mode."));

    connect(startCancel_, &QPushButton::clicked, this, [this] { scanning() ? cancel() : start(); });
    connect(use, &QPushButton::clicked, this, [this] { useRow(table_->currentRow()); });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { useRow(row); });
}

void InstrumentScanDialog::start() {
    if (scanning()) {
        return;
    }
    jobs::ScanOptions options;
    options.preambles = preambles();
    options.master = primaryMaster();
    options.last = range_->currentIndex() == 1 ? hart::kHighestPollingAddress : 15;
    options.firstOnly = first_->isChecked();
    found_.clear();
    rowAddress_.clear();
    table_->setRowCount(0);
    progress_->setRange(0, options.last + 1);
    progress_->setValue(0);
    job_ = nullptr; // the last scan's job goes as this one starts
    job_ =
        run(std::make_unique<jobs::ScanJob>(options), [this](jobs::ScanJob& job) { scanned(job.result()); });
    if (job_) {
        startCancel_->setText(tr("&Cancel"));
    }
}

void InstrumentScanDialog::asking(const jobs::Request& request) {
    JobDialog::asking(request);
    progress_->setValue(job_ ? job_->result().asked : 0);
}

void InstrumentScanDialog::cancel() {
    cancelJob();
}

void InstrumentScanDialog::scanned(const jobs::ScanResult& result) {
    startCancel_->setText(tr("&Scan"));
    progress_->setValue(result.stop ? result.asked : progress_->maximum());
    for (const jobs::ScanAnswer& answer : result.answers) {
        const int row = table_->rowCount();
        if (const auto& id = answer.identity) {
            found_.push_back({answer.address, *id});
            rowAddress_.push_back(answer.address);
            SetRow(
                table_, row,
                {QString::number(answer.address),
                 Text(id->manufacturerText) + " (0x" + QString::number(id->manufacturer, 16).toUpper() + ")",
                 // As the register map writes them: type and ID in hex.
                 Text(profile::DeviceTypeText(id->deviceType)),
                 Text(profile::DeviceIdText(static_cast<uint32_t>(id->deviceId[0]) << 16 |
                                            static_cast<uint32_t>(id->deviceId[1]) << 8 | id->deviceId[2])),
                 Text(id->reportedPreamblesText)});
            continue;
        }
        // An address that answered with a damaged or cut reply is no instrument, and no silence either.
        rowAddress_.push_back(-1);
        SetRow(table_, row, {QString::number(answer.address), Text(answer.text)});
        table_->setSpan(row, 1, 1, table_->columnCount() - 1);
        table_->item(row, 1)->setForeground(Qt::red);
    }
    if (!found_.empty()) {
        table_->selectRow(static_cast<int>(
            std::find(rowAddress_.begin(), rowAddress_.end(), found_.front().address) - rowAddress_.begin()));
    }
    QString text = Sentence(result.summary());
    if (result.stop) {
        text += QStringLiteral(" ") + Sentence(result.stop->sentence());
    }
    if (!found_.empty()) {
        text += tr(" Double-click a row to use its address.");
    }
    status_->setText(text);
}

void InstrumentScanDialog::useRow(int row) {
    if (row < 0 || row >= static_cast<int>(rowAddress_.size()) ||
        rowAddress_[static_cast<std::size_t>(row)] < 0) {
        return;
    }
    const int address = rowAddress_[static_cast<std::size_t>(row)];
    QComboBox* list = control<QComboBox>(form_, "ComboBox30");
    if (address >= list->count()) {
        ShowMessage(tr("\"HART Address:\" offers addresses 0 to %1; the instrument answers at %2.")
                        .arg(list->count() - 1)
                        .arg(address));
        return;
    }
    list->setCurrentIndex(address);
    status_->setText(tr("\"HART Address:\" is now %1.").arg(address));
}

// ---- From the instrument ----

ReplyFieldsDialog::ReplyFieldsDialog(TForm1& form, QWidget* parent)
    : JobDialog(form, parent), command_(new QComboBox(this)), readButton_(new QPushButton(tr("&Read"), this)),
      table_(MakeTable(this, {tr("Offset"), tr("Length"), tr("Field"), tr("Value")}, "FieldsTable")),
      variable_(new QComboBox(this)), fillButton_(new QPushButton(tr("&Fill Row"), this)) {
    setObjectName("ReplyFieldsDialog");
    setWindowTitle(tr("Fields of the Instrument's Reply"));
    command_->setObjectName("FieldsCommand");
    readButton_->setObjectName("FieldsRead");
    readButton_->setDefault(true);
    variable_->setObjectName("FieldsVariable");
    fillButton_->setObjectName("FieldsFill");
    status_->setObjectName("FieldsStatus");
    command_->addItems({tr("Read Meter Command 1"), tr("Read Meter Command 2")});
    command_->setAccessibleName(tr("Command"));
    variable_->setAccessibleName(tr("Variable to fill"));
    for (int n = 1; n <= profile::kMappedVariables; ++n) {
        variable_->addItem(tr("Variable %1 (%2)").arg(n).arg(profile::RegisterOfVariable(n)), n);
    }
    fillButton_->setEnabled(false);
    auto* top = new QHBoxLayout;
    top->addWidget(command_);
    top->addWidget(readButton_);
    top->addStretch(1);
    auto* bottom = new QHBoxLayout;
    auto* variableLabel = new QLabel(tr("&Variable:"), this);
    variableLabel->setBuddy(variable_);
    bottom->addWidget(variableLabel);
    bottom->addWidget(variable_);
    bottom->addWidget(fillButton_);
    bottom->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table_, 1);
    layout->addLayout(bottom);
    layout->addWidget(status_);
    resize(560, 480);
    status_->setText(
        tr("Reads the command the converter polls with and lists the instrument's reply by the "
           "offsets the parse format's addresses count. Picking a field fills a row's address and "
           "length; press that row's \"Set\" to send it."));

    connect(readButton_, &QPushButton::clicked, this, [this] { read(command_->currentIndex() + 1); });
    connect(fillButton_, &QPushButton::clicked, this,
            [this] { fill(table_->currentRow(), variable_->currentData().toInt()); });
    connect(table_, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { fill(row, variable_->currentData().toInt()); });
}

void ReplyFieldsDialog::read(int command) {
    if (reading()) {
        return;
    }
    command_->setCurrentIndex(command - 1);
    // What an earlier read listed goes now: a failed read must not leave it looking current.
    fields_.clear();
    table_->setRowCount(0);
    fillButton_->setEnabled(false);
    run(std::make_unique<jobs::ReplyFieldsJob>(jobs::FieldsOptions{preambles(), command}),
        [this, command](jobs::ReplyFieldsJob& job) { shown(job.result(), command); });
}

void ReplyFieldsDialog::shown(const jobs::FieldsResult& result, int command) {
    if (result.stop || !result.reply) {
        status_->setText(Sentence(result.stop ? result.stop->sentence() : std::string("no reply was read")));
        return;
    }
    shownCommand_ = command;
    fields_ = result.fields;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const profile::ReplyField& f = fields_[i];
        SetRow(table_, static_cast<int>(i),
               {QString::number(f.offset), QString::number(f.length), Text(f.name), Text(f.value)});
        for (int c = 0; c < table_->columnCount(); ++c) {
            table_->item(static_cast<int>(i), c)
                ->setFlags(f.pickable ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::ItemIsEnabled);
        }
    }
    table_->resizeColumnsToContents();
    fillButton_->setEnabled(!fields_.empty());
    // The rows this command feeds.
    variable_->setCurrentIndex(command == 1 ? 0 : 4);
    QString text =
        tr("Command %1's reply, %2 data bytes.").arg(result.reply->command).arg(result.reply->data.size());
    for (const std::string& note : result.notes) {
        text += QStringLiteral(" ") + Sentence(note);
    }
    status_->setText(text);
}

bool ReplyFieldsDialog::fill(int row, int variable) {
    if (row < 0 || row >= static_cast<int>(fields_.size())) {
        return false;
    }
    const profile::ReplyField& field = fields_[static_cast<std::size_t>(row)];
    if (!field.pickable) {
        ShowMessage(tr("%1 is not a value a variable can take.").arg(Text(field.name)));
        return false;
    }
    if (profile::CommandOfVariable(variable) != shownCommand_) {
        ShowMessage(tr("Variable %1 comes from read meter command %2, not from command %3.")
                        .arg(variable)
                        .arg(profile::CommandOfVariable(variable))
                        .arg(shownCommand_));
        return false;
    }
    const QByteArray n = QByteArray::number(variable);
    auto* address = control<QLineEdit>(form_, ("READADR" + n).constData());
    auto* length = control<QComboBox>(form_, ("READLG" + n).constData());
    address->setText(QStringLiteral("%1").arg(field.offset, 2, 10, QLatin1Char('0')));
    length->setCurrentIndex(0); // "4 Bit": a single
    status_->setText(tr("Variable %1: address %2, length 4. Press its \"Set\" to send it to the converter.")
                         .arg(variable)
                         .arg(address->text()));
    return true;
}

} // namespace app
