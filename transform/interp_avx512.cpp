// The AVX-512 row kernel of interpolating resampling: eight double lanes,
// compiled for AVX-512 through function target attributes (the rest of the
// program keeps the baseline), run only where the processor offers it.
// Nothing here enables fused multiply-adds, and the build never contracts.
#include <spinmap/matrix/vector_paths.h>

#if defined(SPINMAP_WIDE_LANES)
#include <immintrin.h>

#include <spinmap/transform/interp_lanes.h>

#define SPINMAP_LANES_TARGET __attribute__((target("avx512f,avx2")))
#include <spinmap/transform/plane_lanes.h>

namespace spinmap {

namespace {

using lanes8 = lanes::doubles<8>;

constexpr __mmask8 ALL_LANES = 0xFF;

// The low and the high eight 32-bit lanes as doubles (the maskz forms select
// every lane: the same instructions without an undefined pass-through operand).
SPINMAP_LANES_TARGET inline lanes8 low_as_doubles(__m512i lanes) {
    return _mm512_maskz_cvtepi32_pd(ALL_LANES, _mm512_maskz_extracti64x4_epi64(ALL_LANES, lanes, 0));
}
SPINMAP_LANES_TARGET inline lanes8 high_as_doubles(__m512i lanes) {
    return _mm512_maskz_cvtepi32_pd(ALL_LANES, _mm512_maskz_extracti64x4_epi64(ALL_LANES, lanes, 1));
}

}  // namespace

// The points of a strip row eight at a time, in one pass: the reads of a
// group are in flight while the next groups' positions are found. One 64-bit
// gather reads the pairs (x0, x0 + 1) of a source row for the eight points,
// of the lanes inside the source only (on the processor measured, as fast as
// eight single loads); one permutation takes the first of every pair of both
// rows (the left neighbours) and another the second, which is the right
// neighbour only where a > x0 (plane_value's x1). A group in which a point
// would read a pair ending beyond the source (only the last column of the
// last row can) goes to the plain kernel. The conversions select their lanes through a mask: the same
// instructions, without the undefined pass-through operand of the unmasked
// intrinsics.
SPINMAP_LANES_TARGET void evaluate_row_avx512(int32_t* const* source_rows, const double* c_x, const double* s_x,
                                              int n, const row_terms& t, int32_t* out) {
    const int32_t* const source = source_rows[0];

    const __m512i firsts = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i seconds = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    const __m256i invalid = _mm256_set1_epi32(INVALID_HEIGHT);
    for (int k = 0; k < n; k += 8) {
        const lanes::positions<8> p = lanes::positions_at<8>(c_x + k, s_x + k, t);
        const __m512i inside_lanes = reinterpret_cast<const __m512i&>(p.inside);
        const __mmask8 inside = _mm512_test_epi64_mask(inside_lanes, inside_lanes);
        if (inside == 0) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), invalid);
            continue;
        }
        // Inside, a and b lie in [0, 32767]: their truncations are x0 and y0,
        // and y0 * width + x0 (also with the width added) is a whole number
        // below 2^31, exact as a double and as an int. The lanes outside are
        // left as they are: their offsets are converted as 0 and read
        // nothing, and their values are replaced by INVALID_HEIGHT.
        const lanes8 x0 = _mm512_maskz_roundscale_pd(ALL_LANES, p.a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const lanes8 y0 = _mm512_maskz_roundscale_pd(ALL_LANES, p.b, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const lanes8 upper = y0 * t.width + x0;
        const lanes8 lower = p.b > y0 ? upper + t.width : upper;
        if (_mm512_mask_cmp_pd_mask(inside, lower, _mm512_set1_pd(t.last_pair), _CMP_GT_OQ) != 0) {
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
        const __mmask8 right = _mm512_cmp_pd_mask(p.a, x0, _CMP_GT_OQ);
        const __m512i right_of = _mm512_mask_blend_epi32(static_cast<__mmask16>(right | right << 8), left,
                                                         _mm512_permutex2var_epi32(upper_pairs, seconds, lower_pairs));
        const lanes8 heights = lanes::plane_heights<8>(low_as_doubles(left), low_as_doubles(right_of),
                                                       high_as_doubles(left), high_as_doubles(right_of),
                                                       lanes::plane_offset<8>(p.a, x0), lanes::plane_offset<8>(p.b, y0),
                                                       p.inside);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), _mm512_maskz_cvttpd_epi32(ALL_LANES, heights));
    }
}

}  // namespace spinmap

#endif
