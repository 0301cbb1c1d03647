// Arguments and reference results for the correctly rounded sine and cosine,
// from MPFR. Used by the Linux tests and, through a table made on the build
// machine, by the Windows tests.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace spinmap::test {

// sin x (cosine false) or cos x, exactly rounded to the nearest double by
// MPFR in the double's exponent range with subnormals; NaN for NaN and
// infinities.
double reference_sin_cos(double x, bool cosine);

// The arguments where rounding and reduction are hardest, sorted and without
// repeats: signed zeros, subnormals and the ends of the ranges, the doubles
// nearest to many multiples of pi/2 (small and huge) with both neighbours,
// for every exponent the doubles that come closest to a multiple of pi/2,
// and the radians of quarter, half and whole turns of the rotation's angle.
std::vector<double> hard_trig_arguments();

// True for the same bits, or for two NaNs.
inline bool same_result(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

}  // namespace spinmap::test
