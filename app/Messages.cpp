// Message boxes and the general error handler.
#include "app/Messages.h"

#include <exception>

#include <QApplication>
#include <QFile>
#include <QGridLayout>
#include <QMessageBox>

#include "serial/SerialComm.h"

namespace app {

namespace {

constexpr int kDetailWidth = 420;

MessageRecorder& recorder() {
    static MessageRecorder instance;
    return instance;
}

void showBox(MessageKind kind, const QString& text, const QString& detail) {
    if (recorder()) {
        recorder()(kind, text, detail);
        return;
    }
    QMessageBox box(kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    // Informative rather than detailed text: the reason is what the user needs, not one more click.
    box.setInformativeText(detail);
    if (!detail.isEmpty()) {
        // A box sized for its short message would wrap a device path and its reason into a column;
        // an empty item across the grid's last row gives it room.
        if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
            grid->addItem(new QSpacerItem(kDetailWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                          grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    box.exec();
}

// "<device path>: <reason>" of a failed open.
QString openFailureDetail(const serial::ECommsError& error) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(error.DevicePath()));
    const QString reason = QString::fromStdString(error.Reason());
    if (path.isEmpty() || reason.isEmpty()) {
        return path + reason;
    }
    return path + QStringLiteral(": ") + reason;
}

} // namespace

void SetMessageRecorder(MessageRecorder newRecorder) {
    recorder() = std::move(newRecorder);
}

void ShowMessage(const QString& text) {
    showBox(MessageKind::Plain, text, {});
}

void ShowErrorMessage(const QString& text, const QString& detail) {
    showBox(MessageKind::Error, text, detail);
}

void RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const serial::ECommsError& e) {
        ShowErrorMessage(QString::fromLatin1(e.what()), openFailureDetail(e));
    } catch (const std::exception& e) {
        // Messages are built from field texts taken one character per byte.
        ShowErrorMessage(QString::fromLatin1(e.what()));
    }
}

} // namespace app
