// The ranking of candidate frames, and the small readings of a HART frame the searches share.
#include "traffic/FrameSearch.h"

#include <algorithm>

namespace traffic {

std::size_t PreamblesEnd(std::span<const uint8_t> bytes, std::size_t at) {
    while (at < bytes.size() && bytes[at] == kHartPreamble) {
        ++at;
    }
    return at;
}

bool SameHartAddress(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return !a.empty() && a.size() == b.size() && (a[0] & 0x3F) == (b[0] & 0x3F) &&
           std::equal(a.begin() + 1, a.end(), b.begin() + 1);
}

void CandidateRanking::offer(CandidateRank rank, Candidate candidate) {
    std::optional<Candidate>& slot = slots_[static_cast<std::size_t>(rank)];
    if (!slot) {
        slot = candidate;
    }
}

std::optional<CandidateRanking::Best> CandidateRanking::best() const {
    for (std::size_t rank = 0; rank < std::size(slots_); ++rank) {
        if (slots_[rank]) {
            return Best{static_cast<CandidateRank>(rank), *slots_[rank]};
        }
    }
    return std::nullopt;
}

} // namespace traffic
