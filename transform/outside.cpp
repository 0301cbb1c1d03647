// The valid points a rotation carries off a frame, counted without turning
// the data.
//
// A point (X, Y) goes to X' = (px + c(X - px)) + s(Y - py) and
// Y' = (py - s(X - px)) + c(Y - py), each step rounded to the nearest double
// in this order, and is outside when X' or Y' lies before the frame's first
// pixel edge or at or beyond its last.
//
// Rounding to nearest is monotone: a <= b gives fl(a + d) <= fl(b + d),
// fl(d - a) >= fl(d - b), and fl(k a) <= fl(k b) for k >= 0 (>= for k <= 0).
// X' and Y' are made of such steps only, so with finite terms each of them is
// monotone along every row and along every column, in a direction fixed by
// the sign of c or s. Two things follow, each exact:
// - Over a rectangle X' and Y' take their least and greatest values at its
//   corners: when the four turned corners lie inside, every point does.
// - Along a row each of the four outside tests holds on a run of columns
//   that begins at one end of the row (or on all or none), so the columns
//   inside form one run, whose ends are searched for; the count is then
//   that of the valid points of the row outside the run, and no point is
//   turned one by one.
// Terms that are not finite (never from the tool, whose numbers are bounded)
// are counted point by point.
#include <algorithm>
#include <cmath>

#include <spinmap/platform/platform.h>
#include <spinmap/transform/kernel_support.h>
#include <spinmap/transform/transform.h>

namespace spinmap {

namespace {

struct turn_terms {
    double px;
    double py;
    double s;
    double c;
};

double turned_x(const turn_terms& t, int x, int y) { return (t.px + t.c * (x - t.px)) + t.s * (y - t.py); }
double turned_y(const turn_terms& t, int x, int y) { return (t.py - t.s * (x - t.px)) + t.c * (y - t.py); }

// The frame's pixel edges: a place is inside when left <= X' < right and
// top <= Y' < bottom.
struct frame_edges {
    double left;
    double right;
    double top;
    double bottom;
};

frame_edges edges_of(const window& frame) {
    return {frame.x - 0.5, (int32_t{frame.x} + frame.width) - 0.5, frame.y - 0.5,
            (int32_t{frame.y} + frame.height) - 0.5};
}

// The four outside tests of a point, by number.
bool outside_by(int test, const turn_terms& t, const frame_edges& f, int x, int y) {
    switch (test) {
        case 0: return turned_x(t, x, y) < f.left;
        case 1: return turned_x(t, x, y) >= f.right;
        case 2: return turned_y(t, x, y) < f.top;
        default: return turned_y(t, x, y) >= f.bottom;
    }
}

bool turned_outside(const turn_terms& t, const frame_edges& f, int x, int y) {
    for (int test = 0; test < 4; ++test) {
        if (outside_by(test, t, f, x, y)) return true;
    }
    return false;
}

bool corners_inside(const turn_terms& t, const frame_edges& f, const window& w) {
    const int right = wn_right(w), bottom = wn_bottom(w);
    return !turned_outside(t, f, w.x, w.y) && !turned_outside(t, f, right, w.y) && !turned_outside(t, f, w.x, bottom) &&
           !turned_outside(t, f, right, bottom);
}

// The inside runs of the rows of a window, row after row. Where a test's
// answer changes along a row moves by about the same number of columns from
// one row to the next, so each change is first looked for where the last
// step leads, then ever farther off, and at last by bisection: the guess
// saves time and never changes the answer.
class run_finder {
public:
    run_finder(const turn_terms& t, const frame_edges& f, const window& w)
        : t_(t), f_(f), first_(w.x), last_(wn_right(w)) {}

