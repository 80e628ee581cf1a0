// The real window against the simulated converter (vx538-sim as a child process on its own
// pseudo-terminal): what the window sets is what it reads back, the HART instrument's values land in
// their fields and in the MODBUS registers, and a dead or unplugged converter is met with the timeout
// message or survived.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include <QRegularExpression>
#include <sys/resource.h>

#include "tests/support/FormHarness.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"
#include "tools/ModbusCrc.h"

using namespace std::chrono_literals;
using testsupport::FormHarness;
using testsupport::SimProcess;
using testsupport::waitUntil;

namespace {

// The window with its port open on the simulator, the port name given as --port gives it.
void openOnSimulator(FormHarness& h, const SimProcess& sim) {
    h.form().SetPortName(QString::fromStdString(sim.path()));
    EXPECT_EQ(h.text("SPREALCOM").toStdString(), sim.path());
    h.click("Button1");
    ASSERT_EQ(h.button("Button1")->text(), QStringLiteral("Close")) << "the port did not open";
}

// Presses a set command's button; whether the converter's acknowledgement `ack` is then shown.
bool acknowledged(FormHarness& h, const char* button, const char* ack) {
    h.click(button);
    return waitUntil([&] { return h.receiveField() == QLatin1String(ack); }, 3s);
}

double number(const FormHarness& h, const char* field) {
    bool ok = false;
    const double value = h.text(field).toDouble(&ok);
    EXPECT_TRUE(ok) << field << " holds " << h.text(field).toStdString();
    return value;
}

// The bytes of a reply as the MODBUS test shows them in Memo10: upper-case pairs, each followed by a
// blank. Anything else shown there fails the test and gives no bytes.
std::vector<uint8_t> shownBytes(const QString& shown) {
    static const QRegularExpression pairs(QStringLiteral("^([0-9A-F]{2} )+$"));
    EXPECT_TRUE(pairs.match(shown).hasMatch()) << shown.toStdString();
    if (!pairs.match(shown).hasMatch()) {
        return {};
    }
    const QByteArray raw = QByteArray::fromHex(shown.toLatin1());
    return {raw.begin(), raw.end()};
}

bool crcHolds(const std::vector<uint8_t>& frame) {
    if (frame.size() < 4) {
        return false;
    }
    const tools::CrcBytes crc = tools::ModbusCrc16(std::span(frame).first(frame.size() - 2));
    return crc.low == frame[frame.size() - 2] && crc.high == frame.back();
}

// A read-holding-registers reply from `slave`, checked whole (function, byte count, CRC); its registers.
std::vector<uint16_t> registersOf(const std::vector<uint8_t>& reply, uint8_t slave, int count) {
    const std::size_t length = 5 + 2 * static_cast<std::size_t>(count);
    EXPECT_EQ(reply.size(), length);
    EXPECT_TRUE(crcHolds(reply)) << "CRC-16/MODBUS of the reply";
    if (reply.size() != length || reply[0] != slave || reply[1] != 0x03 || reply[2] != 2 * count) {
        ADD_FAILURE() << "not a read reply for " << count << " registers from slave " << int{slave};
        return {};
    }
    std::vector<uint16_t> registers;
    for (int i = 0; i < count; ++i) {
        registers.push_back(static_cast<uint16_t>(reply[3 + 2 * i] << 8 | reply[4 + 2 * i]));
    }
    return registers;
}

// A float held in two registers, in the order the first parse format gives them ("FF4 FF3 FF2 FF1",
// the high word first) or the second ("FF2 FF1 FF4 FF3", the low word first).
float registerFloat(uint16_t first, uint16_t second, bool lowWordFirst) {
    const uint32_t high = lowWordFirst ? second : first;
    const uint32_t low = lowWordFirst ? first : second;
    return std::bit_cast<float>(high << 16 | low);
}

// Presses "MODBUS Comm Test" with start and count typed and returns the reply as shown.
std::vector<uint8_t> modbusRead(FormHarness& h, int start, int count) {
    h.setText("Edit19", QString::number(start));
    h.setText("Edit20", QString::number(count));
    h.click("Button4");
    EXPECT_TRUE(waitUntil([&] { return !h.receiveField().isEmpty(); }, 4s)) << "no reply to the read";
    return shownBytes(h.receiveField());
}

// CPU time this process has used, user and system.
std::chrono::milliseconds cpuTime() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000LL + t.tv_usec / 1000; };
    return std::chrono::milliseconds(ms(usage.ru_utime) + ms(usage.ru_stime));
}

} // namespace

