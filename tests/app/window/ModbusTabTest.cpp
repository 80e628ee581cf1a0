// GUI tests of the MODBUS read test and the IEEE-754 calculator on the "Modbus Parameter
// Configuration" tab: the controls and their places, the request checked and answered by libmodbus
// on the other side of a pseudo-terminal, refusals, the timeout, and the calculator's local result
// and messages.
#include <gtest/gtest.h>

#include <modbus/modbus.h>

#include <QByteArray>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>

#include "tests/support/FormHarness.h"
#include "tests/support/TextTabFixture.h"
#include "tests/support/Wait.h"
#include "tools/ModbusCrc.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::waitUntil;

namespace {

// "01 03 00 00" as bytes.
std::string bytesOf(const char* pairs) {
    return QByteArray::fromHex(pairs).toStdString();
}

// Bytes as the send and receive fields show them: upper-case pairs, each followed by a blank.
QString shownAsHex(std::string_view bytes) {
    return QString::fromLatin1(
        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toHex(' ').toUpper() + ' ');
}

TEST(ModbusTabControls, CaptionsStartTextsAndPlaces) {
    FormHarness h;
    auto* tabs = h.find<QTabWidget>("PageControl1");
    QWidget* tab = h.find<QWidget>("TabSheet3");
    ASSERT_NE(tabs, nullptr);
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tabs->tabText(tabs->indexOf(tab)), "Modbus Parameter Configuration");
    auto* test = h.find<QGroupBox>("GroupBox19");
    auto* calculator = h.find<QGroupBox>("GroupBox12");
    ASSERT_NE(test, nullptr);
    ASSERT_NE(calculator, nullptr);
    EXPECT_EQ(test->title(), "modbus Communication Test");
    EXPECT_EQ(calculator->title(), "IEE754 Calculation");

    struct Field {
        const char* label;
        const char* caption;
        const char* field;
        const char* text;
        QGroupBox* group;
        bool besideTheField; // else right above it
    };
    const Field fields[] = {
        {"Label65", "MODBUS Slave Address:", "Edit18", "001", test, true},
        {"Label66", "MODBUS Start Address:", "Edit19", "00", test, true},
        {"Label67", "Read Data Length:", "Edit20", "18", test, true},
        {"Label30", "Data Format HEX(FF FF FF FF):", "Edit7", "", calculator, false},
        {"Label31", "Value:", "Edit22", "", calculator, true},
    };
    for (const Field& f : fields) {
        auto* label = h.find<QLabel>(f.label);
        QLineEdit* field = h.edit(f.field);
        ASSERT_NE(label, nullptr) << f.label;
        ASSERT_NE(field, nullptr) << f.field;
        EXPECT_EQ(label->text(), f.caption) << f.label;
        EXPECT_EQ(field->text(), f.text) << f.field;
        EXPECT_EQ(label->parentWidget(), f.group) << f.label;
        EXPECT_EQ(field->parentWidget(), f.group) << f.field;
        EXPECT_FALSE(field->accessibleName().isEmpty()) << f.field;
        const QRect l = label->geometry();
        const QRect g = field->geometry();
        if (f.besideTheField) {
            EXPECT_LT(l.right(), g.left()) << f.label;
            EXPECT_LE(g.left() - l.right(), 12) << f.label;
            EXPECT_LE(std::abs(l.center().y() - g.center().y()), 2) << f.label;
        } else {
            EXPECT_LT(l.bottom(), g.top()) << f.label;
            EXPECT_EQ(l.left(), g.left()) << f.label;
        }
    }
    EXPECT_EQ(h.button("Button4")->text(), "MODBUS Comm Test");
    EXPECT_EQ(h.button("Button4")->parentWidget(), test);
    EXPECT_EQ(h.button("Button13")->text(), "Count");
    EXPECT_EQ(h.button("Button13")->parentWidget(), calculator);
    // Hex pairs are typed without a length limit.
    EXPECT_EQ(h.edit("Edit7")->maxLength(), std::numeric_limits<int>::max());

    // Shown as the user sees it: everything inside its group, every caption whole, and the fields
    // wide enough for what they hold (five digits, the ten characters of a result).
    tabs->setCurrentWidget(tab);
    QCoreApplication::processEvents();
    for (QGroupBox* group : {test, calculator}) {
        EXPECT_TRUE(tab->rect().contains(group->geometry())) << group->objectName().toStdString();
        for (QWidget* widget : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const std::string name = widget->objectName().toStdString();
            EXPECT_TRUE(widget->isVisible()) << name;
            EXPECT_TRUE(group->rect().contains(widget->geometry())) << name << " sticks out of its group";
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                EXPECT_LE(label->sizeHint().width(), label->width()) << name;
                EXPECT_LE(label->fontMetrics().height(), label->height()) << name;
            }
            if (auto* button = qobject_cast<QPushButton*>(widget)) {
                EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 8, button->width())
                    << name;
            }
        }
    }
    for (const char* name : {"Edit18", "Edit19", "Edit20"}) {
        QLineEdit* field = h.edit(name);
        EXPECT_LE(field->fontMetrics().horizontalAdvance("65535") + 8, field->width()) << name;
    }
    EXPECT_LE(h.edit("Edit22")->fontMetrics().horizontalAdvance("-3.1415927") + 8, h.edit("Edit22")->width());
    EXPECT_TRUE(h.messages().empty());
}

