// The lane arithmetic of the vector row kernels of interpolating resampling,
// written once over the number N of double lanes: 2 (SSE2), 4 (AVX2) or 8
// (AVX-512). Each lane does the operations of plane_value in the same order
// and in double precision, so every bit agrees with the plain kernel; only
// the reading of the neighbours differs between the kernels.
//
// Internal to the kernel files of transform/. Each includes this header
// once, after defining SPINMAP_LANES_TARGET as the target attribute of its
// instruction set: every function here carries it, so that it is compiled
// for the lanes of the file that uses it, and only that file instantiates it
// with its N.
#pragma once

#ifndef SPINMAP_LANES_TARGET
#error "SPINMAP_LANES_TARGET names the instruction set of the including kernel file"
#endif

#include <cstdint>
#include <cstring>

#include <spinmap/transform/interp_lanes.h>

namespace spinmap::lanes {

template <int N>
struct lane_types {
    typedef double doubles __attribute__((vector_size(N * sizeof(double))));
};

// N doubles, one a lane; the operators act lane by lane.
template <int N>
using doubles = typename lane_types<N>::doubles;

// What a comparison of doubles gives: all bits set in the lanes where it
// holds, none elsewhere; `mask ? x : y` selects lane by lane.
template <int N>
using masks = decltype(doubles<N>{} < doubles<N>{});

// Every lane v, to the bit (a negative zero stays negative).
template <int N>
SPINMAP_LANES_TARGET inline doubles<N> splat(double v) {
    return v - doubles<N>{};
}

template <int N>
SPINMAP_LANES_TARGET inline doubles<N> load(const double* p) {
    doubles<N> v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A mask kept as doubles: -1 in the lanes set and +0 elsewhere, so that
// the sign bits (movemask) name the lanes set. (GCC moves a mask kept as
// integers through general registers lane by lane on SSE2.)
template <int N>
SPINMAP_LANES_TARGET inline doubles<N> mask_doubles(masks<N> m) {
    return m ? splat<N>(-1) : splat<N>(0);
}
template <int N>
SPINMAP_LANES_TARGET inline masks<N> mask_of(doubles<N> kept) {
    return kept < 0.0;
}

// The source positions of N points of a strip row, relative to the source
// window, and the lanes whose positions lie within the source's outermost
// pixel centres.
template <int N>
struct positions {
    doubles<N> a;
    doubles<N> b;
    masks<N> inside;
};

// a = c(X - px) - s(Y - py) + px - source x and b = s(X - px) + c(Y - py) +
// py - source y, from the column products at c_x and s_x, in plane_value's
// order. The comparisons are ordered: a NaN lane is outside.
template <int N>
SPINMAP_LANES_TARGET inline positions<N> positions_at(const double* c_x, const double* s_x, const row_terms& t) {
    const doubles<N> a = ((load<N>(c_x) - t.s_y) + t.px) - t.sx;
    const doubles<N> b = ((load<N>(s_x) + t.c_y) + t.py) - t.sy;
    return {a, b, (a >= 0.0) & (a <= t.last_column) & (b >= 0.0) & (b <= t.last_row)};
}

// The positions with every lane outside moved to (0, 0): inside, a and b lie
// in [0, 32767], so each lane converts to an integer safely.
template <int N>
SPINMAP_LANES_TARGET inline positions<N> inside_only(const positions<N>& p) {
    return {p.inside ? p.a : splat<N>(0), p.inside ? p.b : splat<N>(0), p.inside};
}

// a - x0 - 0.5 for the truncation x0 of a (b - y0 - 0.5 likewise).
template <int N>
SPINMAP_LANES_TARGET inline doubles<N> plane_offset(doubles<N> a, doubles<N> x0) {
    return (a - x0) - 0.5;
}

// The value of each lane's point from its four neighbours, as doubles (each
// height converted exactly), and its offsets wx = a - x0 - 0.5 and wy = b -
// y0 - 0.5: the plane's value rounded half away from zero where the point is
// usable (its lane set in `usable`), its four neighbours are valid and the
// rounded value is a valid height; INVALID_HEIGHT elsewhere. Every result
// is a whole number in the 32-bit range.
//
// The neighbour sums are formed in doubles: the four heights are whole
// numbers below 2^31 in magnitude, so every partial sum is exact and equals
// plane_value's 64-bit integer sum whatever the grouping.
template <int N>
SPINMAP_LANES_TARGET inline doubles<N> plane_heights(doubles<N> f00, doubles<N> f01, doubles<N> f10, doubles<N> f11,
                                                     doubles<N> wx, doubles<N> wy, masks<N> usable) {
    constexpr double INVALID = INVALID_HEIGHT;
    const masks<N> valid = (f00 < INVALID) & (f01 < INVALID) & (f10 < INVALID) & (f11 < INVALID);
    const doubles<N> upper_pair = f00 + f01, lower_pair = f10 + f11;
    const doubles<N> sum = upper_pair + lower_pair;
    const doubles<N> gx = (f01 + f11) - (f00 + f10);
    const doubles<N> gy = lower_pair - upper_pair;
    const doubles<N> v = 0.5 * (gy * wy + gx * wx) + sum / 4.0;
    // v + (-0.5) is v - 0.5 to the bit.
    const doubles<N> r = v + (v >= 0.0 ? splat<N>(0.5) : splat<N>(-0.5));
    const masks<N> in_range = (r < 2147483640.0) & (r > -2147483649.0);
    return (usable & valid & in_range) ? r : splat<N>(INVALID);
}

// The same with the offsets and the mask (as mask_doubles keeps it) read
// from N doubles at wx, wy and usable.
template <int N>
SPINMAP_LANES_TARGET inline doubles<N> plane_heights(doubles<N> f00, doubles<N> f01, doubles<N> f10, doubles<N> f11,
                                                     const double* wx, const double* wy, const double* usable) {
    return plane_heights<N>(f00, f01, f10, f11, load<N>(wx), load<N>(wy), mask_of<N>(load<N>(usable)));
}

}  // namespace spinmap::lanes
