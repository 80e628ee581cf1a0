// Modal message boxes of the window and the general error handler every handler runs through, with a
// seam that lets tests record the messages instead of blocking on a modal box.
#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace app {

enum class MessageKind {
    Plain, // ShowMessage: a plain box with an OK button (timeouts, hex text failures)
    Error, // the general error handler: an exception's message
};

// `detail` is the box's informative text under the message (empty when there is none): for a port
// that did not open, the device path and the system's reason.
using MessageRecorder = std::function<void(MessageKind kind, const QString& text, const QString& detail)>;

// With a recorder set, messages go to it and no box is shown; an empty recorder restores the boxes.
void SetMessageRecorder(MessageRecorder recorder);

// A plain modal message box with an OK button. While it is open, received blocks and timers are
// still handled (the box runs its own event loop).
void ShowMessage(const QString& text);

// The general error handler's box for an exception that left a handler.
void ShowErrorMessage(const QString& text, const QString& detail = {});

// A plain box with a message and, under it, a list or an explanation (the differences a comparison
// found). A long detail goes behind the box's "Show Details..." button.
void ShowReport(const QString& text, const QString& detail);

// File dialogs, behind a seam of their own so that tests choose the file without a dialog.
enum class FileDialogKind { Save, Open };
// Returns the chosen path, or an empty text when the user cancelled.
using FileChooser = std::function<QString(FileDialogKind kind, const QString& caption)>;
// With a chooser set, dialogs ask it; an empty chooser restores the dialogs.
void SetFileChooser(FileChooser chooser);
// The configuration file dialogs: JSON files, the last folder used offered again. Other files give
// their own filter ("CSV files (*.csv)") and the suffix a name without one gets.
QString ChooseFile(FileDialogKind kind, const QString& caption, const QString& filter = {},
                   const QString& suffix = {});

// A question with Yes and No ("Switch the converter to Transparent Mode?"); true for Yes. Behind a seam
// of its own: with an answerer set, it answers and no box is shown.
using QuestionAnswerer = std::function<bool(const QString& text, const QString& detail)>;
void SetQuestionAnswerer(QuestionAnswerer answerer);
bool AskQuestion(const QString& text, const QString& detail = {});
// The same question without a nested event loop, for a window whose job waits for the answer: the
// box is modal to `parent` only and `answered` runs once it is closed (false when it was closed any
// other way than by Yes, or when `parent` went away first: then it does not run). With an answerer
// set, it answers on the next turn of the event loop.
void AskQuestionLater(QWidget* parent, const QString& text, const QString& detail,
                      std::function<void(bool yes)> answered);

// Runs a handler; an exception that leaves it is shown by the general error handler and the program
// goes on. A port that did not open also shows where and why: "<device path>: <reason>" under the
// component's message.
void RunGuarded(const std::function<void()>& handler);

} // namespace app
