// Geometric transforms of height matrices: rotation about a pivot onto an
// output window, by moving values for quarter and half turns about suitable
// pivots and by interpolating resampling otherwise.
//
// Conventions every kernel here follows:
// - Camera coordinates: X counts columns to the right, Y counts rows
//   downward; (0, 0) is the centre of the upper-left camera pixel, so the
//   element in row r, column c of a matrix lies at (x + c, y + r) for the
//   matrix window's origin (x, y). Whole coordinates are pixel centres.
// - Angles are doubles in degrees, counter-clockwise positive as the image is
//   seen with row 0 at the top. Radians are degrees / 57.2957795131, this
//   divisor exactly (a quarter turn thus has a cosine of about 4.8e-13).
// - For a pivot (px, py), c = cos and s = sin of the angle:
//     forward  X' = px + c(X - px) + s(Y - py),  Y' = py - s(X - px) + c(Y - py)
//     inverse  X  = px + c(X' - px) - s(Y' - py), Y = py + s(X' - px) + c(Y' - py)
//   The same motion is a flip of Y, the usual counter-clockwise rotation in a
//   y-up frame (rotate_point), and a flip back.
// - A double becomes an integer height or coordinate by rounding half away
//   from zero, and only after a range check. Exactness tests (multiples of 90
//   degrees, of 0.5 pixel, of 360 degrees) compare fmod remainders with 0
//   exactly.
// - Expressions are evaluated in the order written, in double precision, with
//   no contraction into fused multiply-adds; optimisations hoist only
//   identical sub-expressions, so results are bit-exact.
//
// Operations return an error code (errors.h); nothing here prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include <spinmap/datafile/datafile.h>
#include <spinmap/matrix/matrix.h>

