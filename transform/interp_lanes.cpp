// The vector row kernels of interpolating resampling: SSE2 (two double
// lanes), AVX2 (four) and AVX-512 (eight). The wider two are compiled for
// their instruction sets through function target attributes, so the rest of
// the program keeps the baseline, and they run only where
// has_interp_lanes allows them. None of them enables fused multiply-adds,
// and the build never contracts.
#include "matrix/vector_paths.h"

#if defined(SPINMAP_SSE2)
#include <algorithm>

#include <immintrin.h>

#include "transform/interp_lanes.h"

namespace spinmap {

namespace {

// The two 64-bit lane masks of a comparison as the two low 32-bit lanes.
inline __m128i low_lanes(__m128d mask) { return _mm_shuffle_epi32(_mm_castpd_si128(mask), _MM_SHUFFLE(2, 0, 2, 0)); }

}  // namespace

// The points of a strip row two at a time in SSE2 lanes. Each lane does the operations
// of the scalar path in the same order and in double precision, so every bit
// agrees. Two passes over the row keep the arithmetic apart from the source
// reads:
//   1. positions, the inside test, the element offsets of the upper-left and
//      lower-left neighbours and the offsets a - x0 - 0.5 and b - y0 - 0.5;
//   2. the four neighbours of both points (each row's pair read at once),
//      their validity, the plane value, its rounding, range check and
//      conversion.
// The neighbour sums are formed in doubles: the four heights are whole
// numbers below 2^31 in magnitude, so every partial sum is exact and equals
// the 64-bit integer sum of the scalar path whatever the grouping. A pair
// with both points outside is invalid at once; a pair with a point on a
// whole column (a == x0, where the right neighbour is the left one and may
// not exist) is left to the scalar path, as is an odd last point. A point
// outside the source reads at offset 0, which holds two elements whenever a
// pair is read at all (a one-column source has every inside point on a
// whole column).
void evaluate_row_sse2(int32_t* const* source_rows, const double* c_x, const double* s_x, int n,
                       const row_terms& t, int32_t* out) {
    alignas(16) double wx[STRIP], wy[STRIP];
    alignas(16) int32_t upper[STRIP], lower[STRIP], usable[STRIP];
    int pair_kind[STRIP / 2];  // -1 both outside, 0 vector path, else scalar path
    const int pairs = n & ~1;
    const int32_t* const source = source_rows[0];

    const __m128d zero = _mm_setzero_pd(), half = _mm_set1_pd(0.5);
    const __m128d last_column = _mm_set1_pd(t.last_column), last_row = _mm_set1_pd(t.last_row);
    const __m128d width = _mm_set1_pd(t.width);
    const __m128i width_i = _mm_set1_epi32(t.width);
    const __m128d s_y = _mm_set1_pd(t.s_y), c_y = _mm_set1_pd(t.c_y);
    const __m128d px = _mm_set1_pd(t.px), py = _mm_set1_pd(t.py), sx = _mm_set1_pd(t.sx), sy = _mm_set1_pd(t.sy);
    for (int k = 0; k < pairs; k += 2) {
        __m128d a = _mm_sub_pd(_mm_add_pd(_mm_sub_pd(_mm_loadu_pd(c_x + k), s_y), px), sx);
        __m128d b = _mm_sub_pd(_mm_add_pd(_mm_add_pd(_mm_loadu_pd(s_x + k), c_y), py), sy);
        // Ordered comparisons: a NaN lane is outside.
        const __m128d inside = _mm_and_pd(_mm_and_pd(_mm_cmpge_pd(a, zero), _mm_cmple_pd(a, last_column)),
                                          _mm_and_pd(_mm_cmpge_pd(b, zero), _mm_cmple_pd(b, last_row)));
        a = _mm_and_pd(a, inside);
        b = _mm_and_pd(b, inside);
        const __m128d x0 = _mm_cvtepi32_pd(_mm_cvttpd_epi32(a)), y0 = _mm_cvtepi32_pd(_mm_cvttpd_epi32(b));
        // y0 * width + x0 is below 2^30: exact as a double and as an int.
        const __m128i offset = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(y0, width), x0));
        const __m128i down = _mm_and_si128(low_lanes(_mm_cmpgt_pd(b, y0)), width_i);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(upper + k), offset);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(lower + k), _mm_add_epi32(offset, down));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(usable + k), low_lanes(inside));
        const int on_whole_column = _mm_movemask_pd(_mm_andnot_pd(_mm_cmpgt_pd(a, x0), inside));
        pair_kind[k / 2] = _mm_movemask_pd(inside) == 0 ? -1 : on_whole_column;
        if (k % PREFETCH_EVERY == 0) prefetch_ahead(source, _mm_cvtsi128_si32(offset), t);
        _mm_store_pd(wx + k, _mm_sub_pd(_mm_sub_pd(a, x0), half));
        _mm_store_pd(wy + k, _mm_sub_pd(_mm_sub_pd(b, y0), half));
    }

    const __m128d divisor = _mm_set1_pd(4);
    const __m128d upper_bound = _mm_set1_pd(2147483640.0), lower_bound = _mm_set1_pd(-2147483649.0);
    const __m128i invalid = _mm_set1_epi32(INVALID_HEIGHT);
    for (int k = 0; k < pairs; k += 2) {
        if (pair_kind[k / 2] < 0) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), invalid);
            continue;
        }
        if (pair_kind[k / 2] > 0) {
            evaluate_row_plain(source_rows, c_x + k, s_x + k, 2, t, out + k);
            continue;
        }
        const auto pair_at = [source](int32_t offset) {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + offset));
        };
        const __m128i p = _mm_unpacklo_epi64(pair_at(upper[k]), pair_at(lower[k]));          // f00 f01 f10 f11
        const __m128i q = _mm_unpacklo_epi64(pair_at(upper[k + 1]), pair_at(lower[k + 1]));  // of the second
        const __m128i top = _mm_unpacklo_epi32(p, q);     // f00 of both, f01 of both
        const __m128i bottom = _mm_unpackhi_epi32(p, q);  // f10 of both, f11 of both
        __m128i valid = _mm_and_si128(_mm_cmplt_epi32(top, invalid), _mm_cmplt_epi32(bottom, invalid));
        valid = _mm_and_si128(valid, _mm_shuffle_epi32(valid, _MM_SHUFFLE(3, 2, 3, 2)));
        const __m128d f00 = _mm_cvtepi32_pd(top);
        const __m128d f01 = _mm_cvtepi32_pd(_mm_shuffle_epi32(top, _MM_SHUFFLE(3, 2, 3, 2)));
        const __m128d f10 = _mm_cvtepi32_pd(bottom);
        const __m128d f11 = _mm_cvtepi32_pd(_mm_shuffle_epi32(bottom, _MM_SHUFFLE(3, 2, 3, 2)));
        const __m128d upper_pair = _mm_add_pd(f00, f01), lower_pair = _mm_add_pd(f10, f11);
        const __m128d sum = _mm_add_pd(upper_pair, lower_pair);
        const __m128d gx = _mm_sub_pd(_mm_add_pd(f01, f11), _mm_add_pd(f00, f10));
        const __m128d gy = _mm_sub_pd(lower_pair, upper_pair);
        const __m128d slope = _mm_add_pd(_mm_mul_pd(gy, _mm_load_pd(wy + k)), _mm_mul_pd(gx, _mm_load_pd(wx + k)));
        const __m128d v = _mm_add_pd(_mm_mul_pd(half, slope), _mm_div_pd(sum, divisor));
        const __m128d up = _mm_cmpge_pd(v, zero);
        const __m128d r = _mm_or_pd(_mm_and_pd(up, _mm_add_pd(v, half)), _mm_andnot_pd(up, _mm_sub_pd(v, half)));
        const __m128d in_range = _mm_and_pd(_mm_cmplt_pd(r, upper_bound), _mm_cmpgt_pd(r, lower_bound));
        const __m128i keep = _mm_and_si128(_mm_and_si128(low_lanes(in_range), valid),
                                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(usable + k)));
        const __m128i value = _mm_cvttpd_epi32(r);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k),
                         _mm_or_si128(_mm_and_si128(keep, value), _mm_andnot_si128(keep, invalid)));
    }

    if (pairs < n) evaluate_row_plain(source_rows, c_x + pairs, s_x + pairs, n - pairs, t, out + pairs);
}

