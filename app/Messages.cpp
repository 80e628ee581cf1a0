// Message boxes and the general error handler.
#include "app/Messages.h"

#include <exception>

#include <QApplication>
#include <QMessageBox>

namespace app {

namespace {

MessageRecorder& recorder() {
    static MessageRecorder instance;
    return instance;
}

void showBox(MessageKind kind, const QString& text) {
    if (recorder()) {
        recorder()(kind, text);
        return;
    }
    QMessageBox box(kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace

void SetMessageRecorder(MessageRecorder newRecorder) {
    recorder() = std::move(newRecorder);
}

void ShowMessage(const QString& text) {
    showBox(MessageKind::Plain, text);
}

void ShowErrorMessage(const QString& text) {
    showBox(MessageKind::Error, text);
}

void RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        // Messages are built from field texts taken one character per byte.
        ShowErrorMessage(QString::fromLatin1(e.what()));
    }
}

} // namespace app
