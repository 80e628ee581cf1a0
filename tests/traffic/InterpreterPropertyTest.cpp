// The interpreter takes any bytes: random byte strings and damaged copies of real frames, each in a
// heap block of exactly its length so that a read past the end is caught under AddressSanitizer.
// The fuzz target goes further; this runs with every test run.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "traffic/Interpreter.h"

using traffic::Direction;

namespace {

constexpr int32_t kPendingCommands[] = {0, 100, 103, 104, 106, 200, 201, 202, 203, 204, 206, 302, -1, 999};

// Frames of every kind the window sends or receives, as seeds for damage.
const std::vector<std::string> kSeeds = {
    "QQQ#QX1#",
    "QQS#DA1:1,42C80000,00000000#",
    "QQS#MDBS1:0,05,0,1.000#",
    "QQS#HART0:1,0,01,9,120#",
    std::string("QQS#CAMD01:1<04,\x76\x89\xFD\xAD", 20),
    "TAVRIK#PCBSN:00000123,102#",
    "QQQ#AV0O:100.0#",
    "QX1,ADR:005,BA1:30,BA2:41,MD:1,JTM:012#",
    "QX2 DL:0 DA1:2,41200000,3F800000",
    "QX3 HART0:1,0,01,6,010# CAMD01:1<04,76 89 FD AD#",
    "QX4 MDL:6 MDBS 3:1,07,1,0.500",
    std::string("\x01\x03\x00\x00\x00\x12\xC5\xC7", 8),
    std::string("\x01\x03\x04\x42\xC8\x00\x00\xAB\x1B", 9),
    std::string("\x01\x83\x02\xC0\xF1", 5),
    std::string("\x01\x10\x00\x01\x00\x02\x04\x00\x0A\x01\x02\x92\x30", 13),
    std::string(
        "\xFF\xFF\xFF\xFF\xFF\x06\x80\x00\x0E\x00\x00\xFE\x26\x06\x05\x05\x01\x03\x08\x00\x00\x12\x34\x7A",
        24),
    std::string("\xFF\xFF\x86\xA6\x06\x00\x12\x34\x03\x1A\x00\x00\x40\x80\x00\x00\x20\x41\xC8\x00\x00", 21),
    std::string("\xFF\xFF\xE2\x80\x01\x02\x00\x00", 8), // expansion bytes in the delimiter
};

// Interprets `bytes` from a heap block of exactly their length and checks the meaning is one line.
void interpretExactly(const std::string& bytes, Direction direction, int32_t pending) {
    const std::size_t size = bytes.size();
    const auto block = std::make_unique<uint8_t[]>(size == 0 ? 1 : size);
    if (size > 0) {
        std::memcpy(block.get(), bytes.data(), size);
    }
    const std::string meaning = traffic::Interpret({block.get(), size}, direction, pending);
    ASSERT_FALSE(meaning.empty());
    ASSERT_EQ(meaning.find_first_of("\t\r\n"), std::string::npos) << meaning;
}

} // namespace

TEST(InterpreterProperty, EveryPrefixOfEverySeedInEveryContext) {
    for (const std::string& seed : kSeeds) {
        for (std::size_t length = 0; length <= seed.size(); ++length) {
            for (int32_t pending : kPendingCommands) {
                for (Direction direction : {Direction::Sent, Direction::Received}) {
                    interpretExactly(seed.substr(0, length), direction, pending);
                }
            }
        }
    }
}

TEST(InterpreterProperty, RandomBytesAndDamagedFrames) {
    std::mt19937 random(20240613);
    const auto below = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    // Bytes drawn mostly from the ones the readers look for, so that the deep paths are reached.
    static constexpr char kAlphabet[] = "\xFF\x02\x06\x82\x86\x01\x03\x83\x00#:,<QXSDAHRTMCBL0123456789";
    const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
    const auto randomByte = [&] {
        return below(2) == 0 ? static_cast<char>(below(256)) : alphabet[below(alphabet.size())];
    };
    for (int round = 0; round < 40000; ++round) {
        std::string bytes;
        if (below(2) == 0) {
            bytes.resize(below(300));
            for (char& c : bytes) {
                c = randomByte();
            }
        } else {
            bytes = kSeeds[below(kSeeds.size())];
            for (std::size_t damage = below(4) + 1; damage > 0; --damage) {
                const std::size_t at = bytes.empty() ? 0 : below(bytes.size());
                switch (below(3)) {
                case 0: // change a byte
                    if (!bytes.empty()) {
                        bytes[at] = randomByte();
                    }
                    break;
                case 1: // insert one
                    bytes.insert(bytes.begin() + static_cast<long>(at), randomByte());
                    break;
                default: // cut the end off
                    bytes.resize(at);
                    break;
                }
            }
        }
        const Direction direction = below(2) == 0 ? Direction::Sent : Direction::Received;
        interpretExactly(bytes, direction, kPendingCommands[below(std::size(kPendingCommands))]);
        if (HasFatalFailure()) {
            return;
        }
    }
}
