// Fiducial rotation: the header's four groups follow the height data's turn.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include <spinmap/run/run.h>

namespace spinmap {
namespace {

const report_sink quiet;

// A sink that keeps the report's text.
report_sink into(std::string* text) {
    return [text](std::string_view piece) { text->append(piece); };
}

// A float with a bit pattern no rotation produces, to show untouched pairs.
float marker(int k) {
    const uint32_t bits = 0x7FC01230u + uint32_t(k);  // quiet NaN with a payload
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void fill_markers(float* coordinates) {
    for (int k = 0; k < 14; ++k) coordinates[k] = marker(k);
}

TEST(RotateFiducials, MovesPointsByTheForwardRotation) {
    const struct {
        const char* name;
        double px, py, angle;
        float x, y, to_x, to_y;
    } cases[] = {
        {"90 degrees: right of the pivot goes up", 100, 100, 90, 200, 100, 100, 0},
        {"90 degrees: below the pivot goes right", 100, 100, 90, 100, 200, 200, 100},
        {"half turn", 100, 100, 180, 150, 120, 50, 80},
        {"-90 degrees", 10, 20, -90, 15, 20, 10, 25},
        {"whole turn", 10, 20, 360, 15, 27, 15, 27},
    };
    for (const auto& c : cases) {
        HeaderRecord header{};
        header.CameraHeight = 480;
        header.FiducialCountA = 1;
        header.FiducialCoordsA[0] = c.x;
        header.FiducialCoordsA[1] = c.y;
        rotate_fiducials(&header, c.px, c.py, c.angle, quiet);
        EXPECT_NEAR(header.FiducialCoordsA[0], c.to_x, 1e-4) << c.name;
        EXPECT_NEAR(header.FiducialCoordsA[1], c.to_y, 1e-4) << c.name;
    }
}

TEST(RotateFiducials, TouchesOnlyTheCountedPairsOfEachGroup) {
    HeaderRecord header{};
    header.CameraHeight = 480;
    header.FiducialCountA = 3;
    header.FiducialCountB = -2;
    header.FiducialCountC = 9;
    header.FiducialCountD = 1;
    fill_markers(header.FiducialCoordsA);
    fill_markers(header.FiducialCoordsB);
    fill_markers(header.FiducialCoordsD);
    for (int k = 0; k < 14; ++k) {
        header.FiducialCoordsA[k] = k < 6 ? float(k) : header.FiducialCoordsA[k];
        header.FiducialCoordsC[k] = float(k);
    }
    header.FiducialCoordsD[0] = 200;
    header.FiducialCoordsD[1] = 100;
    const HeaderRecord before = header;

    rotate_fiducials(&header, 100, 100, 180, quiet);

    // A: pairs 1 to 3 turned, 4 to 7 keep their bits.
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(header.FiducialCoordsA[k], 200 - k, 1e-4) << k;
    EXPECT_EQ(std::memcmp(header.FiducialCoordsA + 6, before.FiducialCoordsA + 6, 8 * sizeof(float)), 0);
    // B: a negative count skips the group, and C and D still follow.
    EXPECT_EQ(std::memcmp(header.FiducialCoordsB, before.FiducialCoordsB, sizeof header.FiducialCoordsB), 0);
    // C: a count of 9 turns the group's 7 pairs and nothing after them.
    for (int k = 0; k < 14; ++k) EXPECT_NEAR(header.FiducialCoordsC[k], 200 - k, 1e-4) << k;
    EXPECT_EQ(std::memcmp(&header.bytes_1382, &before.bytes_1382, sizeof header.bytes_1382), 0);
    // D: the first pair turned, the other six untouched.
    EXPECT_NEAR(header.FiducialCoordsD[0], 0, 1e-4);
    EXPECT_NEAR(header.FiducialCoordsD[1], 100, 1e-4);
    EXPECT_EQ(std::memcmp(header.FiducialCoordsD + 2, before.FiducialCoordsD + 2, 12 * sizeof(float)), 0);
    // The counts are as stored.
    EXPECT_EQ(header.FiducialCountC, 9);
}

TEST(RotateFiducials, AHeaderWithoutFiducialsIsUnchangedAndSilent) {
    HeaderRecord header{};
    header.CameraHeight = 480;
    fill_markers(header.FiducialCoordsA);
    const HeaderRecord before = header;
    std::string report;
    rotate_fiducials(&header, 100, 100, 33, into(&report));
    EXPECT_EQ(report, "");
    EXPECT_EQ(std::memcmp(&header, &before, sizeof header), 0);
}

TEST(RotateFiducialGroup, ReportsTheStoredCountOnlyWithASink) {
    const struct {
        bool verbose;
        const char* name;
        int count;
        const char* expected;
    } cases[] = {
        {true, "Fiducials Group B", 2, "Fiducials Group B    = 2 coord pairs\n"},
        {true, "Fiducials Group C", 9, "Fiducials Group C    = 9 coord pairs\n"},
        {false, "Fiducials Group B", 2, ""},
    };
    for (const auto& c : cases) {
        float coordinates[14] = {};
        std::string report;
        rotate_fiducial_group(c.name, c.count, coordinates, 479, 0, 0, 90, c.verbose ? into(&report) : quiet);
        EXPECT_EQ(report, c.expected);
    }
}

TEST(RotateFiducialGroup, ExtremePivotsGiveInfinitiesOrNaNs) {
    const struct {
        double px, py;
    } cases[] = {{1e300, 0}, {-1e300, 1e300}, {NAN, 0}, {0, INFINITY}};
    for (const auto& c : cases) {
        float coordinates[16] = {1, 2};
        coordinates[14] = 5;  // beyond the group
        rotate_fiducial_group("Fiducials Group A", 8, coordinates, 479, c.px, c.py, 30, quiet);
        EXPECT_FALSE(std::isfinite(coordinates[0]) && std::isfinite(coordinates[1])) << c.px << ", " << c.py;
        EXPECT_EQ(coordinates[14], 5);
    }
}

}  // namespace
}  // namespace spinmap
