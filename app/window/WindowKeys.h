// The keys every window of ours answers the same way, dialogs or not: Escape closes it, Return and
// Enter press the focused button or else its default button.
#pragma once

class QPushButton;
class QWidget;

namespace app {

// Gives a plain (non-dialog) window the keys a dialog has by itself; `defaultButton` is drawn as the
// default and pressed by Return and Enter when no other button has the focus.
void GiveDialogKeys(QWidget& window, QPushButton* defaultButton);

} // namespace app
