// The "Serial Port:" list: the designed items (COM1 to COM9) followed by the serial devices present
// now, scanned again each time the list is opened, with a drop-down wide enough for the longest name
// and the whole text in the tooltip.
#pragma once

#include <filesystem>

#include <QComboBox>

namespace app {

class PortComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit PortComboBox(QWidget* parent = nullptr);

    // Where the device scan looks: "/" for this machine; tests give a fake tree.
    void setScanRoot(std::filesystem::path root) { scanRoot_ = std::move(root); }

    // Replaces the devices found last time by those present now; the text in the field stays.
    void refreshDevices();

    // The port name as the file system spells it: a device picked from the scan keeps the very bytes
    // the scan found (a name under /dev/serial/by-id may hold any bytes, not all of them text); a
    // typed name is encoded as file names are.
    QByteArray portName() const;

    void showPopup() override;

private:
    void widenDropDown();

    std::filesystem::path scanRoot_ = "/";
};

} // namespace app
