// The viewer's own font: 5 x 10 pixel glyphs of printable ASCII, Latin-1
// (U+00A0 to U+00FF) and the Greek alphabet with its accented letters
// (U+0386 to U+03CE), the ohm sign U+2126 drawn as omega. Every glyph is
// drawn here as rows of text, '#' a lit pixel, so that it can be read and
// changed where it is defined.
//
// A glyph is two accent rows above an 8-row body: body rows 0 to 6 hold
// capitals and digits, the lower-case letters rows 2 to 6, row 7 the
// descenders. An accented capital carries its accent in the two accent rows,
// an accented lower-case letter in body rows 0 and 1 (a cedilla in row 7):
// such a letter is its base letter and an accent, put together below.
//
// Text is UTF-8. A character without a glyph (a control character, any
// other script, a symbol) is drawn as one '?', and so is every byte that
// begins no well-formed UTF-8 sequence.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace spinmap {

inline constexpr int GLYPH_WIDTH = 5;
inline constexpr int ACCENT_ROWS = 2;
inline constexpr int BODY_ROWS = 8;
inline constexpr int GLYPH_HEIGHT = ACCENT_ROWS + BODY_ROWS;
// Columns from one character to the next: the glyph and one blank column.
inline constexpr int GLYPH_ADVANCE = GLYPH_WIDTH + 1;
// Rows from a glyph's top to the middle of its capitals (body rows 0 to 6).
inline constexpr int GLYPH_CAP_MIDDLE = ACCENT_ROWS + 3;

inline constexpr char32_t FIRST_ASCII = 0x20;
inline constexpr int ASCII_COUNT = 0x7E - 0x20 + 1;

// Each glyph row as a bit mask, bit 4 the leftmost column.
using glyph_rows = std::array<uint8_t, GLYPH_HEIGHT>;

struct font_glyph {
    char32_t code;
    glyph_rows rows;
};

