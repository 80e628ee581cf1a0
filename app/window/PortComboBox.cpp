// The "Serial Port:" list and its device scan.
#include "app/window/PortComboBox.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QFile>
#include <QScrollBar>
#include <QSignalBlocker>

#include "serial/PortScan.h"

namespace app {

namespace {

// Marks the items the scan added, so the next scan knows which to replace.
constexpr int kScannedRole = Qt::UserRole + 1;
// The path's bytes as the scan found them.
constexpr int kPathBytesRole = Qt::UserRole + 2;

} // namespace

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {
    // The field is narrow and device paths are long: the tooltip always shows the whole text.
    connect(this, &QComboBox::currentTextChanged, this, [this](const QString& text) { setToolTip(text); });
}

void PortComboBox::refreshDevices() {
    const QString text = currentText();
    {
        const QSignalBlocker quiet(this);
        for (int i = count() - 1; i >= 0; --i) {
            if (itemData(i, kScannedRole).toBool()) {
                removeItem(i);
            }
        }
        for (const std::string& path : serial::ScanSerialDevices(scanRoot_)) {
            const QByteArray bytes = QByteArray::fromStdString(path);
            addItem(QFile::decodeName(bytes));
            setItemData(count() - 1, true, kScannedRole);
            setItemData(count() - 1, bytes, kPathBytesRole);
        }
        // Whatever stood in the field (picked or typed) stands there still.
        const int index = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0) {
            setCurrentIndex(index);
        } else {
            setCurrentIndex(-1);
            setEditText(text);
        }
    }
    setToolTip(currentText());
    widenDropDown();
}

QByteArray PortComboBox::portName() const {
    const QString text = currentText();
    const int index = currentIndex();
    if (index >= 0 && itemText(index) == text && itemData(index, kScannedRole).toBool()) {
        return itemData(index, kPathBytesRole).toByteArray();
    }
    return QFile::encodeName(text);
}

void PortComboBox::widenDropDown() {
    const QFontMetrics metrics = view()->fontMetrics();
    int widest = 0;
    for (int i = 0; i < count(); ++i) {
        widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
    }
    // Room for the item's margins, the frame and a vertical scroll bar.
    const int extra = 2 * view()->frameWidth() + view()->verticalScrollBar()->sizeHint().width() + 16;
    view()->setMinimumWidth(std::max(width(), widest + extra));
}

void PortComboBox::showPopup() {
    refreshDevices();
    QComboBox::showPopup();
}

} // namespace app
