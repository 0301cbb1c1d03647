// Data matrices, allocation hooks, windows and valid height points.
//
// A window is a rectangle of camera pixels: columns x .. x+width-1 and rows
// y .. y+height-1, with (0, 0) the centre of the upper-left camera pixel. Its
// right column and bottom row are computed in 32-bit arithmetic and must lie
// in the 16-bit signed range for an operation that relies on them.
//
// A matrix record owns one contiguous row-major element array covering its
// window (intensity matrices hold n_buckets such frames one after another).
// A null array means the data is absent. Records are plain structures; clear
// them with matrix_clear() before first use. A matrix is moved by copying the
// record and clearing the source's array pointer. C++ callers may hold them
// in owned_height and owned_intensity, which release themselves. No operation reads or
// writes outside the `size` elements of an array.
//
// Every element array and scratch buffer of the program is obtained through
// malloc_hook (or calloc_hook) and released through free_hook. Static
// initialisation points them at the standard allocator. spinmap's entry
// then points malloc_hook at u_allocate_large (platform.h), whose blocks the
// standard free releases, before anything is allocated; the tests replace
// the hooks to count and fail allocations. A replacement must release every
// block the hooks handed out, those from before it included.
//
// Operations that can fail return an error code (errors.h) and pass results
// through out-parameters. Nothing here prints except the diagnostic dump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include <spinmap/errors/errors.h>

namespace spinmap {

// ---- Allocation hooks -------------------------------------------------------

using malloc_fn = void* (*)(std::size_t);
using realloc_fn = void* (*)(void*, std::size_t);
using calloc_fn = void* (*)(std::size_t, std::size_t);
using free_fn = void (*)(void*);

extern malloc_fn malloc_hook;
extern realloc_fn realloc_hook;
extern calloc_fn calloc_hook;
extern free_fn free_hook;

// An array of T from malloc_hook, released through free_hook when its owner
// goes.
struct hook_release {
    void operator()(void* block) const { free_hook(block); }
};
template <typename T>
using hook_buffer = std::unique_ptr<T[], hook_release>;

// A buffer of `count` elements (uninitialised); null when the hook refuses
// it or its byte size does not fit a size_t.
template <typename T>
hook_buffer<T> hook_allocate(std::size_t count) {
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return hook_buffer<T>(static_cast<T*>(malloc_hook(count * sizeof(T))));
}

// ---- Records ----------------------------------------------------------------

struct window {
    int16_t x;
    int16_t y;
    int16_t width;
    int16_t height;
};

// Heights are valid below this value (signed comparison); every invalid point
// is written as exactly this value.
inline constexpr int32_t INVALID_HEIGHT = 2147483640;  // 0x7FFFFFF8

constexpr bool is_valid_height(int32_t value) { return value < INVALID_HEIGHT; }

struct height_matrix {
    uint32_t size;         // elements allocated; 0 without an array
    struct window window;  // camera pixels covered
    int32_t* matrix;       // owned element array, or null when absent
};

struct intensity_matrix {
    uint32_t size;          // elements allocated; 0 without an array
    struct window window;   // camera pixels every frame covers
    int16_t n_buckets;      // frames held
    uint16_t intens_range;  // carried unchanged between file header and record
    uint16_t* matrix;       // owned element array, or null when absent
};

// ---- Matrix operations ------------------------------------------------------

// Sets every field to zero and the array to null; releases nothing.
void matrix_clear(height_matrix* m);
void matrix_clear(intensity_matrix* m);

// Allocates the element array for the record's window (times n_buckets for
// intensity). The count is computed in 64 bits: ERR_PARAM_OUT_OF_RANGE for a
// count of 0, a negative extent or bucket count, or a byte size that does not
// fit, with the record unchanged; ERR_NO_MEM when the hook returns null (the
// record then has size 0 and no array; the intensity record also loses its
// extent and bucket count). The elements are not initialised. Call only on a
// record that holds no array.
int matrix_alloc(height_matrix* m);
int matrix_alloc(intensity_matrix* m);

// Releases the array (if any) and zeroes size, width and height (and
// n_buckets); x and y keep their values. Harmless on an empty record. Cannot
// fail: always 0.
int matrix_free(height_matrix* m);
int matrix_free(intensity_matrix* m);

// Stores value into each of the width x height elements (every frame for
// intensity); stores nothing for a zero extent or a missing array.
void matrix_fill(height_matrix* m, int32_t value);
void matrix_fill(intensity_matrix* m, uint16_t value);

// Address of the element of camera pixel (w.x, w.y). No range check: the
// caller passes a window whose origin lies in the matrix's window.
int32_t* matrix_element(const height_matrix* m, const window& w);
uint16_t* matrix_element(const intensity_matrix* m, const window& w);

// Fills rows[0 .. w.height-1] with the row start addresses of window w (the
// matrix's own window when w is null); the stride is the matrix's width.
// rows[0] is written even when w.height is 0 or 1.
void matrix_rows(const height_matrix* m, const window* w, int32_t** rows);

// Gives the record the window w (and bucket count), keeping the array and its
// contents when the new count equals size, or is smaller and keep is true;
// otherwise releases the array and allocates one of the new count (ERR_NO_MEM:
// no array, old window). A new count of 0 releases the array and leaves the
// window as it was. A negative extent or bucket count, or a count whose byte
// size does not fit, gives ERR_PARAM_OUT_OF_RANGE with the record unchanged.
int matrix_resize(height_matrix* m, const window& w, bool keep);
int matrix_resize(intensity_matrix* m, const window& w, int16_t n_buckets, bool keep);

// An owned matrix: the plain record itself, so it is handed to every
// operation here as it is, which releases its array through matrix_free (so
// through free_hook) when it goes out of scope. It starts cleared, moves as
// a record moves (the source keeps no array) and is never copied.
template <typename Matrix>
struct matrix_owner : Matrix {
    matrix_owner() : Matrix{} {}
    ~matrix_owner() { matrix_free(this); }
    matrix_owner(matrix_owner&& other) noexcept : Matrix(other) { other.disown(); }
    matrix_owner& operator=(matrix_owner&& other) noexcept {
        if (this != &other) {
            matrix_free(this);
            Matrix::operator=(other);
            other.disown();
        }
        return *this;
    }
    matrix_owner(const matrix_owner&) = delete;
    matrix_owner& operator=(const matrix_owner&) = delete;

