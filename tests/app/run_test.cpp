// The rotation run end to end: the built tool on files made by the sample
// generator, compared by standard output, standard error, exit status and
// the output file's contents.
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <spinmap/datafile/datafile.h>
#include "support.h"
#include <spinmap/transform/transform.h>

namespace spinmap {
namespace {

using namespace test;

// ---- Helpers ------------------------------------------------------------------

struct data_file {
    InfoBlock info{};
    HeaderRecord header{};
    owned_intensity intensity;
    owned_height height;
};

// Reads a data file with the project's reader; fails the test when it cannot.
void read_file_into(const std::string& path, data_file* f) {
    ASSERT_EQ(read_data_file(path, &f->info, &f->header, &f->intensity, &f->height), 0) << path;
}

std::vector<int32_t> heights(const height_matrix& m) {
    return std::vector<int32_t>(m.matrix, m.matrix + static_cast<std::size_t>(m.window.width) * m.window.height);
}

void make_sample(const std::string& path, const std::vector<std::string>& options) {
    std::vector<std::string> args = options;
    args.push_back(path);
    const tool_output r = run_sample(args);
    ASSERT_EQ(r.exit_status, 0) << r.err;
}

void patch_file(const std::string& path, const std::function<void(std::string*)>& patch) {
    std::optional<std::string> bytes = read_file(path);
    ASSERT_TRUE(bytes);
    patch(&*bytes);
    ASSERT_TRUE(write_file(path, *bytes));
}

run_options in_utc() {
    run_options o;
    o.environment = {"TZ=UTC"};
    return o;
}

std::string line_of(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    if (at == std::string::npos) return "";
    return text.substr(at, text.find('\n', at) - at);
}

bool exists(const std::string& path) {
    struct stat s {};
    return lstat(path.c_str(), &s) == 0;
}

// ---- The report ----------------------------------------------------------------

TEST(RunReport, VerboseRunPrintsEveryStage) {
    scratch_folder dir;
    const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
    make_sample(in, {"-Camera", "64x32", "-Valid", "10,5,10,4", "-Aperture", "rect", "-Dropouts", "0", "-Surface",
                     "coords", "-Fiducials", "3"});
    const tool_output r = run_tool({"-Angle", "90", "-Verbose", in, out}, in_utc());
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string expected_start =
        "InputFile            = \"" + in + "\"\n"
        "OutputFile           = \"" + out + "\"\n"
        "TimeStamp            = Tue Nov 14 22:13:20 2023\n"
        "CameraWidth          = 64\n"
        "CameraHeight         = 32\n"
        "PixelWidth           = 7.4 um\n"
        "PixelHeight          = 7.4 um\n"
        "CameraRes            = 12.5 um\n"
        "IntfScaleFactor      = 0.5\n"
        "WavelengthIn         = 632.8 nm\n"
        "ObliquityFactor      = 1\n"
        "PhaseRes             = High\n"
        "PryxRes              = 1/32768 fr\n"
        "\n"
        "Input WindowX        = 10\n"
        "Input WindowY        = 5\n"
        "Input WindowWidth    = 10\n"
        "Input WindowHeight   = 4\n"
        "Input Points         = 40\n"
        "\n"
        "Angle                = 90\n"
        "\n"
        "PivotX               = 14.5\n"
        "PivotY               = 6.5\n"
        "\n"
        "Output WindowX       = 13\n"
        "Output WindowY       = 2\n"
        "Output WindowWidth   = 4\n"
        "Output WindowHeight  = 10\n"
        "Output Points        = 40\n"
        "\n"
        "Fiducials Group A    = 3 coord pairs\n"
        "Fiducials Group B    = 2 coord pairs\n"
        "\n"
        "Wrote file \"" + out + "\"\n";
    ASSERT_EQ(r.out.substr(0, expected_start.size()), expected_start);
    const std::string rest = r.out.substr(expected_start.size());
    // The closing time is now, in the 24-character calendar form.
    ASSERT_EQ(rest.size(), 24u + 1 + 1 + 5) << rest;
    EXPECT_EQ(rest.substr(24), "\n\nDone\n");
    const std::string shape = rest.substr(0, 24);
    for (std::size_t i : {3u, 7u, 10u, 19u}) EXPECT_EQ(shape[i], ' ') << shape;
    EXPECT_EQ(shape[13], ':') << shape;
    EXPECT_EQ(shape[16], ':') << shape;
}

TEST(RunReport, PhaseResolutionNames) {
    const struct {
        const char* phase_res;
        const char* format;
        const char* name;
        const char* counts;
    } cases[] = {
        {"0", "1", "Normal", "1/4096 fr"},
        {"1", "3", "High", "1/32768 fr"},
        {"2", "2", "Super", "1/131072 fr"},
        {"7", "3", "Super", "1/131072 fr"},
        {"-3", "1", "Super", "1/131072 fr"},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        make_sample(dir.file("in.dat"), {"-Camera", "32x32", "-PhaseRes", c.phase_res, "-Format", c.format});
        const tool_output r = run_tool({"-Verbose", dir.file("in.dat"), dir.file("out.dat")});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(line_of(r.out, "PhaseRes "), std::string("PhaseRes             = ") + c.name) << c.phase_res;
        EXPECT_EQ(line_of(r.out, "PryxRes "), std::string("PryxRes              = ") + c.counts) << c.phase_res;
    }
}

TEST(RunReport, TimeStampsBefore1970AndAtTheEpoch) {
    const struct {
        const char* stamp;
        const char* line;
    } cases[] = {
        {"0", "TimeStamp            = Thu Jan  1 00:00:00 1970"},
        {"-1", "TimeStamp            = invalid time"},
        {"-2147483648", "TimeStamp            = invalid time"},
        {"2147483647", "TimeStamp            = Tue Jan 19 03:14:07 2038"},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        make_sample(dir.file("in.dat"), {"-Camera", "16x16", "-TimeStamp", c.stamp});
        const tool_output r = run_tool({"-Verbose", dir.file("in.dat"), dir.file("out.dat")}, in_utc());
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(line_of(r.out, "TimeStamp"), c.line) << c.stamp;
    }
}

TEST(RunReport, CameraWidthKeyIsPaddedToTwentyCharacters) {
    scratch_folder dir;
    make_sample(dir.file("in.dat"), {"-Camera", "640x48", "-Valid", "300,10,20,20"});
    const tool_output r = run_tool({"-Verbose", dir.file("in.dat"), dir.file("out.dat")});
    EXPECT_EQ(line_of(r.out, "CameraWidth"), "CameraWidth          = 640");
}

// ---- Pivot and mode ----------------------------------------------------------

// What the run must have done: the input rotated by the library with the
// given mode and pivot onto the camera frame, then trimmed.
void expect_rotated_as(const std::string& in, const std::string& out, double angle, double px, double py,
                       int mode) {
    data_file source, result;
    read_file_into(in, &source);
    read_file_into(out, &result);
    const window frame{0, 0, source.header.CameraWidth, source.header.CameraHeight};
    ASSERT_EQ(matrix_rotate(&source.height, &frame, &px, &py, angle, mode), 0);
    ASSERT_EQ(matrix_trim(&source.height), 0);
    EXPECT_EQ(result.height.window.x, source.height.window.x);
    EXPECT_EQ(result.height.window.y, source.height.window.y);
    EXPECT_EQ(result.height.window.width, source.height.window.width);
    EXPECT_EQ(result.height.window.height, source.height.window.height);
    EXPECT_EQ(heights(result.height), heights(source.height));
}

// The same rotation with the other mode would have given another result, so
// the comparison above tells the modes apart.
bool modes_differ(const std::string& in, double angle, double px, double py, int mode_a, int mode_b) {
    data_file a, b;
    read_file_into(in, &a);
    read_file_into(in, &b);
    const window frame{0, 0, a.header.CameraWidth, a.header.CameraHeight};
    double ax = px, ay = py;
    matrix_rotate(&a.height, &frame, &ax, &ay, angle, mode_a);
    matrix_rotate(&b.height, &frame, &px, &py, angle, mode_b);
    return heights(a.height) != heights(b.height);
}

TEST(RunMode, ChosenFromAngleAndPivot) {
    constexpr int AUTO = ROT_WIN_GIVEN, INTERP = ROT_INTERP | ROT_WIN_GIVEN, MOVE = ROT_NO_INTERP | ROT_WIN_GIVEN;
    // Pivots off the half-pixel grid interpolate under every mode.
    constexpr int SAME_RESULT = -1;
    const struct {
        const char* angle;
        const char* pivot;
        bool no_interp;
        double px, py;  // pivot after the decision
        int mode;
        int other;      // a mode that would give another result, if there is one
        const char* pivot_lines;
    } cases[] = {
        {"45", "20,15.5", false, 20, 15.5, INTERP, MOVE, nullptr},
        {"90", "20,15", false, 20, 15, AUTO, INTERP, nullptr},
        {"90", "20.5,15.5", false, 20.5, 15.5, AUTO, INTERP, nullptr},
        {"90", "20,15.5", false, 20, 15.5, INTERP, AUTO, nullptr},
        {"90", "20,15.5", true, 20, 16, MOVE, INTERP, "PivotX               = 20\nPivotY               = 16\n"},
        {"90", "20.5,15", true, 21, 15, MOVE, INTERP, "PivotX               = 21\nPivotY               = 15\n"},
        {"180", "20,15.5", false, 20, 15.5, AUTO, INTERP, nullptr},
        {"180", "20,15.5", true, 20, 16, MOVE, INTERP, "PivotX               = 20\nPivotY               = 16\n"},
        {"180", "20.25,3", false, 20.25, 3, AUTO, SAME_RESULT, nullptr},
        {"90", "20.25,3", false, 20.25, 3, INTERP, SAME_RESULT, nullptr},
        {"-90", "-0.5,20.5", false, -0.5, 20.5, AUTO, INTERP, nullptr},
        {"90", "-0.5,20", true, 0, 20, MOVE, INTERP, nullptr},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
        make_sample(in, {"-Camera", "40x32", "-Valid", "4,3,30,26", "-Dropouts", "9"});
        std::vector<std::string> args = {"-Angle", c.angle, "-Pivot", c.pivot, "-Verbose", in, out};
        if (c.no_interp) args.push_back("-NoInterp");
        const tool_output r = run_tool(args);
        const std::string label = std::string(c.angle) + " about " + c.pivot + (c.no_interp ? " NoInterp" : "");
        ASSERT_EQ(r.exit_status, 0) << label << r.err;
        if (c.pivot_lines != nullptr) {
            EXPECT_NE(r.out.find(c.pivot_lines), std::string::npos) << label;
        }
        expect_rotated_as(in, out, std::stod(c.angle), c.px, c.py, c.mode);
        if (c.other != SAME_RESULT) {
            EXPECT_TRUE(modes_differ(in, std::stod(c.angle), c.px, c.py, c.mode, c.other)) << label;
        }
    }
}

TEST(RunMode, WholeTurnsLeaveTheHeightDataAsItWas) {
    for (const char* angle : {"0", "360", "-720"}) {
        scratch_folder dir;
        const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
        make_sample(in, {"-Camera", "40x32", "-Window", "2,2,36,28", "-Valid", "5,4,20,20"});
        const tool_output r = run_tool({"-Angle", angle, "-Verbose", in, out});
        ASSERT_EQ(r.exit_status, 0) << r.err;
        data_file source, result;
        read_file_into(in, &source);
        read_file_into(out, &result);
        ASSERT_EQ(matrix_trim(&source.height), 0);
        EXPECT_EQ(result.height.window.x, 5);
        EXPECT_EQ(result.height.window.y, 4);
        EXPECT_EQ(heights(result.height), heights(source.height)) << angle;
        EXPECT_NE(r.out.find("Output WindowX       = 5\nOutput WindowY       = 4\n"
                             "Output WindowWidth   = 20\nOutput WindowHeight  = 20\n"),
                  std::string::npos);
    }
}

TEST(RunMode, QuarterTurnsAboutTheCameraCentreComeBackExactly) {
    scratch_folder dir;
    const std::string original = dir.file("original.dat"), work = dir.file("work.dat");
    make_sample(original, {"-Camera", "128x128", "-Valid", "20,30,70,60"});
    const struct {
        const char* angle;
        int times;
    } cases[] = {{"90", 4}, {"180", 2}, {"-90", 4}, {"270", 4}};
    for (const auto& c : cases) {
        ASSERT_TRUE(write_file(work, *read_file(original)));
        for (int i = 0; i < c.times; ++i) {
            const tool_output r = run_tool({"-Angle", c.angle, "-Pivot", "63.5,63.5", "-Overwrite", work});
            ASSERT_EQ(r.exit_status, 0) << r.err;
        }
        data_file before, after;
        read_file_into(original, &before);
        read_file_into(work, &after);
        ASSERT_EQ(matrix_trim(&before.height), 0);
        EXPECT_EQ(after.height.window.x, before.height.window.x) << c.angle;
        EXPECT_EQ(after.height.window.y, before.height.window.y) << c.angle;
        EXPECT_EQ(heights(after.height), heights(before.height)) << c.angle;
    }
}

// ---- Points turned off the camera frame -----------------------------------------

int32_t valid_points(const std::string& path) {
    data_file f;
    read_file_into(path, &f);
    int32_t count = 0;
    EXPECT_EQ(matrix_count_valid(&f.height, nullptr, &count), 0);
    return count;
}

TEST(RunWarning, SaysHowManyValidPointsFellOutsideTheCameraFrame) {
    constexpr int AUTO = ROT_WIN_GIVEN, INTERP = ROT_INTERP | ROT_WIN_GIVEN, MOVE = ROT_NO_INTERP | ROT_WIN_GIVEN;
    const std::string lost = " valid points fell outside the camera frame and are not in the output file\n";
    const struct {
        const char* label;
        std::vector<std::string> sample;
        std::vector<std::string> options;
        double px, py;  // the pivot the run turns about
        int mode;
        std::string err;
        int32_t outside;
    } cases[] = {
        {"a far pivot", {"-Camera", "320x240"}, {"-Angle", "90", "-Pivot", "100,80"}, 100, 80, AUTO,
         "Spinmap\nWARNING: 17606 of 45243" + lost, 17606},
        {"a full-frame rectangle on a 640 x 480 camera turned a quarter about its centre",
         {"-Camera", "640x480", "-Aperture", "rect"}, {"-Angle", "90"}, 319.5, 239.5, AUTO,
         "Spinmap\nWARNING: 76798 of 307195" + lost, 76798},
        {"about the raised pivot of -NoInterp", {"-Camera", "320x240"},
         {"-Angle", "-90", "-NoInterp", "-Pivot", "100,80.5"}, 100, 81, MOVE, "Spinmap\nWARNING: 10357 of 45243" + lost,
         10357},
        {"interpolated about a corner", {"-Camera", "320x240"}, {"-Angle", "30", "-Pivot", "0,0"}, 0, 0, INTERP,
         "Spinmap\nWARNING: 16844 of 45243" + lost, 16844},
        {"a quarter turn about the centre of a square frame keeps every point", {"-Camera", "128x128"},
         {"-Angle", "90"}, 63.5, 63.5, AUTO, "", 0},
        {"so does a disc turned 30 degrees about its centre", {"-Camera", "320x240"}, {"-Angle", "30"}, 159.5, 119.5,
         INTERP, "", 0},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
        make_sample(in, c.sample);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {in, out});
        const tool_output r = run_tool(args);
        EXPECT_EQ(r.exit_status, 0) << c.label;
        EXPECT_EQ(r.out, "") << c.label;
        EXPECT_EQ(r.err, c.err) << c.label;
        // The output is what it always was.
        expect_rotated_as(in, out, std::stod(c.options[1]), c.px, c.py, c.mode);
        // Values that move are lost only where the warning says.
        if (c.mode != INTERP) {
            EXPECT_EQ(valid_points(in) - valid_points(out), c.outside) << c.label;
        }
    }
}

TEST(RunWarning, ComesAfterEverythingOnStandardOutput) {
    scratch_folder dir;
    const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
    make_sample(in, {"-Camera", "320x240"});
    const std::vector<std::string> args = {"-Verbose", "-Overwrite", "-Angle", "90", "-Pivot", "100,80", in, out};
    const tool_output apart = run_tool(args, in_utc());
    ASSERT_EQ(apart.exit_status, 0);
    EXPECT_EQ(apart.out.substr(apart.out.size() - 6), "\nDone\n");
    run_options combined = in_utc();
    combined.merge_error = true;
    const tool_output together = run_tool(args, combined);
    EXPECT_EQ(together.exit_status, 0);
    const std::string ending =
        "\nDone\nSpinmap\nWARNING: 17606 of 45243 valid points fell outside the camera frame and are not in the "
        "output file\n";
    ASSERT_GE(together.out.size(), ending.size());
    EXPECT_EQ(together.out.substr(together.out.size() - ending.size()), ending);
    EXPECT_EQ(line_of(together.out, "Input Points"), "Input Points         = 45243");
    EXPECT_EQ(line_of(together.out, "Output Points"), "Output Points        = 27637");
}

TEST(RunOutput, IntensityAndHeaderBytesOtherThanGeometryAndFiducialsAreKept) {
    scratch_folder dir;
    const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
    make_sample(in, {"-Camera", "48x40", "-Buckets", "3", "-Fiducials", "4"});
    const tool_output r = run_tool({"-Angle", "30", in, out});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::string a = *read_file(in), b = *read_file(out);
    ASSERT_GE(b.size(), 4096u);
    for (std::size_t i = 0; i < 4096; ++i) {
        const bool geometry = i >= 64 && i < 76;  // height window and PhaseBytes
        const bool fiducials = (i >= 430 && i < 486) || (i >= 1266 && i < 1322);
        if (!geometry && !fiducials) {
            EXPECT_EQ(a[i], b[i]) << "header byte " << i;
        }
    }
    const std::size_t intensity_bytes = 2u * 3 * 48 * 40;
    EXPECT_EQ(a.substr(4096, intensity_bytes), b.substr(4096, intensity_bytes));
    data_file f;
    read_file_into(out, &f);
    EXPECT_NE(f.header.FiducialCoordsA[0], 12.0f);  // moved: the first point was at (12, 10)
}

// ---- Failures ------------------------------------------------------------------

TEST(RunFailure, MessagesAndNoOutputFile) {
    const struct {
        const char* label;
        std::vector<std::string> sample;
        std::function<void(std::string*)> patch;
        std::vector<std::string> options;
        const char* err;
    } cases[] = {
        {"not a data file", {}, [](std::string* b) { (*b)[3] = 0x01; }, {},
         "Spinmap\nERROR: Error reading input data file: ERR_NOT_A_DATA_FILE\n"},
        {"header cut short", {}, [](std::string* b) { b->resize(600); }, {},
         "Spinmap\nERROR: Error reading input data file: ERR_PREMATURE_EOF\n"},
        {"height block cut short", {}, [](std::string* b) { b->resize(b->size() - 1); }, {},
         "Spinmap\nERROR: Error reading input data file: ERR_CORRUPT_DATA_FILE\n"},
        {"wavelength zero", {}, [](std::string* b) { put32(*b, 168, 0); }, {},
         "Spinmap\nERROR: Invalid attribute information in input data file\n"
         "Wavelength-in less than or equal to zero.\n"},
        {"camera too narrow", {}, [](std::string* b) { put16(*b, 234, 20); }, {},
         "Spinmap\nERROR: Invalid attribute information in input data file\n"
         "Camera width or height inconsistent with data.\n"},
        {"intensity window past the camera", {}, [](std::string* b) { put16(*b, 48, 1); }, {},
         "Spinmap\nERROR: Invalid attribute information in input data file\n"
         "Camera width or height inconsistent with data.\n"},
        {"no height block", {}, [](std::string* b) { put32(*b, 72, 0); }, {},
         "Spinmap\nERROR: Input data file contains no height data\n"},
        {"no valid point", {"-Aperture", "none"}, nullptr, {},
         "Spinmap\nERROR: Input data file contains no valid height points\n"},
        {"NoInterp with 45", {}, nullptr, {"-Angle", "45", "-NoInterp"},
         "Spinmap\nERROR: The NoInterp option is disallowed because the rotation angle is not a multiple of 90\n"},
        {"NoInterp with a quarter pixel", {}, nullptr, {"-Angle", "90", "-Pivot", "10.25,3", "-NoInterp"},
         "Spinmap\nERROR: The NoInterp option is disallowed because a pivot coordinate is not a multiple of 0.5\n"},
        {"result empty", {}, nullptr, {"-Angle", "45", "-Pivot", "100000,100000"},
         "Spinmap\nERROR: Result contains no valid data\n"},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
        std::vector<std::string> sample = {"-Camera", "32x24"};
        sample.insert(sample.end(), c.sample.begin(), c.sample.end());
        make_sample(in, sample);
        if (c.patch) patch_file(in, c.patch);
        const std::string before = *read_file(in);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {in, out});
        const tool_output r = run_tool(args);
        EXPECT_EQ(r.exit_status, 1) << c.label;
        EXPECT_EQ(r.err, c.err) << c.label;
        EXPECT_EQ(r.out, "") << c.label;
        EXPECT_FALSE(exists(out)) << c.label;
        EXPECT_EQ(*read_file(in), before) << c.label;
        EXPECT_EQ(dir.names(), std::vector<std::string>{"in.dat"}) << c.label;
    }
}

