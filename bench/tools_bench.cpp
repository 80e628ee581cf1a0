// Timing of the float text shown in every numeric field and of the MODBUS CRC; prints figures only.
#include "tools/Conversions.h"
#include "tools/ModbusCrc.h"

#include <bit>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main() {
    // Single values widened (what the calculator and the replies show), doubles of every
    // magnitude, and plain integers: both notations and the special values.
    std::mt19937_64 rng(12345);
    std::uniform_int_distribution<uint64_t> bits;
    std::uniform_int_distribution<int> small(-100000, 100000);
    std::vector<double> values;
    values.reserve(100000);
    for (int i = 0; i < 40000; ++i)
        values.push_back(std::bit_cast<float>(static_cast<uint32_t>(bits(rng))));
    for (int i = 0; i < 40000; ++i)
        values.push_back(std::bit_cast<double>(bits(rng)));
    for (int i = 0; i < 20000; ++i)
        values.push_back(small(rng) / 100.0);

    size_t totalLength = 0;
    constexpr int textRounds = 5;
    auto start = Clock::now();
    for (int round = 0; round < textRounds; ++round)
        for (double v : values)
            totalLength += tools::GeneralFloatText(v).size();
    const double textSeconds = secondsSince(start);
    const double textCalls = static_cast<double>(values.size()) * textRounds;
    std::printf("GeneralFloatText: %.0f calls, %.1f ns per call (%zu characters)\n", textCalls,
                textSeconds * 1e9 / textCalls, totalLength);

    std::vector<uint8_t> buffer(16 * 1024 * 1024);
    for (uint8_t& b : buffer)
        b = static_cast<uint8_t>(bits(rng));
    constexpr int crcRounds = 8;
    unsigned checksum = 0;
    start = Clock::now();
    for (int round = 0; round < crcRounds; ++round) {
        const tools::CrcBytes crc = tools::ModbusCrc16(buffer);
        checksum += crc.low + crc.high;
    }
    const double crcSeconds = secondsSince(start);
    const double megabytes = static_cast<double>(buffer.size()) * crcRounds / 1e6;
    std::printf("ModbusCrc16: %.0f MB in %.3f s, %.1f MB/s (checksum %u)\n", megabytes, crcSeconds,
                megabytes / crcSeconds, checksum);

    // An 8-byte read request, the size the program actually sends.
    const uint8_t request[6] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x12};
    constexpr int requestCalls = 2000000;
    start = Clock::now();
    for (int i = 0; i < requestCalls; ++i) {
        const tools::CrcBytes crc = tools::ModbusCrc16(request);
        checksum += crc.low;
    }
    const double requestSeconds = secondsSince(start);
    std::printf("ModbusCrc16 on a 6-byte request: %.1f ns per call (checksum %u)\n",
                requestSeconds * 1e9 / requestCalls, checksum);
    return 0;
}