// The drawings the glyph table is made from, and how it is made.
namespace font_source {

inline constexpr const char* ASCII_ART[ASCII_COUNT][BODY_ROWS] = {
    {".....", ".....", ".....", ".....", ".....", ".....", ".....", "....."},  // space
    {"..#..", "..#..", "..#..", "..#..", "..#..", ".....", "..#..", "....."},  // !
    {".#.#.", ".#.#.", ".#.#.", ".....", ".....", ".....", ".....", "....."},  // "
    {".#.#.", ".#.#.", "#####", ".#.#.", "#####", ".#.#.", ".#.#.", "....."},  // #
    {"..#..", ".####", "#.#..", ".###.", "..#.#", "####.", "..#..", "....."},  // $
    {"##...", "##..#", "...#.", "..#..", ".#...", "#..##", "...##", "....."},  // %
    {".##..", "#..#.", "#.#..", ".#...", "#.#.#", "#..#.", ".##.#", "....."},  // &
    {"..#..", "..#..", "..#..", ".....", ".....", ".....", ".....", "....."},  // '
    {"...#.", "..#..", ".#...", ".#...", ".#...", "..#..", "...#.", "....."},  // (
    {".#...", "..#..", "...#.", "...#.", "...#.", "..#..", ".#...", "....."},  // )
    {".....", "..#..", "#.#.#", ".###.", "#.#.#", "..#..", ".....", "....."},  // *
    {".....", "..#..", "..#..", "#####", "..#..", "..#..", ".....", "....."},  // +
    {".....", ".....", ".....", ".....", ".....", ".##..", "..#..", ".#..."},  // ,
    {".....", ".....", ".....", "#####", ".....", ".....", ".....", "....."},  // -
    {".....", ".....", ".....", ".....", ".....", ".##..", ".##..", "....."},  // .
    {"....#", "....#", "...#.", "..#..", ".#...", "#....", "#....", "....."},  // /
    {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###.", "....."},  // 0
    {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###.", "....."},  // 1
    {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####", "....."},  // 2
    {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###.", "....."},  // 3
    {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#.", "....."},  // 4
    {"#####", "#....", "####.", "....#", "....#", "#...#", ".###.", "....."},  // 5
    {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###.", "....."},  // 6
    {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#...", "....."},  // 7
    {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###.", "....."},  // 8
    {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##..", "....."},  // 9
    {".....", ".##..", ".##..", ".....", ".##..", ".##..", ".....", "....."},  // :
    {".....", ".##..", ".##..", ".....", ".##..", "..#..", ".#...", "....."},  // ;
    {"...#.", "..#..", ".#...", "#....", ".#...", "..#..", "...#.", "....."},  // <
    {".....", ".....", "#####", ".....", "#####", ".....", ".....", "....."},  // =
    {".#...", "..#..", "...#.", "....#", "...#.", "..#..", ".#...", "....."},  // >
    {".###.", "#...#", "....#", "...#.", "..#..", ".....", "..#..", "....."},  // ?
    {".###.", "#...#", "#.###", "#.#.#", "#.###", "#....", ".###.", "....."},  // @
    {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#", "....."},  // A
    {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####.", "....."},  // B
    {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###.", "....."},  // C
    {"###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###..", "....."},  // D
    {"#####", "#....", "#....", "####.", "#....", "#....", "#####", "....."},  // E
    {"#####", "#....", "#....", "####.", "#....", "#....", "#....", "....."},  // F
    {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####", "....."},  // G
    {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#", "....."},  // H
    {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###.", "....."},  // I
    {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##..", "....."},  // J
    {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#", "....."},  // K
    {"#....", "#....", "#....", "#....", "#....", "#....", "#####", "....."},  // L
    {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#", "....."},  // M
    {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "....."},  // N
    {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###.", "....."},  // O
    {"####.", "#...#", "#...#", "####.", "#....", "#....", "#....", "....."},  // P
    {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#", "....."},  // Q
    {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#", "....."},  // R
    {".####", "#....", "#....", ".###.", "....#", "....#", "####.", "....."},  // S
    {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "....."},  // T
    {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###.", "....."},  // U
    {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#..", "....."},  // V
    {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#.", "....."},  // W
    {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#", "....."},  // X
    {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#..", "....."},  // Y
    {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####", "....."},  // Z
    {".###.", ".#...", ".#...", ".#...", ".#...", ".#...", ".###.", "....."},  // [
    {"#....", "#....", ".#...", "..#..", "...#.", "....#", "....#", "....."},  // backslash
    {".###.", "...#.", "...#.", "...#.", "...#.", "...#.", ".###.", "....."},  // ]
    {"..#..", ".#.#.", "#...#", ".....", ".....", ".....", ".....", "....."},  // ^
    {".....", ".....", ".....", ".....", ".....", ".....", ".....", "#####"},  // _
    {".#...", "..#..", "...#.", ".....", ".....", ".....", ".....", "....."},  // `
    {".....", ".....", ".###.", "....#", ".####", "#...#", ".####", "....."},  // a
    {"#....", "#....", "####.", "#...#", "#...#", "#...#", "####.", "....."},  // b
    {".....", ".....", ".###.", "#....", "#....", "#...#", ".###.", "....."},  // c
    {"....#", "....#", ".####", "#...#", "#...#", "#...#", ".####", "....."},  // d
    {".....", ".....", ".###.", "#...#", "#####", "#....", ".###.", "....."},  // e
    {"..##.", ".#..#", ".#...", "###..", ".#...", ".#...", ".#...", "....."},  // f
    {".....", ".....", ".####", "#...#", "#...#", ".####", "....#", ".###."},  // g
    {"#....", "#....", "#.##.", "##..#", "#...#", "#...#", "#...#", "....."},  // h
    {"..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###.", "....."},  // i
    {"...#.", ".....", "..##.", "...#.", "...#.", "...#.", "#..#.", ".##.."},  // j
    {"#....", "#....", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "....."},  // k
    {".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###.", "....."},  // l
    {".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#", "....."},  // m
    {".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#", "....."},  // n
    {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###.", "....."},  // o
    {".....", ".....", "####.", "#...#", "#...#", "####.", "#....", "#...."},  // p
    {".....", ".....", ".####", "#...#", "#...#", ".####", "....#", "....#"},  // q
    {".....", ".....", "#.##.", "##..#", "#....", "#....", "#....", "....."},  // r
    {".....", ".....", ".####", "#....", ".###.", "....#", "####.", "....."},  // s
    {".#...", ".#...", "###..", ".#...", ".#...", ".#..#", "..##.", "....."},  // t
    {".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#", "....."},  // u
    {".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#..", "....."},  // v
    {".....", ".....", "#...#", "#...#", "#.#.#", "#.#.#", ".#.#.", "....."},  // w
    {".....", ".....", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "....."},  // x
    {".....", ".....", "#...#", "#...#", "#...#", ".####", "....#", ".###."},  // y
    {".....", ".....", "#####", "...#.", "..#..", ".#...", "#####", "....."},  // z
    {"...#.", "..#..", "..#..", ".#...", "..#..", "..#..", "...#.", "....."},  // {
    {"..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "....."},  // |
    {".#...", "..#..", "..#..", "...#.", "..#..", "..#..", ".#...", "....."},  // }
    {".....", ".....", ".#...", "#.#.#", "...#.", ".....", ".....", "....."},  // ~
};

// Glyphs of their own beyond ASCII, as bodies.
struct glyph_art {
    char32_t code;
    const char* rows[BODY_ROWS];
};

inline constexpr glyph_art EXTRA_ART[] = {
    {0x00A0, {".....", ".....", ".....", ".....", ".....", ".....", ".....", "....."}},  // no-break space
    {0x00A1, {"..#..", ".....", "..#..", "..#..", "..#..", "..#..", "..#..", "....."}},  // inverted !
    {0x00A2, {".....", "..#..", ".####", "#.#..", "#.#..", ".####", "..#..", "....."}},  // cent
    {0x00A3, {"..##.", ".#..#", ".#...", "###..", ".#...", ".#..#", "#.##.", "....."}},  // pound
    {0x00A4, {".....", "#...#", ".###.", ".#.#.", ".###.", "#...#", ".....", "....."}},  // currency
    {0x00A5, {"#...#", ".#.#.", "..#..", "#####", "..#..", "#####", "..#..", "....."}},  // yen
    {0x00A6, {"..#..", "..#..", "..#..", ".....", "..#..", "..#..", "..#..", "....."}},  // broken bar
    {0x00A7, {".###.", "#....", ".###.", "#...#", ".###.", "....#", ".###.", "....."}},  // section
    {0x00A8, {".#.#.", ".....", ".....", ".....", ".....", ".....", ".....", "....."}},  // diaeresis
    {0x00A9, {".###.", "#...#", "#.###", "##..#", "#.###", "#...#", ".###.", "....."}},  // copyright
    {0x00AA, {".###.", "....#", ".####", "#...#", ".####", ".....", "#####", "....."}},  // feminine ordinal
    {0x00AB, {".....", ".....", "..#.#", ".#.#.", "#.#..", ".#.#.", "..#.#", "....."}},  // left guillemet
    {0x00AC, {".....", ".....", ".....", "#####", "....#", "....#", ".....", "....."}},  // not
    {0x00AD, {".....", ".....", ".....", ".###.", ".....", ".....", ".....", "....."}},  // soft hyphen
    {0x00AE, {".###.", "###.#", "##.##", "###.#", "##.##", "#...#", ".###.", "....."}},  // registered
    {0x00AF, {"#####", ".....", ".....", ".....", ".....", ".....", ".....", "....."}},  // macron
    {0x00B0, {".##..", "#..#.", "#..#.", ".##..", ".....", ".....", ".....", "....."}},  // degree
    {0x00B1, {"..#..", "..#..", "#####", "..#..", "..#..", ".....", "#####", "....."}},  // plus-minus
    {0x00B2, {".##..", "#..#.", "..#..", ".#...", "####.", ".....", ".....", "....."}},  // superscript 2
    {0x00B3, {"###..", "...#.", ".##..", "...#.", "###..", ".....", ".....", "....."}},  // superscript 3
    {0x00B4, {"...#.", "..#..", ".....", ".....", ".....", ".....", ".....", "....."}},  // acute
    {0x00B5, {".....", ".....", "#...#", "#...#", "#...#", "#..##", "###.#", "#...."}},  // micro
    {0x00B6, {".####", "###.#", "###.#", ".##.#", "..#.#", "..#.#", "..#.#", "....."}},  // pilcrow
    {0x00B7, {".....", ".....", ".....", ".##..", ".##..", ".....", ".....", "....."}},  // middle dot
    {0x00B8, {".....", ".....", ".....", ".....", ".....", ".....", "..#..", ".##.."}},  // cedilla
    {0x00B9, {"..#..", ".##..", "..#..", "..#..", ".###.", ".....", ".....", "....."}},  // superscript 1
    {0x00BA, {".###.", "#...#", "#...#", ".###.", ".....", "#####", ".....", "....."}},  // masculine ordinal
    {0x00BB, {".....", ".....", "#.#..", ".#.#.", "..#.#", ".#.#.", "#.#..", "....."}},  // right guillemet
    {0x00BC, {"#...#", "#..#.", "#.#..", ".#.#.", "#.##.", "..###", "...#.", "....."}},  // one quarter
    {0x00BD, {"#...#", "#..#.", "#.#..", ".#.##", "#...#", "...#.", "..###", "....."}},  // one half
    {0x00BE, {"##..#", ".#.#.", "#.#..", ".##.#", "#.##.", "..###", "...#.", "....."}},  // three quarters
    {0x00BF, {"..#..", ".....", "..#..", ".#...", "#....", "#...#", ".###.", "....."}},  // inverted ?
    {0x00C6, {".####", "#.#..", "#.#..", "#####", "#.#..", "#.#..", "#.###", "....."}},  // AE
    {0x00D0, {".###.", ".#..#", ".#..#", "###.#", ".#..#", ".#..#", ".###.", "....."}},  // eth
    {0x00D7, {".....", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", ".....", "....."}},  // multiplication
    {0x00D8, {".####", "#...#", "#..##", "#.#.#", "##..#", "#...#", "####.", "....."}},  // O stroke
    {0x00DE, {"#....", "####.", "#...#", "#...#", "####.", "#....", "#....", "....."}},  // thorn
    {0x00DF, {".##..", "#..#.", "#.#..", "#..#.", "#...#", "#...#", "#.##.", "....."}},  // sharp s
    {0x00E6, {".....", ".....", "##.#.", "..#.#", ".####", "#.#..", ".#.##", "....."}},  // ae
    {0x00F0, {".#.#.", "..#..", ".#.#.", "....#", ".####", "#...#", ".###.", "....."}},  // eth
    {0x00F7, {".....", "..#..", ".....", "#####", ".....", "..#..", ".....", "....."}},  // division
    {0x00F8, {".....", "....#", ".###.", "#..##", "#.#.#", "##..#", ".###.", "#...."}},  // o stroke
    {0x00FE, {"#....", "#....", "####.", "#...#", "#...#", "####.", "#....", "#...."}},  // thorn
    {0x0131, {".....", ".....", ".##..", "..#..", "..#..", "..#..", ".###.", "....."}},  // dotless i
    {0x0393, {"#####", "#....", "#....", "#....", "#....", "#....", "#....", "....."}},  // Gamma
    {0x0394, {"..#..", "..#..", ".#.#.", ".#.#.", "#...#", "#...#", "#####", "....."}},  // Delta
    {0x0398, {".###.", "#...#", "#...#", "#####", "#...#", "#...#", ".###.", "....."}},  // Theta
    {0x039B, {"..#..", "..#..", ".#.#.", ".#.#.", "#...#", "#...#", "#...#", "....."}},  // Lambda
    {0x039E, {"#####", ".....", ".....", ".###.", ".....", ".....", "#####", "....."}},  // Xi
    {0x03A0, {"#####", "#...#", "#...#", "#...#", "#...#", "#...#", "#...#", "....."}},  // Pi
    {0x03A3, {"#####", "#....", ".#...", "..#..", ".#...", "#....", "#####", "....."}},  // Sigma
    {0x03A6, {"..#..", ".###.", "#.#.#", "#.#.#", "#.#.#", ".###.", "..#..", "....."}},  // Phi
    {0x03A8, {"#.#.#", "#.#.#", "#.#.#", ".###.", "..#..", "..#..", "..#..", "....."}},  // Psi
    {0x03A9, {".###.", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "##.##", "....."}},  // Omega
    {0x03B1, {".....", ".....", ".##.#", "#..#.", "#..#.", "#..#.", ".##.#", "....."}},  // alpha
    {0x03B2, {".##..", "#..#.", "#.#..", "#..#.", "#...#", "#...#", "####.", "#...."}},  // beta
    {0x03B3, {".....", ".....", "#...#", ".#.#.", ".#.#.", "..#..", "..#..", "..#.."}},  // gamma
    {0x03B4, {".###.", ".#...", "..#..", ".###.", "#...#", "#...#", ".###.", "....."}},  // delta
    {0x03B5, {".....", ".....", ".####", "#....", ".###.", "#....", ".####", "....."}},  // epsilon
    {0x03B6, {"####.", "..#..", ".#...", "#....", "#....", ".###.", "....#", "...#."}},  // zeta
    {0x03B7, {".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#", "....#"}},  // eta
    {0x03B8, {".##..", "#..#.", "#..#.", "####.", "#..#.", "#..#.", ".##..", "....."}},  // theta
    {0x03B9, {".....", ".....", ".#...", ".#...", ".#...", ".#...", "..##.", "....."}},  // iota
    {0x03BA, {".....", ".....", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "....."}},  // kappa
    {0x03BB, {"#....", ".#...", ".#...", "..#..", ".#.#.", "#...#", "#...#", "....."}},  // lambda
    {0x03BD, {".....", ".....", "#...#", "#...#", ".#..#", ".#.#.", "..#..", "....."}},  // nu
    {0x03BE, {"####.", ".#...", "..##.", ".#...", "#....", ".###.", "....#", "..##."}},  // xi
    {0x03C0, {".....", ".....", "#####", ".#.#.", ".#.#.", ".#.#.", ".#..#", "....."}},  // pi
    {0x03C1, {".....", ".....", ".###.", "#...#", "#...#", "####.", "#....", "#...."}},  // rho
    {0x03C2, {".....", ".....", ".###.", "#....", "#....", ".###.", "....#", "...#."}},  // final sigma
    {0x03C3, {".....", ".....", ".####", "#..#.", "#...#", "#...#", ".###.", "....."}},  // sigma
    {0x03C4, {".....", ".....", "#####", "..#..", "..#..", "..#..", "...#.", "....."}},  // tau
    {0x03C5, {".....", ".....", "#...#", "#...#", "#...#", "#...#", ".###.", "....."}},  // upsilon
    {0x03C6, {".....", "..#..", ".###.", "#.#.#", "#.#.#", ".###.", "..#..", "..#.."}},  // phi
    {0x03C7, {".....", ".....", "#...#", ".#.#.", "..#..", "..#..", ".#.#.", "#...#"}},  // chi
    {0x03C8, {".....", ".....", "#.#.#", "#.#.#", "#.#.#", ".###.", "..#..", "..#.."}},  // psi
    {0x03C9, {".....", ".....", ".#.#.", "#...#", "#.#.#", "#.#.#", ".#.#.", "....."}},  // omega
};

// The marks put on letters, two rows each (a cedilla uses its first row).
using accent_art = std::array<const char*, 2>;
inline constexpr accent_art NO_ACCENT = {".....", "....."};
inline constexpr accent_art GRAVE = {".#...", "..#.."};
inline constexpr accent_art ACUTE = {"...#.", "..#.."};
inline constexpr accent_art CIRCUMFLEX = {"..#..", ".#.#."};
inline constexpr accent_art TILDE = {".##.#", "#.##."};
inline constexpr accent_art DIAERESIS = {".#.#.", "....."};
inline constexpr accent_art RING = {"..#..", ".#.#."};
inline constexpr accent_art CEDILLA = {".##..", "....."};
inline constexpr accent_art DIAERESIS_ACUTE = {"..#..", "#...#"};

// Where an accent goes: above a capital (the accent rows), above a
// lower-case letter (body rows 0 and 1), or below (body row 7).
enum class accent_place { capital, small, below };

// A letter drawn as another glyph with an accent: the accented letters, and
// the Greek capitals that look like Latin ones (NO_ACCENT).
struct composed_glyph {
    char32_t code;
    char32_t base;
    accent_art accent;
    accent_place place;
};

inline constexpr accent_place CAP = accent_place::capital;
inline constexpr accent_place LOW = accent_place::small;
inline constexpr accent_place BELOW = accent_place::below;

inline constexpr composed_glyph COMPOSED[] = {
    {0x00C0, 'A', GRAVE, CAP}, {0x00C1, 'A', ACUTE, CAP}, {0x00C2, 'A', CIRCUMFLEX, CAP},
    {0x00C3, 'A', TILDE, CAP}, {0x00C4, 'A', DIAERESIS, CAP}, {0x00C5, 'A', RING, CAP},
    {0x00C7, 'C', CEDILLA, BELOW},
    {0x00C8, 'E', GRAVE, CAP}, {0x00C9, 'E', ACUTE, CAP}, {0x00CA, 'E', CIRCUMFLEX, CAP}, {0x00CB, 'E', DIAERESIS, CAP},
    {0x00CC, 'I', GRAVE, CAP}, {0x00CD, 'I', ACUTE, CAP}, {0x00CE, 'I', CIRCUMFLEX, CAP}, {0x00CF, 'I', DIAERESIS, CAP},
    {0x00D1, 'N', TILDE, CAP},
    {0x00D2, 'O', GRAVE, CAP}, {0x00D3, 'O', ACUTE, CAP}, {0x00D4, 'O', CIRCUMFLEX, CAP},
    {0x00D5, 'O', TILDE, CAP}, {0x00D6, 'O', DIAERESIS, CAP},
    {0x00D9, 'U', GRAVE, CAP}, {0x00DA, 'U', ACUTE, CAP}, {0x00DB, 'U', CIRCUMFLEX, CAP}, {0x00DC, 'U', DIAERESIS, CAP},
    {0x00DD, 'Y', ACUTE, CAP},
    {0x00E0, 'a', GRAVE, LOW}, {0x00E1, 'a', ACUTE, LOW}, {0x00E2, 'a', CIRCUMFLEX, LOW},
    {0x00E3, 'a', TILDE, LOW}, {0x00E4, 'a', DIAERESIS, LOW}, {0x00E5, 'a', RING, LOW},
    {0x00E7, 'c', CEDILLA, BELOW},
    {0x00E8, 'e', GRAVE, LOW}, {0x00E9, 'e', ACUTE, LOW}, {0x00EA, 'e', CIRCUMFLEX, LOW}, {0x00EB, 'e', DIAERESIS, LOW},
    {0x00EC, 0x0131, GRAVE, LOW}, {0x00ED, 0x0131, ACUTE, LOW}, {0x00EE, 0x0131, CIRCUMFLEX, LOW},
    {0x00EF, 0x0131, DIAERESIS, LOW},
    {0x00F1, 'n', TILDE, LOW},
    {0x00F2, 'o', GRAVE, LOW}, {0x00F3, 'o', ACUTE, LOW}, {0x00F4, 'o', CIRCUMFLEX, LOW},
    {0x00F5, 'o', TILDE, LOW}, {0x00F6, 'o', DIAERESIS, LOW},
    {0x00F9, 'u', GRAVE, LOW}, {0x00FA, 'u', ACUTE, LOW}, {0x00FB, 'u', CIRCUMFLEX, LOW}, {0x00FC, 'u', DIAERESIS, LOW},
    {0x00FD, 'y', ACUTE, LOW}, {0x00FF, 'y', DIAERESIS, LOW},
    // Greek: capitals shared with Latin, then the letters with tonos or
    // dialytika.
    {0x0391, 'A', NO_ACCENT, CAP}, {0x0392, 'B', NO_ACCENT, CAP}, {0x0395, 'E', NO_ACCENT, CAP},
    {0x0396, 'Z', NO_ACCENT, CAP}, {0x0397, 'H', NO_ACCENT, CAP}, {0x0399, 'I', NO_ACCENT, CAP},
    {0x039A, 'K', NO_ACCENT, CAP}, {0x039C, 'M', NO_ACCENT, CAP}, {0x039D, 'N', NO_ACCENT, CAP},
    {0x039F, 'O', NO_ACCENT, CAP}, {0x03A1, 'P', NO_ACCENT, CAP}, {0x03A4, 'T', NO_ACCENT, CAP},
    {0x03A5, 'Y', NO_ACCENT, CAP}, {0x03A7, 'X', NO_ACCENT, CAP},
    {0x03BC, 0x00B5, NO_ACCENT, LOW}, {0x03BF, 'o', NO_ACCENT, LOW},
    {0x2126, 0x03A9, NO_ACCENT, CAP},  // the ohm sign
    {0x0386, 'A', ACUTE, CAP}, {0x0388, 'E', ACUTE, CAP}, {0x0389, 'H', ACUTE, CAP}, {0x038A, 'I', ACUTE, CAP},
    {0x038C, 'O', ACUTE, CAP}, {0x038E, 'Y', ACUTE, CAP}, {0x038F, 0x03A9, ACUTE, CAP},
    {0x0390, 0x03B9, DIAERESIS_ACUTE, LOW}, {0x03AA, 'I', DIAERESIS, CAP}, {0x03AB, 'Y', DIAERESIS, CAP},
    {0x03AC, 0x03B1, ACUTE, LOW}, {0x03AD, 0x03B5, ACUTE, LOW}, {0x03AE, 0x03B7, ACUTE, LOW},
    {0x03AF, 0x03B9, ACUTE, LOW}, {0x03B0, 0x03C5, DIAERESIS_ACUTE, LOW}, {0x03CA, 0x03B9, DIAERESIS, LOW},
    {0x03CB, 0x03C5, DIAERESIS, LOW}, {0x03CC, 'o', ACUTE, LOW}, {0x03CD, 0x03C5, ACUTE, LOW},
    {0x03CE, 0x03C9, ACUTE, LOW},
};

// ---- The glyph table -----------------------------------------------------------

inline constexpr std::size_t GLYPH_COUNT = ASCII_COUNT + std::size(EXTRA_ART) + std::size(COMPOSED);

constexpr uint8_t row_mask(const char* art) {
    uint8_t bits = 0;
    for (int c = 0; c < GLYPH_WIDTH; ++c) bits = static_cast<uint8_t>(bits << 1 | (art[c] == '#'));
    return bits;
}

constexpr glyph_rows body_glyph(const char* const (&art)[BODY_ROWS]) {
    glyph_rows rows{};
    for (int r = 0; r < BODY_ROWS; ++r) rows[ACCENT_ROWS + r] = row_mask(art[r]);
    return rows;
}

// The rows of an ASCII or EXTRA_ART glyph (a composed glyph's base).
constexpr glyph_rows base_glyph(char32_t code) {
    if (code >= FIRST_ASCII && code < FIRST_ASCII + ASCII_COUNT) return body_glyph(ASCII_ART[code - FIRST_ASCII]);
    for (const glyph_art& g : EXTRA_ART) {
        if (g.code == code) return body_glyph(g.rows);
    }
    throw "a composed glyph's base has no art";  // stops the compilation
}

// Accent rows put where they go; they must fall on blank rows of the base.
constexpr glyph_rows composed_rows(const composed_glyph& c) {
    glyph_rows rows = base_glyph(c.base);
    const int first = c.place == accent_place::capital ? 0 : c.place == accent_place::small ? ACCENT_ROWS
                                                                                             : GLYPH_HEIGHT - 1;
    const int count = c.place == accent_place::below ? 1 : 2;
    for (int r = 0; r < count; ++r) {
        const uint8_t mark = row_mask(c.accent[r]);
        if ((rows[first + r] & mark) != 0) throw "an accent overlaps its letter";
        rows[first + r] |= mark;
    }
    return rows;
}

// Every glyph, ordered by code point for the search in glyph_for().
constexpr std::array<font_glyph, GLYPH_COUNT> all_glyphs() {
    std::array<font_glyph, GLYPH_COUNT> glyphs{};
    std::size_t n = 0;
    for (int i = 0; i < ASCII_COUNT; ++i) glyphs[n++] = {FIRST_ASCII + i, body_glyph(ASCII_ART[i])};
    for (const glyph_art& g : EXTRA_ART) glyphs[n++] = {g.code, body_glyph(g.rows)};
    for (const composed_glyph& c : COMPOSED) glyphs[n++] = {c.code, composed_rows(c)};
    std::sort(glyphs.begin(), glyphs.end(), [](const font_glyph& a, const font_glyph& b) { return a.code < b.code; });
    for (std::size_t i = 1; i < n; ++i) {
        if (glyphs[i - 1].code == glyphs[i].code) throw "a code point has two glyphs";
    }
    return glyphs;
}

}  // namespace font_source

inline constexpr auto GLYPHS = font_source::all_glyphs();

// The glyph that draws a character: its own, or '?' for a character
// without one.
constexpr const glyph_rows& glyph_for(char32_t code) {
    const auto found = std::lower_bound(GLYPHS.begin(), GLYPHS.end(), code,
                                        [](const font_glyph& g, char32_t c) { return g.code < c; });
    if (found != GLYPHS.end() && found->code == code) return found->rows;
    return glyph_for(U'?');
}

// True when column x (0 leftmost) of glyph row r is lit.
constexpr bool glyph_lit(const glyph_rows& glyph, int row, int column) {
    return (glyph[row] >> (GLYPH_WIDTH - 1 - column) & 1) != 0;
}

// ---- UTF-8 ---------------------------------------------------------------------

// What next_character() gives for a byte that begins no well-formed sequence.
inline constexpr char32_t INVALID_BYTE = 0xFFFFFFFF;

// The character of text beginning at *pos, *pos moved past it: a
// well-formed UTF-8 sequence (shortest form, no surrogate, at most U+10FFFF)
// is its code point; any other byte is INVALID_BYTE on its own, so that each
// byte of a broken sequence is one character.
constexpr char32_t next_character(std::string_view text, std::size_t* pos) {
    const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(*pos);
    int length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        ++*pos;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, least = 0x10000;
    }
    if (length == 0 || text.size() - *pos < static_cast<std::size_t>(length)) {
        ++*pos;
        return INVALID_BYTE;
    }
    for (int i = 1; i < length; ++i) {
        const uint8_t b = byte(*pos + i);
        if ((b & 0xC0) != 0x80) {
            ++*pos;
            return INVALID_BYTE;
        }
        code = code << 6 | (b & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        ++*pos;
        return INVALID_BYTE;
    }
    *pos += length;
    return code;
}

// The number of characters next_character() finds in the text.
constexpr std::size_t character_count(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++count) next_character(text, &pos);
    return count;
}

}  // namespace spinmap