TEST(SimulatorEndToEnd, SlaveAddressSetIsReadBack) {
    SimProcess sim(VX538_SIM_PATH);
    FormHarness h;
    openOnSimulator(h, sim);

    h.setText("Edit14", QStringLiteral("5"));
    ASSERT_TRUE(acknowledged(h, "Button29", "QQS#ADR:OK#")) << h.receiveField().toStdString();
    h.click("Button23");
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit14") == QStringLiteral("005"); }, 3s))
        << h.text("Edit14").toStdString();
    EXPECT_EQ(h.text("Edit18"), QStringLiteral("005")) << "the MODBUS test follows";
    EXPECT_EQ(h.text("BRAT1"), QStringLiteral("9600"));
    EXPECT_EQ(h.text("Edit6"), QStringLiteral("010"));
    EXPECT_TRUE(h.messages().empty());
}

TEST(SimulatorEndToEnd, AnalogOutputMappedIsReadBack) {
    SimProcess sim(VX538_SIM_PATH);
    FormHarness h;
    openOnSimulator(h, sim);

    h.list("DOUT3")->setCurrentIndex(5);
    h.setText("DOUT3H", QStringLiteral("50.5"));
    h.setText("DOUT3L", QStringLiteral("-2"));
    ASSERT_TRUE(acknowledged(h, "Button5", "QQS#DA3:OK#")) << h.receiveField().toStdString();

    // Forget what was typed, so only the converter's answer can put it back.
    h.list("DOUT3")->setCurrentIndex(0);
    h.setText("DOUT3H", QStringLiteral("0"));
    h.setText("DOUT3L", QStringLiteral("0"));
    h.setText("DOUT1H", QStringLiteral("7"));
    h.click("Button34");
    ASSERT_TRUE(waitUntil([&] { return h.text("DOUT3H") == QStringLiteral("50.5"); }, 3s))
        << h.text("DOUT3H").toStdString();
    EXPECT_EQ(h.text("DOUT3L"), QStringLiteral("-2"));
    EXPECT_EQ(h.list("DOUT3")->currentIndex(), 5);
    EXPECT_EQ(h.text("DOUT1H"), QStringLiteral("100")) << "the factory range of the first output";
    EXPECT_TRUE(h.messages().empty());
}

TEST(SimulatorEndToEnd, HartIdentityThenVariablesShowTheInstrument) {
    SimProcess sim(VX538_SIM_PATH);
    FormHarness h;
    openOnSimulator(h, sim);

    h.click("Button7");
    ASSERT_TRUE(waitUntil([&] { return !h.text("Edit32").isEmpty(); }, 3s)) << h.receiveField().toStdString();
    EXPECT_EQ(h.text("Edit28"), QStringLiteral("38")) << "manufacturer 0x26";
    EXPECT_EQ(h.text("Edit29"), QStringLiteral("12")) << "device type 0x0C";
    EXPECT_EQ(h.text("Edit31"), QStringLiteral("5"));
    EXPECT_EQ(h.text("Edit32"), QStringLiteral("662316")) << "device identification 0A 1B 2C";

    // Command 3 goes by the unique address the identity reply gave: the instrument answers only that.
    h.click("Button16");
    ASSERT_TRUE(waitUntil([&] { return !h.text("Edit30").isEmpty(); }, 4s)) << h.receiveField().toStdString();
    const double pressure = number(h, "Edit25");
    EXPECT_NEAR(pressure, 101.3, 2.6);
    EXPECT_EQ(h.text("ComboBox3"), QStringLiteral("KPa   "));
    EXPECT_NEAR(number(h, "Edit26"), 24.5, 0.6);
    EXPECT_EQ(h.text("ComboBox31"), QString(QChar(0x2103)) + QStringLiteral("  "));
    EXPECT_NEAR(number(h, "Edit27"), 12.5, 0.9);
    EXPECT_EQ(h.text("ComboBox32"), QStringLiteral("CuMtr_hr "));
    EXPECT_NEAR(number(h, "Edit30"), pressure / 2, 0.1) << "percent of a 0-200 kPa range";
    EXPECT_EQ(h.text("ComboBox33"), QStringLiteral("%"));
    // No check for the absence of messages here: the first HART requests run on the reply timer's
    // initial 1000 ms, which a loaded machine may exceed with the 400 ms block end and 200 ms pause.
}

