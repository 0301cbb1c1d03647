// Fiducial rotation: the header's four groups follow the height data's turn;
// and the whole file written with them, its heights made as they go out,
// against the measurement rotated in memory and written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <spinmap/run/run.h>
#include "support.h"

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

// ---- The file written as its rows are made ------------------------------------

// Writes a measurement on a camera 38 rows high: heights x + 1000 y inside the
// ellipse filling `heights`, every seventh of them dropped, intensity frames
// over the camera, fiducials in group A (and in group B, which only the long
// header holds).
void write_measurement(const std::string& path, int16_t camera_width, window heights, int16_t buckets,
                       bool long_header) {
    HeaderRecord header = test::sound_header(camera_width, 38);
    header.FiducialCountA = 2;
    for (int k = 0; k < 4; ++k) header.FiducialCoordsA[k] = float(10 + 3 * k);
    if (long_header) {
        header.FiducialCountB = 1;
        header.FiducialCoordsB[0] = 40;
        header.FiducialCoordsB[1] = 2.5f;
    }
    owned_height height;
    height.window = heights;
    ASSERT_EQ(matrix_alloc(&height), 0);
    const double cx = (heights.width - 1) / 2.0, cy = (heights.height - 1) / 2.0;
    for (int i = 0; i < heights.height; ++i) {
        for (int j = 0; j < heights.width; ++j) {
            const double u = (j - cx) / (cx + 0.5), t = (i - cy) / (cy + 0.5);
            const bool valid = u * u + t * t <= 1 && (i * heights.width + j) % 7 != 3;
            height.matrix[i * heights.width + j] = valid ? (heights.x + j) + 1000 * (heights.y + i) : INVALID_HEIGHT;
        }
    }
    owned_intensity intensity;
    intensity.window = {0, 0, camera_width, 38};
    intensity.n_buckets = buckets;
    intensity.intens_range = 4095;
    if (buckets > 0) {
        ASSERT_EQ(matrix_alloc(&intensity), 0);
        for (uint32_t k = 0; k < intensity.size; ++k) intensity.matrix[k] = uint16_t(k * 7);
    }
    ASSERT_EQ(write_data_file(path, nullptr, &header, buckets > 0 ? &intensity : nullptr, &height), 0);
}

// The file run makes the turned rows as they are written where it can
// (quarter and half turns that keep every valid point on the camera,
// interpolations without a report) and turns the frame first elsewhere; the
// measurement rotated in memory and written is the plain way. Both give the
// same file, result and report, on 1, 2, 3 and 7 threads.
TEST(RotationRunFile, IsTheMeasurementRotatedInMemoryAndWritten) {
    const struct {
        const char* name;
        int16_t camera_width;
        window heights;
        int16_t buckets;
        bool long_header;
        double angle, px, py;
        bool no_interp;
    } cases[] = {
        {"quarter turn about the valid centre", 45, {6, 9, 29, 21}, 0, false, 90, NO_PIVOT, NO_PIVOT, false},
        {"quarter turn back about half pixels", 45, {6, 9, 29, 21}, 1, true, -90, 19.5, 18.5, true},
        {"half turn", 45, {6, 9, 29, 21}, 2, false, 180, NO_PIVOT, NO_PIVOT, false},
        {"half turn of the whole camera in its array", 45, {0, 0, 45, 38}, 2, false, 180, NO_PIVOT, NO_PIVOT, false},
        {"quarter turn of a square camera in its array", 38, {0, 0, 38, 38}, 1, true, 90, NO_PIVOT, NO_PIVOT, false},
        {"quarter turn losing points off the bottom", 45, {6, 9, 29, 21}, 1, false, -90, 8, 27, true},
        {"quarter turn losing points off the right", 45, {6, 9, 29, 21}, 0, true, 90, 28, 12, true},
        {"quarter turn of the whole camera, losing points", 45, {0, 0, 45, 38}, 2, true, 90, 22, 18.5, true},
        {"30 degrees", 45, {6, 9, 29, 21}, 2, true, 30, NO_PIVOT, NO_PIVOT, false},
        {"-33.3 degrees losing points", 45, {0, 0, 45, 38}, 0, false, -33.3, 12.25, 30.75, false},
        {"no turn", 45, {6, 9, 29, 21}, 1, true, 360, NO_PIVOT, NO_PIVOT, false},
        {"interpolated far away", 45, {6, 9, 29, 21}, 1, false, 45, 500, 500, false},
    };
    for (const auto& c : cases) {
        for (const bool report : {false, true}) {
            for (const int threads : test::FORCED_THREAD_COUNTS) {
                SCOPED_TRACE(std::string(c.name) + (report ? ", report, " : ", ") + std::to_string(threads) +
                             " threads");
                const test::forced_threads forced(threads);
                const test::scratch_folder folder;
                const std::string input = folder.file("in.dat");
                write_measurement(input, c.camera_width, c.heights, c.buckets, c.long_header);

                std::string file_report;
                rotation_run_result run;
                const rotation_run_settings settings{input, folder.file("out.dat"), c.angle, c.px,
                                                     c.py,  c.no_interp,          report};
                const int code = rotate_data_file(settings, report ? into(&file_report) : quiet, &run);

                loaded_measurement m;
                ASSERT_EQ(load_measurement(input, {intensity_use::load, true, true}, &m, nullptr), 0);
                std::string memory_report;
                rotation_run_result plain;
                const int plain_code = rotate_measurement(&m.header, &m.height, c.angle, c.px, c.py, c.no_interp,
                                                          report ? into(&memory_report) : quiet, &plain);
                ASSERT_EQ(code, plain_code);
                EXPECT_EQ(run.message, plain.message);
                EXPECT_NE(file_report.find(memory_report), std::string::npos) << file_report;
                if (code != 0) {
                    EXPECT_EQ(folder.names(), std::vector<std::string>{"in.dat"});
                    continue;
                }
                EXPECT_EQ(run.points_in, plain.points_in);
                EXPECT_EQ(run.points_out, plain.points_out);
                EXPECT_EQ(run.points_outside, plain.points_outside);
                EXPECT_EQ(std::memcmp(&run.output_window, &plain.output_window, sizeof(window)), 0);
                ASSERT_EQ(write_data_file(folder.file("plain.dat"), &m.info, &m.header, &m.intensity.frames,
                                          &m.height),
                          0);
                const std::optional<std::string> written = test::read_file(folder.file("out.dat"));
                ASSERT_TRUE(written);
                EXPECT_TRUE(written == test::read_file(folder.file("plain.dat")));
            }
        }
    }
}

}  // namespace
}  // namespace spinmap
