// Checks and row tables shared by the two rotation kernels (exact moves and
// interpolating resampling). Internal to transform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include <spinmap/matrix/matrix.h>

namespace spinmap {

// True when the record holds an array that covers its window: extents not
// negative and `size` at least width x height. A zero extent has no elements
// and is covered by any array.
bool holds_its_window(const height_matrix& m);

// As holds_its_window, and the right column and bottom row lie in the 16-bit
// range.
bool is_usable_matrix(const height_matrix& m);

// True when a walk over the window's columns and rows stays in the 16-bit
// coordinate range: x + width and y + height at most 32767.
bool is_walkable_window(const window& w);

// Common argument checks of both kernels: ERR_INVALID_PARAM for an absent or
// unusable source, or a result without an array covering its window;
// ERR_IMPROPER_WINDOW for a result window that cannot be walked.
int check_kernel_matrices(const height_matrix* source, const height_matrix* result);

// The turns that move values: a quarter turn either way, or a half turn.
enum class exact_turn {
    counter_clockwise,  // 90 degrees
    clockwise,          // -90 degrees
    half,               // 180 degrees
};

// The turn of 90, -90 or 180 degrees; nullopt for any other angle.
std::optional<exact_turn> exact_turn_of(double degrees);

// True when the coordinate is a multiple of 0.5, compared exactly (a NaN is
// not).
bool on_half_pixels(double p);

// Result columns col_lo .. col_hi-1 and rows row_lo .. row_hi-1 (indices
// within the result window); empty when a range is.
struct landing_area {
    int col_lo;
    int col_hi;
    int row_lo;
    int row_hi;
};

// The part of the result that matrix_rotate_exact with these arguments
// writes: every element of this rectangle receives a source element, and no
// element outside it is written. Empty when nothing lands.
landing_area exact_landing_area(const window& source_window, const window& result_window, double px, double py,
                                exact_turn turn);

// Where the move of matrix_rotate_exact from source_window onto
// result_window puts the elements of `part`, a window inside the source
// window: false unless each of them lands in the result; their landing area
// otherwise.
bool exact_part_landing(const window& source_window, const window& part, const window& result_window, double px,
                        double py, exact_turn turn, landing_area* area);

// Stores INVALID_HEIGHT into every element of a result of width x height
// elements, its rows `pitch` elements apart, outside the area a move is about
// to write (all of it when the area is empty), so that no element is written
// twice.
void fill_outside(int32_t* elements, std::ptrdiff_t pitch, int width, int height, const landing_area& area);

// matrix_rotate_exact after its checks, through row tables: source_rows
// address the source window's rows (contiguous), result_rows the result
// window's.
void move_exact(int32_t* const* source_rows, const window& source_window, int32_t* const* result_rows,
                const window& result_window, double px, double py, exact_turn turn);

// True when the turn carries every element of the window onto the window
// and fills it: a quarter turn of a square about its centre, or a half turn
// about the window's centre. False for a window without elements.
bool turns_onto_itself(const window& w, double px, double py, exact_turn turn);

// matrix_rotate_exact of the matrix onto its own window, done in its own
// array, when the turn carries the window exactly onto itself: a half turn
// about the window's centre, or a quarter turn of a square window about its
// centre. False, with nothing changed, when it does not (or the matrix is
// unusable or empty); the caller then rotates into a new array.
bool rotate_exact_in_place(height_matrix* m, double px, double py, exact_turn turn);

// The source and result row tables of one kernel call, obtained through
// malloc_hook and released through free_hook when the holder goes.
class row_tables {
public:
    // Allocates the source table, then the result table (one entry per window
    // row, at least one since matrix_rows always writes the first), and fills
    // both. ERR_NO_MEM when either allocation fails.
    int build(const height_matrix* source, const height_matrix* result);

    int32_t* const* source() const { return source_.get(); }
    int32_t* const* result() const { return result_.get(); }

private:
    hook_buffer<int32_t*> source_;
    hook_buffer<int32_t*> result_;
};

}  // namespace spinmap
