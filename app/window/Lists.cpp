// List selection by index, with typed text taken into account.
#include "app/window/Lists.h"

#include <QComboBox>

namespace app {

int SelectedIndex(const QComboBox* list) {
    const int current = list->currentIndex();
    if (!list->isEditable()) {
        return current;
    }
    const QString text = list->currentText();
    if (current >= 0 && list->itemText(current) == text) {
        return current;
    }
    if (current < 0 && text.isEmpty()) {
        return -1;
    }
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemText(i) == text) {
            return i;
        }
    }
    return -1;
}

void SelectIndex(QComboBox* list, int index) {
    if (index < 0 || index >= list->count()) {
        list->setCurrentIndex(-1);
        if (list->isEditable()) {
            list->setEditText(QString());
        }
        return;
    }
    list->setCurrentIndex(index);
    if (list->isEditable()) {
        // Re-selecting the current item must also restore a text the user typed over.
        list->setEditText(list->itemText(index));
    }
}

} // namespace app
