// The commissioning dialogs: instrument scan, reply fields, mapping check and register map.
#include "app/commissioning/CommissioningDialogs.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/window/Messages.h"
#include "config/TextCommands.h"
#include "hart/HartFrames.h"
#include "hart/HartReplies.h"
#include "profile/Parameters.h"
#include "profile/Samples.h"

namespace app {

namespace {

const profile::Query kMappingQueries[] = {profile::Query::QX1, profile::Query::QX3, profile::Query::QX4};
constexpr int kTransparentMode = 0;

std::string bytesText(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

template <class T> T* control(TForm1& form, const char* name) {
    return form.findChild<T*>(QString::fromLatin1(name));
}

QString modeLabel(int mode) {
    const profile::Parameter& parameter = profile::Parameters()[profile::ParameterIndex("mode")];
    if (mode < 0 || static_cast<std::size_t>(mode) >= parameter.choices.size()) {
        return QObject::tr("mode %1").arg(mode);
    }
    const std::string_view label = parameter.choices[static_cast<std::size_t>(mode)].label;
    return QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size()));
}

QTableWidget* makeTable(QWidget* parent, const QStringList& headers, const char* name) {
    auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->horizontalHeader()->setStretchLastSection(true);
    // Every heading whole from the start, before any row gives the columns their width.
    for (int c = 0; c < table->columnCount(); ++c) {
        table->setColumnWidth(c, std::max(table->columnWidth(c), table->horizontalHeader()->sectionSizeHint(c)));
    }
    return table;
}

void setRow(QTableWidget* table, int row, const QStringList& cells) {
    if (table->rowCount() <= row) {
        table->setRowCount(row + 1);
    }
    for (int c = 0; c < cells.size(); ++c) {
        table->setItem(row, c, new QTableWidgetItem(cells[c]));
    }
}

QString qtext(const std::string& s) {
    return QString::fromStdString(s);
}

QString valueWithUnit(const std::optional<float>& value, const std::string& unit) {
    if (!value) {
        return QStringLiteral("-");
    }
    return qtext(profile::ValueText(*value)) + (unit.empty() ? QString() : QStringLiteral(" ") + qtext(unit));
}

} // namespace

Request HartBodyRequest(TForm1& form, std::vector<uint8_t> body) {
    QLineEdit* preambles = control<QLineEdit>(form, "Edit9");
    Request request = Request::hart(
        Request::Kind::Hart,
        [preambles, body = std::move(body)] { return bytesText(hart::ManualFrame(FieldText(preambles), body)); },
        exchange::pending::HartManual);
    // No "HART Command Timeout!" box: the dialog says the instrument did not answer.
    request.timeoutKind = 0;
    return request;
}

bool PortOpenOrSay(TForm1& form, QLabel* status) {
    if (form.Comm1->IsOpen()) {
        return true;
    }
    status->setText(
        QCoreApplication::translate("app", "The serial port is not open: open it in the main window first."));
    return false;
}

void ReadMapping(ExchangeClient& client,
                 std::function<void(std::optional<profile::Mapping>, std::optional<int>, QString)> done) {
    std::vector<Request> requests;
    for (const profile::Query query : kMappingQueries) {
        requests.push_back(Request::configurationQuery(query));
    }
    client.sendAll(std::move(requests), [done = std::move(done)](const std::vector<ExchangeOutcome>& outcomes) {
        std::vector<std::string> problems;
        const std::vector<profile::Query> queries(std::begin(kMappingQueries), std::end(kMappingQueries));
        const profile::Configuration values = ConfigurationOfReplies(queries, outcomes, problems);
        std::optional<int> mode;
        if (const auto& modeValue = values.value("mode")) {
            mode = profile::ChoiceIndex(profile::Parameters()[profile::ParameterIndex("mode")], *modeValue);
        }
        try {
            done(profile::MappingOf(values), mode, QString());
        } catch (const profile::BadValue& error) {
            done(std::nullopt, mode, qtext(problems.empty() ? error.what() : problems.front()));
        }
    });
}

// ---- Find Instrument ----