TEST(SimulatorEndToEnd, SilentConverterGivesTheTimeoutMessage) {
    SimProcess sim(VX538_SIM_PATH, {"--silent"});
    FormHarness h;
    openOnSimulator(h, sim);
    h.click("Button23");
    ASSERT_TRUE(waitUntil([&] { return !h.messages().empty(); }, 4500ms));
    EXPECT_EQ(h.messageTexts(), std::vector<QString>{QStringLiteral("Parameter Query Timeout!")});
    EXPECT_EQ(h.receiveField(), QString());
}

TEST(SimulatorEndToEnd, WindowSurvivesTheLineHangingUp) {
    SimProcess sim(VX538_SIM_PATH, {"--hangup-after", "1"});
    FormHarness h;
    openOnSimulator(h, sim);
    h.click("Button23");
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit14") == QStringLiteral("001"); }, 3s))
        << "the reply before the hang-up still arrives and is decoded";
    ASSERT_EQ(sim.waitForExit(3s), 0) << "the simulator closes the line and ends";
    ASSERT_TRUE(waitUntil([&] { return h.button("Button1")->text() == QStringLiteral("Open"); }, 3s))
        << "the lost line closes the port";
    ASSERT_TRUE(waitUntil([&] { return h.form().PendingCommand() == 0; }, 2s))
        << "the exchange ends once the reply is decoded";
    ASSERT_EQ(h.messages().size(), 1u);
    EXPECT_TRUE(h.messages()[0].text.contains(QStringLiteral("was lost")));

    // Nothing spins once the line is gone: over half a second the process stays nearly idle.
    const auto before = cpuTime();
    testsupport::pumpFor(500ms);
    EXPECT_LT((cpuTime() - before).count(), 250);

    h.click("Button23"); // a later request says at once that nothing was sent
    EXPECT_EQ(h.messageTexts().back(), QStringLiteral("Serial port is not open; nothing was sent."));
    EXPECT_EQ(h.form().PendingCommand(), 0);
}

TEST(SimulatorEndToEnd, ModbusRegistersCarryTheInstrumentsVariablesInTheirWordOrder) {
    SimProcess sim(VX538_SIM_PATH);
    FormHarness h;
    openOnSimulator(h, sim);

    // What the converter does with the instrument's data, as the window reads it: variables 1 to 4 come
    // from command 1 at the offsets of the four dynamic variables, all in the first word order. The
    // query also gives the reply timer its 3000 ms, which the HART requests after it keep.
    h.click("Button19");
    ASSERT_TRUE(waitUntil([&] { return h.text("READADR4") == QStringLiteral("22"); }, 3s))
        << h.receiveField().toStdString();
    for (const char* format : {"FAMOUT1", "FAMOUT2", "FAMOUT3", "FAMOUT4"}) {
        ASSERT_EQ(h.list(format)->currentIndex(), 0) << format;
    }
    // The instrument's variables as the transparent tab shows them; they drift by at most 0.13 kPa,
    // 0.01 degC and 0.06 m3/h a second, so a few seconds later the registers hold nearly the same.
    h.click("Button7");
    ASSERT_TRUE(waitUntil([&] { return !h.text("Edit32").isEmpty(); }, 3s)) << h.receiveField().toStdString();
    h.click("Button16");
    ASSERT_TRUE(waitUntil([&] { return !h.text("Edit30").isEmpty(); }, 4s)) << h.receiveField().toStdString();
    const double pressure = number(h, "Edit25");
    const double temperature = number(h, "Edit26");
    const double flow = number(h, "Edit27");
    const double percent = number(h, "Edit30");

    // The default read: slave 001 (as Edit18 stands), 18 registers from 40001.
    ASSERT_EQ(h.text("Edit18"), QStringLiteral("001"));
    const std::vector<uint16_t> all = registersOf(modbusRead(h, 0, 18), 1, 18);
    ASSERT_EQ(all.size(), 18u);
    EXPECT_EQ(all[0], 0) << "40001 is reserved";
    EXPECT_EQ(all[1], 0) << "40002 is reserved";
    const auto variable = [](const std::vector<uint16_t>& regs, std::size_t first, bool lowWordFirst) {
        return double{registerFloat(regs[first], regs[first + 1], lowWordFirst)};
    };
    EXPECT_NEAR(variable(all, 2, false), pressure, 1.0) << "variable 1 at 40003";
    EXPECT_NEAR(variable(all, 4, false), temperature, 0.1) << "variable 2 at 40005";
    EXPECT_NEAR(variable(all, 6, false), flow, 0.5) << "variable 3 at 40007";
    EXPECT_NEAR(variable(all, 8, false), percent, 0.5) << "variable 4 at 40009";
    // Percent of a 0-200 kPa range: the same moment's pressure halved, whatever the drift.
    EXPECT_NEAR(variable(all, 8, false), variable(all, 2, false) / 2, 1e-4);
    for (std::size_t first = 10; first < 18; first += 2) {
        EXPECT_EQ(variable(all, first, false), 0.0) << "command 2 is closed at the factory: 400" << first + 1;
    }

    // A read of our own: 40005 to 40010, variables 2 to 4.
    const std::vector<uint16_t> some = registersOf(modbusRead(h, 4, 6), 1, 6);
    ASSERT_EQ(some.size(), 6u);
    EXPECT_NEAR(variable(some, 0, false), temperature, 0.1);
    EXPECT_NEAR(variable(some, 2, false), flow, 0.5);
    EXPECT_NEAR(variable(some, 4, false), percent, 0.5);

    // Variable 1 in the second word order; its other fields go back as the query gave them.
    h.list("FAMOUT1")->setCurrentIndex(1);
    ASSERT_TRUE(acknowledged(h, "Button39", "QQS#MDBS1:OK#")) << h.receiveField().toStdString();
    const std::vector<uint16_t> swapped = registersOf(modbusRead(h, 2, 8), 1, 8);
    ASSERT_EQ(swapped.size(), 8u);
    EXPECT_NEAR(variable(swapped, 0, true), pressure, 1.0) << "40003 now holds the low word";
    EXPECT_NEAR(variable(swapped, 0, true), variable(swapped, 6, false) * 2, 2e-4)
        << "variable 4 keeps the first order";
    EXPECT_NEAR(variable(swapped, 2, false), temperature, 0.1) << "variable 2 keeps the first order";

    // A start beyond the map: libmodbus's exception (illegal data address), shown as it came.
    const std::vector<uint8_t> refused = modbusRead(h, 100, 1);
    EXPECT_EQ(refused.size(), 5u);
    EXPECT_EQ(
        std::vector<uint8_t>(refused.begin(), refused.begin() + std::min<std::size_t>(3, refused.size())),
        (std::vector<uint8_t>{0x01, 0x83, 0x02}));
    EXPECT_TRUE(crcHolds(refused));
    EXPECT_EQ(h.form().PendingCommand(), 302) << "the reply is shown, not decoded";
    EXPECT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
}

