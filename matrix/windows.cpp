// Window relations, intersection, centres and alignment.
#include <algorithm>

#include <spinmap/matrix/matrix.h>

namespace spinmap {

namespace {

constexpr bool in_int16(int32_t v) { return v >= -32768 && v <= 32767; }

bool disjoint(const window& a, const window& b) {
    return wn_right(a) < b.x || a.x > wn_right(b) || wn_bottom(a) < b.y || a.y > wn_bottom(b);
}

}  // namespace

bool wn_is_proper(const window& w) {
    return w.width >= 0 && w.height >= 0 && in_int16(wn_right(w)) && in_int16(wn_bottom(w));
}

int wn_compare(const window& a, const window& b) {
    const int32_t ar = wn_right(a), ab = wn_bottom(a), br = wn_right(b), bb = wn_bottom(b);
    if (disjoint(a, b)) return WN_DISJOINT;
    if (a.x == b.x && ar == br && a.y == b.y && ab == bb) return WN_EQUAL;
    if (a.x >= b.x && ar <= br && a.y >= b.y && ab <= bb) return WN_INSIDE;
    if (a.x <= b.x && ar >= br && a.y <= b.y && ab >= bb) return WN_CONTAINS;
    return WN_OVERLAP;
}

int wn_intersect(const window& a, const window& b, window* out) {
    if (disjoint(a, b)) return ERR_WINDOWS_DISJOINT;
    const int32_t x = std::max(a.x, b.x);
    const int32_t y = std::max(a.y, b.y);
    out->x = static_cast<int16_t>(x);
    out->y = static_cast<int16_t>(y);
    out->width = static_cast<int16_t>(std::min(wn_right(a), wn_right(b)) - x + 1);
    out->height = static_cast<int16_t>(std::min(wn_bottom(a), wn_bottom(b)) - y + 1);
    return 0;
}

void wn_center(const window& w, double* cx, double* cy) {
    *cx = static_cast<double>(int32_t{w.x} + wn_right(w)) / 2;
    *cy = static_cast<double>(int32_t{w.y} + wn_bottom(w)) / 2;
}

void wn_center_int(const window& w, int16_t* cx, int16_t* cy) {
    // Arithmetic shift: rounds towards minus infinity for negative sums.
    *cx = static_cast<int16_t>((int32_t{w.x} + wn_right(w)) >> 1);
    *cy = static_cast<int16_t>((int32_t{w.y} + wn_bottom(w)) >> 1);
}

void wn_align4(window* w, int axes) {
    if (axes & WN_HORIZONTAL) {
        const int32_t x = int32_t{w->x} & ~3;
        w->width = static_cast<int16_t>(((int32_t{w->x} + w->width + 3) & ~3) - x);
        w->x = static_cast<int16_t>(x);
    }
    if (axes & WN_VERTICAL) {
        const int32_t y = int32_t{w->y} & ~3;
        w->height = static_cast<int16_t>(((int32_t{w->y} + w->height + 3) & ~3) - y);
        w->y = static_cast<int16_t>(y);
    }
}

}  // namespace spinmap
