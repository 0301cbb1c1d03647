// The colour scale of a picture from the values it draws.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "view/view.h"

namespace spinmap {

namespace {

// The nearest rank of the fraction numerator / denominator of n values (the
// 0.5th percentile is 1 / 200): ceil(n * numerator / denominator), at least
// 1. Exact in 64-bit integers for any number of frames a run can hold.
uint64_t nearest_rank(uint64_t n, uint64_t numerator, uint64_t denominator) {
    const uint64_t rank = (n * numerator + denominator - 1) / denominator;
    return rank < 1 ? 1 : rank;
}

}  // namespace

int percentile_scale(std::vector<int32_t>* values, double* lo, double* hi) {
    const uint64_t n = values->size();
    if (n == 0) return ERR_ALL_BAD_DATA;
    const uint64_t lo_index = nearest_rank(n, 1, 200) - 1;   // 0.5th percentile
    const uint64_t hi_index = nearest_rank(n, 199, 200) - 1;  // 99.5th percentile
    const auto first = values->begin();
    std::nth_element(first, first + static_cast<std::ptrdiff_t>(lo_index), values->end());
    // Everything after the low rank is now at least as large: the high rank
    // is found among those alone.
    if (hi_index > lo_index) {
        std::nth_element(first + static_cast<std::ptrdiff_t>(lo_index) + 1, first + static_cast<std::ptrdiff_t>(hi_index),
                         values->end());
    }
    *lo = (*values)[lo_index];
    *hi = (*values)[hi_index];
    return 0;
}

}  // namespace spinmap