InstrumentScanDialog::InstrumentScanDialog(TForm1& form, QWidget* parent)
    : QDialog(parent), form_(form), client_(form, this), range_(new QComboBox(this)),
      first_(new QCheckBox(tr("Stop at the &first instrument"), this)),
      startCancel_(new QPushButton(tr("&Scan"), this)), progress_(new QProgressBar(this)),
      table_(makeTable(this, {tr("Address"), tr("Manufacturer"), tr("Device Type"), tr("Device ID"), tr("Preambles")},
                       "ScanTable")),
      status_(new QLabel(this)) {
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

    connect(startCancel_, &QPushButton::clicked, this, [this] { scanning_ ? cancel() : start(); });
    connect(use, &QPushButton::clicked, this, [this] { useRow(table_->currentRow()); });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { useRow(row); });
}

void InstrumentScanDialog::start() {
    if (!PortOpenOrSay(form_, status_)) {
        return;
    }
    found_.clear();
    table_->setRowCount(0);
    scanning_ = true;
    address_ = 0;
    last_ = range_->currentIndex() == 1 ? hart::kHighestPollingAddress : 15;
    progress_->setRange(0, last_ + 1);
    progress_->setValue(0);
    startCancel_->setText(tr("&Cancel"));
    next();
}

void InstrumentScanDialog::cancel() {
    client_.cancel();
    scanning_ = false;
    startCancel_->setText(tr("&Scan"));
    status_->setText(tr("Cancelled at address %1: %2 found.").arg(address_).arg(found_.size()));
}

void InstrumentScanDialog::next() {
    if (!scanning_) {
        return;
    }
    if (address_ > last_ || (first_->isChecked() && !found_.empty())) {
        scanning_ = false;
        startCancel_->setText(tr("&Scan"));
        progress_->setValue(progress_->maximum());
        status_->setText(found_.empty() ? tr("No instrument answered at addresses 0 to %1.").arg(last_)
                                        : tr("%1 found. Double-click a row to use its address.").arg(found_.size()));
        return;
    }
    status_->setText(tr("Address %1...").arg(address_));
    const bool master = control<QComboBox>(form_, "ComboBox42")->currentIndex() != 1;
    QLineEdit* preambles = control<QLineEdit>(form_, "Edit9");
    const int address = address_;
    Request request = Request::hart(
        Request::Kind::Hart,
        [preambles, address, master] { return bytesText(hart::IdentityQueryFrameAt(FieldText(preambles), address, master)); },
        exchange::pending::HartManual);
    request.timeoutKind = 0;
    client_.send(request, [this, address](const ExchangeOutcome& outcome) {
        if (!scanning_) {
            return;
        }
        if (outcome.kind == ExchangeOutcome::Kind::NotSent || outcome.kind == ExchangeOutcome::Kind::PortClosed) {
            scanning_ = false;
            startCancel_->setText(tr("&Scan"));
            status_->setText(tr("Scan stopped: %1").arg(qtext(outcome.message)));
            return;
        }
        if (const auto frame = outcome.goodFrame()) {
            if (const auto identity = hart::DecodeIdentityReply(*frame, std::min<std::size_t>(frame->size(), 255))) {
                found_.push_back({address, *identity});
                const int row = static_cast<int>(found_.size()) - 1;
                setRow(table_, row,
                       {QString::number(address), qtext(identity->manufacturerText) + " (0x" +
                                                      QString::number(identity->manufacturer, 16).toUpper() + ")",
                        // As the register map writes them: type and ID in hex.
                        qtext(profile::DeviceTypeText(identity->deviceType)),
                        qtext(profile::DeviceIdText(static_cast<uint32_t>(identity->deviceId[0]) << 16 |
                                                    static_cast<uint32_t>(identity->deviceId[1]) << 8 |
                                                    identity->deviceId[2])),
                        qtext(identity->reportedPreamblesText)});
                table_->selectRow(row);
            }
        }
        progress_->setValue(address + 1);
        ++address_;
        next();
    });
}

