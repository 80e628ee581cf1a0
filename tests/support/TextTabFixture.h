// Base fixture for GUI tests of the tabs that talk to the converter (its text command set, the MODBUS
// read test): the real window with its port open on a pseudo-terminal that plays the converter.
#pragma once

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include <QPlainTextEdit>

#include "tests/support/FormHarness.h"
#include "tests/support/PtyPeer.h"
#include "tests/support/Wait.h"

namespace testsupport {

class TextTabFixture : public ::testing::Test {
protected:
    void SetUp() override {
        h.openPort(peer);
        form().Comm1->SetReadIntervalTimeout(30); // blocks end sooner; the 400 ms is not tested here
    }
    TForm1& form() { return h.form(); }
    std::string text(const char* name) const { return h.text(name).toStdString(); }
    // What the window wrote, once `count` bytes arrived.
    std::string line(std::size_t count) { return peer.readAtLeast(count, std::chrono::milliseconds(2000)); }
    // Nothing reached the line.
    bool lineQuiet() {
        return peer.readUntilQuiet(std::chrono::milliseconds(50), std::chrono::milliseconds(500)).empty();
    }
    void setMemo(const QString& text) { h.find<QPlainTextEdit>("Memo10")->setPlainText(text); }
    // The converter answers; returns once the receive field shows the reply.
    bool reply(const std::string& text) {
        peer.write(text);
        return waitUntil([&] { return h.receiveField().toStdString() == text; },
                         std::chrono::milliseconds(3000));
    }
    // Once shown, a reply is decoded when the parse timer has fired.
    bool decoded() {
        return waitUntil([&] { return !form().Timer2->Enabled(); }, std::chrono::milliseconds(2000));
    }

    PtyPeer peer;
    FormHarness h;
};

} // namespace testsupport