TEST(RunFailure, InACombinedLogTheErrorFollowsTheReportBeforeIt) {
    scratch_folder dir;
    const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
    make_sample(in, {"-Camera", "32x24"});
    const std::vector<std::string> args = {"-Verbose", "-Angle", "45", "-NoInterp", in, out};
    const tool_output apart = run_tool(args, in_utc());
    ASSERT_NE(apart.out, "");
    ASSERT_NE(apart.err, "");
    run_options combined = in_utc();
    combined.merge_error = true;
    const tool_output together = run_tool(args, combined);
    EXPECT_EQ(together.exit_status, 1);
    EXPECT_EQ(together.out, apart.out + apart.err);
}

TEST(RunOutput, SameFileForInputAndOutput) {
    scratch_folder dir;
    const std::string file = dir.file("data.dat"), reference = dir.file("reference.dat");
    make_sample(file, {"-Camera", "32x32"});
    ASSERT_EQ(run_tool({"-Angle", "90", dir.file("data.dat"), reference}).exit_status, 0);
    const tool_output r = run_tool({"-Angle", "90", "-Overwrite", file});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(*read_file(file), *read_file(reference));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"data.dat", "reference.dat"}));
}

TEST(RunOutput, FailedWriteLeavesExistingFilesAsTheyWere) {
    scratch_folder dir;
    const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
    make_sample(in, {"-Camera", "200x200", "-Buckets", "2"});
    ASSERT_TRUE(write_file(out, "previous contents"));
    const std::string input_before = *read_file(in);
    for (const uint64_t limit : {0ull, 100ull, 4096ull, 70000ull, 200000ull}) {
        run_options o;
        o.child_setup = limit_file_size(limit);
        const tool_output two_files = run_tool({"-Angle", "30", "-Overwrite", in, out}, o);
        EXPECT_EQ(two_files.exit_status, 1) << limit;
        EXPECT_EQ(two_files.err, "Spinmap\nERROR: Error writing output data file: ERR_CANT_WRITE_FILE\n") << limit;
        EXPECT_EQ(*read_file(out), "previous contents") << limit;
        const tool_output one_file = run_tool({"-Angle", "30", "-Overwrite", in}, o);
        EXPECT_EQ(one_file.exit_status, 1) << limit;
        EXPECT_EQ(*read_file(in), input_before) << limit;
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.dat", "out.dat"})) << limit;
    }
}