    // The columns [*begin, *end) of row y whose points turn inside the
    // frame; *begin == *end when none do.
    void inside_run(int y, int* begin, int* end) {
        *begin = first_;
        *end = last_ + 1;
        for (int test = 0; test < 4; ++test) {
            const bool at_first = outside_by(test, t_, f_, first_, y), at_last = outside_by(test, t_, f_, last_, y);
            change& c = changes_[test];
            if (at_first == at_last) {
                c.known = false;
                if (at_first) *begin = *end;
                continue;
            }
            const int guess = c.known ? c.at + c.step : first_ + (last_ - first_) / 2;
            const int at = first_change(test, y, at_first, guess);
            c.step = c.known ? at - c.at : 0;
            c.at = at;
            c.known = true;
            if (at_first) {
                *begin = std::max(*begin, at);
            } else {
                *end = std::min(*end, at);
            }
        }
        *end = std::max(*begin, *end);
    }

private:
    struct change {
        bool known = false;  // the change of the row before
        int at = 0;
        int step = 0;  // how far it moved from the row before that
    };

    // The first column after first_ at which the test's answer differs from
    // at_first, given that it differs at last_ and changes only once.
    int first_change(int test, int y, bool at_first, int guess) {
        const auto differs = [&](int x) { return outside_by(test, t_, f_, x, y) != at_first; };
        int from = first_, to = last_;  // differs(to), and not differs(from)
        const int g = std::clamp(guess, from + 1, to);
        if (differs(g)) {
            to = g;
            for (int step = 1; to - step > from; step *= 2) {
                if (!differs(to - step)) {
                    from = to - step;
                    break;
                }
                to -= step;
            }
        } else {
            from = g;
            for (int step = 1; from + step < to; step *= 2) {
                if (differs(from + step)) {
                    to = from + step;
                    break;
                }
                from += step;
            }
        }
        while (to - from > 1) {
            const int middle = from + (to - from) / 2;
            (differs(middle) ? to : from) = middle;
        }
        return to;
    }

