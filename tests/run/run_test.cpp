// The rotation run of the library on files made by the sample generator:
// its report, its message, its counts and the bytes it writes; and the same
// run beside the spinmap program, which prints them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <spinmap/datafile/datafile.h>
#include <spinmap/run/run.h>
#include <spinmap/transform/transform.h>
#include "support.h"

namespace spinmap {
namespace {

using namespace test;

// The report's times are UTC, as the program's are run in the tests.
const bool in_utc = [] {
    setenv("TZ", "UTC", 1);
    tzset();
    return true;
}();

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

std::string line_of(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    if (at == std::string::npos) return "";
    return text.substr(at, text.find('\n', at) - at);
}

bool exists(const std::string& path) {
    struct stat s {};
    return lstat(path.c_str(), &s) == 0;
}

// One run of the library: what it returned and the report its sink got.
struct library_run {
    int code = -1;
    rotation_run_result result;
    std::string report;
};

library_run rotate(const std::string& in, const std::string& out, double angle, double px = NO_PIVOT,
                   double py = NO_PIVOT, bool no_interp = false, bool report = false) {
    library_run run;
    const rotation_run_settings settings{in, out, angle, px, py, no_interp, report};
    run.code = rotate_data_file(settings, [&](std::string_view text) { run.report += text; }, &run.result);
    return run;
}

// The text without the line after "Wrote file", the time of the write.
std::string without_write_time(std::string text) {
    const std::size_t at = text.find("Wrote file");
    if (at == std::string::npos) return text;
    const std::size_t time = text.find('\n', at) + 1;
    return text.erase(time, text.find('\n', time) + 1 - time);
}

TEST(RotateDataFile, WritesAndSaysWhatTheProgramDoes) {
    const struct {
        const char* name;
        std::vector<std::string> sample;
        double angle, px, py;
        bool no_interp;
        int code;
        const char* message;
        int32_t outside;
    } cases[] = {
        {"quarter turn about the valid centre", {"-Fiducials", "3", "-Buckets", "2"}, 90, NO_PIVOT, NO_PIVOT, false,
         0, "", 0},
        {"interpolated, points off the frame", {"-Camera", "200x60"}, 30, 10, 10, false, 0, "", 2395},
        {"half turn with a half-pixel pivot", {"-Format", "1"}, 180, 100.5, 80.5, true, 0, "", 172032},
        {"NoInterp refused", {}, 45, NO_PIVOT, NO_PIVOT, true, ERR_INVALID_PARAM,
         "The NoInterp option is disallowed because the rotation angle is not a multiple of 90", 0},
        {"everything off the frame", {"-Camera", "64x64"}, 90, 1000, 1000, false, ERR_ALL_BAD_DATA,
         "Result contains no valid data", 3225},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        const std::string in = dir.file("in.dat"), by_tool = dir.file("tool.dat"), by_library = dir.file("lib.dat");
        std::vector<std::string> sample = c.sample;
        sample.push_back(in);
        ASSERT_EQ(run_sample(sample).exit_status, 0) << c.name;
        std::vector<std::string> args = {"-Verbose", "-Angle", std::to_string(c.angle)};
        if (c.px != NO_PIVOT) args.insert(args.end(), {"-Pivot", std::to_string(c.px) + "," + std::to_string(c.py)});
        if (c.no_interp) args.push_back("-NoInterp");
        args.insert(args.end(), {in, by_tool});
        run_options utc;
        utc.environment = {"TZ=UTC"};
        const tool_output tool = run_tool(args, utc);

        rotation_run_settings run{in, by_library, c.angle, c.px, c.py, c.no_interp, true};
        std::string report;
        rotation_run_result result;
        const int code = rotate_data_file(run, [&](std::string_view t) { report += t; }, &result);

        EXPECT_EQ(code, c.code) << c.name;
        EXPECT_EQ(result.code, c.code) << c.name;
        EXPECT_EQ(result.message, c.message) << c.name;
        EXPECT_EQ(result.points_outside, c.outside) << c.name;
        EXPECT_EQ(read_file(by_library), read_file(by_tool)) << c.name;
        std::string printed = tool.out;
        if (code == 0) {
            ASSERT_TRUE(printed.ends_with("Done\n")) << c.name;
            printed.resize(printed.size() - 5);
            const std::string warning = "Spinmap\nWARNING: " + std::to_string(result.points_outside) + " of " +
                                        std::to_string(result.points_in) + " valid points fell outside the camera "
                                        "frame and are not in the output file\n";
            EXPECT_EQ(tool.err, result.points_outside == 0 ? "" : warning) << c.name;
        } else {
            EXPECT_EQ(tool.err, "Spinmap\nERROR: " + result.message + "\n") << c.name;
        }
        // The report names the library's output where the program's names its own.
        for (std::size_t at; (at = report.find(by_library)) != std::string::npos;) {
            report.replace(at, by_library.size(), by_tool);
        }
        EXPECT_EQ(without_write_time(report), without_write_time(printed)) << c.name;
        EXPECT_EQ(tool.exit_status, code == 0 ? 0 : 1) << c.name;
    }
}


// ---- The report ----------------------------------------------------------------

TEST(RunReport, EveryStage) {
    scratch_folder dir;
    const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
    make_sample(in, {"-Camera", "64x32", "-Valid", "10,5,10,4", "-Aperture", "rect", "-Dropouts", "0", "-Surface",
                     "coords", "-Fiducials", "3"});
    const library_run r = rotate(in, out, 90, NO_PIVOT, NO_PIVOT, false, true);
    EXPECT_EQ(r.code, 0) << r.result.message;
    EXPECT_EQ(r.result.message, "");
    EXPECT_EQ(r.result.points_outside, 0);
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
    ASSERT_EQ(r.report.substr(0, expected_start.size()), expected_start);
    const std::string rest = r.report.substr(expected_start.size());
    // The closing time is now, in the 24-character calendar form.
    ASSERT_EQ(rest.size(), 24u + 1 + 1) << rest;
    EXPECT_EQ(rest.substr(24), "\n\n");
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
        const library_run r = rotate(dir.file("in.dat"), dir.file("out.dat"), 0, NO_PIVOT, NO_PIVOT, false, true);
        EXPECT_EQ(r.code, 0) << r.result.message;
        EXPECT_EQ(line_of(r.report, "PhaseRes "), std::string("PhaseRes             = ") + c.name) << c.phase_res;
        EXPECT_EQ(line_of(r.report, "PryxRes "), std::string("PryxRes              = ") + c.counts) << c.phase_res;
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
        const library_run r = rotate(dir.file("in.dat"), dir.file("out.dat"), 0, NO_PIVOT, NO_PIVOT, false, true);
        EXPECT_EQ(r.code, 0) << r.result.message;
        EXPECT_EQ(line_of(r.report, "TimeStamp"), c.line) << c.stamp;
    }
}

TEST(RunReport, CameraWidthKeyIsPaddedToTwentyCharacters) {
    scratch_folder dir;
    make_sample(dir.file("in.dat"), {"-Camera", "640x48", "-Valid", "300,10,20,20"});
    const library_run r = rotate(dir.file("in.dat"), dir.file("out.dat"), 0, NO_PIVOT, NO_PIVOT, false, true);
    EXPECT_EQ(line_of(r.report, "CameraWidth"), "CameraWidth          = 640");
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
        double angle;
        double given_x, given_y;
        bool no_interp;
        double px, py;  // pivot after the decision
        int mode;
        int other;      // a mode that would give another result, if there is one
        const char* pivot_lines;
    } cases[] = {
        {45, 20, 15.5, false, 20, 15.5, INTERP, MOVE, nullptr},
        {90, 20, 15, false, 20, 15, AUTO, INTERP, nullptr},
        {90, 20.5, 15.5, false, 20.5, 15.5, AUTO, INTERP, nullptr},
        {90, 20, 15.5, false, 20, 15.5, INTERP, AUTO, nullptr},
        {90, 20, 15.5, true, 20, 16, MOVE, INTERP, "PivotX               = 20\nPivotY               = 16\n"},
        {90, 20.5, 15, true, 21, 15, MOVE, INTERP, "PivotX               = 21\nPivotY               = 15\n"},
        {180, 20, 15.5, false, 20, 15.5, AUTO, INTERP, nullptr},
        {180, 20, 15.5, true, 20, 16, MOVE, INTERP, "PivotX               = 20\nPivotY               = 16\n"},
        {180, 20.25, 3, false, 20.25, 3, AUTO, SAME_RESULT, nullptr},
        {90, 20.25, 3, false, 20.25, 3, INTERP, SAME_RESULT, nullptr},
        {-90, -0.5, 20.5, false, -0.5, 20.5, AUTO, INTERP, nullptr},
        {90, -0.5, 20, true, 0, 20, MOVE, INTERP, nullptr},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
        make_sample(in, {"-Camera", "40x32", "-Valid", "4,3,30,26", "-Dropouts", "9"});
        const library_run r = rotate(in, out, c.angle, c.given_x, c.given_y, c.no_interp, true);
        const std::string label = std::to_string(c.angle) + " about " + std::to_string(c.given_x) + "," +
                                  std::to_string(c.given_y) + (c.no_interp ? " NoInterp" : "");
        ASSERT_EQ(r.code, 0) << label << r.result.message;
        EXPECT_EQ(r.result.plan.pivot_x, c.px) << label;
        EXPECT_EQ(r.result.plan.pivot_y, c.py) << label;
        if (c.pivot_lines != nullptr) {
            EXPECT_NE(r.report.find(c.pivot_lines), std::string::npos) << label;
        }
        expect_rotated_as(in, out, c.angle, c.px, c.py, c.mode);
        if (c.other != SAME_RESULT) {
            EXPECT_TRUE(modes_differ(in, c.angle, c.px, c.py, c.mode, c.other)) << label;
        }
    }
}