namespace spinmap {

inline constexpr double DEGREES_PER_RADIAN = 57.2957795131;

// matrix_rotate mode flags: a window field, a pivot field and a method field;
// bit 0x80 and above are ignored.
enum rotate_mode : int {
    ROT_WIN_MASK = 0x07,
    ROT_WIN_GIVEN = 1,            // the given output window (0 acts alike)
    ROT_WIN_CLIPPED = 2,          // rotated bounding window met with the given one
    ROT_WIN_BOUNDING = 3,         // rotated bounding window about the window centre (5-7 alike)
    ROT_WIN_BOUNDING_ORIGIN = 4,  // as ROT_WIN_BOUNDING, result origin then (0, 0)
    ROT_PIVOT_MASK = 0x18,
    ROT_PIVOT_GIVEN = 0x00,          // from the pivot arguments (0x18 acts alike)
    ROT_PIVOT_VALID_CENTER = 0x08,   // centre of the valid points' window
    ROT_PIVOT_WINDOW_CENTER = 0x10,  // centre of the matrix window
    ROT_METHOD_MASK = 0x60,          // 0x00 and 0x60: automatic choice
    ROT_NO_INTERP = 0x20,            // the angle must be a multiple of 90 degrees
    ROT_INTERP = 0x40,               // always interpolate
};

// The sine and cosine of x rounded correctly: the exact value rounded to the
// nearest double, ties to even, for every finite x (the reduction by pi/2 is
// exact over the whole double range); NaN for NaN and infinities. Every
// sine and cosine of the rotations goes through these, so that results do
// not depend on the platform's C library.
double rounded_sin(double x);
double rounded_cos(double x);

// ---- The rotation plan ------------------------------------------------------
//
// How a rotation by an angle about a pivot is done: whether the data stay as
// they are, move unchanged or are resampled by interpolation, whether the
// pivot is moved half a pixel first, and when the rotation is refused. The
// tool and matrix_rotate both follow it, and matrix_rotate_by_plan carries a
// plan out as it stands.

// What the caller asks of the method.
enum class rotation_choice {
    automatic,    // move values where angle and pivot allow it, else interpolate
    interpolate,  // always resample
    no_interp,    // never resample
};

// Whose rule decides: the spinmap tool's, or matrix_rotate's own method field.
enum class rotation_rule { tool, library };

struct rotation_request {
    double angle = 0;  // degrees, counter-clockwise positive
    double pivot_x = 0;
    double pivot_y = 0;
    rotation_choice choice = rotation_choice::automatic;
    rotation_rule rule = rotation_rule::tool;
    // Library rule: the pivot is a computed centre, which may be moved half a
    // pixel; a given pivot never is.
    bool pivot_computed = false;
};

enum class rotation_method {
    refused,      // not done at all: see the refusal
    unchanged,    // a whole number of turns: the data stay exactly as they are
    move_values,  // a quarter or half turn: every value moves to its place unchanged
    interpolate,  // every result point is resampled from its four source neighbours
};

enum class rotation_refusal {
    none,
    angle_not_quarter,  // no interpolation asked, and the angle is not a multiple of 90 degrees
    pivot_not_half,     // tool, no interpolation asked, and a pivot coordinate is not a multiple of 0.5
};

struct rotation_plan {
    rotation_method method;
    rotation_refusal refusal;
    double pivot_x;       // the pivot the rotation turns about, after any adjustment
    double pivot_y;
    bool pivot_adjusted;  // one coordinate was moved half a pixel
    double turn;          // the angle brought into (-180, 180]; 90, -90 or 180 when values move
};

// Plans a rotation by the request's rule. Nothing is allocated or printed.
rotation_plan plan_rotation(const rotation_request& request);

// Turns (x, y) about (cx, cy) by radians, counter-clockwise in a y-up frame.
void rotate_point(double* x, double* y, double cx, double cy, double radians);

// Replaces the window by the bounding window of its four corner pixels moved
// by the forward rotation about (px, py), each rounded half away from zero.
// When that window cannot be held in 16-bit fields (a pivot far away, or a
// NaN), the window becomes (0, 0, 0, 0), which no rotated window is.
void wn_rotate(window* w, double px, double py, double radians);

// Rotates the matrix by angle degrees and replaces it with the result on the
// output window the mode gives. pivot_x and pivot_y are in and out: on
// success each present one receives the pivot used. A whole number of turns
// returns at once with nothing changed. On any failure the matrix and the
// pivot arguments are as they were. ERR_INVALID_PARAM for a matrix without an
// array covering its (proper) window; ERR_PARAM_OUT_OF_RANGE for an output
// window without elements or a bounding window that cannot be had;
// ERR_IMPROPER_WINDOW for an output window whose x + width or y + height
// exceeds 32767; ERR_WINDOWS_DISJOINT when a clipped window is empty (also
// for a pivot too far away or NaN); ERR_ALL_BAD_DATA for the valid-points
// pivot of a matrix without valid points.
int matrix_rotate(height_matrix* matrix, const window* out_window, double* pivot_x, double* pivot_y, double angle,
                  int mode);

// Counts the valid points of window w of the matrix (the whole matrix when
// null) that a rotation by angle degrees about (px, py) carries outside the
// frame: those whose place by the forward formula, evaluated in doubles as
// X' = (px + c(X - px)) + s(Y - py), Y' = (py - s(X - px)) + c(Y - py) with
// the angle brought into (-180, 180] as matrix_rotate brings it, has
// X' < frame.x - 0.5, X' >= frame.x + frame.width - 0.5, or the same in Y.
// A whole number of turns carries nothing anywhere. When some point is
// outside, *valid receives the number of all valid points of w, for the
// share; otherwise it is 0, as only the points that may be outside are read
// (none at all when the turned corners of w lie inside). ERR_INVALID_PARAM
// for a matrix without an array covering its proper window;
// ERR_IMPROPER_WINDOW for a window that is not proper or not inside or
// equal to the matrix window, or a frame that is not proper; both counts
// are 0 then.
int matrix_count_outside(const height_matrix* m, const window* w, const window& frame, double px, double py,
                         double angle, int32_t* outside, int32_t* valid);

// Carries out a plan of plan_rotation on the matrix, without planning again,
// and replaces the matrix with the result on exactly the given output window.
// A refused plan gives ERR_INVALID_PARAM and an unchanged one returns 0, both
// with nothing changed; so does a hand-made plan to move values that is not a
// turn of 90, -90 or 180 degrees about a pivot on whole or half pixels
// (ERR_INVALID_PARAM). Otherwise the errors of matrix_rotate with
// ROT_WIN_GIVEN, and on any failure the matrix is as it was.
int matrix_rotate_by_plan(height_matrix* matrix, const window& out_window, const rotation_plan& plan);

// True when matrix_rotate_by_plan of the matrix onto the output window moves
// the values within the matrix's own array, taking no memory of its own: a
// plan that moves values onto the matrix's own window and carries it onto
// itself (a quarter turn of a square about its centre, a half turn about the
// centre).
bool rotates_within_its_array(const height_matrix& matrix, const window& out_window, const rotation_plan& plan);

// Both kernels below return ERR_INVALID_PARAM for an absent source or result,
// a source without an array covering its proper window, or a result without
// an array covering its window; ERR_IMPROPER_WINDOW for a result window whose
// x + width or y + height exceeds 32767; ERR_NO_MEM when a row table cannot
// be had. Every failure happens before any result element is written.

// Moves every source element unchanged to its place under a turn of 90, -90
// or 180 degrees about (px, py), whose coordinates must be multiples of 0.5;
// places outside the result window are dropped. The result must be filled
// with INVALID_HEIGHT beforehand. A start place beyond the 32-bit range puts
// every element outside the result.
int matrix_rotate_exact(const height_matrix* source, height_matrix* result, double px, double py, int turn);

// Writes every result point with the value of the least-squares plane through
// the four source neighbours of its inverse-mapped position, or
// INVALID_HEIGHT where there is none (also where the plane's rounded value
// is not a valid height).
int matrix_resample_interp(const height_matrix* source, height_matrix* result, double px, double py, double angle);

// The value at source position (a, b), relative to the source window origin,
// through the source row table; INVALID_HEIGHT outside the outermost pixel
// centres or with an invalid neighbour. Always writes *value.
void matrix_interp_point(int32_t* const* rows, double a, double b, const window& source_window, int32_t* value);

// ---- Rotated rows, a band at a time ---------------------------------------
//
// Where the rotated heights are needed only row by row (to be written, say),
// the rows of the result are made a band at a time into the caller's memory,
// so that the rotated frame never takes memory of its own. Every row holds,
// bit for bit, what matrix_rotate_by_plan onto a window holding it leaves
// there. Plans that move values (a checked turn and pivot, as
// matrix_rotate_by_plan checks them) and plans that interpolate are
// carried out; any other is ERR_INVALID_PARAM.

// The window that a move of values by the plan gives window `part` of the
// source on the frame, when the move puts every element of the part inside
// the frame: for the valid points' window, the valid points' window of the
// result. False for any other plan, or when an element of the part lands
// outside the frame.
bool moved_part_window(const height_matrix& source, const window& part, const window& frame,
                       const rotation_plan& plan, window* out);

// The valid points' window of the interpolation by the plan onto the frame,
// found by evaluating only the points its search needs; `valid` must hold
// every valid point of the source. ERR_ALL_BAD_DATA when no point is valid;
// ERR_INVALID_PARAM for a plan that does not interpolate or a source
// without an array covering its proper window; ERR_IMPROPER_WINDOW for a
// frame that is not proper or cannot be walked; ERR_NO_MEM.
int resampled_valid_window(const height_matrix& source, const window& valid, const window& frame,
                           const rotation_plan& plan, window* out);

// Whether a result that is only written is better made as it is written
// (rotated_rows) than rotated onto the frame first, and then the output
// window its rows are made on: *made is set for an interpolation, unless
// its valid points must be counted before it is written (`counting`), and
// for a move of values that keeps the whole `valid` window on the frame,
// unless the frame turns within its own array (as fast, and no memory
// either). *made is false, with 0, for every other plan. The errors of
// resampled_valid_window, ERR_ALL_BAD_DATA among them.
int made_rows_window(const height_matrix& source, const window& valid, const window& frame,
                     const rotation_plan& plan, bool counting, window* out, bool* made);

// The rows of the result of a plan on an output window, made on demand.
// The source must stay as it is while rows are made.
class rotated_rows {
public:
    // Checks the plan and the matrices and takes the row tables: the errors
    // of matrix_rotate_by_plan (ERR_PARAM_OUT_OF_RANGE for an output window
    // without elements). Making rows allocates nothing after this.
    int prepare(const height_matrix& source, const rotation_plan& plan, const window& out);

