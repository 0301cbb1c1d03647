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
    for (std::size_t i = 0; i < text.size(); ++i) {
        const glyph_rows& glyph = glyph_of(text[i]);
        const int columns = i + 1 < text.size() ? GLYPH_ADVANCE : GLYPH_WIDTH;
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
        int scale;
        bool has_range;
        double lo, hi;
        bool in_nm;
        bool intensity;
        std::vector<std::string> inputs;
    } cases[] = {
        {{"a.dat", "a.png"}, 1, false, 0, 0, false, false, {"a.dat"}},
        {{"-SCALE", "0x10", "a.dat", "b.dat", "c.png"}, 16, false, 0, 0, false, false, {"a.dat", "b.dat"}},
        {{"a.dat", "-scale", "4.0", "-iNTENSITY", "c.png"}, 4, false, 0, 0, false, true, {"a.dat"}},
        {{"-Range", " -1e3, 2.5", "a.dat", "c.png"}, 1, true, -1000, 2.5, false, false, {"a.dat"}},
        {{"-Range", "-50nm, 1.2e2NM", "a.dat", "c.png"}, 1, true, -50, 120, true, false, {"a.dat"}},
        {{"-Scale", "3", "-Scale", "2", "a.dat", "c.png"}, 2, false, 0, 0, false, false, {"a.dat"}},  // the last one counts
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        view_settings s;
        std::string message;
        ASSERT_TRUE(parse_view_arguments(c.args, &s, &message)) << message;
        EXPECT_EQ(s.scale, c.scale);
        EXPECT_EQ(s.has_range, c.has_range);
        EXPECT_EQ(s.range_lo, c.lo);
        EXPECT_EQ(s.range_hi, c.hi);
        EXPECT_EQ(s.range_in_nm, c.in_nm);
        EXPECT_EQ(s.intensity, c.intensity);
        EXPECT_EQ(s.inputs, c.inputs);
        EXPECT_EQ(s.output, c.args.back());
    }
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
    // The bar: column 72 on (8 + 40 + 24), rows 46 to 301, the map's last
    // colour at the top.
    for (int i = 0; i < MAP_COLOURS; ++i) ASSERT_EQ(p.at(80, 301 - i), HEIGHT_COLOURS[i]) << i;
    // The scale runs from 1000 to 1290 counts, 232.83 to 300.35 nm: ticks
    // every 10 nm from 240 to 300 (1030.8 to 1288.5 counts), each on the
    // bar's row of its colour index. 250 nm is 1073.74 counts: index 65.
    std::vector<uint32_t> tick_rows;
    for (uint32_t y = 46; y <= 301; ++y) {
        if (p.at(99, y) == BLACK) tick_rows.push_back(y);
    }
    EXPECT_EQ(tick_rows, (std::vector<uint32_t>{47, 85, 123, 161, 198, 236, 274}));
    EXPECT_TRUE(shows_text(p, 111, 236 - 7, "250 nm", 2, BLACK));
    EXPECT_TRUE(shows_text(p, 111 + 70 + 8, 236 - 3, "1074", 1, SMALL_TEXT));
    EXPECT_TRUE(shows_text(p, 111, 47 - 7, "300 nm", 2, BLACK));
    EXPECT_TRUE(shows_text(p, 72, 8, "Surface height, nm", 2, BLACK));
    // The panel's title, its name shortened to the six characters that fit
    // 40 pixels: "/t...t" for "/tmp/.../ramp.dat".
    EXPECT_TRUE(shows_text(p, 8, 16, shortened_name(ramp, 6), 1, BLACK));
    // The key: each group's mark on dark grey, its letter beside it.
    EXPECT_TRUE(shows_text(p, 100, 343, "group A", 2, BLACK));
    EXPECT_TRUE(shows_text(p, 100, 367, "group B", 2, BLACK));
    EXPECT_EQ(p.at(72, 364), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.at(75 + 6, 367 + 6), CYAN);  // the x's centre
    EXPECT_EQ(p.at(75 + 6, 367), NO_HEIGHT_COLOUR);  // above it: no +
}