#if defined(SPINMAP_WIDE_LANES)

namespace {

inline __m128i load_pair(const int32_t* source, int32_t offset) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + offset));
}

// Where the wide kernels' first pass leaves the neighbour reads of a strip
// row: per point and source row (upper, lower) the offset of the pair of
// elements to load and which of the two is the left and the right
// neighbour (-1 selects the second). The pair is (x0, x0 + 1) of that row;
// the right neighbour is x0 + 1 only where a > x0 (plane_value's x1). A pair
// that would end beyond the source (only a point on the last column of the
// last row reads there, and its right neighbour is itself) starts one
// element earlier with both selections on the second, so no load leaves the
// source; it has at least two elements.
struct neighbour_reads {
    alignas(32) int32_t at[2][STRIP];
    alignas(32) int32_t left[2][STRIP];
    alignas(32) int32_t right[2][STRIP];
};

// Fills the reads of four points of one source row from their element
// offsets and right-column masks.
__attribute__((target("avx2"))) inline void plan_reads(neighbour_reads* reads, int row, int k, __m128i offset,
                                                       __m128i right, __m128i last_pair) {
    const __m128i shift = _mm_cmpgt_epi32(offset, last_pair);
    _mm_store_si128(reinterpret_cast<__m128i*>(reads->at[row] + k), _mm_add_epi32(offset, shift));
    _mm_store_si128(reinterpret_cast<__m128i*>(reads->left[row] + k), shift);
    _mm_store_si128(reinterpret_cast<__m128i*>(reads->right[row] + k), _mm_or_si128(right, shift));
}

