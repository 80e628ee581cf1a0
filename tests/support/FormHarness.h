// The real main window for GUI tests: built on the offscreen platform, messages recorded instead of
// shown, controls found by their object names, the port opened on a pseudo-terminal through the
// window's own "Serial Parameters" group.
#pragma once

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>

#include "app/window/Messages.h"
#include "app/window/VX538AB.h"

namespace testsupport {

class PtyPeer;
class SimProcess;
class SimulatedLine;

struct RecordedMessage {
    app::MessageKind kind;
    QString text;
    QString detail; // the box's informative text, empty when none
};

class FormHarness {
public:
    FormHarness();
    ~FormHarness();
    FormHarness(const FormHarness&) = delete;
    FormHarness& operator=(const FormHarness&) = delete;

    TForm1& form() { return *form_; }

    // The control named `name`; fails the test (and returns nullptr) when there is none of that type.
    template <class T> T* find(const char* name) const {
        return form_->findChild<T*>(QString::fromLatin1(name));
    }
    QLineEdit* edit(const char* name) const;
    QComboBox* list(const char* name) const;
    QPushButton* button(const char* name) const;

    // Clicks a button after checking that it exists and is enabled (a disabled button cannot be clicked).
    void click(const char* name);
    void setText(const char* name, const QString& text); // a line edit, or the typed text of a list
    QString text(const char* name) const;                // a line edit's or a list's text
    QString sendField() const;                           // Edit8
    QString receiveField() const;                        // Memo10

    // Types the peer's path into "Serial Port:" and presses "Open"; expects the button to read "Close".
    void openPort(const PtyPeer& peer);
    // Opens the port on the simulator's terminal. The simulator answers in one piece, so blocks may end
    // after 30 ms of silence instead of 400 (tests of the 400 ms itself open the port by hand).
    void openOnSimulator(const SimProcess& sim);
    // Opens the port on the in-process simulated line with the group's settings (9600 None at start),
    // blocks ending after 30 ms of silence. Faults are scripted on the line at request N.
    void openOn(SimulatedLine& line);

    // Messages shown since construction or the last takeMessages(), oldest first.
    const std::vector<RecordedMessage>& messages() const { return messages_; }
    std::vector<RecordedMessage> takeMessages() { return std::exchange(messages_, {}); }
    // Texts only, for compact expectations.
    std::vector<QString> messageTexts() const;

private:
    std::unique_ptr<TForm1> form_;
    std::vector<RecordedMessage> messages_;
};

} // namespace testsupport