TEST_F(PictureTest, ARangeInNanometresRunsTheScaleBetweenThoseHeights) {
    // 250 and 280 nm are 1073.741824 and 1202.59084288 counts of 2^-32 m.
    picture p;
    draw({"-Range", "250nm,280nm", ramp, out}, &p);
    EXPECT_EQ(p.camera(4, 12), HEIGHT_COLOURS[0]);    // 1000, below
    EXPECT_EQ(p.camera(14, 3), HEIGHT_COLOURS[52]);   // 1100: 51.97
    EXPECT_EQ(p.camera(24, 3), HEIGHT_COLOURS[250]);  // 1200: 249.87
    EXPECT_EQ(p.camera(33, 3), HEIGHT_COLOURS[255]);  // 1290, above
    EXPECT_TRUE(shows_text(p, 111, 301 - 7, "250 nm", 2, BLACK));  // the foot of the bar
}

TEST(Legend, SaysWhatTheBarShowsAndInWhichUnit) {
    const auto with_scale = [](float wavelength) {
        view_panel p;
        p.name = "a.dat";
        p.header.CameraWidth = 640;
        p.header.CameraHeight = 480;
        p.header.IntfScaleFactor = 1;
        p.header.ObliquityFactor = 1;
        p.header.WavelengthIn = wavelength;
        return p;
    };
    const view_panel same[2] = {with_scale(0x1p-20f), with_scale(0x1p-20f)};
    const view_panel differing[2] = {with_scale(0x1p-20f), with_scale(0x1p-19f)};
    const view_panel unscaled[1] = {with_scale(0)};
    const struct {
        const char* name;
        const view_panel* panels;
        std::size_t count;
        bool intensity;
        std::vector<std::string> texts;  // among the legend's texts
    } cases[] = {
        {"one scale", same, 2, false, {"Surface height, nm", "small figures: file units", "240 nm", "1031"}},
        {"scales differ", differing, 2, false, {"Height, file units", "no nm: the files differ in height scale", "1050"}},
        {"no scale", unscaled, 1, false, {"Height, file units", "no nm: the file has no height scale", "1050"}},
        {"intensity", same, 2, true, {"Intensity, first frame", "camera counts", "1050",
                                      "Intensity is carried through a rotation"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        picture_layout layout;
        ASSERT_EQ(lay_out_picture(c.panels, c.count, view_look{1, c.intensity, 1000, 1290}, &layout), 0);
        std::vector<std::string> texts;
        for (const legend_item& item : layout.items) texts.push_back(item.text);
        for (const std::string& t : c.texts) EXPECT_NE(std::find(texts.begin(), texts.end(), t), texts.end()) << t;
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "a.dat"), static_cast<long>(c.count));  // the titles
    }
    EXPECT_EQ(shortened_name("measurements/2026/part-0007-after.dat", 20), "measureme...fter.dat");
    EXPECT_EQ(glyph_of('\xc3'), glyph_of('?'));  // a byte beyond ASCII
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
    // The gap, then the small panel, clamped to the top of the scale, with
    // the background below it.
    EXPECT_EQ(at(80, 0), BACKGROUND_COLOUR);
    EXPECT_EQ(at(87, 39), BACKGROUND_COLOUR);
    EXPECT_EQ(at(88, 0), NO_HEIGHT_COLOUR);
    EXPECT_EQ(at(88 + 2, 2), HEIGHT_COLOURS[255]);
    EXPECT_EQ(at(88 + 5, 3), HEIGHT_COLOURS[255]);
    EXPECT_EQ(at(88 + 6, 2), NO_HEIGHT_COLOUR);
    EXPECT_EQ(at(97, 5), NO_HEIGHT_COLOUR);
    EXPECT_EQ(at(97, 6), BACKGROUND_COLOUR);
    EXPECT_EQ(at(88, 39), BACKGROUND_COLOUR);
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
    // The percentiles of the 400 points of frame 0 are 100 and 119.
    EXPECT_EQ(p.camera(0, 0), (rgb{0, 0, 0}));
    EXPECT_EQ(p.camera(19, 19), (rgb{255, 255, 255}));
    EXPECT_EQ(p.camera(10, 5), (rgb{134, 134, 134}));  // 110: 134.2
    EXPECT_EQ(p.camera(20, 0), NO_INTENSITY_COLOUR);
    EXPECT_EQ(p.camera(30, 10), RED);
    EXPECT_EQ(p.camera(33, 10), RED);

    // A file without intensity data has no intensity picture.
    EXPECT_EQ(spinmap_view_main({"-Intensity", ramp, folder.file("none.png")}), 1);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"lit.dat", "out.png", "ramp.dat"}));
}

}  // namespace
}  // namespace spinmap