void InstrumentScanDialog::useRow(int row) {
    if (row < 0 || row >= static_cast<int>(found_.size())) {
        return;
    }
    const int address = found_[static_cast<std::size_t>(row)].address;
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
    : QDialog(parent), form_(form), client_(form, this), command_(new QComboBox(this)),
      readButton_(new QPushButton(tr("&Read"), this)),
      table_(makeTable(this, {tr("Offset"), tr("Length"), tr("Field"), tr("Value")}, "FieldsTable")),
      variable_(new QComboBox(this)), fillButton_(new QPushButton(tr("&Fill Row"), this)), status_(new QLabel(this)) {
    setObjectName("ReplyFieldsDialog");
    setWindowTitle(tr("Fields of the Instrument's Reply"));
    command_->setObjectName("FieldsCommand");
    readButton_->setObjectName("FieldsRead");
    readButton_->setDefault(true);
    variable_->setObjectName("FieldsVariable");
    fillButton_->setObjectName("FieldsFill");
    status_->setObjectName("FieldsStatus");
    status_->setWordWrap(true);
    command_->addItems({tr("Read Meter Command 1"), tr("Read Meter Command 2")});
    command_->setAccessibleName(tr("Command"));
    variable_->setAccessibleName(tr("Variable to fill"));
    for (int n = 1; n <= profile::kMappedVariables; ++n) {
        variable_->addItem(tr("Variable %1 (%2)").arg(n).arg(profile::RegisterOfVariable(n)), n);
    }
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
    status_->setText(tr("Reads the command the converter polls with and lists the instrument's reply by the "
                        "offsets the parse format's addresses count. Picking a field fills a row's address and "
                        "length; press that row's \"Set\" to send it."));

    connect(readButton_, &QPushButton::clicked, this, [this] { read(command_->currentIndex() + 1); });
    connect(fillButton_, &QPushButton::clicked, this,
            [this] { fill(table_->currentRow(), variable_->currentData().toInt()); });
    connect(table_, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { fill(row, variable_->currentData().toInt()); });
}

void ReplyFieldsDialog::read(int command) {
    if (reading_) {
        return;
    }
    if (!PortOpenOrSay(form_, status_)) {
        return;
    }
    reading_ = true;
    command_->setCurrentIndex(command - 1);
    status_->setText(tr("Reading the converter's read meter command %1...").arg(command));
    ReadMapping(client_, [this, command](std::optional<profile::Mapping> mapping, std::optional<int>, QString problem) {
        if (!mapping) {
            reading_ = false;
            status_->setText(tr("Cannot read the converter: %1").arg(problem));
            return;
        }
        const profile::MeterCommand& meter = mapping->commands[static_cast<std::size_t>(command - 1)];
        if (meter.body.empty()) {
            reading_ = false;
            status_->setText(tr("Read meter command %1 is empty in the converter.").arg(command));
            return;
        }
        status_->setText(tr("Sending read meter command %1 to the instrument...").arg(command));
        client_.send(HartBodyRequest(form_, meter.body), [this, command, enabled = meter.enabled](const ExchangeOutcome& outcome) {
            reading_ = false;
            const auto frame = outcome.goodFrame();
            if (!frame) {
                status_->setText(outcome.kind == ExchangeOutcome::Kind::NoReply
                                     ? tr("The instrument did not answer read meter command %1 (the converter passes "
                                          "HART only in transparent mode).")
                                           .arg(command)
                                     : tr("No good reply to read meter command %1: %2")
                                           .arg(command)
                                           .arg(qtext(outcome.message.empty() ? outcome.reading.meaning : outcome.message)));
                return;
            }
            const profile::HartReply reply = profile::ReadHartReply(*frame);
            showFields(reply, command);
            if (!enabled) {
                status_->setText(status_->text() + tr(" The converter does not poll this command: it is off."));
            }
        });
    });
}

void ReplyFieldsDialog::showFields(const profile::HartReply& reply, int command) {
    shownCommand_ = command;
    fields_ = profile::ListFields(reply.command, reply.data);
    table_->setRowCount(0);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const profile::ReplyField& f = fields_[i];
        setRow(table_, static_cast<int>(i),
               {QString::number(f.offset), QString::number(f.length), qtext(f.name), qtext(f.value)});
        for (int c = 0; c < table_->columnCount(); ++c) {
            table_->item(static_cast<int>(i), c)->setFlags(f.pickable ? Qt::ItemIsEnabled | Qt::ItemIsSelectable
                                                                      : Qt::ItemIsEnabled);
        }
    }
    table_->resizeColumnsToContents();
    // The rows this command feeds.
    const int first = command == 1 ? 1 : 5;
    variable_->setCurrentIndex(first - 1);
    status_->setText(reply.succeeded()
                         ? tr("Command %1's reply, %2 data bytes.").arg(reply.command).arg(reply.data.size())
                         : tr("The instrument answered command %1 with response code %2: the converter takes no "
                              "values from such a reply.")
                               .arg(reply.command)
                               .arg(reply.data.empty() ? 0 : reply.data[0]));
}