// The left and right neighbours of points k .. k+3 in one source row, one
// 64-bit load per point.
__attribute__((target("avx2"))) inline void read_neighbours(const int32_t* source, const neighbour_reads& reads,
                                                            int row, int k, __m128i* left, __m128i* right) {
    const int32_t* at = reads.at[row] + k;
    const __m256i pairs = _mm256_set_m128i(_mm_unpacklo_epi64(load_pair(source, at[2]), load_pair(source, at[3])),
                                           _mm_unpacklo_epi64(load_pair(source, at[0]), load_pair(source, at[1])));
    const __m256i split = _mm256_permutevar8x32_epi32(pairs, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
    const __m128i first = _mm256_castsi256_si128(split), second = _mm256_extracti128_si256(split, 1);
    *left = _mm_blendv_epi8(first, second, _mm_load_si128(reinterpret_cast<const __m128i*>(reads.left[row] + k)));
    *right = _mm_blendv_epi8(first, second, _mm_load_si128(reinterpret_cast<const __m128i*>(reads.right[row] + k)));
}

}  // namespace

// The points of a strip row four at a time in AVX2 lanes, each lane doing the
// operations of plane_value in the same order and in double precision. The
// neighbour sums are formed in doubles: the four heights are whole numbers
// below 2^31 in magnitude, so every partial sum is exact and equals the
// 64-bit integer sum whatever the grouping. Each neighbour is the element
// plane_value reads, so points on whole columns and rows need no other path;
// a point outside the source reads at element 0 and is written as invalid.
// As in the SSE2 kernel, a first pass finds the positions and reads and a
// second reads and evaluates, which keeps many source reads in flight.
// (Gathers were slower than single pair loads on the processors measured.)
__attribute__((target("avx2"))) void evaluate_row_avx2(int32_t* const* source_rows, const double* c_x,
                                                       const double* s_x, int n, const row_terms& t, int32_t* out) {
    if (t.last_pair < 0) {
        evaluate_row_plain(source_rows, c_x, s_x, n, t, out);
        return;
    }
    const int32_t* const source = source_rows[0];
    const int groups = n & ~3;
    neighbour_reads reads;
    alignas(32) double wx[STRIP], wy[STRIP], inside_lanes[STRIP];
    int inside_any[STRIP / 4];

    const __m256d zero = _mm256_setzero_pd(), half = _mm256_set1_pd(0.5), minus_one = _mm256_set1_pd(-1);
    const __m256d last_column = _mm256_set1_pd(t.last_column), last_row = _mm256_set1_pd(t.last_row);
    const __m256d width = _mm256_set1_pd(t.width);
    const __m128i last_pair = _mm_set1_epi32(t.last_pair);
    for (int k = 0; k < groups; k += 4) {
        const __m256d s_y = _mm256_set1_pd(t.s_y), c_y = _mm256_set1_pd(t.c_y);
        const __m256d px = _mm256_set1_pd(t.px), py = _mm256_set1_pd(t.py);
        const __m256d sx = _mm256_set1_pd(t.sx), sy = _mm256_set1_pd(t.sy);
        __m256d a = _mm256_sub_pd(_mm256_add_pd(_mm256_sub_pd(_mm256_loadu_pd(c_x + k), s_y), px), sx);
        __m256d b = _mm256_sub_pd(_mm256_add_pd(_mm256_add_pd(_mm256_loadu_pd(s_x + k), c_y), py), sy);
        // Ordered comparisons: a NaN lane is outside.
        const __m256d inside =
            _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(a, zero, _CMP_GE_OQ), _mm256_cmp_pd(a, last_column, _CMP_LE_OQ)),
                          _mm256_and_pd(_mm256_cmp_pd(b, zero, _CMP_GE_OQ), _mm256_cmp_pd(b, last_row, _CMP_LE_OQ)));
        inside_any[k / 4] = _mm256_movemask_pd(inside);
        if (inside_any[k / 4] == 0) continue;
        a = _mm256_and_pd(a, inside);
        b = _mm256_and_pd(b, inside);
        // a and b lie in [0, 32767]: their truncations are x0 and y0, and
        // y0 * width + x0 is below 2^30, exact as a double and as an int.
        const __m256d x0 = _mm256_round_pd(a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m256d y0 = _mm256_round_pd(b, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m128i upper = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(y0, width), x0));
        const __m128i right = _mm256_cvttpd_epi32(_mm256_and_pd(_mm256_cmp_pd(a, x0, _CMP_GT_OQ), minus_one));
        const __m128i down = _mm256_cvttpd_epi32(_mm256_and_pd(_mm256_cmp_pd(b, y0, _CMP_GT_OQ), width));
        plan_reads(&reads, 0, k, upper, right, last_pair);
        plan_reads(&reads, 1, k, _mm_add_epi32(upper, down), right, last_pair);
        _mm256_store_pd(wx + k, _mm256_sub_pd(_mm256_sub_pd(a, x0), half));
        _mm256_store_pd(wy + k, _mm256_sub_pd(_mm256_sub_pd(b, y0), half));
        _mm256_store_pd(inside_lanes + k, inside);
        if (k % PREFETCH_EVERY == 0) prefetch_ahead(source, _mm_cvtsi128_si32(upper), t);
    }

    const __m256d divisor = _mm256_set1_pd(4), minus_half = _mm256_set1_pd(-0.5);
    const __m256d upper_bound = _mm256_set1_pd(2147483640.0), lower_bound = _mm256_set1_pd(-2147483649.0);
    const __m256d invalid_value = _mm256_set1_pd(INVALID_HEIGHT);
    const __m128i invalid = _mm_set1_epi32(INVALID_HEIGHT);
    for (int k = 0; k < groups; k += 4) {
        if (inside_any[k / 4] == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), invalid);
            continue;
        }
        __m128i i00, i01, i10, i11;
        read_neighbours(source, reads, 0, k, &i00, &i01);
        read_neighbours(source, reads, 1, k, &i10, &i11);
        const __m128i valid = _mm_and_si128(_mm_and_si128(_mm_cmplt_epi32(i00, invalid), _mm_cmplt_epi32(i01, invalid)),
                                            _mm_and_si128(_mm_cmplt_epi32(i10, invalid), _mm_cmplt_epi32(i11, invalid)));
        const __m256d f00 = _mm256_cvtepi32_pd(i00), f01 = _mm256_cvtepi32_pd(i01);
        const __m256d f10 = _mm256_cvtepi32_pd(i10), f11 = _mm256_cvtepi32_pd(i11);
        const __m256d upper_pair = _mm256_add_pd(f00, f01), lower_pair = _mm256_add_pd(f10, f11);
        const __m256d sum = _mm256_add_pd(upper_pair, lower_pair);
        const __m256d gx = _mm256_sub_pd(_mm256_add_pd(f01, f11), _mm256_add_pd(f00, f10));
        const __m256d gy = _mm256_sub_pd(lower_pair, upper_pair);
        const __m256d slope =
            _mm256_add_pd(_mm256_mul_pd(gy, _mm256_load_pd(wy + k)), _mm256_mul_pd(gx, _mm256_load_pd(wx + k)));
        const __m256d v = _mm256_add_pd(_mm256_mul_pd(half, slope), _mm256_div_pd(sum, divisor));
        // v + (-0.5) is v - 0.5 to the bit.
        const __m256d r = _mm256_add_pd(v, _mm256_blendv_pd(minus_half, half, _mm256_cmp_pd(v, zero, _CMP_GE_OQ)));
        const __m256d in_range =
            _mm256_and_pd(_mm256_cmp_pd(r, upper_bound, _CMP_LT_OQ), _mm256_cmp_pd(r, lower_bound, _CMP_GT_OQ));
        const __m256d keep = _mm256_and_pd(_mm256_and_pd(in_range, _mm256_load_pd(inside_lanes + k)),
                                           _mm256_castsi256_pd(_mm256_cvtepi32_epi64(valid)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                         _mm256_cvttpd_epi32(_mm256_blendv_pd(invalid_value, r, keep)));
    }
    if (groups < n) evaluate_row_plain(source_rows, c_x + groups, s_x + groups, n - groups, t, out + groups);
}

