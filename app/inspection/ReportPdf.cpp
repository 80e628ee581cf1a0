// An inspection report as a PDF file.
#include "app/inspection/ReportPdf.h"

#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

namespace app {

QString WriteReportPdf(const inspection::Json& report, const QString& path) {
    // Rendered to a file beside the target and renamed over it once whole, so a failed write never
    // leaves half a report under the name of a good one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    }
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        writer.setResolution(96);
        writer.setTitle(QStringLiteral("Inspection report"));
        writer.setCreator(QStringLiteral("vx538-config"));
        QTextDocument document;
        document.setHtml(QString::fromStdString(inspection::ReportHtml(report)));
        // Laid out on the page's printable width, so the tables take the width they need rather than
        // a screen's default.
        document.setPageSize(writer.pageLayout().paintRectPixels(writer.resolution()).size());
        document.print(&writer);
    }
    if (!file.commit()) {
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    }
    return {};
}

} // namespace app