TEST(SimulatorEndToEnd, ParseFormatSetIsReadBack) {
    SimProcess sim(VX538_SIM_PATH);
    {
        // Another session of the tool changes variable 6 first: only the converter keeps it.
        FormHarness earlier;
        openOnSimulator(earlier, sim);
        earlier.list("FAMOUT6")->setCurrentIndex(1);
        earlier.setText("READADR6", QStringLiteral("31"));
        earlier.list("READLG6")->setCurrentIndex(1);
        earlier.setText("Xishou6", QStringLiteral("12.3456")); // goes out as its first five characters
        ASSERT_TRUE(acknowledged(earlier, "Button47", "QQS#MDBS6:OK#"))
            << earlier.receiveField().toStdString();
    }
    FormHarness h;
    openOnSimulator(h, sim);
    h.list("FAMOUT3")->setCurrentIndex(1);
    h.setText("READADR3", QStringLiteral("15"));
    h.list("READLG3")->setCurrentIndex(1);
    h.setText("Xishou3", QStringLiteral("2.500"));
    ASSERT_TRUE(acknowledged(h, "Button44", "QQS#MDBS3:OK#")) << h.receiveField().toStdString();
    h.list("ComboBox15")->setCurrentIndex(1); // "5"
    ASSERT_TRUE(acknowledged(h, "Button50", "QQS#MDL:OK#")) << h.receiveField().toStdString();

    // Forget what was typed, so only the converter's reply can put it back.
    h.list("FAMOUT3")->setCurrentIndex(0);
    h.setText("READADR3", QString());
    h.list("READLG3")->setCurrentIndex(2);
    h.setText("Xishou3", QStringLiteral("1.000"));
    h.list("ComboBox15")->setCurrentIndex(4);

    h.click("Button19");
    ASSERT_TRUE(waitUntil([&] { return h.text("READADR3") == QStringLiteral("15"); }, 3s))
        << h.receiveField().toStdString();
    EXPECT_EQ(h.text("ComboBox15"), QStringLiteral("5"));
    struct Row {
        int format;
        const char* address;
        int length;
        const char* coefficient;
    };
    // The two rows set, and the factory's everywhere else.
    const Row expected[8] = {{0, "07", 0, "1.000"}, {0, "12", 0, "1.000"}, {1, "15", 1, "2.500"},
                             {0, "22", 0, "1.000"}, {0, "02", 0, "1.000"}, {1, "31", 1, "12.34"},
                             {0, "02", 0, "1.000"}, {0, "06", 0, "1.000"}};
    for (int n = 1; n <= 8; ++n) {
        const Row& row = expected[n - 1];
        const auto name = [n](const char* stem) { return QByteArray(stem) + QByteArray::number(n); };
        EXPECT_EQ(h.list(name("FAMOUT"))->currentIndex(), row.format) << "variable " << n;
        EXPECT_EQ(h.text(name("READADR")), QLatin1String(row.address)) << "variable " << n;
        EXPECT_EQ(h.list(name("READLG"))->currentIndex(), row.length) << "variable " << n;
        EXPECT_EQ(h.text(name("Xishou")), QLatin1String(row.coefficient)) << "variable " << n;
    }
    EXPECT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
}

