// The built inspector as a user runs it: its report of a file with known
// statistics, its command line, and its predictions of a rotation against
// what spinmap then does with the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "../view/picture_support.h"

namespace spinmap {
namespace {

using test::run_tool;
using test::sample_file;
using test::scratch_folder;
using test::tool_output;

// The inspector, its time stamps in UTC.
tool_output run_info(const std::vector<std::string>& args) {
    test::run_options options;
    options.environment = {"TZ=UTC"};
    return test::run_inspector(args, options);
}

// The value of the first "key = value" line of a report with that key, the
// keys padded to the inspector's 22 characters or spinmap's 20.
std::string value_of(const std::string& report, const std::string& key, std::size_t width = 22) {
    std::string padded = key;
    padded.resize(std::max(key.size(), width), ' ');
    const std::size_t at = report.find(padded + " = ");
    if (at == std::string::npos) return "(no " + key + ")";
    const std::size_t start = at + padded.size() + 3;
    return report.substr(start, report.find('\n', start) - start);
}

// A plane rising 100 counts a column: valid in columns 5..15, rows 3..6
// (44 points, 0 to 1000), with an invalid ring around them inside the height
// window. One count is 2^-32 m of surface height.
void write_plane(const std::string& path) {
    sample_file f(40, 20);
    f.set_heights({4, 2, 13, 6}, [](int x, int y) {
        return x >= 5 && x <= 15 && y >= 3 && y <= 6 ? 100 * (x - 5) : INVALID_HEIGHT;
    });
    f.set_intensity({0, 0, 40, 20}, 2, [](int, int, int) { return uint16_t(9); });
    f.header.IntfScaleFactor = 1;
    f.header.WavelengthIn = 0x1p-20f;
    f.header.PhaseRes = 0;
    f.header.TimeStamp = 31536000;  // 1971
    f.header.FiducialCountA = 1;
    f.header.FiducialCoordsA[0] = 23.5f;
    f.header.FiducialCoordsA[1] = 9.75f;
    f.header.FiducialCountC = 2;
    f.write(path);
}

TEST(InfoRun, APlaneHasItsKnownPeakToValleyAndRms) {
    scratch_folder folder;
    const std::string plane = folder.file("plane.dat");
    write_plane(plane);
    const tool_output r = run_info({"-angle", "90", plane, folder.file("missing.dat")});
    // Peak-to-valley 1000; RMS about the mean 500 is 100 sqrt((11^2 - 1) / 12).
    EXPECT_EQ(r.out, "InputFile              = \"" + plane + "\"\n"
                     "TimeStamp              = Fri Jan  1 00:00:00 1971\n"
                     "CameraWidth            = 40\n"
                     "CameraHeight           = 20\n"
                     "PixelWidth             = 7.4 um\n"
                     "PixelHeight            = 7.4 um\n"
                     "CameraRes              = 12.5 um\n"
                     "IntfScaleFactor        = 1\n"
                     "WavelengthIn           = 953.674 nm\n"
                     "ObliquityFactor        = 1\n"
                     "PhaseRes               = Normal\n"
                     "PryxRes                = 1/4096 fr\n"
                     "HeightScale            = 0.232831 nm per count\n"
                     "\n"
                     "Height WindowX         = 4\n"
                     "Height WindowY         = 2\n"
                     "Height WindowWidth     = 13\n"
                     "Height WindowHeight    = 6\n"
                     "Intensity WindowX      = 0\n"
                     "Intensity WindowY      = 0\n"
                     "Intensity WindowWidth  = 40\n"
                     "Intensity WindowHeight = 20\n"
                     "Intensity Frames       = 2\n"
                     "\n"
                     "Valid WindowX          = 5\n"
                     "Valid WindowY          = 3\n"
                     "Valid WindowWidth      = 11\n"
                     "Valid WindowHeight     = 4\n"
                     "Valid Points           = 44\n"
                     "Height Minimum         = 0 (0 nm)\n"
                     "Height Maximum         = 1000 (232.831 nm)\n"
                     "Height PeakToValley    = 1000 (232.831 nm)\n"
                     "Height Mean            = 500 (116.415 nm)\n"
                     "Height RMS             = 316.227766 (73.6275 nm)\n"
                     "\n"
                     "Fiducials Group A      = 1 point: (23.5, 9.75)\n"
                     "Fiducials Group C      = 2 points: (0, 0) (0, 0)\n"
                     "\n"
                     "Angle                  = 90\n"
                     "PivotX                 = 10\n"
                     "PivotY                 = 4.5\n"
                     "Pivot                  = centre of the valid points' window\n"
                     "Rotation               = interpolates\n"
                     // Column 15 turns onto the frame's top edge, row -0.5;
                     // the quarter turn's cosine (4.8e-13, not 0) puts its
                     // rows 3 and 4 just beyond it.
                     "Points Outside         = 2 of 44 valid points would fall outside the camera frame\n"
                     "Output WindowX         = 9\n"
                     "Output WindowY         = 0\n"
                     "Output WindowWidth     = 3\n"
                     "Output WindowHeight    = 10\n"
                     "Output Points          = 30\n"
                     "With NoInterp          = moves values exactly about (10, 5)\n"
                     "\n");
    // The second file is missing: said so, after the first was reported.
    EXPECT_EQ(r.err, "Spinmap Info\nERROR: Cannot access input data file \"" + folder.file("missing.dat") + "\"\n");
    EXPECT_EQ(r.exit_status, 1);
}

TEST(InfoRun, BadCommandLinesAreRefusedWithTheirMessage) {
    const tool_output usage = run_info({});
    EXPECT_EQ(usage.out.substr(0, 24), "Spinmap Info\nVersion 2\n\n");
    EXPECT_EQ(usage.exit_status, 1);
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-Angle", "90"}, "No input data file specified"},
        {{"-Pivot", "1,2", "a.dat"}, "The Pivot option needs the Angle option"},
        {{"-Angle", "ninety", "a.dat"}, "Invalid angle \"ninety\""},
        {{"-Angle", "90", "-Pivot", "1", "a.dat"}, "Invalid pivot coordinates \"1\""},
        {{"-NoInterp", "a.dat"}, "Unknown option \"-NoInterp\""},
        {{"a.dat", "-Angle"}, "Missing value after \"-Angle\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const tool_output r = run_info(c.args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Spinmap Info\nERROR: " + c.message + "\n");
        EXPECT_EQ(r.exit_status, 1);
    }
}

// The valid heights of a file, sorted: a rotation that moves values exactly
// (with everything staying in the frame) keeps them all.
std::vector<int32_t> valid_heights(const std::string& path) {
    HeaderRecord header{};
    owned_height height;
    std::vector<int32_t> values;
    if (read_data_file(path, nullptr, &header, nullptr, &height) != 0) return values;
    const std::size_t n = std::size_t(height.window.width) * std::size_t(height.window.height);
    for (std::size_t i = 0; i < n; ++i) {
        if (is_valid_height(height.matrix[i])) values.push_back(height.matrix[i]);
    }
    std::sort(values.begin(), values.end());
    return values;
}

// The warning spinmap gives for a count of points turned off the frame
// (none for 0).
std::string warning_for(int outside, int valid) {
    if (outside == 0) return "";
    return "Spinmap\nWARNING: " + std::to_string(outside) + " of " + std::to_string(valid) +
           " valid points fell outside the camera frame and are not in the output file\n";
}

TEST(InfoRun, PredictionsAgreeWithWhatSpinmapThenDoes) {
    scratch_folder folder;
    const std::string in = folder.file("in.dat");
    {
        // Valid in columns 12..20, rows 14..19 (54 points): the centre
        // (16, 16.5) is whole in x and half in y. No two values of a column
        // pair or row pair average to a value of the file.
        sample_file f(40, 40);
        f.set_heights({12, 14, 9, 6}, [](int x, int y) { return 1000 * x + 7 * y * y; });
        f.write(in);
    }
    const std::vector<int32_t> input_values = valid_heights(in);
    const std::string no_data = "then fails with \"Result contains no valid data\"";
    const struct {
        std::vector<std::string> options;
        std::string rotation, no_interp;
        int outside;  // of the 54, without -NoInterp
    } cases[] = {
        {{"-Angle", "90"}, "interpolates", "moves values exactly about (16, 17)", 0},
        {{"-Angle", "-270", "-Pivot", "20,20"}, "moves values exactly", "moves values exactly", 0},
        {{"-Angle", "180"}, "moves values exactly", "moves values exactly about (16, 17)", 0},
        {{"-Angle", "720"}, "leaves the heights as they are (whole turns)",
         "leaves the heights as they are (whole turns) about (16, 17)", 0},
        {{"-Angle", "30"}, "interpolates", "refused: the rotation angle is not a multiple of 90", 0},
        {{"-Angle", "90", "-Pivot", "20.25,20"}, "interpolates", "refused: a pivot coordinate is not a multiple of 0.5",
         0},
        // Columns 12..16 turn to rows 44..40, below the frame.
        {{"-Angle", "90", "-Pivot", "28,28"}, "moves values exactly",
         "moves values exactly; 30 valid points would fall outside the camera frame", 30},
        // One point stays on the frame, but no result point has four valid
        // neighbours to interpolate from.
        {{"-Angle", "30", "-Pivot", "20,60"}, "interpolates, " + no_data,
         "refused: the rotation angle is not a multiple of 90", 53},
        {{"-Angle", "90", "-Pivot", "1000,1000"}, "moves values exactly, " + no_data,
         "moves values exactly, " + no_data, 54},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options[1] + (c.options.size() > 2 ? " about " + c.options[3] : ""));
        std::vector<std::string> args = c.options;
        args.push_back(in);
        const tool_output info = run_info(args);
        ASSERT_EQ(info.exit_status, 0) << info.err;
        EXPECT_EQ(value_of(info.out, "Rotation"), c.rotation);
        EXPECT_EQ(value_of(info.out, "With NoInterp"), c.no_interp);
        EXPECT_EQ(value_of(info.out, "Points Outside"),
                  std::to_string(c.outside) + " of 54 valid points would fall outside the camera frame");

        for (const bool no_interp : {false, true}) {
            const std::string verdict = no_interp ? c.no_interp : c.rotation;
            const std::string out = folder.file("out.dat");
            std::remove(out.c_str());
            std::vector<std::string> turn = c.options;
            turn.insert(turn.end(), {"-Verbose", in, out});
            if (no_interp) turn.push_back("-NoInterp");
            const tool_output r = run_tool(turn);
            if (verdict.rfind("refused", 0) == 0) {
                EXPECT_EQ(r.exit_status, 1) << "spinmap turned what the verdict refused";
                continue;
            }
            const std::size_t fails = verdict.find(", then fails with \"");
            if (fails != std::string::npos) {
                const std::string message = verdict.substr(fails + 19, verdict.size() - fails - 20);
                EXPECT_EQ(r.exit_status, 1);
                EXPECT_EQ(r.err, "Spinmap\nERROR: " + message + "\n");
                EXPECT_FALSE(test::read_file(out));
                continue;
            }
            ASSERT_EQ(r.exit_status, 0) << r.err;
            // The pivot spinmap turned about is the one the inspector named.
            const std::size_t about = verdict.find(" about (");
            const std::string pivot = about == std::string::npos
                                          ? "(" + value_of(info.out, "PivotX") + ", " + value_of(info.out, "PivotY") + ")"
                                          : verdict.substr(about + 7, verdict.find(')', about) - about - 6);
            EXPECT_EQ("(" + value_of(r.out, "PivotX", 20) + ", " + value_of(r.out, "PivotY", 20) + ")", pivot);
            const std::size_t lost = verdict.find("; ");
            const int outside = no_interp ? (lost == std::string::npos ? 0 : std::stoi(verdict.substr(lost + 2)))
                                          : c.outside;
            EXPECT_EQ(r.err, warning_for(outside, 54)) << (no_interp ? "with -NoInterp" : "");
            const bool exact = valid_heights(out) == input_values;
            EXPECT_EQ(exact, verdict.rfind("interpolates", 0) != 0 && outside == 0)
                << (no_interp ? "with -NoInterp" : "");
            if (!no_interp) {
                for (const char* key : {"Output WindowX", "Output WindowY", "Output WindowWidth", "Output WindowHeight",
                                        "Output Points"}) {
                    EXPECT_EQ(value_of(info.out, key), value_of(r.out, key, 20)) << key;
                }
            }
        }
    }
}

}  // namespace
}  // namespace spinmap
