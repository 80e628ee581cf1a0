// The dialog of the traffic monitor's second port.
#include "app/traffic/ListenDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/window/PortComboBox.h"

namespace app {

ListenDialog::ListenDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ListenDialog"));
    setWindowTitle(QStringLiteral("Listen on Another Port"));
    port_ = new PortComboBox(this);
    port_->setObjectName(QStringLiteral("ListenPort"));
    port_->setEditable(true);
    port_->setCurrentText(QString());
    baud_ = new QComboBox(this);
    baud_->setObjectName(QStringLiteral("ListenBaud"));
    baud_->setEditable(true);
    for (const char* rate : {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}) {
        baud_->addItem(QLatin1String(rate));
    }
    baud_->setCurrentText(QStringLiteral("9600"));
    parity_ = new QComboBox(this);
    parity_->setObjectName(QStringLiteral("ListenParity"));
    parity_->addItems({QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even")});

    auto* note =
        new QLabel(QStringLiteral("A local port is opened read-only: nothing is ever sent on it. A network "
                                  "port (rfc2217://HOST:PORT, socket://HOST:PORT) is sent no line data: "
                                  "RFC 2217 carries the baud rate and parity as control to the server; "
                                  "socket:// keeps the server's own. Its frames join the table with the "
                                  "port as their source; this window's own port is not touched."),
                   this);
    note->setWordWrap(true);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("ListenProblem"));
    problem_->setStyleSheet(QStringLiteral("QLabel { color: #B01C1C; }"));
    problem_->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Listen"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("&Cancel"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ListenStart"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ListenDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ListenDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Port:"), port_);
    form->addRow(QStringLiteral("&Baud rate:"), baud_);
    form->addRow(QStringLiteral("Pa&rity:"), parity_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
    for (QWidget* field :
         {static_cast<QWidget*>(port_), static_cast<QWidget*>(baud_), static_cast<QWidget*>(parity_)}) {
        field->setAccessibleName(qobject_cast<QLabel*>(form->labelForField(field))->text().remove(QLatin1Char('&')).chopped(1));
    }
}

QByteArray ListenDialog::port() const {
    return port_->portName();
}

uint32_t ListenDialog::baud() const {
    return baud_->currentText().trimmed().toUInt();
}

serial::TParity ListenDialog::parity() const {
    switch (parity_->currentIndex()) {
    case 1:
        return serial::TParity::Odd;
    case 2:
        return serial::TParity::Even;
    default:
        return serial::TParity::None;
    }
}

void ListenDialog::accept() {
    QString problem;
    bool number = false;
    const uint32_t rate = baud_->currentText().trimmed().toUInt(&number);
    if (port().trimmed().isEmpty()) {
        problem = QStringLiteral("Choose or type the port of the listening adapter.");
    } else if (!number || rate < 1 || rate > 4000000) {
        problem = QStringLiteral("The baud rate is a whole number from 1 to 4000000.");
    }
    problem_->setText(problem);
    problem_->setVisible(!problem.isEmpty());
    if (problem.isEmpty()) {
        QDialog::accept();
    }
}

} // namespace app