TEST(RunOutput, PlacesWhereNoFileCanBeCreated) {
    scratch_folder dir;
    const std::string in = dir.file("in.dat");
    make_sample(in, {"-Camera", "16x16"});
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
    ASSERT_EQ(symlink("loop-b", dir.file("loop-a").c_str()), 0);
    ASSERT_EQ(symlink("loop-a", dir.file("loop-b").c_str()), 0);
    const std::vector<std::string> before = dir.names();
    for (const std::string& out : {dir.file("folder"), dir.file("missing/out.dat"), dir.file("new.dat/"),
                                  dir.file("in.dat/out.dat"), dir.file("loop-a")}) {
        const tool_output r = run_tool({"-Angle", "90", in, out});
        EXPECT_EQ(r.exit_status, 1) << out;
        EXPECT_EQ(r.err, "Spinmap\nERROR: Error writing output data file: ERR_CANT_CREATE_FILE\n") << out;
        EXPECT_EQ(dir.names(), before) << out;
        EXPECT_TRUE(std::filesystem::is_empty(dir.file("folder")));
    }
}

TEST(RunOutput, SymbolicLinksKeepTheLinkAndReplaceItsFile) {
    if (tool_is_windows()) GTEST_SKIP() << "symbolic links are POSIX links";
    scratch_folder dir;
    const std::string in = dir.file("in.dat");
    make_sample(in, {"-Camera", "16x16"});
    ASSERT_TRUE(write_file(dir.file("target.dat"), "old"));
    ASSERT_EQ(symlink("target.dat", dir.file("link.dat").c_str()), 0);
    ASSERT_EQ(symlink("created.dat", dir.file("dangling.dat").c_str()), 0);
    for (const char* name : {"link.dat", "dangling.dat"}) {
        const tool_output r = run_tool({"-Angle", "90", "-Overwrite", in, dir.file(name)});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        struct stat s {};
        ASSERT_EQ(lstat(dir.file(name).c_str(), &s), 0);
        EXPECT_TRUE(S_ISLNK(s.st_mode)) << name;
    }
    data_file replaced, created;
    read_file_into(dir.file("target.dat"), &replaced);
    read_file_into(dir.file("created.dat"), &created);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"created.dat", "dangling.dat", "in.dat", "link.dat",
                                                      "target.dat"}));
}

