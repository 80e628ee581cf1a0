// What the tests of vx538 share: the program and the simulator as child processes in a temporary
// folder of the test's own, and frames made with their checks.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "hart/HartFrames.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/SimProcess.h"
#include "tools/Bytes.h"
#include "tools/ModbusCrc.h"

namespace vx538test {

namespace fs = std::filesystem;
using testsupport::ProgramResult;
using testsupport::RunProgram;
using testsupport::SimProcess;

inline std::string withCrc(std::string frame) {
    const auto crc = tools::ModbusCrc16(tools::bytesOf(frame));
    return frame + static_cast<char>(crc.low) + static_cast<char>(crc.high);
}

inline std::string hartReply(std::string body) {
    return std::string(5, '\xFF') + body + static_cast<char>(hart::CheckByte(tools::bytesOf(body)));
}

class Vx538 : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vx538-test-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    SimProcess& sim(std::vector<std::string> options = {}) {
        sims_.push_back(std::make_unique<SimProcess>(VX538_SIM_PATH, options));
        return *sims_.back();
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static ProgramResult vx538(std::vector<std::string> arguments,
                               std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        return RunProgram(VX538_PATH, arguments, limit);
    }
    static std::string read(const std::string& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void write(const std::string& file, const std::string& text) { std::ofstream(file) << text; }

    fs::path dir_;
    std::vector<std::unique_ptr<SimProcess>> sims_;
};

} // namespace vx538test
