// What the component puts on the line, read back from the other side of the pseudo-terminal.
#include <fcntl.h>
#include <unistd.h>

#include "serial/LineSettings.h"
#include "serial/Termios2.h"
#include "tests/serial/CommFixture.h"
#include "tests/support/LineReadback.h"

namespace serialtest {
namespace {

using serial::TByteSize;
using serial::TParity;
using serial::TStopBits;
using testsupport::LineReadback;
using testsupport::readLine;

// Every parity, data size and stop-bit count as the component composes them for the driver.
TEST(LineTermios, FramingOfEveryCombination) {
    for (int p = 0; p <= 4; ++p) {
        for (int b = 0; b <= 3; ++b) {
            for (int s = 0; s <= 2; ++s) {
                SCOPED_TRACE("parity " + std::to_string(p) + " size " + std::to_string(b) + " stop " + std::to_string(s));
                serial::LineSettings settings;
                settings.parity = static_cast<TParity>(p);
                settings.byteSize = static_cast<TByteSize>(b);
                settings.stopBits = static_cast<TStopBits>(s);
                serial::SavedTermios t;
                ASSERT_TRUE(serial::composeLineTermios(settings, t));
                const LineReadback line = testsupport::decodeTermios2(t.bytes.data());
                EXPECT_EQ(line.dataBits, b + 5);
                EXPECT_EQ(line.parityEnabled, p != 0);
                EXPECT_EQ(line.parityOdd, p == 1 || p == 3); // mark is the odd bit held constant
                EXPECT_EQ(line.markOrSpace, p == 3 || p == 4);
                EXPECT_EQ(line.twoStopBits, s != 0); // 1.5 is the UART's reading of it with 5 bits
                EXPECT_EQ(line.outputSpeed, 9600u);
            }
        }
    }
}

TEST(LineTermios, ZeroRateIsRefusedRatherThanHangingUp) {
    serial::LineSettings settings;
    settings.baudRate = 0;
    serial::SavedTermios t;
    EXPECT_FALSE(serial::composeLineTermios(settings, t));
}

// What a pseudo-terminal keeps of the framing (all but the data size and parity-enable bit) is what
// was asked for, applied at open.
TEST_F(CommTest, FramingReachesTheLine) {
    for (int p = 0; p <= 4; ++p) {
        for (int s = 0; s <= 2; ++s) {
            SCOPED_TRACE("parity " + std::to_string(p) + " stop " + std::to_string(s));
            comm.SetParity(static_cast<TParity>(p));
            comm.SetStopBits(static_cast<TStopBits>(s));
            comm.OpenPort();
            const LineReadback line = readLine(pty.masterFd());
            comm.ClosePort();
            EXPECT_EQ(line.parityOdd, p == 1 || p == 3);
            EXPECT_EQ(line.markOrSpace, p == 3 || p == 4);
            EXPECT_EQ(line.twoStopBits, s != 0);
        }
    }
}

TEST_F(CommTest, OpenPutsTheLineInRawBinaryMode) {
    ASSERT_TRUE(testsupport::setCookedLine(pty.masterFd()));
    comm.OpenPort();
    const LineReadback line = readLine(pty.masterFd());
    EXPECT_FALSE(line.canonical);
    EXPECT_FALSE(line.echoes);
    EXPECT_FALSE(line.signalChars);
    EXPECT_FALSE(line.translatesInput);
    EXPECT_FALSE(line.postProcessesOutput);
    EXPECT_FALSE(line.parityCheck);
    EXPECT_FALSE(line.ctsRtsFlow);
    EXPECT_TRUE(line.receiverOn);
    EXPECT_TRUE(line.ignoresCarrier);
    EXPECT_EQ(line.minChars, 1);
    EXPECT_EQ(line.readTime, 0);
    EXPECT_EQ(line.outputSpeed, 9600u);
    EXPECT_FALSE(line.parityOdd);
    EXPECT_FALSE(line.twoStopBits);
}

class CommBaudTest : public CommTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(CommBaudTest, AnyIntegerRateIsSetExactly) {
    comm.SetBaudRate(GetParam());
    comm.OpenPort();
    const LineReadback line = readLine(pty.masterFd());
    EXPECT_TRUE(line.arbitrarySpeed);
    EXPECT_EQ(line.outputSpeed, GetParam());
    EXPECT_EQ(line.inputSpeed, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rates, CommBaudTest,
                         ::testing::Values(50u, 1200u, 9600u, 38400u, 57600u, 115200u, 250000u, 1000000u, 3000000u));

TEST_F(CommTest, FlowControlAndItsCharactersReachTheLine) {
    struct Case {
        bool outXonXoff, inXonXoff, outCts;
        serial::TRtsControl rts;
        bool parityCheck;
        bool wantCrtscts;
    };
    const Case cases[] = {
        {false, false, false, serial::TRtsControl::RtsEnable, false, false},
        {true, false, false, serial::TRtsControl::RtsEnable, false, false},
        {false, true, false, serial::TRtsControl::RtsDisable, false, false},
        {true, true, false, serial::TRtsControl::RtsEnable, true, false},
        {false, false, true, serial::TRtsControl::RtsEnable, false, true},
        {false, false, false, serial::TRtsControl::RtsHandshake, false, true},
        {false, false, false, serial::TRtsControl::RtsTransmissionAvailable, true, false},
    };
    char xon = 'A';
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("xon char ") + xon);
        comm.SetOutx_XonXoffFlow(c.outXonXoff);
        comm.SetInx_XonXoffFlow(c.inXonXoff);
        comm.SetOutx_CtsFlow(c.outCts);
        comm.SetRtsControl(c.rts);
        comm.SetParityCheck(c.parityCheck);
        comm.SetXonChar(xon);
        comm.SetXoffChar(static_cast<char>(xon + 1));
        comm.OpenPort();
        const LineReadback line = readLine(pty.masterFd());
        comm.ClosePort();
        EXPECT_EQ(line.xonXoffOutput, c.outXonXoff);
        EXPECT_EQ(line.xonXoffInput, c.inXonXoff);
        EXPECT_EQ(line.ctsRtsFlow, c.wantCrtscts);
        EXPECT_EQ(line.parityCheck, c.parityCheck);
        EXPECT_EQ(line.startChar, static_cast<uint8_t>(xon));
        EXPECT_EQ(line.stopChar, static_cast<uint8_t>(xon + 1));
        ++xon;
    }
}

TEST_F(CommTest, BaudRateChangeWhileOpenTakesEffectAtOnce) {
    comm.OpenPort();
    comm.SetBaudRate(250000);
    EXPECT_EQ(readLine(pty.masterFd()).outputSpeed, 250000u);
    comm.SetStopBits(TStopBits::_2);
    EXPECT_TRUE(readLine(pty.masterFd()).twoStopBits);
    comm.SetOutx_XonXoffFlow(true);
    EXPECT_TRUE(readLine(pty.masterFd()).xonXoffOutput);
    comm.SetRtsControl(serial::TRtsControl::RtsHandshake);
    EXPECT_TRUE(readLine(pty.masterFd()).ctsRtsFlow);
}

TEST_F(CommTest, ParityChangeWhileOpenWaitsForTheNextOpen) {
    comm.OpenPort();
    comm.SetParity(TParity::Mark);
    EXPECT_EQ(comm.Parity(), TParity::Mark);
    EXPECT_FALSE(readLine(pty.masterFd()).parityOdd);
    EXPECT_FALSE(readLine(pty.masterFd()).markOrSpace);
    comm.ClosePort();
    comm.OpenPort();
    const LineReadback line = readLine(pty.masterFd());
    EXPECT_TRUE(line.parityOdd);
    EXPECT_TRUE(line.markOrSpace);
}

TEST_F(CommTest, CommNameChangeWhileOpenWaitsForTheNextOpen) {
    testsupport::PtyPeer other;
    openAndSettle();
    comm.SetCommName(other.slavePath());
    ASSERT_TRUE(sendText("still here"));
    EXPECT_EQ(pty.readAtLeast(10, 2000ms), "still here");
    comm.ClosePort();
    comm.OpenPort();
    ASSERT_TRUE(sendText("moved"));
    EXPECT_EQ(other.readAtLeast(5, 2000ms), "moved");
}

// The other side changes the speed behind the component's back: an assignment of the stored value
// leaves it so, a changed value applies every line setting again.
TEST_F(CommTest, UnchangedAssignmentDoesNothingChangedOneReappliesAll) {
    comm.OpenPort();
    ASSERT_TRUE(testsupport::setLineSpeed(pty.masterFd(), 4800));
    comm.SetBaudRate(9600);
    comm.SetOutx_CtsFlow(false);
    comm.SetXonChar(17);
    comm.SetByteSize(TByteSize::_8);
    comm.SetDtrControl(serial::TDtrControl::DtrEnable);
    comm.SetParity(TParity::None);
    EXPECT_EQ(readLine(pty.masterFd()).outputSpeed, 4800u);
    comm.SetXoffLimit(400); // a setting Linux has no use for still re-applies the others
    EXPECT_EQ(readLine(pty.masterFd()).outputSpeed, 9600u);
}

TEST_F(CommTest, CloseRestoresTheSettingsFoundAtOpen) {
    ASSERT_TRUE(testsupport::setCookedLine(pty.masterFd()));
    const LineReadback before = readLine(pty.masterFd());
    comm.SetBaudRate(115200);
    comm.OpenPort();
    EXPECT_EQ(readLine(pty.masterFd()).outputSpeed, 115200u);
    comm.ClosePort();
    const LineReadback after = readLine(pty.masterFd());
    EXPECT_EQ(after.outputSpeed, 4800u);
    EXPECT_TRUE(after.canonical);
    EXPECT_TRUE(after.echoes);
    EXPECT_TRUE(after.postProcessesOutput);
    EXPECT_EQ(after.dataBits, before.dataBits);
    EXPECT_EQ(after.parityEnabled, before.parityEnabled);
    EXPECT_EQ(after.twoStopBits, before.twoStopBits);
}

TEST_F(CommTest, PortIsHeldExclusivelyWhileOpen) {
    const int probe = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    EXPECT_FALSE(testsupport::isExclusive(probe));
    comm.OpenPort();
    EXPECT_TRUE(testsupport::isExclusive(probe));
    // A second component (another program would be the same) cannot have the port meanwhile.
    serial::TComm second;
    second.SetCommName(pty.slavePath());
    try {
        second.OpenPort();
        ADD_FAILURE() << "a second open of a held port succeeded";
    } catch (const serial::ECommsError& e) {
        EXPECT_STREQ(e.what(), "Error opening serial port");
    }
    comm.ClosePort();
    EXPECT_FALSE(testsupport::isExclusive(probe));
    EXPECT_NO_THROW(second.OpenPort());
    ::close(probe);
}

} // namespace
} // namespace serialtest
