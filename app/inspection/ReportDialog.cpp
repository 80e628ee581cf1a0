// A report that vx538 inspect wrote, shown as its page and saved again as PDF or HTML.
#include "app/inspection/ReportDialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QSaveFile>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/inspection/ReportPdf.h"
#include "app/window/Messages.h"

namespace app {

ReportDialog::ReportDialog(inspection::Json report, QWidget* parent)
    : QDialog(parent), report_(std::move(report)) {
    setObjectName(QStringLiteral("ReportDialog"));
    setWindowTitle(tr("Inspection Report"));
    resize(900, 700);
    auto* layout = new QVBoxLayout(this);
    page_ = new QTextBrowser(this);
    page_->setObjectName(QStringLiteral("ReportPage"));
    page_->setOpenLinks(false);
    page_->setHtml(QString::fromStdString(inspection::ReportHtml(report_)));
    layout->addWidget(page_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(tr("&Close"));
    auto* pdf = buttons->addButton(tr("Save &PDF..."), QDialogButtonBox::ActionRole);
    auto* html = buttons->addButton(tr("Save &HTML..."), QDialogButtonBox::ActionRole);
    auto* json = buttons->addButton(tr("Save &JSON..."), QDialogButtonBox::ActionRole);
    connect(json, &QPushButton::clicked, this, [this] { saveJson(); });
    layout->addWidget(buttons);
    connect(pdf, &QPushButton::clicked, this, [this] { savePdf(); });
    connect(html, &QPushButton::clicked, this, [this] { saveHtml(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
}

bool ReportDialog::savePdf() {
    const QString path = ChooseFile(FileDialogKind::Save, tr("Save Inspection Report as PDF"),
                                    tr("PDF files (*.pdf)"), QStringLiteral("pdf"));
    if (path.isEmpty()) {
        return false;
    }
    const QString problem = WriteReportPdf(report_, path);
    if (!problem.isEmpty()) {
        ShowMessage(problem);
        return false;
    }
    return true;
}

bool ReportDialog::saveHtml() {
    return save(tr("Save Inspection Report as HTML"), tr("HTML files (*.html)"), QStringLiteral("html"),
                inspection::ReportHtml(report_));
}

bool ReportDialog::saveJson() {
    return save(tr("Save Inspection Report as JSON"), tr("JSON files (*.json)"), QStringLiteral("json"),
                report_.dump(2) + "\n");
}

bool ReportDialog::save(const QString& title, const QString& filter, const QString& suffix,
                        const std::string& text) {
    const QString path = ChooseFile(FileDialogKind::Save, title, filter, suffix);
    if (path.isEmpty()) {
        return false;
    }
    QSaveFile file(path);
    const QByteArray bytes = QByteArray::fromStdString(text);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ShowMessage(tr("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

ReportDialog* ReportDialog::open(QWidget* parent) {
    const QString path = ChooseFile(FileDialogKind::Open, tr("Open Inspection Report"));
    if (path.isEmpty()) {
        return nullptr;
    }
    QFile file(path);
    // A report is small; anything far larger is no report of ours.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 16 * 1024 * 1024) {
        ShowMessage(
            tr("cannot read %1: %2").arg(path, file.size() > 0 ? tr("too large") : file.errorString()));
        return nullptr;
    }
    try {
        auto* dialog = new ReportDialog(inspection::ReadReport(file.readAll().toStdString()), parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
        return dialog;
    } catch (const inspection::ReportError& error) {
        ShowMessage(tr("%1 is no inspection report: %2").arg(path, QString::fromStdString(error.what())));
        return nullptr;
    }
}

} // namespace app
