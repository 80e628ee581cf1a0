// An inspection report as a PDF file, written by Qt's own writer from the report's HTML page (no
// external program), A4 with margins, the page's tables and verdicts as they stand.
#pragma once

#include <QString>

#include "inspection/Report.h"

namespace app {

// Writes `report` to `path` as PDF. Returns why it could not (empty when written).
QString WriteReportPdf(const inspection::Json& report, const QString& path);

} // namespace app
