// The commissioning dialogs' job, status line and close.
#include "app/commissioning/JobDialog.h"

#include <algorithm>

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

#include "app/window/VX538AB.h"

namespace app {

JobDialog::JobDialog(TForm1& form, QWidget* parent)
    : QDialog(parent), form_(form), status_(new QLabel(this)), runner_(form.Jobs(), this) {
    status_->setWordWrap(true);
    // A long message wraps instead of widening the dialog.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    runner_.onRequest = [this](const jobs::Request& request) { asking(request); };
}

bool JobDialog::portOpen() {
    if (form_.Comm1->IsOpen()) {
        return true;
    }
    status_->setText(tr("The serial port is not open: open it in the main window first."));
    return false;
}

void JobDialog::asking(const jobs::Request& request) {
    status_->setText(tr("%1...").arg(Sentence(request.what).chopped(1)));
}

void JobDialog::hideEvent(QHideEvent* event) {
    runner_.cancel();
    QDialog::hideEvent(event);
}

std::string JobDialog::preambles() const {
    return FieldText(form_.findChild<QLineEdit*>(QStringLiteral("Edit9")));
}

bool JobDialog::primaryMaster() const {
    return form_.findChild<QComboBox*>(QStringLiteral("ComboBox42"))->currentIndex() != 1;
}

QTableWidget* MakeTable(QWidget* parent, const QStringList& headers, const char* name) {
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

void SetRow(QTableWidget* table, int row, const QStringList& cells) {
    if (table->rowCount() <= row) {
        table->setRowCount(row + 1);
    }
    for (int c = 0; c < cells.size(); ++c) {
        table->setItem(row, c, new QTableWidgetItem(cells[c]));
    }
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString Sentence(const std::string& words) {
    QString text = Text(words);
    if (text.isEmpty()) {
        return text;
    }
    text[0] = text[0].toUpper();
    return text.endsWith(QLatin1Char('.')) ? text : text + QLatin1Char('.');
}

} // namespace app
