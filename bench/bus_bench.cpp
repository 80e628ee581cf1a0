// The bus monitor's framer on a saturated 115200-baud line: how many times faster than the line it
// frames (and frames and reads every frame's meaning) on one core, delivered in the chunks a USB
// adapter makes; and its score on random streams of frames and noise: good frames found, frames
// invented, noise accounted for. Prints figures only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "tests/traffic/BusStreams.h"
#include "traffic/BusFramer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kBaud = 115200;

struct Run {
    std::size_t frames = 0;
    std::size_t noiseBytes = 0;
    std::size_t meaningBytes = 0;
    double seconds = 0;
};

// Delivers the stream in chunks of what the line carries in `chunkUs`, as a USB adapter does.
Run frameStream(const busstreams::Stream& stream, int64_t chunkUs, bool withMeaning) {
    traffic::BusFramer framer(traffic::BusLine::ForBaud(kBaud, false));
    const std::size_t chunk =
        std::max<std::size_t>(1, static_cast<std::size_t>(chunkUs * kBaud / 10 / 1'000'000));
    std::vector<traffic::BusFrame> frames;
    Run run;
    const auto start = Clock::now();
    int64_t time = 0;
    const auto take = [&] {
        for (const traffic::BusFrame& frame : frames) {
            ++run.frames;
            if (frame.role == traffic::BusRole::Noise) {
                run.noiseBytes += frame.bytes.size();
            }
            if (withMeaning) {
                run.meaningBytes += traffic::ReadBusFrame(frame).meaning.size();
            }
        }
        frames.clear();
    };
    for (std::size_t at = 0; at < stream.bytes.size(); at += chunk) {
        time += chunkUs;
        framer.push(std::span(stream.bytes).subspan(at, std::min(chunk, stream.bytes.size() - at)), time,
                    frames);
        take();
    }
    framer.finish(frames);
    take();
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return run;
}

void speed(const busstreams::Stream& stream, int64_t chunkUs, bool withMeaning) {
    const double lineSeconds = static_cast<double>(stream.bytes.size()) * 10 / kBaud;
    double best = 1e9;
    Run run;
    for (int repeat = 0; repeat < 3; ++repeat) {
        run = frameStream(stream, chunkUs, withMeaning);
        best = std::min(best, run.seconds);
    }
    std::printf(
        "  %-28s %5lld ms chunks: %8.0f x real time (%.1f s of line in %.3f s, %zu frames, %.1f MB/s)\n",
        withMeaning ? "framing and meanings" : "framing alone", static_cast<long long>(chunkUs / 1000),
        lineSeconds / best, lineSeconds, best, run.frames,
        static_cast<double>(stream.bytes.size()) / best / 1e6);
}

struct Score {
    std::size_t expected = 0, found = 0, invented = 0, wrongRole = 0, damaged = 0;
    std::size_t noiseExpected = 0, noiseFound = 0;
};

// A noise byte 0xFF right before a HART frame's preambles cannot be told from one more preamble:
// the frame is found all the same.
bool same(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& found) {
    if (found.size() > expected.size() && !expected.empty() && expected[0] == 0xFF &&
        std::all_of(found.begin(), found.end() - static_cast<std::ptrdiff_t>(expected.size()),
                    [](uint8_t b) { return b == 0xFF; })) {
        return std::equal(expected.begin(), expected.end(),
                          found.end() - static_cast<std::ptrdiff_t>(expected.size()));
    }
    return expected == found;
}

Score score(uint32_t seed, std::size_t exchanges, int noisePercent) {
    busstreams::Generator generator(seed);
    const busstreams::Stream stream = generator.make(exchanges, noisePercent);
    std::mt19937 random(seed);
    traffic::BusFramer framer(traffic::BusLine::ForBaud(kBaud, false));
    std::vector<traffic::BusFrame> frames;
    int64_t time = 0;
    for (std::size_t at = 0; at < stream.bytes.size();) {
        const std::size_t n = std::min<std::size_t>(
            std::uniform_int_distribution<std::size_t>(1, 184)(random), stream.bytes.size() - at);
        time += 16'000;
        framer.push(std::span(stream.bytes).subspan(at, n), time, frames);
        at += n;
    }
    framer.finish(frames);

    Score s;
    s.expected = stream.frames.size();
    s.noiseExpected = stream.noiseBytes;
    // Walk both in order: a good frame that matches the next expected one is found.
    std::size_t next = 0;
    for (const traffic::BusFrame& frame : frames) {
        if (frame.role == traffic::BusRole::Noise) {
            s.noiseFound += frame.bytes.size();
            continue;
        }
        if (frame.check != traffic::BusCheck::Good) {
            ++s.damaged;
            continue;
        }
        std::size_t match = next;
        while (match < stream.frames.size() && match < next + 4 &&
               !same(stream.frames[match].bytes, frame.bytes)) {
            ++match;
        }
        if (match < stream.frames.size() && same(stream.frames[match].bytes, frame.bytes)) {
            ++s.found;
            if ((frame.role == traffic::BusRole::Request) != stream.frames[match].request) {
                ++s.wrongRole;
            }
            next = match + 1;
        } else {
            ++s.invented;
        }
    }
    return s;
}

} // namespace

int main() {
    std::printf("Bus framer, 115200 baud 8N1 saturated (back-to-back frames, 1-6 bytes of noise before 30%% "
                "of them)\n");
    busstreams::Generator generator(538);
    const busstreams::Stream stream = generator.make(60000, 30);
    std::printf("  stream: %zu bytes, %zu frames, %zu bytes of noise\n", stream.bytes.size(),
                stream.frames.size(), stream.noiseBytes);
    for (int64_t chunkUs : {1000, 16000}) {
        speed(stream, chunkUs, false);
        speed(stream, chunkUs, true);
    }

    std::printf("\nFrame-finding score on random streams (chunks of 1-184 bytes)\n");
    std::printf("  %-6s %-7s %9s %9s %9s %9s %11s %13s\n", "seed", "noise", "frames", "found", "invented",
                "role off", "damaged", "noise bytes");
    for (uint32_t seed : {1u, 2u, 3u, 4u, 5u}) {
        for (int noise : {10, 50, 100}) {
            const Score s = score(seed, 40000, noise);
            std::printf("  %-6u %5d%%  %9zu %9zu %9zu %9zu %11zu %6zu/%zu\n", seed, noise, s.expected,
                        s.found, s.invented, s.wrongRole, s.damaged, s.noiseFound, s.noiseExpected);
        }
    }
    return 0;
}
