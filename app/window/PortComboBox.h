// The "Serial Port:" list: the designed items (COM1 to COM9) followed by the serial devices present
// now, scanned again each time the list is opened, with a drop-down wide enough for the longest name
// and the whole text in the tooltip. A name longer than the narrow field shows its head and its tail
// with an ellipsis between while the field is not being edited.
#pragma once

#include <filesystem>

#include <QComboBox>
#include <QLineEdit>

namespace app {

// A line edit that, while it has no focus, draws a text too long for it with its middle elided (a
// network URL keeps its scheme and its port in view); with focus it edits the whole text as usual.
class MiddleElidingLineEdit : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

    // What the field shows now: the text itself, or the text with its middle elided.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int textWidth() const;
};

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
