// The real window against the simulated converter (vx538-sim as a child process on its own
// pseudo-terminal): what the window sets is what it reads back, the HART instrument's values land in
// their fields, and a dead or unplugged converter is met with the timeout message or survived.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include "tests/support/FormHarness.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"

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

bool receiveFieldIs(const FormHarness& h, const QString& text) {
    return h.receiveField() == text;
}

double number(const FormHarness& h, const char* field) {
    bool ok = false;
    const double value = h.text(field).toDouble(&ok);
    EXPECT_TRUE(ok) << field << " holds " << h.text(field).toStdString();
    return value;
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
    h.click("Button29");
    ASSERT_TRUE(waitUntil([&] { return receiveFieldIs(h, QStringLiteral("QQS#ADR:OK#")); }, 3s))
        << h.receiveField().toStdString();
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
    h.click("Button5");
    ASSERT_TRUE(waitUntil([&] { return receiveFieldIs(h, QStringLiteral("QQS#DA3:OK#")); }, 3s))
        << h.receiveField().toStdString();

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