// A device, a pipe or a FIFO cannot take a temporary's place: the output is
// written straight to it, by the tool and by the sample maker alike.
TEST(RunOutput, OutputsThatAreNotFilesAreWrittenInPlace) {
    if (tool_is_windows()) GTEST_SKIP() << "/dev/null, /dev/stdout and FIFOs are POSIX ones";
    scratch_folder dir;
    const std::string in = dir.file("in.dat");
    make_sample(in, {"-Camera", "40x30", "-Buckets", "2"});
    ASSERT_EQ(run_tool({"-Angle", "30", in, dir.file("rotated.dat")}).exit_status, 0);
    ASSERT_EQ(run_sample({"-Camera", "40x30", dir.file("sample.dat")}).exit_status, 0);
    const struct {
        const char* name;
        std::function<tool_output(const std::string& output)> run;
        std::string reference;
    } programs[] = {
        {"spinmap", [&](const std::string& o) { return run_tool({"-Angle", "30", "-Overwrite", in, o}); },
         *read_file(dir.file("rotated.dat"))},
        {"spinmap-sample", [&](const std::string& o) { return run_sample({"-Camera", "40x30", o}); },
         *read_file(dir.file("sample.dat"))},
    };
    for (const auto& p : programs) {
        SCOPED_TRACE(p.name);
        const tool_output to_null = p.run("/dev/null");
        EXPECT_EQ(to_null.exit_status, 0) << to_null.err;
        EXPECT_EQ(to_null.out, "");
        const tool_output to_pipe = p.run("/dev/stdout");
        EXPECT_EQ(to_pipe.exit_status, 0) << to_pipe.err;
        EXPECT_TRUE(to_pipe.out == p.reference) << "standard output holds " << to_pipe.out.size() << " bytes";
        tool_output to_fifo;
        const std::string fifo = dir.file("fifo");
        EXPECT_EQ(read_fifo_while(fifo, [&] { to_fifo = p.run(fifo); }), p.reference);
        EXPECT_EQ(to_fifo.exit_status, 0) << to_fifo.err;
        std::remove(fifo.c_str());
    }
    struct stat s {};
    ASSERT_EQ(stat("/dev/null", &s), 0);
    EXPECT_TRUE(S_ISCHR(s.st_mode));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.dat", "rotated.dat", "sample.dat"}));
}

