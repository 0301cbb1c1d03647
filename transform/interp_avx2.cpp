// The AVX2 row kernel of interpolating resampling: four double lanes,
// compiled for AVX2 through function target attributes (the rest of the
// program keeps the baseline), run only where the processor offers AVX2.
// Nothing here enables fused multiply-adds, and the build never contracts.
#include <spinmap/matrix/vector_paths.h>

#if defined(SPINMAP_WIDE_LANES)
#include <immintrin.h>

#include <spinmap/transform/interp_lanes.h>

#define SPINMAP_LANES_TARGET __attribute__((target("avx2")))
#include <spinmap/transform/plane_lanes.h>

namespace spinmap {

namespace {

using lanes4 = lanes::doubles<4>;

// Where the first pass leaves the neighbour reads of a strip row: per point
// and source row (upper, lower) the offset of the pair of elements to load
// and which of the two is the left and the right neighbour (-1 selects the
// second). The pair is (x0, x0 + 1) of that row; the right neighbour is
// x0 + 1 only where a > x0 (plane_value's x1). A pair that would end beyond
// the source (only a point on the last column of the last row reads there,
// and its right neighbour is itself) starts one element earlier with both
// selections on the second, so no load leaves the source; it has at least
// two elements.
struct neighbour_reads {
    alignas(32) int32_t at[2][STRIP];
    alignas(32) int32_t left[2][STRIP];
    alignas(32) int32_t right[2][STRIP];
};

// Fills the reads of four points of one source row from their element
// offsets and right-column masks.
SPINMAP_LANES_TARGET inline void plan_reads(neighbour_reads* reads, int row, int k, __m128i offset, __m128i right,
                                            __m128i last_pair) {
    const __m128i shift = _mm_cmpgt_epi32(offset, last_pair);
    _mm_store_si128(reinterpret_cast<__m128i*>(reads->at[row] + k), _mm_add_epi32(offset, shift));
    _mm_store_si128(reinterpret_cast<__m128i*>(reads->left[row] + k), shift);
    _mm_store_si128(reinterpret_cast<__m128i*>(reads->right[row] + k), _mm_or_si128(right, shift));
}

SPINMAP_LANES_TARGET inline __m128i load_lanes(const int32_t* aligned) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(aligned));
}

SPINMAP_LANES_TARGET inline __m128i load_pair(const int32_t* source, int32_t offset) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + offset));
}

// The left and right neighbours of points k .. k+3 in one source row, one
// 64-bit load per point, as doubles.
SPINMAP_LANES_TARGET inline void read_neighbours(const int32_t* source, const neighbour_reads& reads, int row, int k,
                                                 lanes4* left, lanes4* right) {
    const int32_t* at = reads.at[row] + k;
    const __m256i pairs = _mm256_set_m128i(_mm_unpacklo_epi64(load_pair(source, at[2]), load_pair(source, at[3])),
                                           _mm_unpacklo_epi64(load_pair(source, at[0]), load_pair(source, at[1])));
    const __m256i split = _mm256_permutevar8x32_epi32(pairs, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
    const __m128i first = _mm256_castsi256_si128(split), second = _mm256_extracti128_si256(split, 1);
    *left = _mm256_cvtepi32_pd(_mm_blendv_epi8(first, second, load_lanes(reads.left[row] + k)));
    *right = _mm256_cvtepi32_pd(_mm_blendv_epi8(first, second, load_lanes(reads.right[row] + k)));
}

}  // namespace

// The points of a strip row four at a time. Each neighbour is the element
// plane_value reads, so points on whole columns and rows need no other path;
// a point outside the source reads at element 0 and is written as invalid.
// As in the SSE2 kernel, a first pass finds the positions and reads and a
// second reads and evaluates, which keeps many source reads in flight.
// (Gathers were slower than single pair loads on the processors measured.)
SPINMAP_LANES_TARGET void evaluate_row_avx2(int32_t* const* source_rows, const double* c_x, const double* s_x, int n,
                                            const row_terms& t, int32_t* out) {
    if (t.last_pair < 0) {
        evaluate_row_plain(source_rows, c_x, s_x, n, t, out);
        return;
    }
    const int32_t* const source = source_rows[0];
    neighbour_reads reads;
    alignas(32) double wx[STRIP], wy[STRIP], inside[STRIP];
    int inside_any[STRIP / 4];

    const __m128i last_pair = _mm_set1_epi32(t.last_pair);
    for (int k = 0; k < n; k += 4) {
        const lanes::positions<4> p = lanes::inside_only<4>(lanes::positions_at<4>(c_x + k, s_x + k, t));
        const lanes4 in = lanes::mask_doubles<4>(p.inside);
        inside_any[k / 4] = _mm256_movemask_pd(in);
        if (inside_any[k / 4] == 0) continue;
        const lanes4 x0 = _mm256_round_pd(p.a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const lanes4 y0 = _mm256_round_pd(p.b, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        // y0 * width + x0 is below 2^30: exact as a double and as an int.
        const __m128i upper = _mm256_cvttpd_epi32(y0 * t.width + x0);
        const __m128i right = _mm256_cvttpd_epi32(p.a > x0 ? lanes::splat<4>(-1) : lanes::splat<4>(0));
        const __m128i down = _mm256_cvttpd_epi32(p.b > y0 ? lanes::splat<4>(t.width) : lanes::splat<4>(0));
        plan_reads(&reads, 0, k, upper, right, last_pair);
        plan_reads(&reads, 1, k, _mm_add_epi32(upper, down), right, last_pair);
        _mm256_store_pd(wx + k, lanes::plane_offset<4>(p.a, x0));
        _mm256_store_pd(wy + k, lanes::plane_offset<4>(p.b, y0));
        _mm256_store_pd(inside + k, in);
        if (k % PREFETCH_EVERY == 0) prefetch_ahead(source, _mm_cvtsi128_si32(upper), t);
    }

    const __m128i invalid = _mm_set1_epi32(INVALID_HEIGHT);
    for (int k = 0; k < n; k += 4) {
        if (inside_any[k / 4] == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), invalid);
            continue;
        }
        lanes4 f00, f01, f10, f11;
        read_neighbours(source, reads, 0, k, &f00, &f01);
        read_neighbours(source, reads, 1, k, &f10, &f11);
        const lanes4 heights = lanes::plane_heights<4>(f00, f01, f10, f11, wx + k, wy + k, inside + k);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm256_cvttpd_epi32(heights));
    }
}

}  // namespace spinmap

#endif
