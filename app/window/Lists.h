// Reading and setting a list (an editable drop-down box) by the index of its selected item.
#pragma once

class QComboBox;

namespace app {

// The selected item's index, or -1 when none: an item picked from the list counts while its text
// stands unchanged; a typed text counts as the item it matches exactly (case-sensitive); any other
// text, or an emptied list, is no selection.
int SelectedIndex(const QComboBox* list);

// Selects item `index`; an index outside the list leaves no item selected and an empty text.
void SelectIndex(QComboBox* list, int index);

} // namespace app