    turn_terms t_;
    frame_edges f_;
    int first_;
    int last_;
    change changes_[4];
};

// Valid points of columns [from, to) of row y; none for an empty range.
int32_t valid_in(const height_matrix& m, int y, int from, int to) {
    if (from >= to) return 0;
    const window part{static_cast<int16_t>(from), static_cast<int16_t>(y), static_cast<int16_t>(to - from), 1};
    int32_t count = 0;
    matrix_count_valid(&m, &part, &count);  // a part of a checked window: cannot fail
    return count;
}

// The counts of one band of rows, rows y .. end-1 of the window.
struct band_counts {
    int32_t outside = 0;
    int32_t inside = 0;     // of the rows from uncounted_end on
    int uncounted_end = 0;  // the inside points of the band's rows before this are not counted yet
};

// Row by row, the valid points outside each row's inside run; the total
// needs the points within the runs too, which are counted only from the
// band's first row that loses a point on.
band_counts count_band_by_runs(const height_matrix& m, const window& w, const turn_terms& t, const frame_edges& f,
                               int y_lo, int y_hi) {
    const int right_end = wn_right(w) + 1;
    band_counts counts;
    counts.uncounted_end = y_lo;
    run_finder runs(t, f, w);
    for (int y = y_lo; y < y_hi; ++y) {
        int begin = 0, end = 0;
        runs.inside_run(y, &begin, &end);
        // Left to right along the row, which the memory reads fastest.
        const int32_t left = valid_in(m, y, w.x, begin);
        const bool counting = counts.outside + left > 0;
        const int32_t within = counting ? valid_in(m, y, begin, end) : 0;
        counts.outside += left + valid_in(m, y, end, right_end);
        if (counting) {
            counts.inside += within;
        } else {
            counts.uncounted_end = y + 1;
        }
    }
    return counts;
}

// The inside points of rows y_lo .. y_hi-1.
int32_t count_inside(const height_matrix& m, const window& w, const turn_terms& t, const frame_edges& f, int y_lo,
                     int y_hi) {
    int32_t inside = 0;
    run_finder runs(t, f, w);
    for (int y = y_lo; y < y_hi; ++y) {
        int begin = 0, end = 0;
        runs.inside_run(y, &begin, &end);
        inside += valid_in(m, y, begin, end);
    }
    return inside;
}

// The window's rows in bands, on several threads; the rows a band left
// uncounted are counted in a second pass only when some point was lost at
// all. The counts are sums of whole numbers: the same for any bands.
void count_by_runs(const height_matrix& m, const window& w, const turn_terms& t, const frame_edges& f,
                   int32_t* outside, int32_t* valid) {
    const int band_count = std::min<int>(w.height, MOST_THREADS);
    const auto band_rows = [&](int b, int* y_lo, int* y_hi) {
        *y_lo = w.y + w.height * b / band_count;
        *y_hi = w.y + w.height * (b + 1) / band_count;
    };
    const int64_t band_work = int64_t{w.width} * w.height / band_count;
    band_counts bands[MOST_THREADS];
    run_in_bands(band_count, band_work, [&](int lo, int hi) {
        for (int b = lo; b < hi; ++b) {
            int y_lo = 0, y_hi = 0;
            band_rows(b, &y_lo, &y_hi);
            bands[b] = count_band_by_runs(m, w, t, f, y_lo, y_hi);
        }
    });
    for (int b = 0; b < band_count; ++b) *outside += bands[b].outside;
    if (*outside == 0) return;
    run_in_bands(band_count, band_work, [&](int lo, int hi) {
        for (int b = lo; b < hi; ++b) {
            int y_lo = 0, y_hi = 0;
            band_rows(b, &y_lo, &y_hi);
            bands[b].inside += count_inside(m, w, t, f, y_lo, bands[b].uncounted_end);
        }
    });
    int32_t inside = 0;
    for (int b = 0; b < band_count; ++b) inside += bands[b].inside;
    *valid = *outside + inside;
}

void count_point_by_point(const height_matrix& m, const window& w, const turn_terms& t, const frame_edges& f,
                          int32_t* outside, int32_t* valid) {
    const int32_t* row = matrix_element(&m, w);
    for (int y = w.y; y <= wn_bottom(w); ++y, row += m.window.width) {
        for (int x = w.x; x <= wn_right(w); ++x) {
            if (!is_valid_height(row[x - w.x])) continue;
            ++*valid;
            if (turned_outside(t, f, x, y)) ++*outside;
        }
    }
    if (*outside == 0) *valid = 0;
}

}  // namespace

int matrix_count_outside(const height_matrix* m, const window* w, const window& frame, double px, double py,
                         double angle, int32_t* outside, int32_t* valid) {
    *outside = 0;
    *valid = 0;
    if (m == nullptr || !is_usable_matrix(*m)) return ERR_INVALID_PARAM;
    const window area = w != nullptr ? *w : m->window;
    if (!wn_is_proper(area) || !wn_is_proper(frame)) return ERR_IMPROPER_WINDOW;
    const int relation = wn_compare(area, m->window);
    if (relation != WN_INSIDE && relation != WN_EQUAL) return ERR_IMPROPER_WINDOW;
    // The turn matrix_rotate makes of the angle; a whole number of turns
    // leaves every point where it is.
    const rotation_plan plan =
        plan_rotation({angle, px, py, rotation_choice::interpolate, rotation_rule::library, false});
    if (plan.method != rotation_method::interpolate || area.width == 0 || area.height == 0) return 0;
    const double radians = plan.turn / DEGREES_PER_RADIAN;
    const turn_terms t{px, py, rounded_sin(radians), rounded_cos(radians)};
    const frame_edges f = edges_of(frame);
    if (!(std::isfinite(px) && std::isfinite(py) && std::isfinite(t.s) && std::isfinite(t.c))) {
        count_point_by_point(*m, area, t, f, outside, valid);
    } else if (!corners_inside(t, f, area)) {
        count_by_runs(*m, area, t, f, outside, valid);
    }
    return 0;
}

}  // namespace spinmap
