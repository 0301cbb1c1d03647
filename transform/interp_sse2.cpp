// The SSE2 row kernel of interpolating resampling: two double lanes. SSE2 is
// part of every x86-64 processor, so it needs no check before it runs.
#include <spinmap/matrix/vector_paths.h>

#if defined(SPINMAP_SSE2)
#include <emmintrin.h>

#include <spinmap/transform/interp_lanes.h>

#define SPINMAP_LANES_TARGET __attribute__((target("sse2")))
#include <spinmap/transform/plane_lanes.h>

namespace spinmap {

namespace {

using lanes2 = lanes::doubles<2>;

// The two 64-bit lane masks of a comparison as the two low 32-bit lanes.
__m128i low_lanes(__m128d mask) { return _mm_shuffle_epi32(_mm_castpd_si128(mask), _MM_SHUFFLE(2, 0, 2, 0)); }

__m128i pair_at(const int32_t* source, int32_t offset) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + offset));
}

}  // namespace

// The points of a strip row two at a time. Two passes over the row keep the
// arithmetic apart from the source reads:
//   1. positions, the inside test, the element offsets of the upper-left and
//      lower-left neighbours and the offsets a - x0 - 0.5 and b - y0 - 0.5;
//   2. the four neighbours of both points (each row's pair read at once)
//      and their plane value.
// A pair with both points outside is invalid at once; a pair with a point on
// a whole column (a == x0, where the right neighbour is the left one and may
// not exist) is left to the plain kernel. A point outside the source reads
// at offset 0, which holds two elements whenever a pair is read at all (a
// one-column source has every inside point on a whole column).
void evaluate_row_sse2(int32_t* const* source_rows, const double* c_x, const double* s_x, int n,
                       const row_terms& t, int32_t* out) {
    alignas(16) double wx[STRIP], wy[STRIP], inside[STRIP];
    alignas(16) int32_t upper[STRIP], lower[STRIP];
    int pair_kind[STRIP / 2];  // -1 both outside, 0 vector path, else plain kernel
    const int32_t* const source = source_rows[0];

    const __m128i width = _mm_set1_epi32(t.width);
    for (int k = 0; k < n; k += 2) {
        const lanes::positions<2> p = lanes::inside_only<2>(lanes::positions_at<2>(c_x + k, s_x + k, t));
        const lanes2 in = lanes::mask_doubles<2>(p.inside);
        const lanes2 x0 = _mm_cvtepi32_pd(_mm_cvttpd_epi32(p.a)), y0 = _mm_cvtepi32_pd(_mm_cvttpd_epi32(p.b));
        // y0 * width + x0 is below 2^30: exact as a double and as an int.
        const __m128i offset = _mm_cvttpd_epi32(y0 * t.width + x0);
        const __m128i down = _mm_and_si128(low_lanes(_mm_cmpgt_pd(p.b, y0)), width);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(upper + k), offset);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(lower + k), _mm_add_epi32(offset, down));
        _mm_store_pd(inside + k, in);
        const int on_whole_column = _mm_movemask_pd(_mm_andnot_pd(_mm_cmpgt_pd(p.a, x0), in));
        pair_kind[k / 2] = _mm_movemask_pd(in) == 0 ? -1 : on_whole_column;
        if (k % PREFETCH_EVERY == 0) prefetch_ahead(source, _mm_cvtsi128_si32(offset), t);
        _mm_store_pd(wx + k, lanes::plane_offset<2>(p.a, x0));
        _mm_store_pd(wy + k, lanes::plane_offset<2>(p.b, y0));
    }

    const __m128i invalid = _mm_set1_epi32(INVALID_HEIGHT);
    for (int k = 0; k < n; k += 2) {
        if (pair_kind[k / 2] < 0) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), invalid);
            continue;
        }
        if (pair_kind[k / 2] > 0) {
            evaluate_row_plain(source_rows, c_x + k, s_x + k, 2, t, out + k);
            continue;
        }
        const __m128i p = _mm_unpacklo_epi64(pair_at(source, upper[k]), pair_at(source, lower[k]));  // f00 f01 f10 f11
        const __m128i q = _mm_unpacklo_epi64(pair_at(source, upper[k + 1]), pair_at(source, lower[k + 1]));
        const __m128i top = _mm_unpacklo_epi32(p, q);     // f00 of both, f01 of both
        const __m128i bottom = _mm_unpackhi_epi32(p, q);  // f10 of both, f11 of both
        const lanes2 f00 = _mm_cvtepi32_pd(top), f01 = _mm_cvtepi32_pd(_mm_shuffle_epi32(top, _MM_SHUFFLE(3, 2, 3, 2)));
        const lanes2 f10 = _mm_cvtepi32_pd(bottom);
        const lanes2 f11 = _mm_cvtepi32_pd(_mm_shuffle_epi32(bottom, _MM_SHUFFLE(3, 2, 3, 2)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k),
                         _mm_cvttpd_epi32(lanes::plane_heights<2>(f00, f01, f10, f11, wx + k, wy + k, inside + k)));
    }
}

}  // namespace spinmap

#endif