// The temporary's name is cut short to fit the folder's limit: the longest
// name the file system takes (255 bytes) is written, created and replaced,
// in both forms.
TEST(RunOutput, TheLongestNameIsAnOutputLikeAnyOther) {
    scratch_folder dir;
    const std::string in = dir.file("in.dat"), reference = dir.file("reference.dat");
    make_sample(in, {"-Camera", "32x24"});
    ASSERT_EQ(run_tool({"-Angle", "30", in, reference}).exit_status, 0);
    const std::string longest = dir.file(std::string(251, 'n') + ".dat");
    for (const bool exists_before : {false, true}) {
        SCOPED_TRACE(exists_before ? "replaced" : "created");
        const tool_output two_files = run_tool({"-Angle", "30", "-Overwrite", in, longest});
        EXPECT_EQ(two_files.exit_status, 0) << two_files.err;
        EXPECT_EQ(read_file(longest), read_file(reference));
    }
    ASSERT_TRUE(write_file(longest, *read_file(in)));
    const tool_output one_file = run_tool({"-Angle", "30", "-Overwrite", longest});
    EXPECT_EQ(one_file.exit_status, 0) << one_file.err;
    EXPECT_EQ(read_file(longest), read_file(reference));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.dat", std::string(251, 'n') + ".dat", "reference.dat"}));
}