namespace {

// The low and the high eight 32-bit lanes as doubles (the maskz forms select
// every lane: the same instructions without an undefined pass-through operand).
__attribute__((target("avx512f"))) inline __m512d low_as_doubles(__m512i lanes) {
    return _mm512_maskz_cvtepi32_pd(0xFF, _mm512_maskz_extracti64x4_epi64(0xFF, lanes, 0));
}
__attribute__((target("avx512f"))) inline __m512d high_as_doubles(__m512i lanes) {
    return _mm512_maskz_cvtepi32_pd(0xFF, _mm512_maskz_extracti64x4_epi64(0xFF, lanes, 1));
}

}  // namespace

// The same eight at a time in AVX-512 lanes, in one pass: the reads of a
// group are in flight while the next groups' positions are found. The lane
// conditions are held in mask registers. One 64-bit gather reads the pairs
// (x0, x0 + 1) of a source row for the eight points, of the lanes inside
// the source only (on the processor measured, as fast as eight single
// loads); one permutation takes the first of every pair of both rows (the
// left neighbours) and another the second, which is the right neighbour
// only where a > x0 (plane_value's x1). A group in which a point would read
// a pair ending beyond the source (only the last column of the last row
// can) goes to the plain path, as do fewer than eight points left. The
// conversions select their lanes through a mask: the same instructions,
// without the undefined pass-through operand of the unmasked intrinsics.
__attribute__((target("avx512f,avx2"))) void evaluate_row_avx512(int32_t* const* source_rows, const double* c_x,
                                                                 const double* s_x, int n, const row_terms& t,
                                                                 int32_t* out) {
    constexpr __mmask8 ALL_LANES = 0xFF;
    constexpr __mmask16 ALL_LANES_16 = 0xFFFF;
    const int32_t* const source = source_rows[0];
    const int groups = n & ~7;

    const __m512d zero = _mm512_setzero_pd(), half = _mm512_set1_pd(0.5);
    const __m512d last_column = _mm512_set1_pd(t.last_column), last_row = _mm512_set1_pd(t.last_row);
    const __m512d width = _mm512_set1_pd(t.width), last_pair = _mm512_set1_pd(t.last_pair);
    const __m512d s_y = _mm512_set1_pd(t.s_y), c_y = _mm512_set1_pd(t.c_y);
    const __m512d px = _mm512_set1_pd(t.px), py = _mm512_set1_pd(t.py);
    const __m512d sx = _mm512_set1_pd(t.sx), sy = _mm512_set1_pd(t.sy);
    const __m512d divisor = _mm512_set1_pd(4);
    const __m512d upper_bound = _mm512_set1_pd(2147483640.0), lower_bound = _mm512_set1_pd(-2147483649.0);
    const __m512i firsts = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i seconds = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    const __m512i invalid_16 = _mm512_set1_epi32(INVALID_HEIGHT);
    const __m256i invalid = _mm256_set1_epi32(INVALID_HEIGHT);
    for (int k = 0; k < groups; k += 8) {
        __m512d a = _mm512_sub_pd(_mm512_add_pd(_mm512_sub_pd(_mm512_loadu_pd(c_x + k), s_y), px), sx);
        __m512d b = _mm512_sub_pd(_mm512_add_pd(_mm512_add_pd(_mm512_loadu_pd(s_x + k), c_y), py), sy);
        // Ordered comparisons: a NaN lane is outside.
        const __mmask8 inside = _mm512_cmp_pd_mask(a, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(a, last_column, _CMP_LE_OQ) &
                                _mm512_cmp_pd_mask(b, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(b, last_row, _CMP_LE_OQ);
        if (inside == 0) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), invalid);
            continue;
        }
        // Inside, a and b lie in [0, 32767]: their truncations are x0 and y0,
        // and y0 * width + x0 (also with the width added) is a whole number
        // below 2^31, exact as a double and as an int. The lanes outside are
        // left as they are: their offsets are converted as 0 and read
        // nothing, and their values are replaced by INVALID_HEIGHT.
        const __m512d x0 = _mm512_maskz_roundscale_pd(ALL_LANES, a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m512d y0 = _mm512_maskz_roundscale_pd(ALL_LANES, b, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m512d upper = _mm512_add_pd(_mm512_mul_pd(y0, width), x0);
        const __m512d lower = _mm512_mask_add_pd(upper, _mm512_cmp_pd_mask(b, y0, _CMP_GT_OQ), upper, width);
        if (_mm512_mask_cmp_pd_mask(inside, lower, last_pair, _CMP_GT_OQ) != 0) {
            evaluate_row_plain(source_rows, c_x + k, s_x + k, 8, t, out + k);
            continue;
        }
        const __m256i upper_at = _mm512_maskz_cvttpd_epi32(inside, upper);
        if (k % PREFETCH_EVERY == 0) prefetch_ahead(source, _mm_cvtsi128_si32(_mm256_castsi256_si128(upper_at)), t);
        const __m512i upper_pairs = _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), inside, upper_at, source, 4);
        const __m512i lower_pairs = _mm512_mask_i32gather_epi64(
            _mm512_setzero_si512(), inside, _mm512_maskz_cvttpd_epi32(inside, lower), source, 4);
        // Upper neighbours in the low eight 32-bit lanes, lower in the high.
        const __m512i left = _mm512_permutex2var_epi32(upper_pairs, firsts, lower_pairs);
        const __mmask8 right = _mm512_cmp_pd_mask(a, x0, _CMP_GT_OQ);
        const __m512i right_of = _mm512_mask_blend_epi32(static_cast<__mmask16>(right | right << 8), left,
                                                         _mm512_permutex2var_epi32(upper_pairs, seconds, lower_pairs));
        const __mmask16 below_invalid =
            _mm512_cmplt_epi32_mask(_mm512_maskz_max_epi32(ALL_LANES_16, left, right_of), invalid_16);
        const __mmask8 valid = static_cast<__mmask8>(below_invalid & below_invalid >> 8);
        const __m512d f00 = low_as_doubles(left), f01 = low_as_doubles(right_of);
        const __m512d f10 = high_as_doubles(left), f11 = high_as_doubles(right_of);
        const __m512d upper_pair = _mm512_add_pd(f00, f01), lower_pair = _mm512_add_pd(f10, f11);
        const __m512d sum = _mm512_add_pd(upper_pair, lower_pair);
        const __m512d gx = _mm512_sub_pd(_mm512_add_pd(f01, f11), _mm512_add_pd(f00, f10));
        const __m512d gy = _mm512_sub_pd(lower_pair, upper_pair);
        const __m512d wx = _mm512_sub_pd(_mm512_sub_pd(a, x0), half), wy = _mm512_sub_pd(_mm512_sub_pd(b, y0), half);
        const __m512d slope = _mm512_add_pd(_mm512_mul_pd(gy, wy), _mm512_mul_pd(gx, wx));
        const __m512d v = _mm512_add_pd(_mm512_mul_pd(half, slope), _mm512_div_pd(sum, divisor));
        const __m512d r = _mm512_mask_add_pd(_mm512_sub_pd(v, half), _mm512_cmp_pd_mask(v, zero, _CMP_GE_OQ), v, half);
        const __mmask8 in_range = _mm512_cmp_pd_mask(r, upper_bound, _CMP_LT_OQ) &
                                  _mm512_cmp_pd_mask(r, lower_bound, _CMP_GT_OQ);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k),
                            _mm512_mask_cvttpd_epi32(invalid, in_range & inside & valid, r));
    }
    if (groups < n) evaluate_row_plain(source_rows, c_x + groups, s_x + groups, n - groups, t, out + groups);
}

#endif

}  // namespace spinmap

#endif
