// "Open Inspection Report...": a report (the JSON vx538 inspect writes) shown as its page before it
// is kept, and saved as PDF (Qt's own writer) or as the self-contained HTML page.
#pragma once

#include <string>

#include <QDialog>

#include "inspection/Report.h"

class QTextBrowser;

namespace app {

class ReportDialog : public QDialog {
    Q_OBJECT
public:
    ReportDialog(inspection::Json report, QWidget* parent);

    // Asks for a file and writes the report there; false (and a message) when it could not.
    bool savePdf();
    bool saveHtml();
    // The report itself, the JSON vx538 inspect writes (an inspection paused as found goes on from it).
    bool saveJson();
    const inspection::Json& report() const { return report_; }

    // Asks for a report file and opens it in a dialog of its own; nothing (after a message) when the
    // file is no report.
    static ReportDialog* open(QWidget* parent);

private:
    inspection::Json report_;
    // Asks for a file of `filter` and writes `text` there whole.
    bool save(const QString& title, const QString& filter, const QString& suffix, const std::string& text);
    QTextBrowser* page_;
};

} // namespace app
