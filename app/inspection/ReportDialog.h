// "Open Inspection Report...": a report (the JSON vx538 inspect writes) shown as its page before it
// is kept, and saved as PDF (Qt's own writer) or as the self-contained HTML page.
#pragma once

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
    const inspection::Json& report() const { return report_; }

    // Asks for a report file and opens it in a dialog of its own; nothing (after a message) when the
    // file is no report.
    static ReportDialog* open(QWidget* parent);

private:
    inspection::Json report_;
    QTextBrowser* page_;
};

} // namespace app