// libmodbus playing the converter's MODBUS side on the master end of the pseudo-terminal: it
// accepts only a well-formed request for its slave address (its own CRC check) and answers from a
// register map of 400 registers starting at 0.
class ModbusSlave {
public:
    static constexpr int kRegisters = 400;

    ModbusSlave(int fd, int slave)
        : context_(modbus_new_rtu("/dev/null", 9600, 'N', 8, 1)),
          map_(modbus_mapping_new_start_address(0, 0, 0, 0, 0, kRegisters, 0, 0)) {
        if (!context_ || !map_) {
            throw std::runtime_error("libmodbus could not set up the slave");
        }
        // The descriptor belongs to the pseudo-terminal; the context only borrows it and never
        // connects, so none of its line settings touch the master side.
        // libmodbus takes slave addresses 1 to 247 only (0 would be broadcast).
        if (modbus_set_socket(context_, fd) != 0 || modbus_set_slave(context_, slave) != 0 ||
            modbus_set_indication_timeout(context_, 3, 0) != 0) { // a request that never comes fails the test
            throw std::runtime_error(std::string("libmodbus: ") + modbus_strerror(errno));
        }
        for (int i = 0; i < kRegisters; ++i) {
            map_->tab_registers[i] = static_cast<uint16_t>(0x1000 + 257 * i);
        }
    }
    ~ModbusSlave() {
        modbus_mapping_free(map_);
        modbus_free(context_);
    }
    ModbusSlave(const ModbusSlave&) = delete;
    ModbusSlave& operator=(const ModbusSlave&) = delete;

    // Receives one request; returns its bytes, or fails with libmodbus's reason.
    std::string receive() {
        uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
        const int length = modbus_receive(context_, request);
        if (length <= 0) {
            ADD_FAILURE() << "libmodbus took no request: "
                          << (length < 0 ? modbus_strerror(errno) : "not for this slave");
            return {};
        }
        lastRequest_.assign(request, request + length);
        return {request, request + length};
    }

    // Answers the last request from the register map (or with the exception the request deserves).
    void reply() {
        ASSERT_GT(modbus_reply(context_, lastRequest_.data(), static_cast<int>(lastRequest_.size()), map_), 0)
            << modbus_strerror(errno);
    }

    uint16_t reg(int index) const { return map_->tab_registers[index]; }

private:
    modbus_t* context_;
    modbus_mapping_t* map_;
    std::vector<uint8_t> lastRequest_;
};

// What a read of `count` registers from `start` must bring back from the slave's map.
std::string registersReply(const ModbusSlave& slave, uint8_t address, int start, int count) {
    std::vector<uint8_t> reply = {address, 0x03, static_cast<uint8_t>(2 * count)};
    for (int i = start; i < start + count; ++i) {
        reply.push_back(static_cast<uint8_t>(slave.reg(i) >> 8));
        reply.push_back(static_cast<uint8_t>(slave.reg(i) & 0xFF));
    }
    const tools::CrcBytes crc = tools::ModbusCrc16(reply);
    reply.push_back(crc.low);
    reply.push_back(crc.high);
    return {reply.begin(), reply.end()};
}

// The port open on a pseudo-terminal.
class ModbusTab : public testsupport::TextTabFixture {
protected:
    // Types the three fields and presses "MODBUS Comm Test".
    void sendTest(const char* slave, const char* start, const char* count) {
        h.setText("Edit18", slave);
        h.setText("Edit19", start);
        h.setText("Edit20", count);
        h.click("Button4");
    }

    void expectWaitingForTheReply() {
        EXPECT_EQ(form().PendingCommand(), 302);
        EXPECT_EQ(form().TimeoutKind(), 2);
        EXPECT_TRUE(form().Timer3->Enabled());
        EXPECT_EQ(form().Timer3->Interval(), 3000);
    }
};

