// The commissioning dialogs that set the converter's registers against the instrument: the check
// of the mapping and the register map.
#include "app/commissioning/CommissioningDialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/configuration/ConfigurationActions.h"
#include "app/window/Messages.h"
#include "app/window/VX538AB.h"
#include "profile/Parameters.h"
#include "profile/Samples.h"

namespace app {

namespace {

// The working mode as the window's list names it ("Single Meter Operation Mode").
QString modeLabel(int mode) {
    const profile::Parameter& parameter = profile::Parameters()[profile::ParameterIndex("mode")];
    if (mode < 0 || static_cast<std::size_t>(mode) >= parameter.choices.size()) {
        return QObject::tr("mode %1").arg(mode);
    }
    const std::string_view label = parameter.choices[static_cast<std::size_t>(mode)].label;
    return QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size()));
}

QString valueWithUnit(const std::optional<float>& value, const std::string& unit) {
    if (!value) {
        return QStringLiteral("-");
    }
    return Text(profile::ValueText(*value)) + (unit.empty() ? QString() : QStringLiteral(" ") + Text(unit));
}

} // namespace

// ---- Check Mapping ----

CheckMappingDialog::CheckMappingDialog(TForm1& form, QWidget* parent)
    : JobDialog(form, parent), tolerance_(new QDoubleSpinBox(this)),
      checkButton_(new QPushButton(tr("&Check"), this)),
      table_(MakeTable(
          this,
          {tr("Variable"), tr("Register"), tr("Source"), tr("HART"), tr("MODBUS"), tr("Verdict"), tr("Why")},
          "CheckTable")) {
    setObjectName("CheckMappingDialog");
    setWindowTitle(tr("Check Mapping"));
    tolerance_->setObjectName("CheckTolerance");
    checkButton_->setObjectName("CheckStart");
    checkButton_->setDefault(true);
    status_->setObjectName("CheckSummary");
    tolerance_->setRange(0, 100);
    tolerance_->setDecimals(2);
    tolerance_->setSingleStep(0.1);
    tolerance_->setValue(0.5);
    tolerance_->setSuffix(tr(" %"));
    tolerance_->setAccessibleName(tr("Tolerance"));
    tolerance_->setToolTip(
        tr("Of the value, widened by how far the instrument's value moved between the reads "
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
    status_->setText(
        tr("Reads the instrument's replies to the read meter commands and registers 40003-40018, and "
           "checks that each register holds what the converter should make of the reply."));
    connect(checkButton_, &QPushButton::clicked, this, [this] { start(); });
}

void CheckMappingDialog::start() {
    if (checking()) {
        return;
    }
    rows_.clear();
    table_->setRowCount(0);
    check(false);
}

void CheckMappingDialog::check(bool switchMode) {
    const jobs::CheckOptions options{preambles(), tolerance_->value(), switchMode};
    checkButton_->setEnabled(!run(std::make_unique<jobs::CheckJob>(options),
                                  [this](jobs::CheckJob& job) { checked(job.result()); }));
}

void CheckMappingDialog::checked(const jobs::CheckResult& result) {
    if (result.end == jobs::CheckResult::End::WrongMode) {
        // Asked between two checks, without a nested event loop: the second one switches the mode.
        const QString mode = modeLabel(result.mapping.mode.value_or(-1));
        asking_ = true;
        status_->setText(tr("The converter is in %1.").arg(mode));
        AskQuestionLater(
            this,
            tr("The converter is in %1; it passes HART to the instrument only in Transparent Mode.")
                .arg(mode),
            tr("Switch it to Transparent Mode for the check and back to %1 afterwards?").arg(mode),
            [this, mode](bool yes) {
                asking_ = false;
                if (yes) {
                    check(true);
                    return;
                }
                checkButton_->setEnabled(true);
                status_->setText(tr("Not checked: the instrument's replies need the converter in Transparent "
                                    "Mode, and it is in %1.")
                                     .arg(mode));
            });
        return;
    }
    checkButton_->setEnabled(true);
    showRows(result);
}

void CheckMappingDialog::hideEvent(QHideEvent* event) {
    for (QMessageBox* question : findChildren<QMessageBox*>()) {
        question->reject();
    }
    JobDialog::hideEvent(event);
}

void CheckMappingDialog::showRows(const jobs::CheckResult& result) {
    rows_ = result.rows;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const profile::CheckRow& r = rows_[i];
        SetRow(table_, static_cast<int>(i),
               {QString::number(r.variable), QString::number(r.registerNumber), Text(r.source),
                valueWithUnit(r.hartBefore, r.unit), valueWithUnit(r.modbus, {}),
                Text(std::string(profile::VerdictName(r.verdict))),
                r.verdict == profile::CheckVerdict::NotPolled ? QString() : Text(r.note)});
        if (profile::IsFailure(r.verdict)) {
            table_->item(static_cast<int>(i), 5)->setForeground(Qt::red);
        }
    }
    table_->resizeColumnsToContents();
    QString text = Sentence(result.summary());
    if (result.end == jobs::CheckResult::End::Checked) {
        text = text.chopped(1) + tr(" (%1 checked).").arg(result.checked());
    }
    for (const std::string& note : result.notes) {
        text += QStringLiteral(" ") + Sentence(note);
    }
    text += unsetEdits(result.mapping.read.values);
    status_->setText(text);
}

QString CheckMappingDialog::unsetEdits(const profile::Configuration& converter) const {
    QStringList variables;
    const ConfigurationFields& fields = form_.Configuration().fields();
    for (std::size_t i = 0; i < profile::ParameterCount(); ++i) {
        const profile::Parameter& p = profile::Parameters()[i];
        const std::optional<std::string> held = converter.value(p.name);
        if (p.query != profile::Query::QX4 || !held || !fields.edited(i)) {
            continue;
        }
        std::string shown;
        try {
            shown = fields.fieldValue(i);
        } catch (const profile::BadValue&) {
        }
        if (shown != *held && !variables.contains(QString::number(p.number))) {
            variables.push_back(QString::number(p.number));
        }
    }
    if (variables.isEmpty()) {
        return {};
    }
    return tr(" The parse format in the main window differs from the converter's for variable %1 (an edit "
              "not yet "
              "Set?): the check used the converter's, and the window's rows are as you left them.")
        .arg(variables.join(QStringLiteral(", ")));
}

// ---- Register Map ----

RegisterMapDialog::RegisterMapDialog(TForm1& form, QWidget* parent)
    : JobDialog(form, parent), readButton_(new QPushButton(tr("&Read"), this)),
      copyButton_(new QPushButton(tr("&Copy"), this)), saveButton_(new QPushButton(tr("&Save..."), this)),
      table_(MakeTable(this,
                       {tr("Registers"), tr("Address"), tr("Variable"), tr("Source"), tr("Unit"),
                        tr("Data Type"), tr("Word Order"), tr("Converter's Order"), tr("Coefficient")},
                       "MapTable")),
      reading_(new QLabel(this)) {
    setObjectName("RegisterMapDialog");
    setWindowTitle(tr("Register Map"));
    table_->horizontalHeaderItem(1)->setToolTip(tr("The 0-based protocol address a master asks for"));
    readButton_->setObjectName("MapRead");
    readButton_->setDefault(true);
    copyButton_->setObjectName("MapCopy");
    saveButton_->setObjectName("MapSave");
    status_->setObjectName("MapStatus");
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reading_->setObjectName("MapReading");
    reading_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reading_->setWordWrap(true);
    reading_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
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
    layout->addWidget(reading_);
    resize(1060, 460);
    status_->setText(
        tr("Reads the converter's configuration and the instrument's replies, and lists what a PLC "
           "reads at registers 40001-40018."));
    connect(readButton_, &QPushButton::clicked, this, [this] { read(); });
    connect(copyButton_, &QPushButton::clicked, this, [this] { copy(); });
    connect(saveButton_, &QPushButton::clicked, this, [this] {
        const QString path =
            ChooseFile(FileDialogKind::Save, tr("Save the register map"),
                       tr("CSV files (*.csv);;Markdown (*.md);;JSON (*.json)"), QStringLiteral("csv"));
        if (!path.isEmpty()) {
            save(path);
        }
    });
}

void RegisterMapDialog::read() {
    if (reading()) {
        return;
    }
    // What an earlier read listed goes now: Copy and Save work on this read's map or on none.
    map_.reset();
    rows_.clear();
    table_->setRowCount(0);
    reading_->clear();
    copyButton_->setEnabled(false);
    saveButton_->setEnabled(false);
    readButton_->setEnabled(!run(std::make_unique<jobs::RegisterMapJob>(preambles()),
                                 [this](jobs::RegisterMapJob& job) { mapped(job.result()); }));
}

void RegisterMapDialog::mapped(const jobs::MapResult& result) {
    readButton_->setEnabled(true);
    if (!result.mapping.mapping) {
        status_->setText(Sentence(result.stop ? result.stop->sentence() : result.mapping.problemText()));
        return;
    }
    map_ = result;
    rows_ = result.rows;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const profile::MapRow& r = rows_[i];
        SetRow(table_, static_cast<int>(i),
               {QString::number(r.firstRegister) + "-" + QString::number(r.lastRegister),
                QString::number(r.protocolAddress) + "-" + QString::number(r.protocolAddress + 1),
                r.variable == 0 ? QStringLiteral("-") : QString::number(r.variable), Text(r.source),
                Text(r.unit), Text(r.dataType), Text(r.order), Text(r.converterOrder), Text(r.coefficient)});
    }
    table_->resizeColumnsToContents();
    // The heading of the printed map (the slave, the line, the instrument), and how masters read it.
    const std::string printed = text(profile::MapFormat::Text);
    status_->setText(Text(printed.substr(0, printed.find("\n\n"))));
    QStringList lines;
    for (const profile::ReadingLine& line : profile::HowToRead(*result.mapping.mapping)) {
        lines.push_back(tr("%1, %2: %3").arg(Text(line.master), Text(line.variables), Text(line.line)));
    }
    reading_->setText(lines.join(QLatin1Char('\n')));
    copyButton_->setEnabled(true);
    saveButton_->setEnabled(true);
}

std::string RegisterMapDialog::text(profile::MapFormat format) const {
    return map_ ? profile::FormatRegisterMap(*map_->mapping.mapping, rows_, map_->instrument, format,
                                             map_->instrumentWords())
                : std::string();
}

void RegisterMapDialog::copy() const {
    QApplication::clipboard()->setText(QString::fromStdString(text(profile::MapFormat::Text)));
}

bool RegisterMapDialog::save(const QString& path) {
    if (!map_) {
        return false;
    }
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
        file.write(content.data(), static_cast<qint64>(content.size())) !=
            static_cast<qint64>(content.size()) ||
        !file.flush()) {
        ShowMessage(tr("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    status_->setText(tr("Saved to %1.").arg(path));
    return true;
}

} // namespace app
