// The viewer in process: its colour scale, its options, and pictures of
// files made in the test, decoded again and looked at pixel by pixel.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "picture_support.h"
#include "view/font.h"
#include "view/view.h"

namespace spinmap {
namespace {

using test::PANEL_LEFT;
using test::PANEL_TOP;
using test::picture;
using test::read_picture;
using test::sample_file;
using test::scratch_folder;
using test::write_ramp_file;

constexpr rgb RED = {255, 0, 0};
constexpr rgb CYAN = {0, 255, 255};
constexpr rgb BLACK = {0, 0, 0};
constexpr rgb SMALL_TEXT = {80, 80, 80};

// True when the picture shows the text with its top left corner at (x, y):
// every glyph pixel (a scale x scale block) in the colour, every other pixel
// of its box, the blank columns between characters included, background.
::testing::AssertionResult shows_text(const picture& p, uint32_t x, uint32_t y, const std::string& text, int scale,
                                      rgb colour) {
    std::size_t i = 0;
    for (std::size_t pos = 0; pos < text.size(); ++i) {
        const glyph_rows& glyph = glyph_for(next_character(text, &pos));
        const int columns = pos < text.size() ? GLYPH_ADVANCE : GLYPH_WIDTH;
        for (int r = 0; r < GLYPH_HEIGHT * scale; ++r) {
            for (int c = 0; c < columns * scale; ++c) {
                const bool lit = c < GLYPH_WIDTH * scale && glyph_lit(glyph, r / scale, c / scale);
                const uint32_t px = x + static_cast<uint32_t>(i * GLYPH_ADVANCE * scale + c);
                if (p.at(px, y + r) != (lit ? colour : BACKGROUND_COLOUR)) {
                    return ::testing::AssertionFailure() << "\"" << text << "\": pixel (" << px << ", " << y + r << ")";
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// ---- Colour scale --------------------------------------------------------------

TEST(ColourScale, PercentilesAreTheNearestRanksOfTheValues) {
    const auto one_to = [](int n) {
        std::vector<int32_t> v;
        for (int i = n; i >= 1; --i) v.push_back(i);
        return v;
    };
    const struct {
        const char* name;
        std::vector<int32_t> values;
        double lo, hi;
    } cases[] = {
        {"one value", {7}, 7, 7},
        {"two values: ranks 1 and 2", {9, -4}, -4, 9},
        {"200 values: ranks 1 and 199", one_to(200), 1, 199},
        {"201 values: ranks 2 and 200", one_to(201), 2, 200},
        {"1000 values: ranks 5 and 995", one_to(1000), 5, 995},
        {"ties", {3, 3, 3, 1, 3, 3}, 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int32_t> values = c.values;
        double lo = -1, hi = -1;
        ASSERT_EQ(percentile_scale(&values, &lo, &hi), 0);
        EXPECT_EQ(lo, c.lo);
        EXPECT_EQ(hi, c.hi);
    }
    std::vector<int32_t> none;
    double lo = -1, hi = -1;
    EXPECT_EQ(percentile_scale(&none, &lo, &hi), ERR_ALL_BAD_DATA);
    EXPECT_EQ(lo, -1);
}

TEST(ColourScale, ValuesRoundHalfUpToAnIndexAndClampAtTheEnds) {
    constexpr double BIG = 3.4028234663852886e38;
    const struct {
        double value, lo, hi;
        int index;
    } cases[] = {
        {0, 0, 510, 0},          {0.99, 0, 510, 0},        {1, 0, 510, 1},     // 0.5 rounds up
        {255, 0, 510, 128},      {509, 0, 510, 255},       {510, 0, 510, 255},
        {-1e9, 0, 510, 0},       {1e9, 0, 510, 255},       {1580, 1000, 1580, 255},
        {1290, 1000, 1580, 128},  // 127.5
        {0, -BIG, BIG, 128},     {-2147483648.0, -BIG, BIG, 128}, {BIG, -BIG, BIG, 255},
        {4, 5, 5, 0},            {5, 5, 5, MIDDLE_INDEX},  {6, 5, 5, 255},    // a scale without extent
        {std::nan(""), 0, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " on " << c.lo << ".." << c.hi);
        EXPECT_EQ(colour_index(c.value, c.lo, c.hi), c.index);
    }
}

TEST(ColourScale, NoDataColoursAreNoColourOfTheData) {
    for (const rgb& c : HEIGHT_COLOURS) {
        EXPECT_NE(c, NO_HEIGHT_COLOUR);
        EXPECT_NE(c, BACKGROUND_COLOUR);
        EXPECT_FALSE(c.r == c.g && c.g == c.b) << "a neutral grey in the map";
        for (const fiducial_style& s : FIDUCIAL_STYLES) EXPECT_NE(c, s.colour);
    }
    // Intensity pictures are grey (i, i, i): the outside must not be.
    EXPECT_FALSE(NO_INTENSITY_COLOUR.r == NO_INTENSITY_COLOUR.g && NO_INTENSITY_COLOUR.g == NO_INTENSITY_COLOUR.b);
}

// ---- Options -------------------------------------------------------------------

TEST(ViewOptions, AcceptedFormsGiveTheirSettings) {
    const struct {
        std::vector<std::string> args;
        bool scale_given;
        int scale, shrink;
        bool has_range;
        double lo, hi;
        bool in_nm;
        bool intensity;
        std::vector<std::string> inputs;
    } cases[] = {
        {{"a.dat", "a.png"}, false, 1, 1, false, 0, 0, false, false, {"a.dat"}},
        {{"-SCALE", "0x10", "a.dat", "b.dat", "c.png"}, true, 16, 1, false, 0, 0, false, false, {"a.dat", "b.dat"}},
        {{"a.dat", "-scale", "4.0", "-iNTENSITY", "c.png"}, true, 4, 1, false, 0, 0, false, true, {"a.dat"}},
        {{"-Scale", "1/64", "a.dat", "c.png"}, true, 1, 64, false, 0, 0, false, false, {"a.dat"}},
        {{"-Range", " -1e3, 2.5", "a.dat", "c.png"}, false, 1, 1, true, -1000, 2.5, false, false, {"a.dat"}},
        {{"-Range", "-50nm, 1.2e2NM", "a.dat", "c.png"}, false, 1, 1, true, -50, 120, true, false, {"a.dat"}},
        // The last one counts.
        {{"-Scale", "3", "-Scale", "2", "a.dat", "c.png"}, true, 2, 1, false, 0, 0, false, false, {"a.dat"}},
        {{"-Scale", "1/4", "-Scale", "2", "a.dat", "c.png"}, true, 2, 1, false, 0, 0, false, false, {"a.dat"}},
        {{"-Scale", "2", "-Scale", "1/3", "a.dat", "c.png"}, true, 1, 3, false, 0, 0, false, false, {"a.dat"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        view_settings s;
        std::string message;
        ASSERT_TRUE(parse_view_arguments(c.args, &s, &message)) << message;
        EXPECT_EQ(s.scale_given, c.scale_given);
        EXPECT_EQ(s.scale, c.scale);
        EXPECT_EQ(s.shrink, c.shrink);
        EXPECT_EQ(s.has_range, c.has_range);
        EXPECT_EQ(s.range_lo, c.lo);
        EXPECT_EQ(s.range_hi, c.hi);
        EXPECT_EQ(s.range_in_nm, c.in_nm);
        EXPECT_EQ(s.intensity, c.intensity);
        EXPECT_EQ(s.inputs, c.inputs);
        EXPECT_EQ(s.output, c.args.back());
    }
}

// ---- Font ------------------------------------------------------------------------

TEST(Font, EachCharacterOfUtf8TextIsOneGlyphAndEachBrokenByteOneQuestionMark) {
    constexpr char32_t BAD = INVALID_BYTE;
    const struct {
        const char* name;
        std::string text;
        std::vector<char32_t> characters;
    } cases[] = {
        {"ASCII", "Az 9", {U'A', U'z', U' ', U'9'}},
        {"Latin-1", "\xC3\xA9\xC3\x85\xC2\xB5\xC3\xBF", {0xE9, 0xC5, 0xB5, 0xFF}},       // é Å µ ÿ
        {"Greek", "\xCE\xA9\xCF\x80\xCE\xAC\xE2\x84\xA6", {0x3A9, 0x3C0, 0x3AC, 0x2126}},  // Ω π ά, the ohm sign
        {"other scripts", "\xE2\x82\xAC\xE6\x97\xA5\xF0\x9F\x98\x80", {0x20AC, 0x65E5, 0x1F600}},  // € 日 😀
        {"a lone continuation byte", "a\x80z", {U'a', BAD, U'z'}},
        {"a sequence cut short", "\xE2\x82z", {BAD, BAD, U'z'}},
        {"a sequence cut by the end", "\xF0\x9F\x98", {BAD, BAD, BAD}},
        {"an overlong form", "\xC0\xAF\xE0\x80\xAF", {BAD, BAD, BAD, BAD, BAD}},
        {"a surrogate", "\xED\xA0\x80", {BAD, BAD, BAD}},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", {BAD, BAD, BAD, BAD}},
        {"Latin-1 bytes, not UTF-8", "caf\xE9", {U'c', U'a', U'f', BAD}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char32_t> characters;
        for (std::size_t pos = 0; pos < c.text.size();) characters.push_back(next_character(c.text, &pos));
        EXPECT_EQ(characters, c.characters);
        EXPECT_EQ(text_width(c.text, 1), static_cast<int64_t>(c.characters.size()) * GLYPH_ADVANCE - 1);
    }
    // Latin-1 and Greek letters have glyphs of their own; anything else is
    // drawn as '?'. A Greek capital that looks like a Latin one is drawn so.
    const glyph_rows& question = glyph_for(U'?');
    for (const char32_t own : {0xA9, 0xB5, 0xC5, 0xDF, 0xE9, 0xFF, 0x394, 0x3A9, 0x3B1, 0x3C0, 0x3CE}) {
        EXPECT_NE(glyph_for(own), question) << std::hex << static_cast<uint32_t>(own);
    }
    EXPECT_NE(glyph_for(0xE9), glyph_for(U'e'));  // é is no e
    EXPECT_NE(glyph_for(0xC9), glyph_for(0xE9));  // É is no é
    EXPECT_EQ(glyph_for(0x391), glyph_for(U'A'));
    EXPECT_EQ(glyph_for(0x2126), glyph_for(0x3A9));
    for (const char32_t other : {char32_t{0x7F}, char32_t{0x9F}, char32_t{0x20AC}, char32_t{0x1F600}, BAD}) {
        EXPECT_EQ(glyph_for(other), question) << std::hex << static_cast<uint32_t>(other);
    }
    // Names are shortened between characters, never inside one.
    EXPECT_EQ(shortened_name("measurements/2026/part-0007-after.dat", 20), "measureme...fter.dat");
    EXPECT_EQ(shortened_name("\xCE\xA9\xCE\xA9\xCE\xA9-\xCE\xBC\xCE\xBC\xCE\xBC", 5), "\xCE\xA9...\xCE\xBC");
}

// ---- Pictures ------------------------------------------------------------------

class PictureTest : public ::testing::Test {
protected:
    void SetUp() override { write_ramp_file(ramp); }
    void draw(const std::vector<std::string>& args, picture* p) {
        ASSERT_EQ(spinmap_view_main(args), 0);
        read_picture(args.back(), p);
    }
    scratch_folder folder;
    const std::string ramp = folder.file("ramp.dat");
    const std::string out = folder.file("out.png");
};

TEST_F(PictureTest, HeightsInTheMapInvalidPointsGreyFiducialsAsCrosses) {
    picture p;
    draw({ramp, out}, &p);
    ASSERT_GT(p.width, PANEL_LEFT + 40);
    ASSERT_GT(p.height, PANEL_TOP + 20);
    // The scale runs between the percentiles, 1000 and 1290.
    EXPECT_EQ(p.camera(4, 9), HEIGHT_COLOURS[0]);     // 1000
    EXPECT_EQ(p.camera(33, 3), HEIGHT_COLOURS[255]);  // 1290
    EXPECT_EQ(p.camera(19, 3), HEIGHT_COLOURS[132]);  // 1150: 131.9
    // Invalid points and the frame outside the height window.
    EXPECT_EQ(p.camera(10, 5), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.camera(13, 7), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.camera(14, 7), HEIGHT_COLOURS[88]);  // 1100: 87.9
    EXPECT_EQ(p.camera(0, 19), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.camera(39, 0), NO_HEIGHT_COLOUR);
    // A: a red + about (24, 10), the nearest pixel, arms of three pixels.
    for (const auto& [x, y] : {std::pair{24, 10}, {21, 10}, {27, 10}, {24, 7}, {24, 13}}) {
        EXPECT_EQ(p.camera(x, y), RED) << x << "," << y;
    }
    EXPECT_EQ(p.camera(28, 10), HEIGHT_COLOURS[211]);  // 1240: 211.0, beyond the arm
    EXPECT_EQ(p.camera(25, 11), HEIGHT_COLOURS[185]);  // 1210: 184.7, between the arms
    // B: a cyan x about (2, 1), cut by the frame's edge.
    for (const auto& [x, y] : {std::pair{2, 1}, {0, 3}, {3, 0}, {1, 0}, {5, 4}}) {
        EXPECT_EQ(p.camera(x, y), CYAN) << x << "," << y;
    }
    EXPECT_EQ(p.camera(2, 0), NO_HEIGHT_COLOUR);
}

TEST_F(PictureTest, TheLegendLabelsTheBarInNanometresAndFileUnits) {
    picture p;
    draw({ramp, out}, &p);
    // The panel's column is as wide as the line of its statistics, 25
    // characters: 149 pixels from column 8; the legend 24 pixels on, at 181.
    // The bar: rows 78 to 333, the map's last colour at the top.
    for (int i = 0; i < MAP_COLOURS; ++i) ASSERT_EQ(p.at(189, 333 - i), HEIGHT_COLOURS[i]) << i;
    // The scale runs from 1000 to 1290 counts, 232.83 to 300.35 nm: ticks
    // every 10 nm from 240 to 300 (1030.8 to 1288.5 counts), each on the
    // bar's row of its colour index. 250 nm is 1073.74 counts: index 65.
    std::vector<uint32_t> tick_rows;
    for (uint32_t y = 78; y <= 333; ++y) {
        if (p.at(208, y) == BLACK) tick_rows.push_back(y);
    }
    EXPECT_EQ(tick_rows, (std::vector<uint32_t>{79, 117, 155, 193, 230, 268, 306}));
    // Labels: their capitals (glyph rows 2 to 8) centred on the tick.
    EXPECT_TRUE(shows_text(p, 220, 268 - 10, "250 nm", 2, BLACK));
    EXPECT_TRUE(shows_text(p, 220 + 70 + 8, 268 - 5, "1074", 1, SMALL_TEXT));
    EXPECT_TRUE(shows_text(p, 220, 79 - 10, "300 nm", 2, BLACK));
    // The bar's ends, above and below it, a decimal finer than the ticks.
    EXPECT_TRUE(shows_text(p, 181, 44, "300.4 nm", 2, BLACK));
    EXPECT_TRUE(shows_text(p, 181 + 94 + 8, 49, "1290", 1, SMALL_TEXT));
    EXPECT_TRUE(shows_text(p, 181, 349, "232.8 nm", 2, BLACK));
    EXPECT_TRUE(shows_text(p, 181, 8, "Surface height, nm", 2, BLACK));
    // The panel's title, its name shortened to the twelve characters that
    // fit its column, and its heights: 290 counts from lowest to highest.
    EXPECT_TRUE(shows_text(p, 8, 8, shortened_name(ramp, 12), 2, BLACK));
    EXPECT_TRUE(shows_text(p, 8, 31, "PV 67.52 nm, RMS 20.24 nm", 1, BLACK));
    // The key: each group's mark on dark grey, its letter beside it.
    EXPECT_TRUE(shows_text(p, 209, 403, "group A", 2, BLACK));
    EXPECT_TRUE(shows_text(p, 209, 427, "group B", 2, BLACK));
    EXPECT_EQ(p.at(181, 424), BACKGROUND_COLOUR);
    EXPECT_EQ(p.at(181, 427), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.at(184 + 6, 430 + 6), CYAN);         // the x's centre
    EXPECT_EQ(p.at(184 + 6, 430), NO_HEIGHT_COLOUR);  // above it: no +
}

TEST_F(PictureTest, ARangeInNanometresRunsTheScaleBetweenThoseHeights) {
    // 250 and 280 nm are 1073.741824 and 1202.59084288 counts of 2^-32 m.
    picture p;
    draw({"-Range", "250nm,280nm", ramp, out}, &p);
    EXPECT_EQ(p.camera(4, 12), HEIGHT_COLOURS[0]);    // 1000, below
    EXPECT_EQ(p.camera(14, 3), HEIGHT_COLOURS[52]);   // 1100: 51.97
    EXPECT_EQ(p.camera(24, 3), HEIGHT_COLOURS[250]);  // 1200: 249.87
    EXPECT_EQ(p.camera(33, 3), HEIGHT_COLOURS[255]);  // 1290, above
    EXPECT_TRUE(shows_text(p, 220, 333 - 10, "250 nm", 2, BLACK));  // the foot of the bar
}

TEST(Legend, SaysWhatTheBarShowsAndInWhichUnit) {
    const auto panel = [](float wavelength, float metres_per_pixel) {
        view_panel p;
        p.name = "a.dat";
        p.header.CameraWidth = 640;
        p.header.CameraHeight = 480;
        p.header.CameraRes = metres_per_pixel;
        p.header.IntfScaleFactor = 1;
        p.header.ObliquityFactor = 1;
        p.header.WavelengthIn = wavelength;
        p.measured = true;
        p.peak_to_valley = 290;
        p.rms = 12.5;
        return p;
    };
    // A count of 2^-32 m: 290 counts are 67.52 nm, 12.5 counts 2.910 nm; of
    // 2^-31 m twice that. 12.5 um a pixel: a quarter of 640 pixels is 2 mm.
    const view_panel same[2] = {panel(0x1p-20f, 1.25e-5f), panel(0x1p-20f, 1.25e-5f)};
    const view_panel differing[2] = {panel(0x1p-20f, 1.25e-5f), panel(0x1p-19f, 0)};
    const view_panel unscaled[1] = {panel(0, 0)};
    const struct {
        const char* name;
        const view_panel* panels;
        std::size_t count;
        view_look look;
        std::vector<std::string> texts;  // among the legend's texts
        const char* absent;              // no text begins so
    } cases[] = {
        {"one scale", same, 2, {1, false, 1000, 1290},
         {"Surface height, nm", "small figures: file units", "240 nm", "1031", "300.4 nm", "1290", "232.8 nm", "1000",
          "PV 67.52 nm, RMS 2.910 nm", "2 mm"},
         "Drawn"},
        {"scales differ", differing, 2, {1, false, 1000, 1290},
         {"Height, file units", "no nm: the files differ in height scale", "1050", "1290", "1000",
          "PV 67.52 nm, RMS 2.910 nm", "PV 135.0 nm, RMS 5.821 nm", "2 mm", "100 camera px"},
         "Drawn"},
        {"no scale", unscaled, 1, {1, false, 1000, 1290},
         {"Height, file units", "no nm: the file has no height scale", "1050", "PV 290.0, RMS 12.50 (file units)",
          "100 camera px"},
         "Drawn"},
        {"intensity", same, 2, {1, true, 1000, 1290},
         {"Intensity, first frame", "camera counts", "1050", "Intensity is carried through a rotation", "2 mm"}, "PV"},
        {"shrunk", same, 2, {1, false, 1000, 1290, 8},
         {"Drawn at 1/8 size:", "each pixel is the mean of the", "valid heights of 8 x 8 camera pixels", "2 mm"}, "x"},
        {"enlarged", same, 1, {3, false, 1000, 1290},
         {"Drawn at 3 x size:", "each camera pixel is 3 x 3 pixels", "2 mm"}, "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        picture_layout layout;
        ASSERT_EQ(lay_out_picture(c.panels, c.count, c.look, &layout), 0);
        std::vector<std::string> texts;
        for (const legend_item& item : layout.items) texts.push_back(item.text);
        for (const std::string& t : c.texts) EXPECT_NE(std::find(texts.begin(), texts.end(), t), texts.end()) << t;
        for (const std::string& t : texts) EXPECT_FALSE(t.starts_with(c.absent)) << t;
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "a.dat"), static_cast<long>(c.count));  // the titles
    }
}

TEST_F(PictureTest, PanelsStandSideBySideScaledOnOneGivenScale) {
    // A second, smaller file whose heights all lie above the range.
    const std::string small = folder.file("small.dat");
    sample_file f(5, 3);
    f.set_heights({1, 1, 2, 1}, [](int, int) { return 5000; });
    f.write(small);
    picture p;
    draw({"-Scale", "2", "-Range", "1000,1580", ramp, small, out}, &p);
    // Picture pixel (x, y) from the first panel's corner.
    const auto at = [&](uint32_t x, uint32_t y) { return p.at(PANEL_LEFT + x, PANEL_TOP + y); };
    ASSERT_GT(p.width, PANEL_LEFT + 40 * 2 + 8 + 5 * 2);
    ASSERT_GT(p.height, PANEL_TOP + 40);
    // Camera pixel (33, 3), 1290, is the block of picture pixels 66..67 x 6..7.
    for (const auto& [x, y] : {std::pair{66, 6}, {67, 6}, {66, 7}, {67, 7}}) {
        EXPECT_EQ(at(x, y), HEIGHT_COLOURS[128]) << x << "," << y;  // 127.5
    }
    EXPECT_EQ(at(65, 6), HEIGHT_COLOURS[123]);  // 1280: 123.1
    // The ramp's column is as wide as its statistics' line, 149 pixels; the
    // gap, then the small panel, clamped to the top of the scale, with the
    // background below it.
    EXPECT_EQ(at(80, 0), BACKGROUND_COLOUR);
    EXPECT_EQ(at(156, 39), BACKGROUND_COLOUR);
    EXPECT_EQ(at(157, 0), NO_HEIGHT_COLOUR);
    EXPECT_EQ(at(157 + 2, 2), HEIGHT_COLOURS[255]);
    EXPECT_EQ(at(157 + 5, 3), HEIGHT_COLOURS[255]);
    EXPECT_EQ(at(157 + 6, 2), NO_HEIGHT_COLOUR);
    EXPECT_EQ(at(157 + 9, 5), NO_HEIGHT_COLOUR);
    EXPECT_EQ(at(157 + 9, 6), BACKGROUND_COLOUR);
    EXPECT_EQ(at(157, 39), BACKGROUND_COLOUR);
}

TEST_F(PictureTest, ShrunkPixelsAreTheMeansOfTheValidHeightsTheyCover) {
    // An 8 x 5 camera, heights x + 1000 y over columns 1 to 7, invalid at
    // (1, 0), (2, 1) and the corner x 6..7, y 3..4.
    const std::string raster = folder.file("raster.dat");
    sample_file f(8, 5);
    f.set_heights({1, 0, 7, 5}, [](int x, int y) {
        const bool invalid = (x == 1 && y == 0) || (x == 2 && y == 1) || (x >= 6 && y >= 3);
        return invalid ? INVALID_HEIGHT : x + 1000 * y;
    });
    f.write(raster);
    const struct {
        const char* scale;
        uint32_t x, y;
        double mean;  // < 0: no valid height under the pixel
    } cases[] = {
        // 1/3: 3 x 2 pixels, the last column 2 camera pixels wide, the last
        // row 2 high.
        {"1/3", 0, 0, (2 + 1001 + 2001 + 2002) / 4.0},  // column 0 outside the window, two invalid
        {"1/3", 1, 0, 1004},
        {"1/3", 2, 0, 1006.5},
        {"1/3", 0, 1, (3001 + 3002 + 4001 + 4002) / 4.0},
        {"1/3", 1, 1, 3504},
        {"1/3", 2, 1, -1},
        // 1/2: 4 x 3 pixels, the last row one camera row high.
        {"1/2", 0, 0, 1001},
        {"1/2", 1, 0, (2 + 3 + 1003) / 3.0},
        {"1/2", 1, 2, 4002.5},
        {"1/2", 3, 1, 2006.5},
        {"1/2", 3, 2, -1},
    };
    for (const char* scale : {"1/3", "1/2"}) {
        picture p;
        draw({"-Scale", scale, "-Range", "0,5000", raster, out}, &p);
        for (const auto& c : cases) {
            if (std::string(c.scale) != scale) continue;
            SCOPED_TRACE(testing::Message() << scale << " pixel " << c.x << ", " << c.y);
            EXPECT_EQ(p.camera(c.x, c.y), c.mean < 0 ? NO_HEIGHT_COLOUR : HEIGHT_COLOURS[colour_index(c.mean, 0, 5000)]);
        }
    }
    // Right of the 1/2 picture's 4 columns and below its 3 rows: background.
    picture p;
    draw({"-Scale", "1/2", raster, out}, &p);
    EXPECT_NE(p.camera(3, 2), BACKGROUND_COLOUR);
    EXPECT_EQ(p.camera(4, 2), BACKGROUND_COLOUR);
    EXPECT_EQ(p.camera(3, 3), BACKGROUND_COLOUR);
}

TEST_F(PictureTest, ADefaultPictureOfA4096By4096FrameFitsTheScreenWithItsLegendWhereTheLayoutPutsIt) {
    // Heights y on a 4096 x 4096 camera, 2^-32 m a count. Their 0.5th and
    // 99.5th percentiles are rows 20 and 4075 (ranks 83887 and 16693330).
    const std::string big = folder.file("big.dat");
    {
        sample_file f(4096, 4096);
        f.header.IntfScaleFactor = 1;
        f.header.WavelengthIn = 0x1p-20f;
        f.header.PhaseRes = 0;
        f.set_heights({0, 0, 4096, 4096}, [](int, int y) { return y; });
        f.header.FiducialCountA = 1;
        f.header.FiducialCoordsA[0] = 1000.4f;
        f.header.FiducialCoordsA[1] = 2000.6f;
        f.write(big);
    }
    picture p;
    draw({big, out}, &p);
    // Drawn at 1/2: a 2048-pixel panel, text unit 3 (a unit for each 1000
    // pixels begun). The layout of the same panel says where all goes.
    view_panel panel;
    ASSERT_EQ(read_data_file(big, nullptr, &panel.header, nullptr, nullptr), 0);
    panel.name = big;
    panel.measured = true;
    picture_layout layout;
    ASSERT_EQ(lay_out_picture(&panel, 1, view_look{1, false, 20, 4075, 2}, &layout), 0);
    EXPECT_EQ(layout.unit, 3);
    EXPECT_EQ(p.width, layout.width);
    EXPECT_EQ(p.height, layout.height);
    EXPECT_EQ(p.width, 2813u);   // 2048 + margins, gap and legend
    EXPECT_EQ(p.height, 2258u);  // 2048 + title, statistics, scale bar, margins
    // The panel: row 2k is the mean of rows 4k and 4k + 1.
    EXPECT_EQ(p.at(24, 138), HEIGHT_COLOURS[0]);                                  // 0.5, below the scale
    EXPECT_EQ(p.at(24 + 2047, 138 + 1000), HEIGHT_COLOURS[colour_index(2000.5, 20, 4075)]);
    // The fiducial's camera pixel (1000, 2001) is in picture pixel (500,
    // 1000): a + of 3 x 3 blocks, the middle one on that pixel, reaching 3
    // blocks each way.
    const auto panel_at = [&](uint32_t x, uint32_t y) { return p.at(24 + x, 138 + y); };
    for (const auto& [x, y] : {std::pair{499, 999}, {501, 1001}, {490, 1000}, {510, 1000}, {500, 990}, {500, 1010}}) {
        EXPECT_EQ(panel_at(x, y), RED) << x << "," << y;
    }
    for (const auto& [x, y] : {std::pair{489, 1000}, {511, 1000}, {500, 989}, {500, 1011}, {502, 1002}}) {
        EXPECT_NE(panel_at(x, y), RED) << x << "," << y;
    }
    // The bar: 3 rows for each colour, the last at the top, below the
    // bar's title (margin 24, lines of 60 + 6 and 30 + 12) and its top
    // value (60 + 30 + 12).
    EXPECT_EQ(layout.bar_top, 234);
    for (int i = 0; i < MAP_COLOURS; ++i) {
        for (int r = 0; r < 3; ++r) {
            ASSERT_EQ(p.at(static_cast<uint32_t>(layout.bar_left + 36), static_cast<uint32_t>(layout.bar_top + (255 - i) * 3 + r)),
                      HEIGHT_COLOURS[i])
                << i;
        }
    }
    // Ticks every 100 nm (4.66 to 948.8 nm), 3 rows high, on the rows of
    // their colour index: 100 nm is 429.5 counts, index 25.75, rounded to 26.
    std::vector<int64_t> tick_rows;
    for (int64_t y = layout.bar_top; y < layout.bar_top + 256 * 3; ++y) {
        if (p.at(static_cast<uint32_t>(layout.tick_left + 9), static_cast<uint32_t>(y)) == BLACK) tick_rows.push_back(y);
    }
    std::vector<int64_t> laid_out;
    for (const legend_item& item : layout.items) {
        if (item.what == legend_item::kind::box && item.x == layout.tick_left) {
            for (int64_t r = 0; r < item.height; ++r) laid_out.push_back(item.y + r);
        }
    }
    std::sort(laid_out.begin(), laid_out.end());
    EXPECT_EQ(tick_rows, laid_out);
    EXPECT_EQ(tick_rows, (std::vector<int64_t>{273, 274, 275, 354, 355, 356, 435, 436, 437, 516, 517, 518, 597, 598,
                                               599, 678, 679, 680, 759, 760, 761, 840, 841, 842, 921, 922, 923}));
}

TEST_F(PictureTest, IntensityIsTheFirstFrameInGreyOutsideItsWindowBlueGrey) {
    const std::string lit = folder.file("lit.dat");
    sample_file f(40, 20);
    f.set_heights({0, 0, 40, 20}, [](int, int) { return 0; });
    // Frame 0 rises by 1 a column from 100; frame 1 would draw otherwise.
    f.set_intensity({0, 0, 20, 20}, 2, [](int x, int, int frame) { return uint16_t(frame == 0 ? 100 + x : 4000 - x); });
    f.header.FiducialCountA = 1;
    f.header.FiducialCoordsA[0] = 30;
    f.header.FiducialCoordsA[1] = 10;
    f.write(lit);
    picture p;
    draw({"-Intensity", lit, out}, &p);
    const auto camera = [&](uint32_t x, uint32_t y) { return p.at(PANEL_LEFT + x, test::INTENSITY_PANEL_TOP + y); };
    // The percentiles of the 400 points of frame 0 are 100 and 119.
    EXPECT_EQ(camera(0, 0), (rgb{0, 0, 0}));
    EXPECT_EQ(camera(19, 19), (rgb{255, 255, 255}));
    EXPECT_EQ(camera(10, 5), (rgb{134, 134, 134}));  // 110: 134.2
    EXPECT_EQ(camera(20, 0), NO_INTENSITY_COLOUR);
    EXPECT_EQ(camera(30, 10), RED);
    EXPECT_EQ(camera(33, 10), RED);

    // A file without intensity data has no intensity picture.
    EXPECT_EQ(spinmap_view_main({"-Intensity", ramp, folder.file("none.png")}), 1);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"lit.dat", "out.png", "ramp.dat"}));
}

}  // namespace
}  // namespace spinmap
