// Message boxes and the general error handler.
#include "app/Messages.h"

#include <exception>

#include <QApplication>
#include <QFile>
#include <QMessageBox>

#include "serial/SerialComm.h"

namespace app {

namespace {

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
    box.exec();
}

} // namespace

void SetMessageRecorder(MessageRecorder newRecorder) {
    recorder() = std::move(newRecorder);
}

void ShowMessage(const QString& text, const QString& detail) {
    showBox(MessageKind::Plain, text, detail);
}

void ShowErrorMessage(const QString& text, const QString& detail) {
    showBox(MessageKind::Error, text, detail);
}

QString OpenFailureDetail(const serial::ECommsError& error) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(error.DevicePath()));
    const QString reason = QString::fromStdString(error.Reason());
    if (path.isEmpty() || reason.isEmpty()) {
        return path + reason;
    }
    return path + QStringLiteral(": ") + reason;
}

void RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const serial::ECommsError& e) {
        ShowErrorMessage(QString::fromLatin1(e.what()), OpenFailureDetail(e));
    } catch (const std::exception& e) {
        // Messages are built from field texts taken one character per byte.
        ShowErrorMessage(QString::fromLatin1(e.what()));
    }
}

} // namespace app