// A file the user could not open for writing is not replaced either, though
// the folder would let a rename through; root may, as an open would let it.
TEST(RunOutput, AnOutputTheUserMayNotWriteIsRefused) {
    if (tool_is_windows()) GTEST_SKIP() << "permission bits are POSIX ones";
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "the tests cannot run the tool as another user (they need root and the user nobody)";
    }
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const auto as_nobody = [uid, gid] {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(126);
    };
    run_options probe;
    probe.child_setup = as_nobody;
    if (run_tool({}, probe).exit_status == 127) {
        GTEST_SKIP() << "the user nobody cannot start the built program (a build in a private folder such as /root)";
    }
    scratch_folder dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
    make_sample(in, {"-Camera", "16x16"});
    const std::string input = *read_file(in);
    const struct {
        const char* name;
        bool as_nobody;
        uid_t owner;
        mode_t mode;
        bool one_file;
        bool replaced;
    } cases[] = {
        {"own file, read-only", true, uid, 0444, false, false},
        {"own file, read-only, one-file form", true, uid, 0444, true, false},
        {"another user's file", true, 0, 0644, false, false},
        {"own writable file", true, uid, 0644, false, true},
        {"root and a read-only file", false, uid, 0444, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = c.one_file ? in : out;
        ASSERT_TRUE(write_file(in, input));
        if (!c.one_file) {
            ASSERT_TRUE(write_file(out, "kept"));
        }
        ASSERT_EQ(chown(target.c_str(), c.owner, gid), 0);
        ASSERT_EQ(chmod(target.c_str(), c.mode), 0);
        const std::string before = *read_file(target);
        run_options o;
        if (c.as_nobody) o.child_setup = as_nobody;
        std::vector<std::string> args = {"-Angle", "90", "-Overwrite", in};
        if (!c.one_file) args.push_back(out);
        const tool_output r = run_tool(args, o);
        ASSERT_NE(r.exit_status, 126) << "the user could not be changed";
        if (c.replaced) {
            EXPECT_EQ(r.exit_status, 0) << r.err;
            EXPECT_NE(read_file(target), before);
        } else {
            EXPECT_EQ(r.exit_status, 1);
            EXPECT_EQ(r.err, "Spinmap\nERROR: Error writing output data file: ERR_CANT_CREATE_FILE\n");
            EXPECT_EQ(read_file(target), before);
        }
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.dat", "out.dat"}));
        ASSERT_EQ(chmod(target.c_str(), 0644), 0);
    }
}

TEST(RunOutput, PermissionBitsOfNewAndReplacedFiles) {
    if (tool_is_windows()) GTEST_SKIP() << "permission bits are POSIX ones";
    scratch_folder dir;
    const std::string in = dir.file("in.dat"), fresh = dir.file("new.dat"), kept = dir.file("kept.dat");
    make_sample(in, {"-Camera", "16x16"});
    ASSERT_TRUE(write_file(kept, "old"));
    ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
    run_options o;
    o.child_setup = [] { umask(022); };
    ASSERT_EQ(run_tool({"-Angle", "90", in, fresh}, o).exit_status, 0);
    ASSERT_EQ(run_tool({"-Angle", "90", "-Overwrite", in, kept}, o).exit_status, 0);
    struct stat s {};
    ASSERT_EQ(stat(fresh.c_str(), &s), 0);
    EXPECT_EQ(s.st_mode & 07777, 0644u);
    ASSERT_EQ(stat(kept.c_str(), &s), 0);
    EXPECT_EQ(s.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace spinmap
