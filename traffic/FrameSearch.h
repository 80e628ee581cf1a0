// What the searches for frames in received bytes share: the one reading of a HART frame's header
// (where its address, expansion bytes, command and byte count lie, and so its length), its check
// byte, and the ranking of the candidate frames a search finds for the reply a request expects.
// Plain C++: the interpreter's reply search and the bus monitor's framer both use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace traffic {

inline constexpr uint8_t kHartPreamble = 0xFF;

// The frame types of HART's asynchronous layer (the delimiter's low three bits).
enum class HartFrameType : uint8_t { Other = 0, Burst = 1, MasterToSlave = 2, SlaveToMaster = 6 };

// Where the fields of a HART frame lie, as positions in the bytes it was read from. The delimiter
// alone tells them: bit 7 a long (5-byte) address, bits 5-6 the number of expansion bytes.
struct HartHeader {
    std::size_t delimiterAt = 0;
    uint8_t delimiter = 0;
    std::size_t addressAt = 0;
    std::size_t addressLength = 0; // 1 (polling address) or 5 (unique address)
    std::size_t expansionAt = 0;
    std::size_t expansionBytes = 0; // 0..3
    std::size_t commandAt = 0;
    std::size_t countAt = 0; // the byte count; the data follow it, then the check byte

    HartFrameType type() const;
    bool longAddress() const { return addressLength == 5; }
    // Just after the check byte, for a frame whose byte count is `count`.
    std::size_t end(uint8_t count) const { return countAt + 1 + count + 1; }
};

// The header of the frame whose delimiter is at `delimiterAt` (the bytes need not hold the rest).
HartHeader ReadHartHeader(std::size_t delimiterAt, uint8_t delimiter);
// Whether `delimiter` is one of a burst, master or slave frame.
bool IsHartDelimiter(uint8_t delimiter);
// Whether the last byte of `frame` (delimiter up to and including the check byte) is the check
// byte of the others.
bool HartCheckRight(std::span<const uint8_t> frame);

// Where a candidate frame lies; `length` is what its header announces (0: not known yet).
struct Candidate {
    std::size_t at = 0;
    std::size_t length = 0;
};

// How a candidate stands against the reply a request expects, best first.
enum class CandidateRank : uint8_t {
    Reply,   // the expected header, its check right: the reply
    Damaged, // the expected header, its check wrong
    Other,   // a whole frame whose check holds, not the one asked for (another count, command, device)
    Cut,     // the expected header, and the bytes end inside the frame
    Stray,   // a frame of the wrong direction (a request read back)
};

// The first candidate of each rank a search offers, and the best of them. A search may stop as soon
// as it has a reply.
class CandidateRanking {
public:
    void offer(CandidateRank rank, Candidate candidate);
    bool hasReply() const { return slots_[0].has_value(); }
    struct Best {
        CandidateRank rank;
        Candidate candidate;
    };
    std::optional<Best> best() const;

private:
    std::optional<Candidate> slots_[5];
};

} // namespace traffic
