// The library run against the spinmap program: the same files, the same
// bytes written, the program's report and message given to the caller.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <spinmap/run/run.h>
#include "support.h"

namespace spinmap {
namespace {

using namespace test;

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
        setenv("TZ", "UTC", 1);
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

}  // namespace
}  // namespace spinmap