TEST(RunMode, WholeTurnsLeaveTheHeightDataAsItWas) {
    for (const double angle : {0.0, 360.0, -720.0}) {
        scratch_folder dir;
        const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
        make_sample(in, {"-Camera", "40x32", "-Window", "2,2,36,28", "-Valid", "5,4,20,20"});
        const library_run r = rotate(in, out, angle, NO_PIVOT, NO_PIVOT, false, true);
        ASSERT_EQ(r.code, 0) << r.result.message;
        data_file source, result;
        read_file_into(in, &source);
        read_file_into(out, &result);
        ASSERT_EQ(matrix_trim(&source.height), 0);
        EXPECT_EQ(result.height.window.x, 5);
        EXPECT_EQ(result.height.window.y, 4);
        EXPECT_EQ(heights(result.height), heights(source.height)) << angle;
        EXPECT_NE(r.report.find("Output WindowX       = 5\nOutput WindowY       = 4\n"
                                "Output WindowWidth   = 20\nOutput WindowHeight  = 20\n"),
                  std::string::npos);
    }
}

TEST(RunMode, QuarterTurnsAboutTheCameraCentreComeBackExactly) {
    scratch_folder dir;
    const std::string original = dir.file("original.dat"), work = dir.file("work.dat");
    make_sample(original, {"-Camera", "128x128", "-Valid", "20,30,70,60"});
    const struct {
        double angle;
        int times;
    } cases[] = {{90, 4}, {180, 2}, {-90, 4}, {270, 4}};
    for (const auto& c : cases) {
        ASSERT_TRUE(write_file(work, *read_file(original)));
        for (int i = 0; i < c.times; ++i) {
            const library_run r = rotate(work, work, c.angle, 63.5, 63.5);
            ASSERT_EQ(r.code, 0) << r.result.message;
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

TEST(RunOutside, CountsTheValidPointsTurnedOffTheCameraFrame) {
    constexpr int AUTO = ROT_WIN_GIVEN, INTERP = ROT_INTERP | ROT_WIN_GIVEN, MOVE = ROT_NO_INTERP | ROT_WIN_GIVEN;
    const struct {
        const char* label;
        std::vector<std::string> sample;
        double angle, given_x, given_y;
        bool no_interp;
        double px, py;  // the pivot the run turns about
        int mode;
        int32_t outside, in;  // in: counted only when some fell outside
    } cases[] = {
        {"a far pivot", {"-Camera", "320x240"}, 90, 100, 80, false, 100, 80, AUTO, 17606, 45243},
        {"a full-frame rectangle on a 640 x 480 camera turned a quarter about its centre",
         {"-Camera", "640x480", "-Aperture", "rect"}, 90, NO_PIVOT, NO_PIVOT, false, 319.5, 239.5, AUTO, 76798,
         307195},
        {"about the raised pivot of NoInterp", {"-Camera", "320x240"}, -90, 100, 80.5, true, 100, 81, MOVE, 10357,
         45243},
        {"interpolated about a corner", {"-Camera", "320x240"}, 30, 0, 0, false, 0, 0, INTERP, 16844, 45243},
        {"a quarter turn about the centre of a square frame keeps every point", {"-Camera", "128x128"}, 90,
         NO_PIVOT, NO_PIVOT, false, 63.5, 63.5, AUTO, 0, 0},
        {"so does a disc turned 30 degrees about its centre", {"-Camera", "320x240"}, 30, NO_PIVOT, NO_PIVOT, false,
         159.5, 119.5, INTERP, 0, 0},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
        make_sample(in, c.sample);
        const library_run r = rotate(in, out, c.angle, c.given_x, c.given_y, c.no_interp);
        EXPECT_EQ(r.code, 0) << c.label;
        EXPECT_EQ(r.result.message, "") << c.label;
        EXPECT_EQ(r.report, "") << c.label;
        EXPECT_EQ(r.result.points_outside, c.outside) << c.label;
        if (c.outside != 0) {
            EXPECT_EQ(r.result.points_in, c.in) << c.label;
        }
        // The output is what it always was.
        expect_rotated_as(in, out, c.angle, c.px, c.py, c.mode);
        // Values that move are lost only where the count says.
        if (c.mode != INTERP) {
            EXPECT_EQ(valid_points(in) - valid_points(out), c.outside) << c.label;
        }
    }
}

// ---- Output ----------------------------------------------------------------------

TEST(RunOutput, IntensityAndHeaderBytesOtherThanGeometryAndFiducialsAreKept) {
    scratch_folder dir;
    const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
    make_sample(in, {"-Camera", "48x40", "-Buckets", "3", "-Fiducials", "4"});
    const library_run r = rotate(in, out, 30);
    ASSERT_EQ(r.code, 0) << r.result.message;
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

TEST(RunOutput, SameFileForInputAndOutput) {
    scratch_folder dir;
    const std::string file = dir.file("data.dat"), reference = dir.file("reference.dat");
    make_sample(file, {"-Camera", "32x32"});
    ASSERT_EQ(rotate(file, reference, 90).code, 0);
    const library_run r = rotate(file, file, 90);
    ASSERT_EQ(r.code, 0) << r.result.message;
    EXPECT_EQ(*read_file(file), *read_file(reference));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"data.dat", "reference.dat"}));
}

TEST(RunOutput, SymbolicLinksKeepTheLinkAndReplaceItsFile) {
    scratch_folder dir;
    const std::string in = dir.file("in.dat");
    make_sample(in, {"-Camera", "16x16"});
    ASSERT_TRUE(write_file(dir.file("target.dat"), "old"));
    ASSERT_EQ(symlink("target.dat", dir.file("link.dat").c_str()), 0);
    ASSERT_EQ(symlink("created.dat", dir.file("dangling.dat").c_str()), 0);
    for (const char* name : {"link.dat", "dangling.dat"}) {
        const library_run r = rotate(in, dir.file(name), 90);
        EXPECT_EQ(r.code, 0) << r.result.message;
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

TEST(RunOutput, PermissionBitsOfNewAndReplacedFiles) {
    scratch_folder dir;
    const std::string in = dir.file("in.dat"), fresh = dir.file("new.dat"), kept = dir.file("kept.dat");
    make_sample(in, {"-Camera", "16x16"});
    ASSERT_TRUE(write_file(kept, "old"));
    ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
    const mode_t previous = umask(022);
    const int fresh_code = rotate(in, fresh, 90).code;
    const int kept_code = rotate(in, kept, 90).code;
    umask(previous);
    ASSERT_EQ(fresh_code, 0);
    ASSERT_EQ(kept_code, 0);
    struct stat s {};
    ASSERT_EQ(stat(fresh.c_str(), &s), 0);
    EXPECT_EQ(s.st_mode & 07777, 0644u);
    ASSERT_EQ(stat(kept.c_str(), &s), 0);
    EXPECT_EQ(s.st_mode & 07777, 0640u);
}

// ---- Failures ------------------------------------------------------------------

TEST(RunFailure, MessagesAndNoOutputFile) {
    const struct {
        const char* label;
        std::vector<std::string> sample;
        std::function<void(std::string*)> patch;
        double angle, px, py;
        bool no_interp;
        int code;
        const char* message;
    } cases[] = {
        {"not a data file", {}, [](std::string* b) { (*b)[3] = 0x01; }, 0, NO_PIVOT, NO_PIVOT, false,
         ERR_NOT_A_DATA_FILE, "Error reading input data file: ERR_NOT_A_DATA_FILE"},
        {"header cut short", {}, [](std::string* b) { b->resize(600); }, 0, NO_PIVOT, NO_PIVOT, false,
         ERR_PREMATURE_EOF, "Error reading input data file: ERR_PREMATURE_EOF"},
        {"height block cut short", {}, [](std::string* b) { b->resize(b->size() - 1); }, 0, NO_PIVOT, NO_PIVOT,
         false, ERR_CORRUPT_DATA_FILE, "Error reading input data file: ERR_CORRUPT_DATA_FILE"},
        {"wavelength zero", {}, [](std::string* b) { put32(*b, 168, 0); }, 0, NO_PIVOT, NO_PIVOT, false,
         ERR_PARAM_OUT_OF_RANGE,
         "Invalid attribute information in input data file\nWavelength-in less than or equal to zero."},
        {"camera too narrow", {}, [](std::string* b) { put16(*b, 234, 20); }, 0, NO_PIVOT, NO_PIVOT, false,
         ERR_IMPROPER_WINDOW,
         "Invalid attribute information in input data file\nCamera width or height inconsistent with data."},
        {"intensity window past the camera", {}, [](std::string* b) { put16(*b, 48, 1); }, 0, NO_PIVOT, NO_PIVOT,
         false, ERR_IMPROPER_WINDOW,
         "Invalid attribute information in input data file\nCamera width or height inconsistent with data."},
        {"no height block", {}, [](std::string* b) { put32(*b, 72, 0); }, 0, NO_PIVOT, NO_PIVOT, false,
         ERR_ALL_BAD_DATA, "Input data file contains no height data"},
        {"no valid point", {"-Aperture", "none"}, nullptr, 0, NO_PIVOT, NO_PIVOT, false, ERR_ALL_BAD_DATA,
         "Input data file contains no valid height points"},
        {"NoInterp with 45", {}, nullptr, 45, NO_PIVOT, NO_PIVOT, true, ERR_INVALID_PARAM,
         "The NoInterp option is disallowed because the rotation angle is not a multiple of 90"},
        {"NoInterp with a quarter pixel", {}, nullptr, 90, 10.25, 3, true, ERR_INVALID_PARAM,
         "The NoInterp option is disallowed because a pivot coordinate is not a multiple of 0.5"},
        {"result empty", {}, nullptr, 45, 100000, 100000, false, ERR_ALL_BAD_DATA, "Result contains no valid data"},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        const std::string in = dir.file("in.dat"), out = dir.file("out.dat");
        std::vector<std::string> sample = {"-Camera", "32x24"};
        sample.insert(sample.end(), c.sample.begin(), c.sample.end());
        make_sample(in, sample);
        if (c.patch) patch_file(in, c.patch);
        const std::string before = *read_file(in);
        const library_run r = rotate(in, out, c.angle, c.px, c.py, c.no_interp);
        EXPECT_EQ(r.code, c.code) << c.label;
        EXPECT_EQ(r.result.code, c.code) << c.label;
        EXPECT_EQ(r.result.message, c.message) << c.label;
        EXPECT_EQ(r.report, "") << c.label;
        EXPECT_FALSE(exists(out)) << c.label;
        EXPECT_EQ(*read_file(in), before) << c.label;
        EXPECT_EQ(dir.names(), std::vector<std::string>{"in.dat"}) << c.label;
    }
}

}  // namespace
}  // namespace spinmap
