// The component's constructed state and what it does while closed.
#include <gtest/gtest.h>

#include "serial/SerialComm.h"

namespace {

using serial::TComm;

TEST(CommConstructed, PublishedPropertiesHaveTheirStartValues) {
    TComm comm;
    EXPECT_EQ(comm.CommName(), "COM2");
    EXPECT_EQ(comm.BaudRate(), 9600u);
    EXPECT_FALSE(comm.ParityCheck());
    EXPECT_FALSE(comm.Outx_CtsFlow());
    EXPECT_FALSE(comm.Outx_DsrFlow());
    EXPECT_EQ(comm.DtrControl(), serial::TDtrControl::DtrEnable);
    EXPECT_FALSE(comm.DsrSensitivity());
    EXPECT_TRUE(comm.TxContinueOnXoff());
    EXPECT_TRUE(comm.Outx_XonXoffFlow());
    EXPECT_TRUE(comm.Inx_XonXoffFlow());
    EXPECT_FALSE(comm.ReplaceWhenParityError());
    EXPECT_FALSE(comm.IgnoreNullChar());
    EXPECT_EQ(comm.RtsControl(), serial::TRtsControl::RtsEnable);
    EXPECT_EQ(comm.XonLimit(), 500);
    EXPECT_EQ(comm.XoffLimit(), 500);
    EXPECT_EQ(comm.ByteSize(), serial::TByteSize::_8);
    EXPECT_EQ(comm.Parity(), serial::TParity::None);
    EXPECT_EQ(comm.StopBits(), serial::TStopBits::_1);
    EXPECT_EQ(comm.XonChar(), 17);
    EXPECT_EQ(comm.XoffChar(), 19);
    EXPECT_EQ(comm.ReplacedChar(), 0);
    EXPECT_EQ(comm.ReadIntervalTimeout(), 100u);
    EXPECT_EQ(comm.ReadTotalTimeoutMultiplier(), 0u);
    EXPECT_EQ(comm.ReadTotalTimeoutConstant(), 0u);
    EXPECT_EQ(comm.WriteTotalTimeoutMultiplier(), 0u);
    EXPECT_EQ(comm.WriteTotalTimeoutConstant(), 0u);
    EXPECT_FALSE(comm.OnReceiveData);
    EXPECT_FALSE(comm.OnReceiveError);
    EXPECT_FALSE(comm.OnModemStateChange);
    EXPECT_FALSE(comm.OnRequestHangup);
    EXPECT_FALSE(comm.OnSendDataEmpty);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_TRUE(comm.IsSendQueueEmpty());
}

// The settings are computed from the ordinals, and stored forms name them in this order.
TEST(CommEnumerations, OrdinalsAreInDocumentedOrder) {
    EXPECT_EQ(static_cast<int>(serial::TParity::Space), 4);
    EXPECT_EQ(static_cast<int>(serial::TParity::Mark), 3);
    EXPECT_EQ(static_cast<int>(serial::TParity::Even), 2);
    EXPECT_EQ(static_cast<int>(serial::TParity::Odd), 1);
    EXPECT_EQ(static_cast<int>(serial::TStopBits::_1_5), 1);
    EXPECT_EQ(static_cast<int>(serial::TStopBits::_2), 2);
    EXPECT_EQ(static_cast<int>(serial::TByteSize::_5), 0);
    EXPECT_EQ(static_cast<int>(serial::TByteSize::_8), 3);
    EXPECT_EQ(static_cast<int>(serial::TDtrControl::DtrHandshake), 2);
    EXPECT_EQ(static_cast<int>(serial::TRtsControl::RtsTransmissionAvailable), 3);
}

TEST(CommClosed, SendDataRefusesAndCloseIsHarmless) {
    TComm comm;
    const char bytes[] = "abc";
    EXPECT_FALSE(comm.SendData(bytes, 3));
    EXPECT_FALSE(comm.SendData(bytes, 0));
    comm.ClosePort();
    comm.ClosePort();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_TRUE(comm.IsSendQueueEmpty());
}

// While closed every setter only stores; nothing is opened by assigning.
TEST(CommClosed, SettersStoreWithoutOpening) {
    TComm comm;
    comm.SetCommName("/dev/does-not-exist");
    comm.SetBaudRate(57600);
    comm.SetParity(serial::TParity::Mark);
    comm.SetByteSize(serial::TByteSize::_7);
    comm.SetReadIntervalTimeout(400);
    EXPECT_EQ(comm.CommName(), "/dev/does-not-exist");
    EXPECT_EQ(comm.BaudRate(), 57600u);
    EXPECT_EQ(comm.Parity(), serial::TParity::Mark);
    EXPECT_EQ(comm.ByteSize(), serial::TByteSize::_7);
    EXPECT_EQ(comm.ReadIntervalTimeout(), 400u);
    EXPECT_FALSE(comm.IsOpen());
}

} // namespace
