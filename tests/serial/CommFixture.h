// Shared fixture of the serial tests: a TComm on the slave side of a pseudo-terminal, every event
// recorded, the test playing the converter on the master side.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serial/SerialComm.h"
#include "tests/support/PtyPeer.h"
#include "tests/support/Wait.h"

namespace serialtest {

using namespace std::chrono_literals;

// Everything a TComm reported, in the order it ran.
struct EventLog {
    std::vector<std::string> blocks;
    bool everyBlockZeroTerminated = true;
    std::vector<uint32_t> lineErrors;
    std::vector<uint32_t> modemEvents;
    int hangups = 0;
    int sendEmpty = 0;
    std::vector<std::string> order; // "data", "error", "modem", "hangup", "empty"

    std::string joined() const {
        std::string all;
        for (const auto& b : blocks) {
            all += b;
        }
        return all;
    }
};

inline void recordEvents(serial::TComm& comm, EventLog& log) {
    comm.OnReceiveData = [&log, &comm](serial::TComm* sender, const uint8_t* buffer, uint16_t length) {
        EXPECT_EQ(sender, &comm);
        log.blocks.emplace_back(reinterpret_cast<const char*>(buffer), length);
        log.everyBlockZeroTerminated = log.everyBlockZeroTerminated && buffer[length] == 0;
        log.order.push_back("data");
    };
    comm.OnReceiveError = [&log](serial::TComm*, uint32_t mask) {
        log.lineErrors.push_back(mask);
        log.order.push_back("error");
    };
    comm.OnModemStateChange = [&log](serial::TComm*, uint32_t bits) {
        log.modemEvents.push_back(bits);
        log.order.push_back("modem");
    };
    comm.OnRequestHangup = [&log](serial::TComm*) {
        ++log.hangups;
        log.order.push_back("hangup");
    };
    comm.OnSendDataEmpty = [&log](serial::TComm*) {
        ++log.sendEmpty;
        log.order.push_back("empty");
    };
}

class CommTest : public ::testing::Test {
protected:
    void SetUp() override {
        comm.SetCommName(pty.slavePath());
        // Binary transparency: no byte of the test data is taken as flow control.
        comm.SetOutx_XonXoffFlow(false);
        comm.SetInx_XonXoffFlow(false);
        // Short blocks keep the suite fast where the interval itself is not under test.
        comm.SetReadIntervalTimeout(50);
        recordEvents(comm, log);
    }

    // Opens the port and waits for the writer's first "queue empty", so the threads are running.
    void openAndSettle() {
        comm.OpenPort();
        ASSERT_TRUE(testsupport::waitUntil([&] { return log.sendEmpty >= 1; }));
    }

    bool waitForBlocks(std::size_t count, std::chrono::milliseconds timeout = 5000ms) {
        return testsupport::waitUntil([&] { return log.blocks.size() >= count; }, timeout);
    }

    bool sendText(const std::string& text) {
        return comm.SendData(text.data(), static_cast<uint16_t>(text.size()));
    }

    testsupport::PtyPeer pty; // declared first: the component lets go of the port before it closes
    serial::TComm comm;
    EventLog log;
};

} // namespace serialtest
