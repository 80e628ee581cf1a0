// GUI test harness around TForm1.
#include "tests/support/FormHarness.h"

#include <gtest/gtest.h>

#include "tests/support/PtyPeer.h"
#include "tests/support/SimProcess.h"
#include "tests/support/SimulatedLine.h"
#include "tools/Conversions.h"

namespace testsupport {

FormHarness::FormHarness() {
    tools::SetDecimalSeparator('.');
    app::SetMessageRecorder([this](app::MessageKind kind, const QString& text, const QString& detail) {
        messages_.push_back({kind, text, detail});
    });
    form_ = std::make_unique<TForm1>();
    form_->show();
}

FormHarness::~FormHarness() {
    form_.reset();
    app::SetMessageRecorder({});
}

QLineEdit* FormHarness::edit(const char* name) const {
    auto* control = find<QLineEdit>(name);
    EXPECT_NE(control, nullptr) << "no line edit named " << name;
    return control;
}

QComboBox* FormHarness::list(const char* name) const {
    auto* control = find<QComboBox>(name);
    EXPECT_NE(control, nullptr) << "no list named " << name;
    return control;
}

QPushButton* FormHarness::button(const char* name) const {
    auto* control = find<QPushButton>(name);
    EXPECT_NE(control, nullptr) << "no button named " << name;
    return control;
}

void FormHarness::click(const char* name) {
    QPushButton* target = button(name);
    ASSERT_NE(target, nullptr);
    ASSERT_TRUE(target->isEnabled()) << name << " is disabled";
    target->click();
}

void FormHarness::setText(const char* name, const QString& text) {
    if (auto* line = find<QLineEdit>(name); line && !qobject_cast<QComboBox*>(line->parent())) {
        line->setText(text);
        return;
    }
    QComboBox* box = list(name);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(box->isEditable()) << name << " does not take typed text";
    box->setEditText(text);
}

QString FormHarness::text(const char* name) const {
    if (auto* line = find<QLineEdit>(name); line && !qobject_cast<QComboBox*>(line->parent())) {
        return line->text();
    }
    if (auto* box = find<QComboBox>(name)) {
        return box->currentText();
    }
    ADD_FAILURE() << "no field named " << name;
    return {};
}

QString FormHarness::sendField() const {
    return text("Edit8");
}

QString FormHarness::receiveField() const {
    auto* memo = find<QPlainTextEdit>("Memo10");
    EXPECT_NE(memo, nullptr);
    return memo ? memo->toPlainText() : QString();
}

void FormHarness::openPort(const PtyPeer& peer) {
    setText("SPREALCOM", QString::fromStdString(peer.slavePath()));
    click("Button1");
    ASSERT_EQ(button("Button1")->text(), QStringLiteral("Close")) << "the port did not open";
}

void FormHarness::openOnSimulator(const SimProcess& sim) {
    form_->SetPortName(QString::fromStdString(sim.path()));
    click("Button1");
    ASSERT_EQ(button("Button1")->text(), QStringLiteral("Close")) << "the port did not open";
    form_->Comm1->SetReadIntervalTimeout(30);
}

void FormHarness::openOn(SimulatedLine& line) {
    form_->OpenPortOn(line.transport(text("SPREALCOM").toStdString()));
    ASSERT_EQ(button("Button1")->text(), QStringLiteral("Close")) << "the port did not open";
    form_->Comm1->SetReadIntervalTimeout(30);
}

std::vector<QString> FormHarness::messageTexts() const {
    std::vector<QString> texts;
    for (const auto& message : messages_) {
        texts.push_back(message.text);
    }
    return texts;
}

} // namespace testsupport
