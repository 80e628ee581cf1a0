// What the searches for frames in received bytes share: the one reading of a HART frame's header
// (hart/HartHeader.h) and the ranking of the candidate frames a search finds for the reply a request
// expects. Plain C++: the interpreter's reply search and the bus monitor's framer both use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "hart/HartHeader.h"

namespace traffic {

// The HART header reader is HART's own; the searches here read every frame by it.
using hart::HartCheckRight;
using hart::HartFrameType;
using hart::HartHeader;
using hart::IsHartDelimiter;
using hart::kHartPreamble;
using hart::ReadHartHeader;

// Just past the run of preambles that starts at `at` (`at` itself when there is none).
std::size_t PreamblesEnd(std::span<const uint8_t> bytes, std::size_t at);
// Whether two HART addresses name the same device: the master and burst bits are each frame's own.
bool SameHartAddress(std::span<const uint8_t> a, std::span<const uint8_t> b);

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