    // Moves the matrix into a plain record, whose own array is released
    // first; this owner keeps none.
    void move_to(Matrix* record) {
        matrix_free(record);
        *record = *this;
        disown();
    }

private:
    void disown() {
        this->matrix = nullptr;
        this->size = 0;
    }
};

using owned_height = matrix_owner<height_matrix>;
using owned_intensity = matrix_owner<intensity_matrix>;

// Diagnostic dump: size, window, array address and, for a non-empty window
// with an array, a CRC-32 of its width x height elements (never more than
// `size`; for intensity that is the first frame); "NULL\n" for a null record.
void matrix_dump(std::FILE* stream, const height_matrix* m);
void matrix_dump(std::FILE* stream, const intensity_matrix* m);

// CRC-32, reflected polynomial 0xEDB88320, initial value 0, no final inversion.
uint32_t u_crc32(const void* data, std::size_t bytes);

// ---- Windows ----------------------------------------------------------------

enum wn_relation : int {
    WN_DISJOINT = 1,  // no pixel in common
    WN_EQUAL = 2,     // same left, right, top and bottom
    WN_OVERLAP = 3,   // none of the others
    WN_INSIDE = 4,    // A within B, not equal
    WN_CONTAINS = 5,  // A contains B, not equal
};

// Right column and bottom row of a window, in 32-bit arithmetic.
constexpr int32_t wn_right(const window& w) { return int32_t{w.x} + w.width - 1; }
constexpr int32_t wn_bottom(const window& w) { return int32_t{w.y} + w.height - 1; }

// True when width and height are not negative and the right column and bottom
// row stay in the 16-bit signed range.
bool wn_is_proper(const window& w);

// Relation of A to B, tested in the order disjoint, equal, inside, contains.
int wn_compare(const window& a, const window& b);

// The common part of A and B; ERR_WINDOWS_DISJOINT (out untouched) when none.
int wn_intersect(const window& a, const window& b, window* out);

// Midpoint between the centres of the first and last pixel in each direction.
void wn_center(const window& w, double* cx, double* cy);

// The same sums halved by an arithmetic shift (rounded towards minus infinity).
void wn_center_int(const window& w, int16_t* cx, int16_t* cy);

enum wn_axis : int { WN_HORIZONTAL = 1, WN_VERTICAL = 2 };

// Widens the window outward so that its origin and extent along the given
// axes (WN_HORIZONTAL, WN_VERTICAL or both) are multiples of 4.
void wn_align4(window* w, int axes);

// ---- Valid height points ----------------------------------------------------
//
// These operations refuse a record they cannot read safely: a null record or
// array, or an array smaller than width x height, gives ERR_INVALID_PARAM; a
// matrix or search window with a negative extent or a right column or bottom
// row outside the 16-bit range gives ERR_IMPROPER_WINDOW. Outputs are then
// left as for ERR_IMPROPER_WINDOW below.

// Counts the valid elements of window w (the whole matrix when null); w must
// be inside or equal to the matrix window, else ERR_IMPROPER_WINDOW with a
// count of 0.
int matrix_count_valid(const height_matrix* m, const window* w, int32_t* count);

// The minimum window enclosing the valid points of search window s (the whole
// matrix when null). ERR_IMPROPER_WINDOW (out untouched) for a search window
// not inside or equal to the matrix window; ERR_ALL_BAD_DATA (out all zero)
// when no point is valid.
int matrix_valid_window(const height_matrix* m, const window* s, window* out);

// wn_center() of matrix_valid_window() of the whole matrix.
int matrix_valid_center(const height_matrix* m, double* cx, double* cy);

// Copies the destination window's part of the source into the destination;
// the source window must contain or equal it, else ERR_IMPROPER_WINDOW.
int matrix_copy_window(const height_matrix* source, height_matrix* destination);

// Shrinks the matrix to the minimum window enclosing its valid points, in
// place: the kept rows move to the front of the same array, which keeps its
// size, and nothing is allocated. On failure (ERR_ALL_BAD_DATA, or a record
// matrix_valid_window refuses) the matrix is unchanged.
int matrix_trim(height_matrix* m);

// Statistics of the valid heights of a matrix, in file units: the RMS is
// taken about the mean, sqrt(sum (v - mean)^2 / count), with the mean and the
// sum each formed in one pass in double. The inspector and the viewer report
// these same figures.
struct height_statistics {
    int64_t count = 0;
    int32_t minimum = 0, maximum = 0;
    double mean = 0, rms = 0;
};

// ERR_ALL_BAD_DATA when no height is valid; ERR_INVALID_PARAM for a matrix
// without elements or whose window needs more than it holds.
int measure_heights(const height_matrix& height, height_statistics* stats);

}  // namespace spinmap
