// The interpreter takes any bytes: random byte strings and damaged copies of real frames, each in a
// heap block of exactly its length so that a read past the end is caught under AddressSanitizer, read
// alone and against a request. A reply inside noise reads as the reply itself with the noise counted.
// The fuzz target goes further; this runs with every test run.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "tools/ModbusCrc.h"
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

// A copy of the bytes in a heap block of exactly their length.
class Exact {
public:
    explicit Exact(const std::string& bytes)
        : size_(bytes.size()), block_(std::make_unique<uint8_t[]>(size_ == 0 ? 1 : size_)) {
        if (size_ > 0) {
            std::memcpy(block_.get(), bytes.data(), size_);
        }
    }
    std::span<const uint8_t> span() const { return {block_.get(), size_}; }

private:
    std::size_t size_;
    std::unique_ptr<uint8_t[]> block_;
};

// Interprets `bytes`, alone and against `request`, and checks the meaning is one line and the frame
// it describes lies inside the bytes.
void interpretExactly(const std::string& bytes, Direction direction, int32_t pending,
                      const std::string& request = {}) {
    const Exact block(bytes);
    const std::string meaning = traffic::Interpret(block.span(), direction, pending);
    ASSERT_FALSE(meaning.empty());
    ASSERT_EQ(meaning.find_first_of("\t\r\n"), std::string::npos) << meaning;
    const Exact asked(request);
    const traffic::Reading reading = traffic::Read(block.span(), direction, pending, asked.span());
    ASSERT_FALSE(reading.meaning.empty());
    ASSERT_EQ(reading.meaning.find_first_of("\t\r\n"), std::string::npos) << reading.meaning;
    ASSERT_LE(reading.frameOffset + reading.frameLength, bytes.size()) << reading.meaning;
    // A verdict about a frame places it.
    const bool aboutAFrame =
        reading.verdict != traffic::Verdict::None && reading.verdict != traffic::Verdict::Unexpected;
    ASSERT_TRUE(!aboutAFrame || reading.frameLength > 0) << reading.meaning;
    if (request.empty()) {
        ASSERT_EQ(reading.meaning, meaning);
    }
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
        // Against a request of any kind, a request of its own bytes (an echo), or none.
        const std::size_t pick = below(kSeeds.size() + 2);
        const std::string request = pick < kSeeds.size() ? kSeeds[pick] : pick == kSeeds.size() ? bytes : "";
        interpretExactly(bytes, direction, kPendingCommands[below(std::size(kPendingCommands))], request);
        if (HasFatalFailure()) {
            return;
        }
    }
}

namespace {

std::string withCrc(std::string frame) {
    const tools::CrcBytes crc =
        tools::ModbusCrc16({reinterpret_cast<const uint8_t*>(frame.data()), frame.size()});
    frame.push_back(static_cast<char>(crc.low));
    frame.push_back(static_cast<char>(crc.high));
    return frame;
}

std::string counted(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// What the noise around a found reply adds to its meaning.
std::string noiseNote(std::size_t before, std::size_t after) {
    if (before > 0 && after > 0) {
        return "; " + counted(before) + " of noise before it and " + std::to_string(after) + " after it";
    }
    if (before > 0 || after > 0) {
        return "; " + counted(before + after) + " of noise " + (before > 0 ? "before" : "after") + " it";
    }
    return {};
}

} // namespace

TEST(InterpreterProperty, AReplyInsideNoiseReadsAsItselfWithTheNoiseCounted) {
    const struct {
        std::string request;
        std::string reply;
        int32_t pending;
    } exchanges[] = {
        {kSeeds[11], withCrc(std::string("\x01\x03\x24", 3) + std::string(36, '\x07')), 302},
        {kSeeds[11], withCrc(std::string("\x01\x83\x02", 3)), 302},
        {withCrc(std::string("\x01\x06\x00\x02\x12\x34", 6)), withCrc(std::string("\x01\x86\x02", 3)), 302},
        {std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x02\x80\x00\x00\x82", 12), kSeeds[15], 100},
        {"QQQ#QX1#", "QQQ#QX1:ADR:001,BA1:30,BA2:30,MD:0,JTM:010#", 201},
        {"QQQ#QX1#", "QQQ#QX1:ADR:00", 201},
        {"QQS#ADR:005#", "QQS#ADR:OK#", 200},
        {"QQQ#AV0O:100.0#", "QQQ#AV0O:ERR#", 201},
    };
    std::mt19937 random(538);
    // Noise of bytes that begin no frame of these: no slave address 1, no preamble, no text.
    std::uniform_int_distribution<int> noiseByte(0x80, 0xFE);
    std::uniform_int_distribution<std::size_t> noiseLength(0, 6);
    const auto noise = [&] {
        std::string bytes(noiseLength(random), '\0');
        for (char& c : bytes) {
            c = static_cast<char>(noiseByte(random));
        }
        return bytes;
    };
    for (const auto& exchange : exchanges) {
        SCOPED_TRACE(exchange.reply);
        const Exact request(exchange.request);
        const traffic::Reading alone = traffic::Read(Exact(exchange.reply).span(), Direction::Received,
                                                     exchange.pending, request.span());
        ASSERT_NE(alone.verdict, traffic::Verdict::Unexpected) << alone.meaning;
        for (int round = 0; round < 200; ++round) {
            const std::string before = noise();
            const std::string after = noise();
            const traffic::Reading noisy =
                traffic::Read(Exact(before + exchange.reply + after).span(), Direction::Received,
                              exchange.pending, request.span());
            ASSERT_EQ(noisy.verdict, alone.verdict) << noisy.meaning;
            ASSERT_EQ(noisy.frameOffset, before.size() + alone.frameOffset) << noisy.meaning;
            ASSERT_EQ(noisy.frameLength, alone.frameLength) << noisy.meaning;
            ASSERT_EQ(noisy.meaning, alone.meaning + noiseNote(before.size(), after.size()));
        }
    }
}
