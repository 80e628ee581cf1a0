// Dialog keys for plain windows.
#include "app/window/WindowKeys.h"

#include <QApplication>
#include <QPushButton>
#include <QShortcut>
#include <QWidget>

namespace app {

void GiveDialogKeys(QWidget& window, QPushButton* defaultButton) {
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, &window, &QWidget::close);
    if (!defaultButton) {
        return;
    }
    defaultButton->setDefault(true);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* press = new QShortcut(QKeySequence(key), &window);
        press->setContext(Qt::WindowShortcut);
        QObject::connect(press, &QShortcut::activated, &window, [&window, defaultButton] {
            // As in a dialog: the button with the focus, otherwise the default one.
            auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
            QPushButton* button = focused && focused->window() == &window ? focused : defaultButton;
            if (button->isEnabled() && button->isVisible()) {
                button->animateClick();
            }
        });
    }
}

} // namespace app