TEST(SimulatorEndToEnd, CustomHartCommandsSetAreReadBack) {
    SimProcess sim(VX538_SIM_PATH);
    FormHarness h;
    openOnSimulator(h, sim);

    // Polling parameters unlike the factory's (on, master, meter type 00, 5 preambles, 010 s).
    h.list("ComboBox6")->setCurrentIndex(0);
    h.list("ComboBox16")->setCurrentIndex(0);
    h.list("ComboBox17")->setCurrentIndex(1);
    h.list("ComboBox34")->setCurrentIndex(5); // "9"
    h.setText("Edit2", QStringLiteral("120"));
    ASSERT_TRUE(acknowledged(h, "Button9", "QQS#HART0:OK#")) << h.receiveField().toStdString();
    // Command 1 at its longest, with raw bytes that look like a text frame's end and a preamble: the
    // converter goes by the count, not by what the bytes look like.
    const QString command1 = QStringLiteral("82 A6 0C 0A 1B 2C 03 00 23 51 51 51 23 FF");
    h.list("ComboBox28")->setCurrentIndex(0);
    h.setText("Edit4", command1);
    ASSERT_TRUE(acknowledged(h, "Button17", "QQS#CAMD01:OK#")) << h.receiveField().toStdString();
    const QString command2 = QStringLiteral("76 89 FD AD");
    h.list("ComboBox29")->setCurrentIndex(1);
    h.setText("Edit5", command2);
    ASSERT_TRUE(acknowledged(h, "Button18", "QQS#CAMD02:OK#")) << h.receiveField().toStdString();

    // Forget what was typed, so only the converter's reply can put it back.
    h.list("ComboBox6")->setCurrentIndex(1);
    h.list("ComboBox16")->setCurrentIndex(1);
    h.list("ComboBox17")->setCurrentIndex(0);
    h.list("ComboBox34")->setCurrentIndex(0);
    h.setText("Edit2", QString());
    h.list("ComboBox28")->setCurrentIndex(1);
    h.setText("Edit4", QString());
    h.list("ComboBox29")->setCurrentIndex(0);
    h.setText("Edit5", QString());

    h.click("Button31");
    ASSERT_TRUE(waitUntil([&] { return h.text("Edit2") == QStringLiteral("120"); }, 3s))
        << h.receiveField().toStdString();
    EXPECT_EQ(h.text("ComboBox6"), QStringLiteral("0 Close"));
    EXPECT_EQ(h.text("ComboBox16"), QStringLiteral("Secondary Master Device"));
    EXPECT_EQ(h.text("ComboBox17"), QStringLiteral("1)Currency Meter"));
    EXPECT_EQ(h.text("ComboBox34"), QStringLiteral("9"));
    EXPECT_EQ(h.text("ComboBox28"), QStringLiteral("0 Close"));
    EXPECT_EQ(h.text("Edit4"), command1);
    EXPECT_EQ(h.text("ComboBox29"), QStringLiteral("1 Open"));
    EXPECT_EQ(h.text("Edit5"), command2);
    EXPECT_EQ(h.text("ComboBox41"), QStringLiteral("Device 0"));
    EXPECT_TRUE(h.messages().empty()) << h.messageTexts().front().toStdString();
}
