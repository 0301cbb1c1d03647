// The viewer in process: its colour scale, its options, and pictures of
// files made in the test, decoded again and looked at pixel by pixel.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "picture_support.h"
#include "view/view.h"

namespace spinmap {
namespace {

using test::picture;
using test::read_picture;
using test::sample_file;
using test::scratch_folder;
using test::write_ramp_file;

constexpr rgb RED = {255, 0, 0};
constexpr rgb MAGENTA = {255, 0, 255};

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
        bool intensity;
        std::vector<std::string> inputs;
    } cases[] = {
        {{"a.dat", "a.png"}, 1, false, 0, 0, false, {"a.dat"}},
        {{"-SCALE", "0x10", "a.dat", "b.dat", "c.png"}, 16, false, 0, 0, false, {"a.dat", "b.dat"}},
        {{"a.dat", "-scale", "4.0", "-iNTENSITY", "c.png"}, 4, false, 0, 0, true, {"a.dat"}},
        {{"-Range", " -1e3, 2.5", "a.dat", "c.png"}, 1, true, -1000, 2.5, false, {"a.dat"}},
        {{"-Scale", "3", "-Scale", "2", "a.dat", "c.png"}, 2, false, 0, 0, false, {"a.dat"}},  // the last one counts
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
    ASSERT_EQ(p.width, 40u);
    ASSERT_EQ(p.height, 20u);
    // The scale runs between the percentiles, 1000 and 1290.
    EXPECT_EQ(p.at(4, 9), HEIGHT_COLOURS[0]);     // 1000
    EXPECT_EQ(p.at(33, 3), HEIGHT_COLOURS[255]);  // 1290
    EXPECT_EQ(p.at(19, 3), HEIGHT_COLOURS[132]);  // 1150: 131.9
    // Invalid points and the frame outside the height window.
    EXPECT_EQ(p.at(10, 5), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.at(13, 7), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.at(14, 7), HEIGHT_COLOURS[88]);  // 1100: 87.9
    EXPECT_EQ(p.at(0, 19), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.at(39, 0), NO_HEIGHT_COLOUR);
    // A: a red + about (24, 10), the nearest pixel, arms of three pixels.
    for (const auto& [x, y] : {std::pair{24, 10}, {21, 10}, {27, 10}, {24, 7}, {24, 13}}) {
        EXPECT_EQ(p.at(x, y), RED) << x << "," << y;
    }
    EXPECT_EQ(p.at(28, 10), HEIGHT_COLOURS[211]);  // 1240: 211.0, beyond the arm
    EXPECT_EQ(p.at(25, 11), HEIGHT_COLOURS[185]);  // 1210: 184.7, between the arms
    // B: a magenta x about (2, 1), cut by the frame's edge.
    for (const auto& [x, y] : {std::pair{2, 1}, {0, 3}, {3, 0}, {1, 0}, {5, 4}}) {
        EXPECT_EQ(p.at(x, y), MAGENTA) << x << "," << y;
    }
    EXPECT_EQ(p.at(2, 0), NO_HEIGHT_COLOUR);
}

TEST_F(PictureTest, PanelsStandSideBySideScaledOnOneGivenScale) {
    // A second, smaller file whose heights all lie above the range.
    const std::string small = folder.file("small.dat");
    sample_file f(5, 3);
    f.set_heights({1, 1, 2, 1}, [](int, int) { return 5000; });
    f.write(small);
    picture p;
    draw({"-Scale", "2", "-Range", "1000,1580", ramp, small, out}, &p);
    ASSERT_EQ(p.width, 40u * 2 + 8 + 5 * 2);
    ASSERT_EQ(p.height, 40u);
    // Camera pixel (33, 3), 1290, is the block of picture pixels 66..67 x 6..7.
    for (const auto& [x, y] : {std::pair{66, 6}, {67, 6}, {66, 7}, {67, 7}}) {
        EXPECT_EQ(p.at(x, y), HEIGHT_COLOURS[128]) << x << "," << y;  // 127.5
    }
    EXPECT_EQ(p.at(65, 6), HEIGHT_COLOURS[123]);  // 1280: 123.1
    // The gap, then the small panel, clamped to the top of the scale, with
    // the background below it.
    EXPECT_EQ(p.at(80, 0), BACKGROUND_COLOUR);
    EXPECT_EQ(p.at(87, 39), BACKGROUND_COLOUR);
    EXPECT_EQ(p.at(88, 0), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.at(88 + 2, 2), HEIGHT_COLOURS[255]);
    EXPECT_EQ(p.at(88 + 5, 3), HEIGHT_COLOURS[255]);
    EXPECT_EQ(p.at(88 + 6, 2), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.at(97, 5), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.at(97, 6), BACKGROUND_COLOUR);
    EXPECT_EQ(p.at(88, 39), BACKGROUND_COLOUR);
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
    ASSERT_EQ(p.width, 40u);
    // The percentiles of the 400 points of frame 0 are 100 and 119.
    EXPECT_EQ(p.at(0, 0), (rgb{0, 0, 0}));
    EXPECT_EQ(p.at(19, 19), (rgb{255, 255, 255}));
    EXPECT_EQ(p.at(10, 5), (rgb{134, 134, 134}));  // 110: 134.2
    EXPECT_EQ(p.at(20, 0), NO_INTENSITY_COLOUR);
    EXPECT_EQ(p.at(30, 10), RED);
    EXPECT_EQ(p.at(33, 10), RED);

    // A file without intensity data has no intensity picture.
    EXPECT_EQ(spinmap_view_main({"-Intensity", ramp, folder.file("none.png")}), 1);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"lit.dat", "out.png", "ramp.dat"}));
}

}  // namespace
}  // namespace spinmap
