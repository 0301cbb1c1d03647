// Sine and cosine rounded correctly: the exact value of the function at the
// double argument, rounded to the nearest double, so that every platform and
// C library gives the same bits.
//
// The argument is reduced exactly modulo pi/2 with enough bits of 2/pi for
// the largest double, and the reduced angle's sine or cosine is summed in
// fixed point with a known bound on the error. The result is accepted only
// when every value within that bound rounds to the same double; otherwise the
// work is repeated with twice the bits. The sine or cosine of a nonzero
// double is never a double nor halfway between two (it is transcendental), so
// a wide enough sum always settles the rounding.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>

#include <spinmap/transform/transform.h>
#include <spinmap/transform/trig_support.h>

namespace spinmap {

namespace {

using u64 = uint64_t;
using u128 = unsigned __int128;

// The widest fixed-point sum, in 64-bit words; the first is 2 words, and each
// further one twice as wide.
constexpr int MAX_WORDS = 16;

// The reduction reads n + 4 words of 2/pi from the first that matters, which
// is word 15 for the largest exponent (971).
static_assert(15 + MAX_WORDS + 4 <= int(std::size(TWO_OVER_PI)));
static_assert(MAX_WORDS <= int(std::size(HALF_PI_MINUS_ONE)));

// The bound on the error of a fixed-point result, in units of its last bit:
// a few units from the reduction and the angle, and at most 8 units for each
// of the (fewer than 100) terms of a series.
constexpr u64 ERROR_BOUND = 4096;

// A fraction in [0, 1) in fixed point: n words, least significant first,
// value = sum word[i] * 2^(64 (i - n)).
struct fixed {
    u64 word[MAX_WORDS + 1];
    int n;
};

bool is_zero(const fixed& a) {
    for (int i = 0; i < a.n; ++i) {
        if (a.word[i] != 0) return false;
    }
    return true;
}

// True when a holds a bit above its lowest word.
bool above_lowest_word(const fixed& a) {
    for (int i = 1; i < a.n; ++i) {
        if (a.word[i] != 0) return true;
    }
    return false;
}

fixed from_table(const u64* table, int n) {
    fixed r;
    r.n = n;
    for (int i = 0; i < n; ++i) r.word[n - 1 - i] = table[i];
    return r;
}

// a * b, truncated to n words (short of the exact product by less than one
// unit of the last word).
fixed multiply(const fixed& a, const fixed& b) {
    const int n = a.n;
    u64 full[2 * MAX_WORDS];
    for (int k = 0; k < n; ++k) full[k] = 0;
    for (int i = 0; i < n; ++i) {
        u64 carry = 0;
        for (int j = 0; j < n; ++j) {
            const u128 t = u128(a.word[i]) * b.word[j] + full[i + j] + carry;
            full[i + j] = u64(t);
            carry = u64(t >> 64);
        }
        full[i + n] = carry;
    }
    fixed r;
    r.n = n;
    for (int i = 0; i < n; ++i) r.word[i] = full[n + i];
    return r;
}

// a / d truncated (short by less than one unit), for d below 2^32 (the
// series end before k reaches 200): half words at a time, so that every step
// is a 64-bit division.
fixed divide(const fixed& a, u64 d) {
    fixed r;
    r.n = a.n;
    u64 rest = 0;
    for (int i = a.n - 1; i >= 0; --i) {
        const u64 high = (rest << 32) | (a.word[i] >> 32);
        rest = high % d;
        const u64 low = (rest << 32) | (a.word[i] & 0xffffffff);
        rest = low % d;
        r.word[i] = (high / d) << 32 | (low / d);
    }
    return r;
}

// a + b; true when the sum reaches 1 (a carry out of the fraction).
bool add(fixed& a, const fixed& b) {
    u64 carry = 0;
    for (int i = 0; i < a.n; ++i) {
        const u128 t = u128(a.word[i]) + b.word[i] + carry;
        a.word[i] = u64(t);
        carry = u64(t >> 64);
    }
    return carry != 0;
}

// a - b; true when b exceeded a (a borrow out of the fraction).
bool subtract(fixed& a, const fixed& b) {
    u64 borrow = 0;
    for (int i = 0; i < a.n; ++i) {
        const u64 w = a.word[i];
        const u64 t = w - b.word[i] - borrow;
        borrow = (w < b.word[i] || (w == b.word[i] && borrow)) ? 1 : 0;
        a.word[i] = t;
    }
    return borrow != 0;
}

// 1 - a for 0 < a < 1.
fixed one_minus(const fixed& a) {
    fixed r{};
    r.n = a.n;
    subtract(r, a);
    return r;
}

// The last-word unit count as a fraction of the same width.
fixed units(int n, u64 count) {
    fixed r{};
    r.n = n;
    r.word[0] = count;
    return r;
}

// 64 bits of the word array from bit `from` up; bits beyond `count` words
// are zero.
u64 bits_at(const u64* words, int count, int from) {
    const int index = from / 64, shift = from % 64;
    const u64 low = index < count ? words[index] : 0;
    const u64 high = index + 1 < count ? words[index + 1] : 0;
    return shift == 0 ? low : (low >> shift) | (high << (64 - shift));
}

// The nearest double to a nonzero fraction of at least two words, ties to
// even; 1.0 for a fraction that reached 1 (`whole`).
double round_to_double(const fixed& a, bool whole) {
    if (whole) return 1.0;
    int top = a.n - 1;
    while (top > 0 && a.word[top] == 0) --top;
    if (a.word[top] == 0) return 0.0;
    const int msb = 64 * top + 63 - std::countl_zero(a.word[top]);
    // Callers round values above the lowest word (the results are at least
    // 2^-64), so the 53 bits and the rounding bit lie within the words.
    if (msb < 64) return 0.0;
    u64 mantissa = bits_at(a.word, a.n, msb - 52) & ((u64(1) << 53) - 1);
    const bool half = (bits_at(a.word, a.n, msb - 53) & 1) != 0;
    // Any bit below the rounding bit: whole words under it, then the part
    // of its own word.
    const int round_bit = msb - 53;
    bool below = (a.word[round_bit / 64] & ((u64(1) << (round_bit % 64)) - 1)) != 0;
    for (int i = 0; i < round_bit / 64; ++i) below = below || a.word[i] != 0;
    if (half && (below || (mantissa & 1) != 0)) ++mantissa;
    // value = mantissa * 2^(msb - 52 - 64 n)
    int exponent = msb - 52 - 64 * a.n;
    if (mantissa == u64(1) << 53) {
        mantissa >>= 1;
        ++exponent;
    }
    const u64 bits = (u64(exponent + 52 + 1023) << 52) | (mantissa & ((u64(1) << 52) - 1));
    return std::bit_cast<double>(bits);
}

// The reduced argument of |x| = m * 2^e (m of 53 bits, e at least -53):
// x * 2/pi = q + f with f in [-1/2, 1/2). Sets the quarter turns q modulo 4,
// whether f is negative, and returns |f| in n words, short of the exact
// value by less than 2 units.
fixed reduce(u64 m, int e, int n, int* quarter, bool* negative) {
    // Word j of 2/pi adds m * word * 2^(e - 64 (j + 1)), a multiple of 4 (a
    // whole number of turns) while e - 64 (j + 1) >= 2: those are skipped.
    const int first = e >= 66 ? (e - 66) / 64 + 1 : 0;
    const int count = n + 4;
    // product = m times the words first .. first + count - 1, as an integer of
    // count + 1 words, least significant first; it has `point` bits after the
    // binary point. The words left out add less than 2^(53 - point).
    u64 product[MAX_WORDS + 5] = {};
    u64 carry = 0;
    for (int k = 0; k < count; ++k) {
        const u128 t = u128(m) * TWO_OVER_PI[first + count - 1 - k] + carry;
        product[k] = u64(t);
        carry = u64(t >> 64);
    }
    product[count] = carry;
    const int point = 64 * (first + count) - e;
    *quarter = int(bits_at(product, count + 1, point) & 3);
    // The fraction's first n + 1 words (one guard word).
    fixed f{};
    f.n = n + 1;
    for (int i = 0; i <= n; ++i) f.word[i] = bits_at(product, count + 1, point - 64 * (n + 1 - i));
    *negative = (f.word[n] >> 63) != 0;
    if (*negative) {
        *quarter = (*quarter + 1) & 3;
        f = one_minus(f);
    }
    fixed r{};
    r.n = n;
    for (int i = 0; i < n; ++i) r.word[i] = f.word[i + 1];
    return r;
}

// |x| = m * 2^e below 1/2 as an exact fraction of n words (e at least -80).
fixed exact_fraction(u64 m, int e, int n) {
    fixed r{};
    r.n = n;
    const int at = e + 64 * n;
    r.word[at / 64] = m << (at % 64);
    if (at % 64 > 11) r.word[at / 64 + 1] = m >> (64 - at % 64);
    return r;
}

// first - first y^2/((k+1)(k+2)) + ..., each term the previous one times
// -y^2/((k+1)(k+2)) with k going up by 2: sin y from first = y and k = 1,
// 1 - cos y from first = y^2/2 and k = 2 (for 0 < y < 1).
fixed alternating_series(const fixed& first, const fixed& square, u64 k) {
    fixed sum = first, term = first;
    for (bool minus = true;; k += 2, minus = !minus) {
        term = divide(multiply(term, square), (k + 1) * (k + 2));
        if (is_zero(term)) return sum;
        if (minus) {
            subtract(sum, term);
        } else {
            add(sum, term);
        }
    }
}

fixed sine_series(const fixed& y) { return alternating_series(y, multiply(y, y), 1); }

fixed versine_series(const fixed& y) {
    const fixed square = multiply(y, y);
    return alternating_series(divide(square, 2), square, 2);
}

}  // namespace

double rounded_sin_cos(double x, bool cosine, int words) {
    const u64 bits = std::bit_cast<u64>(x);
    const int biased = int(bits >> 52 & 0x7ff);
    if (biased == 0x7ff) return x - x;  // NaN for NaN and infinities
    // Below 2^-26 the sine lies within a quarter unit of x; below 2^-27,
    // 1 - x^2/2 lies within a quarter unit of 1 (below 1).
    if (!cosine && biased < 1023 - 26) return x;
    if (cosine && biased < 1023 - 27) return 1.0;
    const bool x_negative = (bits >> 63) != 0;
    const u64 m = (bits & ((u64(1) << 52) - 1)) | (u64(1) << 52);
    const int e = biased - 1075;
    for (int n = std::clamp(words, 2, MAX_WORDS);; n = std::min(2 * n, MAX_WORDS)) {
        int quarter = 0;
        bool f_negative = false;
        // Below 1/2 the argument is its own reduced angle; above, the angle is
        // y = f * pi/2 = f + f * (pi/2 - 1), below pi/4.
        fixed y{};
        if (biased < 1022) {
            y = exact_fraction(m, e, n);
        } else {
            const fixed f = reduce(m, e, n, &quarter, &f_negative);
            y = f;
            add(y, multiply(f, from_table(HALF_PI_MINUS_ONE, n)));
        }
        // cos x = sin(x + pi/2): one more quarter turn.
        if (cosine) quarter = (quarter + 1) & 3;
        // sin(q pi/2 + y) is sin y, cos y, -sin y, -cos y for q = 0 .. 3.
        const bool use_sine = quarter % 2 == 0;
        bool negative = quarter >= 2;
        if (use_sine && f_negative) negative = !negative;
        if (x_negative && !cosine) negative = !negative;
        // The value with its error bound on either side.
        const fixed value = use_sine ? sine_series(y) : one_minus(versine_series(y));
        fixed low = value, high = value;
        const bool low_failed = subtract(low, units(n, ERROR_BOUND));
        const bool high_whole = add(high, units(n, ERROR_BOUND));
        // The widest sum is taken as it stands: its 1024 bits lie far beyond
        // the closest approach of any known case to a rounding boundary.
        if (n < MAX_WORDS &&
            (low_failed || !above_lowest_word(low) || round_to_double(low, false) != round_to_double(high, high_whole))) {
            continue;
        }
        const double result = round_to_double(value, false);
        return negative ? -result : result;
    }
}

double rounded_sin(double x) { return rounded_sin_cos(x, false, 2); }

double rounded_cos(double x) { return rounded_sin_cos(x, true, 2); }

}  // namespace spinmap
