// The built inspector as a user runs it: its report of a file with known
// statistics, its command line, and its rotation verdicts against what
// spinmap then does with the same file.
#include <gtest/gtest.h>

#include <algorithm>
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

// The value of the first "key = value" line of a report with that key.
std::string value_of(const std::string& report, const std::string& key) {
    std::string padded = key;
    padded.resize(std::max<std::size_t>(key.size(), 20), ' ');
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
    EXPECT_EQ(r.out, "InputFile            = \"" + plane + "\"\n"
                     "TimeStamp            = Fri Jan  1 00:00:00 1971\n"
                     "CameraWidth          = 40\n"
                     "CameraHeight         = 20\n"
                     "PixelWidth           = 7.4 um\n"
                     "PixelHeight          = 7.4 um\n"
                     "CameraRes            = 12.5 um\n"
                     "IntfScaleFactor      = 1\n"
                     "WavelengthIn         = 953.674 nm\n"
                     "ObliquityFactor      = 1\n"
                     "PhaseRes             = Normal\n"
                     "PryxRes              = 1/4096 fr\n"
                     "HeightScale          = 0.232831 nm per count\n"
                     "\n"
                     "Height WindowX       = 4\n"
                     "Height WindowY       = 2\n"
                     "Height WindowWidth   = 13\n"
                     "Height WindowHeight  = 6\n"
                     "Intensity WindowX    = 0\n"
                     "Intensity WindowY    = 0\n"
                     "Intensity WindowWidth = 40\n"
                     "Intensity WindowHeight = 20\n"
                     "Intensity Frames     = 2\n"
                     "\n"
                     "Valid WindowX        = 5\n"
                     "Valid WindowY        = 3\n"
                     "Valid WindowWidth    = 11\n"
                     "Valid WindowHeight   = 4\n"
                     "Valid Points         = 44\n"
                     "Height Minimum       = 0 (0 nm)\n"
                     "Height Maximum       = 1000 (232.831 nm)\n"
                     "Height PeakToValley  = 1000 (232.831 nm)\n"
                     "Height Mean          = 500 (116.415 nm)\n"
                     "Height RMS           = 316.227766 (73.6275 nm)\n"
                     "\n"
                     "Fiducials Group A    = 1 point: (23.5, 9.75)\n"
                     "Fiducials Group C    = 2 points: (0, 0) (0, 0)\n"
                     "\n"
                     "Angle                = 90\n"
                     "PivotX               = 10\n"
                     "PivotY               = 4.5\n"
                     "Pivot                = centre of the valid points' window\n"
                     "Rotation             = interpolates\n"
                     "With NoInterp        = moves values exactly about (10, 5)\n"
                     "\n");
    // The second file is missing: said so, after the first was reported.
    EXPECT_EQ(r.err, "Spinmap Info\nERROR: Cannot access input data file \"" + folder.file("missing.dat") +
                         "\": there is no such file\n");
    EXPECT_EQ(r.exit_status, 1);
}

// Command lines and files that are refused: the message names the file and
// says why.
TEST(InfoRun, BadCommandLinesAreRefusedWithTheirMessage) {
    const tool_output usage = run_info({});
    EXPECT_EQ(usage.out.substr(0, 24), "Spinmap Info\nVersion 2\n\n");
    EXPECT_EQ(usage.exit_status, 1);
    scratch_folder folder;
    const std::string missing = folder.file("missing"), picture = folder.file("plane.png"),
                      notes = folder.file("notes.txt"), cut = folder.file("cut.dat");
    ASSERT_TRUE(test::write_file(picture, std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16)));
    ASSERT_TRUE(test::write_file(notes, "Measured on Monday, 20 C\n"));
    write_plane(cut);
    ASSERT_TRUE(test::write_file(cut, test::read_file(cut)->substr(0, 500)));
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{missing + "/a.dat"},
         "Cannot access input data file \"" + missing + "/a.dat\": the folder \"" + missing + "\" does not exist"},
        {{"-Angle", "90", folder.path()}, "Cannot access input data file \"" + folder.path() + "\": it is a folder"},
        {{picture}, "Input file \"" + picture + "\" is not a measurement data file: it is a PNG picture"},
        {{notes}, "Input file \"" + notes + "\" is not a measurement data file: it holds text"},
        {{cut}, "Input data file \"" + cut + "\" is cut short: it ends inside its header"},
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

TEST(InfoRun, VerdictsAgreeWithWhatSpinmapThenDoes) {
    scratch_folder folder;
    const std::string in = folder.file("in.dat");
    {
        // Valid in columns 12..20, rows 14..19: the centre (16, 16.5) is whole
        // in x and half in y. No two values of a column pair or row pair
        // average to a value of the file.
        sample_file f(40, 40);
        f.set_heights({12, 14, 9, 6}, [](int x, int y) { return 1000 * x + 7 * y * y; });
        f.write(in);
    }
    const std::vector<int32_t> input_values = valid_heights(in);
    const struct {
        std::vector<std::string> options;
        std::string rotation, no_interp;
    } cases[] = {
        {{"-Angle", "90"}, "interpolates", "moves values exactly about (16, 17)"},
        {{"-Angle", "-270", "-Pivot", "20,20"}, "moves values exactly", "moves values exactly"},
        {{"-Angle", "180"}, "moves values exactly", "moves values exactly about (16, 17)"},
        {{"-Angle", "720"}, "leaves the heights as they are (whole turns)",
         "leaves the heights as they are (whole turns) about (16, 17)"},
        {{"-Angle", "30"}, "interpolates", "refused: the rotation angle is not a multiple of 90"},
        {{"-Angle", "90", "-Pivot", "20.25,20"}, "interpolates", "refused: a pivot coordinate is not a multiple of 0.5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options[1] + (c.options.size() > 2 ? " about " + c.options[3] : ""));
        std::vector<std::string> args = c.options;
        args.push_back(in);
        const tool_output info = run_info(args);
        ASSERT_EQ(info.exit_status, 0) << info.err;
        EXPECT_EQ(value_of(info.out, "Rotation"), c.rotation);
        EXPECT_EQ(value_of(info.out, "With NoInterp"), c.no_interp);

        for (const bool no_interp : {false, true}) {
            const std::string verdict = no_interp ? c.no_interp : c.rotation;
            std::vector<std::string> turn = c.options;
            turn.insert(turn.end(), {"-Verbose", "-Overwrite", in, folder.file("out.dat")});
            if (no_interp) turn.push_back("-NoInterp");
            const tool_output r = run_tool(turn);
            if (verdict.rfind("refused", 0) == 0) {
                EXPECT_EQ(r.exit_status, 1) << "spinmap turned what the verdict refused";
                continue;
            }
            ASSERT_EQ(r.exit_status, 0) << r.err;
            // The pivot spinmap turned about is the one the inspector named.
            const std::size_t about = verdict.find(" about (");
            const std::string pivot = about == std::string::npos
                                          ? "(" + value_of(info.out, "PivotX") + ", " + value_of(info.out, "PivotY") + ")"
                                          : verdict.substr(about + 7);
            EXPECT_EQ("(" + value_of(r.out, "PivotX") + ", " + value_of(r.out, "PivotY") + ")", pivot);
            const bool exact = valid_heights(folder.file("out.dat")) == input_values;
            EXPECT_EQ(exact, verdict != "interpolates") << (no_interp ? "with -NoInterp" : "");
        }
    }
}

}  // namespace
}  // namespace spinmap
