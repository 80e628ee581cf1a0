// The ranking of candidate frames.
#include "traffic/FrameSearch.h"

namespace traffic {

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
