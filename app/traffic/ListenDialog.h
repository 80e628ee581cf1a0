// "Listen on Another Port": the port of a listen-only adapter on the RS485 bus, its baud rate and
// parity, for the traffic monitor's second port.
#pragma once

#include <cstdint>

#include <QDialog>

#include "serial/LineTypes.h"

class QComboBox;
class QLabel;

namespace app {

class PortComboBox;

class ListenDialog : public QDialog {
    Q_OBJECT
public:
    explicit ListenDialog(QWidget* parent = nullptr);

    QByteArray port() const;
    uint32_t baud() const;
    serial::TParity parity() const;

    // Accepts only a port name and a whole baud rate from 1 to 4000000; otherwise says what is wrong
    // in the dialog and stays open.
    void accept() override;

private:
    PortComboBox* port_;
    QComboBox* baud_;
    QComboBox* parity_;
    QLabel* problem_;
};

} // namespace app
