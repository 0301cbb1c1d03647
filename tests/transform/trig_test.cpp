// The correctly rounded sine and cosine against MPFR: every result must be
// MPFR's exactly rounded one.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <cstdint>
#include <random>

#include <spinmap/transform/transform.h>
#include <spinmap/transform/trig_support.h>
#include "trig_cases.h"

namespace spinmap::test {
namespace {

// The fraction bits of v in [0, 1), as 64-bit words, most significant first.
std::vector<uint64_t> fraction_words(mpfr_t v, std::size_t count) {
    std::vector<uint64_t> words;
    mpfr_t whole;
    mpfr_init2(whole, mpfr_get_prec(v));
    for (std::size_t i = 0; i < count; ++i) {
        mpfr_mul_2ui(v, v, 64, MPFR_RNDN);
        mpfr_floor(whole, v);
        words.push_back(mpfr_get_ui(whole, MPFR_RNDN));
        mpfr_sub(v, v, whole, MPFR_RNDN);
    }
    mpfr_clear(whole);
    return words;
}

TEST(RoundedSinCos, ConstantsAreTheBitsOfTwoOverPiAndHalfPiMinusOne) {
    mpfr_t v;
    mpfr_init2(v, 4096);
    mpfr_const_pi(v, MPFR_RNDN);
    mpfr_ui_div(v, 2, v, MPFR_RNDN);
    EXPECT_EQ(fraction_words(v, std::size(TWO_OVER_PI)),
              std::vector<uint64_t>(std::begin(TWO_OVER_PI), std::end(TWO_OVER_PI)));
    mpfr_const_pi(v, MPFR_RNDN);
    mpfr_div_2ui(v, v, 1, MPFR_RNDN);
    mpfr_sub_ui(v, v, 1, MPFR_RNDN);
    EXPECT_EQ(fraction_words(v, std::size(HALF_PI_MINUS_ONE)),
              std::vector<uint64_t>(std::begin(HALF_PI_MINUS_ONE), std::end(HALF_PI_MINUS_ONE)));
    mpfr_clear(v);
}

// Compares both functions at x with MPFR; false (after reporting) on a
// difference.
bool matches_reference(double x) {
    const double sine = rounded_sin(x), cosine = rounded_cos(x);
    const double want_sine = reference_sin_cos(x, false), want_cosine = reference_sin_cos(x, true);
    EXPECT_TRUE(same_result(sine, want_sine)) << std::hexfloat << "sin(" << x << ") = " << sine << ", not " << want_sine;
    EXPECT_TRUE(same_result(cosine, want_cosine))
        << std::hexfloat << "cos(" << x << ") = " << cosine << ", not " << want_cosine;
    return same_result(sine, want_sine) && same_result(cosine, want_cosine);
}

TEST(RoundedSinCos, HardArgumentsRoundAsMpfr) {
    const std::vector<double> arguments = hard_trig_arguments();
    ASSERT_GE(arguments.size(), 20000u);
    int failures = 0;
    for (double x : arguments) {
        if (!matches_reference(x) && ++failures == 10) break;
    }
}

// The wider sums, which the hard arguments above seldom reach, on every
// 8th of them.
TEST(RoundedSinCos, WiderSumsRoundAsMpfr) {
    const std::vector<double> arguments = hard_trig_arguments();
    int failures = 0;
    for (std::size_t i = 0; i < arguments.size() && failures < 10; i += 8) {
        const double x = arguments[i];
        for (int words : {4, 8, 16}) {
            for (bool cosine : {false, true}) {
                const double got = rounded_sin_cos(x, cosine, words), want = reference_sin_cos(x, cosine);
                EXPECT_TRUE(same_result(got, want)) << std::hexfloat << (cosine ? "cos(" : "sin(") << x << ") = "
                                                    << got << ", not " << want << " from " << words << " words";
                failures += same_result(got, want) ? 0 : 1;
            }
        }
    }
}

// Random bits: every exponent equally likely, subnormals and both signs
// included (the exponent field of all ones is left out: NaN and infinities
// are among the hard arguments).
void check_random_arguments(uint64_t seed, int count) {
    std::mt19937_64 random(seed);
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        const uint64_t exponent = random() % 2047;
        const uint64_t bits = (random() & 0x800fffffffffffff) | exponent << 52;
        if (!matches_reference(std::bit_cast<double>(bits)) && ++failures == 10) break;
    }
}

// A million random arguments, in two halves that can run side by side.
TEST(RoundedSinCos, RandomArgumentsRoundAsMpfrFirstHalf) { check_random_arguments(20, 500000); }
TEST(RoundedSinCos, RandomArgumentsRoundAsMpfrSecondHalf) { check_random_arguments(21, 500000); }

}  // namespace
}  // namespace spinmap::test
