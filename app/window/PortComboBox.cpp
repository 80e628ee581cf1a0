// The "Serial Port:" list and its device scan.
#include "app/window/PortComboBox.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QFile>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
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

QString MiddleElidingLineEdit::shownText() const {
    if (hasFocus()) {
        return text();
    }
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textWidth());
}

int MiddleElidingLineEdit::textWidth() const {
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    const QMargins margins = textMargins();
    // QLineEdit keeps a small margin of its own on either side of the text.
    constexpr int kInnerMargin = 2;
    return std::max(0, contents.width() - margins.left() - margins.right() - 2 * kInnerMargin);
}

void MiddleElidingLineEdit::paintEvent(QPaintEvent* event) {
    const QString shown = shownText();
    if (shown == text()) {
        QLineEdit::paintEvent(event);
        return;
    }
    // The frame and background as the line edit draws them, then the elided text where its text goes.
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    QRect area = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    area = area.marginsRemoved(textMargins()).adjusted(2, 0, -2, 0);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.drawText(area, static_cast<int>(alignment() | Qt::AlignVCenter), shown);
}

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {
    // Editable from the start with the eliding field; the form's editable flag then finds it in place.
    auto* field = new MiddleElidingLineEdit(this);
    field->setPalette(palette());
    setLineEdit(field);
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