    // Rows first .. first+count-1 of the output window into `rows`, each
    // as wide as the window, their starts `pitch` elements apart (at least
    // the width); nothing is written between them. ERR_INVALID_PARAM (with
    // nothing written) unless they lie in the window, the pitch holds a row
    // and prepare succeeded.
    int make(int first, int count, int32_t* rows, std::ptrdiff_t pitch);

private:
    const height_matrix* source_ = nullptr;
    rotation_plan plan_{};
    window out_{};
    hook_buffer<int32_t*> source_rows_;
    hook_buffer<int32_t*> result_rows_;
    double s_ = 0, c_ = 0;
};

// ---- Alignment from fiducials -----------------------------------------------
//
// The rigid motion (a turn and a shift, no scale) that carries a
// measurement's points onto the same points of a reference, fitted by least
// squares, and written as what spinmap needs: an angle in its sense and the
// pivot about which that turn is the motion. Running spinmap with them on
// the measurement brings its fiducials onto the reference's.

// A point of the measurement and the same point in the reference, in camera
// pixels.
struct point_pair {
    double x, y;
    double ref_x, ref_y;
};

// A spread or a turn that moves no point by this many pixels counts as none.
inline constexpr double ALIGNMENT_TOLERANCE_PIXELS = 1e-3;

enum class alignment_refusal {
    none,
    too_few_pairs,             // fewer than two pairs
    not_finite,                // a coordinate is not a finite number
    measurement_at_one_place,  // the measurement's points lie within the tolerance of their centre
    reference_at_one_place,    // the reference's points do
    turn_undetermined,         // every turn fits equally well (a mirror image, say)
    no_turn,                   // the turn moves no point by the tolerance: a shift only
    pivot_out_of_range,        // the pivot lies beyond the largest float, which spinmap cannot take
};

struct rigid_fit {
    alignment_refusal refusal;
    int pairs;
    // Without a refusal, and for no_turn: the fitted turn in degrees
    // (radians x 180 / pi), counter-clockwise positive as the image is seen
    // with row 0 at the top, in (-180, 180]; and the distances in pixels
    // between the moved measurement points and the reference's, their RMS
    // and the largest. 0 otherwise.
    double angle;
    double rms;
    double largest;
    // Without a refusal, and for pivot_out_of_range: the pivot about which
    // the turn is the fitted motion. 0 otherwise.
    double pivot_x, pivot_y;
    // From one pair on, all coordinates finite: the centre of the
    // reference's points minus that of the measurement's.
    double shift_x, shift_y;
};

// Fits the motion, in double. The turn is atan2 of the cross-covariance of
// the points about their centres; the turn alone moves a point at distance
// r from the measurement's centre by 2 sin(|turn| / 2) r, and below the
// tolerance for every point the motion is a shift only (no_turn).
rigid_fit fit_rigid_motion(std::span<const point_pair> pairs);

// The fiducials of two headers paired by group and index: a pair wherever
// both hold the point (the index below both counts, each count taken up to
// the group's room of 7; a count of 0 or less holds none), group A first,
// each group in index order.
struct fiducial_pairs {
    int count;
    int per_group[FIDUCIAL_GROUPS];
    point_pair pairs[FIDUCIAL_GROUPS * FIDUCIAL_ROOM];
};

fiducial_pairs match_fiducials(const HeaderRecord& measurement, const HeaderRecord& reference);

// The alignment of a measurement's fiducials to a reference's, with the
// residuals also in micrometres through the reference's CameraRes.
struct fiducial_alignment {
    rigid_fit fit;
    int per_group[FIDUCIAL_GROUPS];  // matched pairs of groups A to D
    double metres_per_pixel;         // the reference's CameraRes when finite and positive, else 0
    double rms_um, largest_um;       // the residuals in micrometres; 0 without metres_per_pixel
};

fiducial_alignment align_fiducials(const HeaderRecord& measurement, const HeaderRecord& reference);

// Why a fit gives no turn about a pivot, in words for a message about
// fiducials; empty without a refusal.
std::string alignment_refusal_text(const rigid_fit& fit);

}  // namespace spinmap