bool ReplyFieldsDialog::fill(int row, int variable) {
    if (row < 0 || row >= static_cast<int>(fields_.size())) {
        return false;
    }
    const profile::ReplyField& field = fields_[static_cast<std::size_t>(row)];
    if (!field.pickable) {
        ShowMessage(tr("%1 is not a value a variable can take.").arg(qtext(field.name)));
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

// ---- Check Mapping ----

CheckMappingDialog::CheckMappingDialog(TForm1& form, QWidget* parent)
    : QDialog(parent), form_(form), client_(form, this), tolerance_(new QDoubleSpinBox(this)),
      checkButton_(new QPushButton(tr("&Check"), this)),
      table_(makeTable(this,
                       {tr("Variable"), tr("Register"), tr("Source"), tr("HART"), tr("MODBUS"), tr("Verdict"),
                        tr("Why")},
                       "CheckTable")),
      status_(new QLabel(this)) {
    setObjectName("CheckMappingDialog");
    setWindowTitle(tr("Check Mapping"));
    tolerance_->setObjectName("CheckTolerance");
    checkButton_->setObjectName("CheckStart");
    checkButton_->setDefault(true);
    status_->setObjectName("CheckSummary");
    status_->setWordWrap(true);
    tolerance_->setRange(0, 100);
    tolerance_->setDecimals(2);
    tolerance_->setSingleStep(0.1);
    tolerance_->setValue(0.5);
    tolerance_->setSuffix(tr(" %"));
    tolerance_->setAccessibleName(tr("Tolerance"));
    tolerance_->setToolTip(tr("Of the value, widened by how far the instrument's value moved between the reads "
                              "before and after the registers"));
    auto* top = new QHBoxLayout;
    auto* tolerance = new QLabel(tr("&Tolerance:"), this);
    tolerance->setBuddy(tolerance_);
    top->addWidget(tolerance);
    top->addWidget(tolerance_);
    top->addStretch(1);
    top->addWidget(checkButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table_, 1);
    layout->addWidget(status_);
    resize(1180, 380);
    status_->setText(tr("Reads the instrument's replies to the read meter commands and registers 40003-40018, and "
                        "checks that each register holds what the converter should make of the reply."));
    connect(checkButton_, &QPushButton::clicked, this, [this] { start(); });
}

void CheckMappingDialog::start() {
    if (checking_) {
        return;
    }
    if (!PortOpenOrSay(form_, status_)) {
        return;
    }
    checking_ = true;
    checkButton_->setEnabled(false);
    reads_ = {};
    registers_.clear();
    rows_.clear();
    table_->setRowCount(0);
    status_->setText(tr("Reading the converter's configuration..."));
    ReadMapping(client_, [this](std::optional<profile::Mapping> mapping, std::optional<int> mode, QString problem) {
        mappingRead(std::move(mapping), mode, problem);
    });
}

void CheckMappingDialog::mappingRead(std::optional<profile::Mapping> mapping, std::optional<int> mode,
                                     const QString& problem) {
    if (!mapping || !mode) {
        finish(tr("Cannot read the converter: %1").arg(problem.isEmpty() ? tr("no working mode") : problem));
        return;
    }
    mapping_ = std::move(mapping);
    if (*mode == kTransparentMode) {
        readHart(false);
        return;
    }
    const bool yes = AskQuestion(
        tr("The converter is in %1; it passes HART to the instrument only in Transparent Mode.").arg(modeLabel(*mode)),
        tr("Switch it to Transparent Mode for the check and back to %1 afterwards?").arg(modeLabel(*mode)));
    if (!yes) {
        finish(tr("Not checked: the instrument's replies need the converter in Transparent Mode, and it is in %1.")
                   .arg(modeLabel(*mode)));
        return;
    }
    const int original = *mode;
    client_.send(Request::set([] { return config::workingModeFrame(kTransparentMode); }),
                 [this, original](const ExchangeOutcome& outcome) {
                     if (outcome.kind == ExchangeOutcome::Kind::Reply &&
                         outcome.reading.verdict == traffic::Verdict::Acknowledged) {
                         originalMode_ = original;
                         readHart(false);
                         return;
                     }
                     // Not switched, or not known to be: put it back to be sure.
                     originalMode_ = original;
                     restoreMode([this] { finish(tr("The converter did not take Transparent Mode.")); });
                 });
}

void CheckMappingDialog::readHart(bool after) {
    status_->setText(after ? tr("Reading the instrument again...") : tr("Reading the instrument..."));
    hartToRead_.clear();
    for (int c = 1; c <= 2; ++c) {
        const profile::MeterCommand& meter = mapping_->commands[static_cast<std::size_t>(c - 1)];
        if (mapping_->polling && meter.enabled && !meter.body.empty()) {
            hartToRead_.push_back(c);
        }
    }
    readNextHart(after);
}

void CheckMappingDialog::readNextHart(bool after) {
    if (hartToRead_.empty()) {
        if (after) {
            restoreMode([this] { finish(); });
        } else {
            readRegisters();
        }
        return;
    }
    const int c = hartToRead_.front();
    hartToRead_.erase(hartToRead_.begin());
    const auto& body = mapping_->commands[static_cast<std::size_t>(c - 1)].body;
    client_.send(HartBodyRequest(form_, body), [this, after, c](const ExchangeOutcome& outcome) {
        profile::CommandReads& read = reads_[static_cast<std::size_t>(c - 1)];
        if (outcome.kind == ExchangeOutcome::Kind::PortClosed || outcome.kind == ExchangeOutcome::Kind::NotSent) {
            restoreMode([this, message = outcome.message] { finish(qtext(message)); });
            return;
        }
        if (const auto frame = outcome.goodFrame()) {
            (after ? read.after : read.before) = profile::ReadHartReply(*frame);
        } else if (!after) {
            read.problem = "the instrument did not answer read meter command " + std::to_string(c);
        }
        readNextHart(after);
    });
}

void CheckMappingDialog::readRegisters() {
    status_->setText(tr("Reading registers 40003-40018..."));
    const std::vector<uint8_t> frame = profile::VariablesRequest(mapping_->slaveAddress);
    Request request = Request::text([frame] { return bytesText(frame); }, exchange::pending::ModbusTest, 0);
    request.showHex = true;
    client_.send(request, [this, frame](const ExchangeOutcome& outcome) {
        if (const auto reply = outcome.goodFrame()) {
            if (const auto registers = profile::RegistersOfReply(*reply, frame)) {
                registers_ = *registers;
                readHart(true);
                return;
            }
        }
        const QString why = outcome.kind == ExchangeOutcome::Kind::NoReply
                                ? tr("the converter did not answer the MODBUS read at slave %1").arg(mapping_->slaveAddress)
                                : qtext(outcome.message.empty() ? outcome.reading.meaning : outcome.message);
        restoreMode([this, why] { finish(tr("Registers not read: %1").arg(why)); });
    });
}

void CheckMappingDialog::restoreMode(std::function<void()> then) {
    if (!originalMode_) {
        then();
        return;
    }
    const int mode = *originalMode_;
    status_->setText(tr("Putting the converter back to %1...").arg(modeLabel(mode)));
    client_.send(Request::set([mode] { return config::workingModeFrame(mode); }),
                 [this, mode, then = std::move(then)](const ExchangeOutcome& outcome) {
                     if (outcome.kind == ExchangeOutcome::Kind::Reply &&
                         outcome.reading.verdict == traffic::Verdict::Acknowledged) {
                         originalMode_.reset();
                     }
                     then();
                     if (originalMode_) {
                         ShowMessage(tr("The converter may still be in Transparent Mode: set it back to %1 "
                                        "(\"Working Mode\" on the System Parameters tab).")
                                         .arg(modeLabel(mode)));
                         originalMode_.reset();
                     }
                 });
}

void CheckMappingDialog::finish(const QString& problem) {
    checking_ = false;
    checkButton_->setEnabled(true);
    if (!problem.isEmpty()) {
        status_->setText(problem);
        return;
    }
    rows_ = profile::CheckMapping(*mapping_, reads_, registers_, profile::kFirstVariableRegister, tolerance_->value());
    showRows();
}

void CheckMappingDialog::showRows() {
    table_->setRowCount(0);
    int failures = 0;
    int checked = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const profile::CheckRow& r = rows_[i];
        const QString verdict = qtext(std::string(profile::VerdictName(r.verdict)));
        setRow(table_, static_cast<int>(i),
               {QString::number(r.variable), QString::number(r.registerNumber), qtext(r.source),
                valueWithUnit(r.hartBefore, r.unit), valueWithUnit(r.modbus, {}), verdict,
                r.verdict == profile::CheckVerdict::NotPolled ? QString() : qtext(r.note)});
        if (profile::IsFailure(r.verdict)) {
            ++failures;
            table_->item(static_cast<int>(i), 5)->setForeground(Qt::red);
        }
        checked += r.verdict != profile::CheckVerdict::NotPolled;
    }
    table_->resizeColumnsToContents();
    if (checked == 0) {
        status_->setText(tr("No variable is polled: the converter publishes nothing from the instrument."));
    } else if (failures == 0) {
        status_->setText(tr("Every polled variable's register holds what the instrument's reply makes of it (%1 "
                            "checked).")
                             .arg(checked));
    } else {
        status_->setText(tr("%1 of %2 polled variables differ.").arg(failures).arg(checked));
    }
}

// ---- Register Map ----

RegisterMapDialog::RegisterMapDialog(TForm1& form, QWidget* parent)
    : QDialog(parent), form_(form), client_(form, this), readButton_(new QPushButton(tr("&Read"), this)),
      copyButton_(new QPushButton(tr("&Copy"), this)), saveButton_(new QPushButton(tr("&Save..."), this)),
      table_(makeTable(this,
                       {tr("Registers"), tr("Variable"), tr("Source"), tr("Unit"), tr("Data Type"), tr("Word Order"),
                        tr("Converter's Order"), tr("Coefficient")},
                       "MapTable")),
      status_(new QLabel(this)) {
    setObjectName("RegisterMapDialog");
    setWindowTitle(tr("Register Map"));
    readButton_->setObjectName("MapRead");
    readButton_->setDefault(true);
    copyButton_->setObjectName("MapCopy");
    saveButton_->setObjectName("MapSave");
    status_->setObjectName("MapStatus");
    status_->setWordWrap(true);
    copyButton_->setEnabled(false);
    saveButton_->setEnabled(false);
    auto* top = new QHBoxLayout;
    top->addWidget(readButton_);
    top->addStretch(1);
    top->addWidget(copyButton_);
    top->addWidget(saveButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(status_);
    layout->addWidget(table_, 1);
    resize(980, 400);
    status_->setText(tr("Reads the converter's configuration and the instrument's replies, and lists what a PLC "
                        "reads at registers 40001-40018."));
    connect(readButton_, &QPushButton::clicked, this, [this] { read(); });
    connect(copyButton_, &QPushButton::clicked, this, [this] { copy(); });
    connect(saveButton_, &QPushButton::clicked, this, [this] {
        const QString path = ChooseFile(FileDialogKind::Save, tr("Save the register map"),
                                        tr("CSV files (*.csv);;Markdown (*.md);;JSON (*.json)"), QStringLiteral("csv"));
        if (!path.isEmpty()) {
            save(path);
        }
    });
}

void RegisterMapDialog::read() {
    if (reading_) {
        return;
    }
    if (!PortOpenOrSay(form_, status_)) {
        return;
    }
    reading_ = true;
    readButton_->setEnabled(false);
    replies_ = {};
    instrument_.reset();
    status_->setText(tr("Reading the converter's configuration..."));
    ReadMapping(client_, [this](std::optional<profile::Mapping> mapping, std::optional<int>, QString problem) {
        if (!mapping) {
            reading_ = false;
            readButton_->setEnabled(true);
            status_->setText(tr("Cannot read the converter: %1").arg(problem));
            return;
        }
        mapping_ = std::move(mapping);
        // The instrument the converter polls: its identity, then its replies to the polled commands.
        std::vector<Request> requests;
        std::vector<int> commands;
        const auto& first = mapping_->commands[0].body.empty() ? mapping_->commands[1].body : mapping_->commands[0].body;
        const std::vector<uint8_t> identityBody = profile::BodyWithCommand(first, 0);
        if (!identityBody.empty()) {
            requests.push_back(HartBodyRequest(form_, identityBody));
            commands.push_back(0);
        }
        for (int c = 1; c <= 2; ++c) {
            const profile::MeterCommand& meter = mapping_->commands[static_cast<std::size_t>(c - 1)];
            if (mapping_->polling && meter.enabled && !meter.body.empty()) {
                requests.push_back(HartBodyRequest(form_, meter.body));
                commands.push_back(c);
            }
        }
        status_->setText(tr("Asking the instrument for its identity and units..."));
        client_.sendAll(std::move(requests), [this, commands](const std::vector<ExchangeOutcome>& outcomes) {
            for (std::size_t i = 0; i < outcomes.size(); ++i) {
                const auto frame = outcomes[i].goodFrame();
                if (!frame) {
                    continue;
                }
                const profile::HartReply reply = profile::ReadHartReply(*frame);
                if (commands[i] == 0) {
                    instrument_ = profile::IdentityOfReply(reply);
                } else {
                    replies_[static_cast<std::size_t>(commands[i] - 1)] = reply;
                }
            }
            reading_ = false;
            readButton_->setEnabled(true);
            showMap();
        });
    });
}

void RegisterMapDialog::showMap() {
    rows_ = profile::RegisterMap(*mapping_, replies_);
    table_->setRowCount(0);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const profile::MapRow& r = rows_[i];
        setRow(table_, static_cast<int>(i),
               {QString::number(r.firstRegister) + "-" + QString::number(r.lastRegister),
                r.variable == 0 ? QStringLiteral("-") : QString::number(r.variable), qtext(r.source), qtext(r.unit),
                qtext(r.dataType), qtext(r.order), qtext(r.converterOrder), qtext(r.coefficient)});
    }
    table_->resizeColumnsToContents();
    const std::string heading = profile::FormatRegisterMap(*mapping_, {}, instrument_, profile::MapFormat::Text);
    status_->setText(qtext(heading.substr(0, heading.find("\n\n"))));
    copyButton_->setEnabled(true);
    saveButton_->setEnabled(true);
}

std::string RegisterMapDialog::text(profile::MapFormat format) const {
    if (!mapping_) {
        return {};
    }
    return profile::FormatRegisterMap(*mapping_, rows_, instrument_, format);
}

void RegisterMapDialog::copy() const {
    QApplication::clipboard()->setText(QString::fromStdString(text(profile::MapFormat::Text)));
}

bool RegisterMapDialog::save(const QString& path) {
    profile::MapFormat format = profile::MapFormat::Text;
    if (path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) {
        format = profile::MapFormat::Csv;
    } else if (path.endsWith(QStringLiteral(".md"), Qt::CaseInsensitive)) {
        format = profile::MapFormat::Markdown;
    } else if (path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive)) {
        format = profile::MapFormat::Json;
    }
    QFile file(path);
    const std::string content = text(format);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content.data(), static_cast<qint64>(content.size())) != static_cast<qint64>(content.size())) {
        ShowMessage(tr("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    status_->setText(tr("Saved to %1.").arg(path));
    return true;
}

} // namespace app
