#include "trig_cases.h"

#include <mpfr.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace spinmap::test {
namespace {

constexpr double DEGREES_PER_RADIAN = 57.2957795131;

// An MPFR number freed on every way out.
struct big {
    explicit big(mpfr_prec_t bits) { mpfr_init2(value, bits); }
    ~big() { mpfr_clear(value); }
    big(const big&) = delete;
    big& operator=(const big&) = delete;
    mpfr_t value;
};

// The double nearest to k * pi/2 (k given as a double, exact below 2^53 or a
// power of two times a short number).
double nearest_to_quarter_turns(double k) {
    big x(2200);
    mpfr_const_pi(x.value, MPFR_RNDN);
    mpfr_mul_d(x.value, x.value, k / 2, MPFR_RNDN);
    return mpfr_get_d(x.value, MPFR_RNDN);
}

void add_with_neighbours(std::vector<double>& out, double x) {
    const double inf = std::numeric_limits<double>::infinity();
    out.insert(out.end(), {x, std::nextafter(x, -inf), std::nextafter(x, inf)});
}

// For x = m * 2^e with m of 53 bits, m * (2^e * 2/pi) comes closest to a
// whole number where m is a multiple of a continued-fraction denominator of
// the fractional part of 2^e * 2/pi: the doubles of this exponent nearest to
// a multiple of pi/2.
void add_closest_to_quarter_turns(std::vector<double>& out, int e) {
    const mpfr_prec_t bits = std::max(e, 0) + 600;
    big r(bits), whole(bits);
    mpfr_const_pi(r.value, MPFR_RNDN);
    mpfr_ui_div(r.value, 2, r.value, MPFR_RNDN);
    mpfr_mul_2si(r.value, r.value, e, MPFR_RNDN);
    mpfr_frac(r.value, r.value, MPFR_RNDN);
    // The denominators below 2^53; the last three come closest.
    const uint64_t limit = uint64_t(1) << 53;
    std::vector<uint64_t> denominators = {1};
    uint64_t previous = 0;
    while (!mpfr_zero_p(r.value)) {
        mpfr_ui_div(r.value, 1, r.value, MPFR_RNDN);
        mpfr_floor(whole.value, r.value);
        mpfr_sub(r.value, r.value, whole.value, MPFR_RNDN);
        const uint64_t q = denominators.back();
        const unsigned __int128 next = (unsigned __int128)mpfr_get_ui(whole.value, MPFR_RNDN) * q + previous;
        if (next >= limit) break;
        previous = q;
        denominators.push_back(uint64_t(next));
    }
    const std::size_t from = denominators.size() > 3 ? denominators.size() - 3 : 0;
    for (std::size_t i = from; i < denominators.size(); ++i) {
        const uint64_t q = denominators[i];
        const uint64_t t = ((uint64_t(1) << 52) + q - 1) / q;  // the smallest multiple of 53 bits
        for (uint64_t m : {t * q, (t + 1) * q}) {
            if (m < limit) add_with_neighbours(out, std::ldexp(double(m), e));
        }
    }
}

// Radians of the rotation's angles: the fiducials turn by angle / 57.29...,
// the height data by fmod(angle, 360) / 57.29....
void add_angle(std::vector<double>& out, double degrees) {
    out.push_back(degrees / DEGREES_PER_RADIAN);
    out.push_back(std::fmod(degrees, 360) / DEGREES_PER_RADIAN);
}

}  // namespace

double reference_sin_cos(double x, bool cosine) {
    const mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
    big y(53);
    mpfr_set_d(y.value, x, MPFR_RNDN);
    int inexact = cosine ? mpfr_cos(y.value, y.value, MPFR_RNDN) : mpfr_sin(y.value, y.value, MPFR_RNDN);
    inexact = mpfr_subnormalize(y.value, inexact, MPFR_RNDN);
    const double result = mpfr_get_d(y.value, MPFR_RNDN);
    mpfr_set_emin(emin);
    mpfr_set_emax(emax);
    return result;
}

std::vector<double> hard_trig_arguments() {
    const double inf = std::numeric_limits<double>::infinity();
    const double max = std::numeric_limits<double>::max();
    const double tiny = std::numeric_limits<double>::denorm_min();
    const double normal = std::numeric_limits<double>::min();
    std::vector<double> out = {0.0, inf, std::numeric_limits<double>::quiet_NaN(), tiny, 2 * tiny, 3 * tiny,
                               normal - tiny, 0x1.5555555555555p-1030, normal, max, std::nextafter(max, 0)};
    // The ends of the short cuts and of the unreduced range, and the
    // neighbours of pi/4, pi/2, pi and 2 pi.
    for (double x : {0x1p-27, 0x1p-26, 0x1p-25, 0.5, 1.0, 0x1.921fb54442d18p-1, 0x1.921fb54442d18p0,
                     0x1.921fb54442d18p1, 0x1.921fb54442d18p2}) {
        add_with_neighbours(out, x);
    }
    for (int k = 1; k <= 6000; ++k) add_with_neighbours(out, nearest_to_quarter_turns(k));
    // Huge multiples: k = 1.2345 * 2^j, rounded to an integer.
    for (int j = 1; j <= 1020; ++j) add_with_neighbours(out, nearest_to_quarter_turns(std::round(std::ldexp(1.2345, j))));
    for (int e = -53; e <= 971; ++e) add_closest_to_quarter_turns(out, e);
    for (int k = -4000; k <= 4000; ++k) add_angle(out, 90.0 * k);
    for (int j = 0; j <= 1015; ++j) add_angle(out, std::ldexp(90.0, j));
    for (double degrees : {30.0, 45.0, -33.3, 123.456, 1.0, 359.99, 0.001, 0.125, 10.0, -354.54, 1e20,
                           3.4028234663852886e38, -3.4028234663852886e38, 1e300, -1e-300}) {
        add_angle(out, degrees);
    }
    // Both signs of everything (NaN stays one).
    const std::size_t count = out.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::isnan(out[i])) out.push_back(-out[i]);
    }
    std::sort(out.begin(), out.end(), [](double a, double b) {
        return std::bit_cast<uint64_t>(a) < std::bit_cast<uint64_t>(b);
    });
    out.erase(std::unique(out.begin(), out.end(), [](double a, double b) { return same_result(a, b); }), out.end());
    return out;
}

}  // namespace spinmap::test