TEST_F(ModbusTab, LibmodbusAcceptsTheRequestAndItsReplyIsShownAsItCame) {
    struct Case {
        const char* slave;
        const char* start;
        const char* count;
        uint8_t address;
        int firstRegister;
        int registers;
        const char* frame;
    };
    const Case cases[] = {
        {"001", "00", "18", 1, 0, 18, "01 03 00 00 00 12 C5 C7"}, // the start texts: a 41-byte reply
        {"$F7", "2", "16", 247, 2, 16, "F7 03 00 02 00 10 F1 50"},
        {"17", "300", "3", 17, 300, 3, "11 03 01 2C 00 03 C7 6E"},     // beyond one byte, high byte first
        {"247", "0x18F", "1", 247, 399, 1, "F7 03 01 8F 00 01 A0 8B"}, // the last register of the map
    };
    for (const Case& c : cases) {
        ModbusSlave slave(peer.masterFd(), c.address);
        h.setText("Edit8", "old request");
        setMemo("old reply");
        sendTest(c.slave, c.start, c.count);
        EXPECT_EQ(h.sendField(), QString::fromLatin1(c.frame) + " ") << c.frame;
        EXPECT_EQ(h.receiveField(), "") << c.frame;
        expectWaitingForTheReply();

        EXPECT_EQ(slave.receive(), bytesOf(c.frame)) << c.frame;
        slave.reply();
        const QString expected = shownAsHex(registersReply(slave, c.address, c.firstRegister, c.registers));
        ASSERT_TRUE(waitUntil([&] { return h.receiveField() == expected; }, 3000ms))
            << c.frame << ": " << h.receiveField().toStdString();
        // Shown, not decoded: the exchange keeps waiting under 302 with no parse step.
        EXPECT_EQ(form().PendingCommand(), 302);
        EXPECT_FALSE(form().Timer3->Enabled());
        EXPECT_FALSE(form().Timer2->Enabled());
    }
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(ModbusTab, AnExceptionReplyIsShownAsItCame) {
    ModbusSlave slave(peer.masterFd(), 1);
    sendTest("1", "1000", "2"); // the map ends at register 399
    EXPECT_EQ(slave.receive(), bytesOf("01 03 03 E8 00 02 44 7B"));
    slave.reply();
    // Exception 2, illegal data address, with libmodbus's CRC.
    ASSERT_TRUE(waitUntil([&] { return h.receiveField() == "01 83 02 C0 F1 "; }, 3000ms))
        << h.receiveField().toStdString();
    EXPECT_EQ(form().PendingCommand(), 302);
    EXPECT_TRUE(h.messages().empty());
}

TEST_F(ModbusTab, LongRepliesShowTheirFirst255BytesAndLaterBlocksReplaceThem) {
    sendTest("1", "0", "125");
    peer.readAtLeast(8, 2000ms);
    std::string reply;
    for (int i = 0; i < 300; ++i) {
        reply.push_back(static_cast<char>(i));
    }
    peer.write(reply);
    ASSERT_TRUE(waitUntil([&] { return form().ReceiveBuffer().size() == 300; }, 3000ms));
    EXPECT_EQ(h.receiveField(), shownAsHex(std::string_view(reply).substr(0, 255)));

    peer.write(bytesOf("01 83 02 C0 F1"));
    ASSERT_TRUE(waitUntil([&] { return h.receiveField() == "01 83 02 C0 F1 "; }, 3000ms));
    EXPECT_EQ(form().PendingCommand(), 302);
}

TEST_F(ModbusTab, ValuesTheFrameCannotCarryAreRefusedAndChangeNothing) {
    // A finished communication query leaves pending command 201, kind 1 and a stopped reply timer.
    h.click("Button6");
    EXPECT_EQ(peer.readAtLeast(h.sendField().size(), 2000ms), h.sendField().toStdString());
    peer.write("no marker");
    ASSERT_TRUE(waitUntil([&] { return h.receiveField() == "no marker"; }, 3000ms));

    // A refusal leaves the send and receive fields as they were; a text that is no integer stops the
    // test after they were emptied, as its conversion comes after that. Neither touches the exchange.
    struct Case {
        const char* slave;
        const char* start;
        const char* count;
        const char* message;
        bool fieldsEmptied;
    };
    const Case cases[] = {
        {"256", "00", "18", "MODBUS Slave Address must be between 0 and 255", false},
        {"-1", "00", "18", "MODBUS Slave Address must be between 0 and 255", false},
        {"1", "65536", "18", "MODBUS Start Address must be between 0 and 65535", false},
        {"1", "-5", "18", "MODBUS Start Address must be between 0 and 65535", false},
        {"1", "00", "$10000", "Read Data Length must be between 0 and 65535", false},
        {"12a", "00", "18", "'12a' is not a valid integer value", true},
        {"1", "abc", "18", "'abc' is not a valid integer value", true},
        {"1", "00", "1.5", "'1.5' is not a valid integer value", true},
    };
    for (const Case& c : cases) {
        h.setText("Edit8", "old request");
        setMemo("old reply");
        sendTest(c.slave, c.start, c.count);
        const auto messages = h.takeMessages();
        ASSERT_EQ(messages.size(), 1u) << c.message;
        EXPECT_EQ(messages[0].kind, app::MessageKind::Error);
        EXPECT_EQ(messages[0].text, c.message);
        EXPECT_EQ(h.sendField(), c.fieldsEmptied ? "" : "old request") << c.message;
        EXPECT_EQ(h.receiveField(), c.fieldsEmptied ? "" : "old reply") << c.message;
        EXPECT_EQ(form().PendingCommand(), 201) << c.message;
        EXPECT_EQ(form().TimeoutKind(), 1) << c.message;
        EXPECT_FALSE(form().Timer3->Enabled()) << c.message;
    }

    // Nothing of the refused tests reached the line: the next request is the first thing on it.
    sendTest("1", "00", "18");
    EXPECT_EQ(peer.readAtLeast(8, 2000ms), bytesOf("01 03 00 00 00 12 C5 C7"));
    expectWaitingForTheReply();
}

TEST_F(ModbusTab, CalculatorShowsTheValueLocallyAndItsMessagesKeepTheResult) {
    h.setText("Edit8", "old request");
    setMemo("old reply");
    struct Case {
        std::string typed;
        const char* shown;   // Edit22 afterwards
        const char* message; // "" for none
    };
    std::string longText = "7F 7F FF FF";
    while (longText.size() < 40000) {
        longText += " 00";
    }
    const Case cases[] = {
        {"41 20 00 00", "10", ""},
        {"FFFFFFFF", "10", "Input data contains no spaces!"},
        {"ff ff ff ff", "10", "Invalid characters detected, please re-enter!"},
        {"ff ffff", "10", "Input data contains no spaces!"}, // the separator check comes first
        {"C0 49 0F DB", "-3.1415927", ""},
        {"12 34 56 78 ", "-3.1415927", "Invalid characters detected, please re-enter!"},
        {"", "-3.1415927", "Invalid characters detected, please re-enter!"},
        {"FF FF FF FF", "-NAN", ""},
        {longText, "3.40282346", ""}, // past the line edit's usual 32767 characters
        {longText + " ZZ", "3.40282346", "Invalid characters detected, please re-enter!"},
    };
    for (const Case& c : cases) {
        const std::string what = c.typed.substr(0, 16);
        h.setText("Edit7", QString::fromStdString(c.typed));
        ASSERT_EQ(h.text("Edit7").size(), static_cast<qsizetype>(c.typed.size())) << what;
        h.click("Button13");
        EXPECT_EQ(h.text("Edit22"), c.shown) << what;
        const auto messages = h.takeMessages();
        if (*c.message) {
            ASSERT_EQ(messages.size(), 1u) << what;
            EXPECT_EQ(messages[0].kind, app::MessageKind::Plain) << what;
            EXPECT_EQ(messages[0].text, c.message) << what;
        } else {
            EXPECT_TRUE(messages.empty()) << what;
        }
        // A local tool: the exchange and its fields are not touched.
        EXPECT_EQ(h.sendField(), "old request") << what;
        EXPECT_EQ(h.receiveField(), "old reply") << what;
        EXPECT_EQ(form().PendingCommand(), 0) << what;
        EXPECT_EQ(form().TimeoutKind(), 0) << what;
        EXPECT_FALSE(form().Timer3->Enabled()) << what;
        EXPECT_FALSE(form().Timer2->Enabled()) << what;
    }
    // Nothing reached the line: the next request is the first thing on it.
    sendTest("1", "00", "18");
    EXPECT_EQ(peer.readAtLeast(8, 2000ms), bytesOf("01 03 00 00 00 12 C5 C7"));
}

// Costs three seconds of real time.
TEST_F(ModbusTab, NoReplyEndsInTheQueryTimeoutAndALateReplyIsStillShown) {
    QElapsedTimer clock;
    clock.start();
    sendTest("001", "00", "18");
    EXPECT_EQ(peer.readAtLeast(8, 2000ms), bytesOf("01 03 00 00 00 12 C5 C7"));
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 4500ms));
    EXPECT_GE(clock.elapsed(), 2950);
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{"Parameter Query Timeout!"});
    EXPECT_EQ(h.messages()[0].kind, app::MessageKind::Plain);
    EXPECT_FALSE(form().Timer3->Enabled());
    EXPECT_EQ(form().PendingCommand(), 302);

    peer.write(bytesOf("01 03 02 00 2A 39 9B"));
    ASSERT_TRUE(waitUntil([&] { return h.receiveField() == "01 03 02 00 2A 39 9B "; }, 3000ms));
    EXPECT_EQ(h.messages().size(), 1u);
}

} // namespace
