// The help and version of the programs of our own, and what the sample
// generator refuses: every stream, the exit status, and the file left behind
// (none, or the one that was there).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support.h"

namespace spinmap::test {
namespace {

// The help words print the usage text (the one too few arguments print with
// status 1) with status 0, and --version the name and the build's version,
// wherever the word stands; nothing else of the command line is looked at.
TEST(ProgramsHelp, HelpAndVersionWordsAnswerAndSucceed) {
    using runner = tool_output (*)(const std::vector<std::string>&, const run_options&);
    const struct {
        runner run;
        std::string name;
    } programs[] = {
        {run_sample, "Spinmap Sample"},
        {run_viewer, "Spinmap View"},
        {run_inspector, "Spinmap Info"},
    };
    const std::string version = SPINMAP_VERSION;
    for (const auto& program : programs) {
        SCOPED_TRACE(program.name);
        const tool_output usage = program.run({}, {});
        ASSERT_EQ(usage.exit_status, 1);
        EXPECT_EQ(usage.out.rfind(program.name + "\nVersion 2\n", 0), 0u) << usage.out;
        EXPECT_NE(usage.out.find("\nThe options -h, -help and --help print this text"), std::string::npos);

        scratch_folder dir;
        const std::string out = dir.file("out.dat");
        const struct {
            std::vector<std::string> args;
            std::string expected;
        } cases[] = {
            {{"-h"}, usage.out},
            {{"-help"}, usage.out},
            {{"--help"}, usage.out},
            {{"-HELP", out}, usage.out},
            // After a bad option, before a bad value, between file names.
            {{"-Unknown", "--help"}, usage.out},
            {{"--help", "-Angle"}, usage.out},
            {{out, "-h", out, out}, usage.out},
            {{"--version"}, program.name + " " + version + "\n"},
            {{out, "--Version", out}, program.name + " " + version + "\n"},
            // The first word counts.
            {{"--version", "-help"}, program.name + " " + version + "\n"},
            {{"-h", "--version"}, usage.out},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
            const tool_output r = program.run(c.args, {});
            EXPECT_EQ(r.exit_status, 0);
            EXPECT_EQ(r.out, c.expected);
            EXPECT_EQ(r.err, "");
        }
        EXPECT_TRUE(dir.names().empty());
    }
}

TEST(SampleHelp, UsageTextListsEveryOptionWithItsValues) {
    const tool_output usage = run_sample({});
    ASSERT_EQ(usage.exit_status, 1);
    EXPECT_NE(usage.out.find("\n-Fiducials N\n"), std::string::npos);
    EXPECT_NE(usage.out.find("\nN from 0 to 7.\n"), std::string::npos);
    EXPECT_NE(usage.out.find("\n-Overwrite\n"), std::string::npos);
}

TEST(SampleRefusal, MessagesAndNoFileWritten) {
    struct refusal {
        std::vector<std::string> args;  // before the output name
        std::string message;            // after "ERROR: "
    };
    const refusal cases[] = {
        {{"-Fiducials", "8"}, "Invalid value \"-Fiducials 8\" (N from 0 to 7)"},
        {{"-Buckets", "-1"}, "Invalid value \"-Buckets -1\" (N from 0 to 64)"},
        {{"-Camera", "0x5"}, "Invalid value \"-Camera 0x5\" (W and H from 1 to 32767)"},
        {{"-Aperture", "oval"}, "Invalid value \"-Aperture oval\" (A is circle, rect or none)"},
        {{"-PhaseRes", "40000"},
         "Invalid value \"-PhaseRes 40000\" (N from -32768 to 32767; below 2 in format 1, 2 or more in format 2)"},
        // The rectangle reaches one pixel beyond the camera, or starts left of it.
        {{"-Camera", "100x80", "-Valid", "50,0,51,10"},
         "Valid rectangle \"50,0,51,10\" is not inside the camera \"100x80\""},
        {{"-Camera", "100x80", "-Valid", "0,30,10,51"},
         "Valid rectangle \"0,30,10,51\" is not inside the camera \"100x80\""},
        {{"-Valid", "-1,0,10,10"}, "Valid rectangle \"-1,0,10,10\" is not inside the camera \"640x480\""},
    };
    for (const refusal& c : cases) {
        scratch_folder dir;
        std::vector<std::string> args = c.args;
        args.push_back(dir.file("out.dat"));
        SCOPED_TRACE(c.message);
        const tool_output r = run_sample(args);
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Spinmap Sample\nERROR: " + c.message + "\n");
        EXPECT_TRUE(dir.names().empty());
    }

    // The whole camera is a valid rectangle.
    scratch_folder dir;
    EXPECT_EQ(run_sample({"-Camera", "100x80", "-Valid", "0,0,100,80", dir.file("out.dat")}).exit_status, 0);
}

TEST(SampleRefusal, ExistingFileIsReplacedOnlyWithOverwrite) {
    scratch_folder dir;
    const std::string path = dir.file("out.dat");
    ASSERT_TRUE(write_file(path, "kept"));

    const tool_output refused = run_sample({"-Camera", "16x12", path});
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err,
              "Spinmap Sample\nERROR: Output file \"" + path + "\" exists; the Overwrite option replaces it\n");
    EXPECT_EQ(read_file(path), std::optional<std::string>("kept"));

    const tool_output replaced = run_sample({"-overwrite", "-Camera", "16x12", path});
    EXPECT_EQ(replaced.exit_status, 0);
    EXPECT_EQ(replaced.out + replaced.err, "");
    // The same file as one written where there was none.
    const std::string fresh = dir.file("fresh.dat");
    ASSERT_EQ(run_sample({"-Camera", "16x12", fresh}).exit_status, 0);
    EXPECT_EQ(read_file(path), read_file(fresh));
    EXPECT_NE(read_file(path), std::optional<std::string>("kept"));
}

// A write that fails part way (the file size limit), a file with nothing
// to hold, or a name where no file can be made leaves no output and no
// temporary, and an existing file as it was. The program runs in a folder
// holding a file and a folder of its own.
TEST(SampleRefusal, FailedWriteLeavesTheFolderAsItWas) {
    struct failure {
        std::string name;               // the output, in the folder
        std::vector<std::string> args;  // before the output name
        std::uint64_t size_limit;       // 0: none
        std::optional<std::string> existing;
        std::string error;              // after the quoted name
    };
    const failure cases[] = {
        {"out.dat", {"-Camera", "64x48"}, 4096, std::nullopt, "ERR_CANT_WRITE_FILE"},
        {"out.dat", {"-Overwrite", "-Camera", "64x48"}, 4096, "kept", "ERR_CANT_WRITE_FILE"},
        {"out.dat", {"-Overwrite", "-Camera", "64x48"}, 1, "kept", "ERR_CANT_WRITE_FILE"},
        {"out.dat", {"-Window", "0,0,0,0", "-Buckets", "0"}, 0, std::nullopt, "ERR_INVALID_PARAM"},
        {"missing/out.dat", {}, 0, std::nullopt, "the folder \"missing\" does not exist"},
        {"plain.dat/out.dat", {}, 0, std::nullopt, "\"plain.dat\" is not a folder"},
        {"sub", {"-Overwrite"}, 0, std::nullopt, "it is a folder"},
    };
    for (const failure& c : cases) {
        scratch_folder dir;
        ASSERT_TRUE(write_file(dir.file("plain.dat"), "plain"));
        std::filesystem::create_directory(dir.file("sub"));
        const std::string path = dir.file(c.name);
        if (c.existing) {
            ASSERT_TRUE(write_file(path, *c.existing));
        }
        const std::vector<std::string> before = dir.names();
        std::vector<std::string> args = c.args;
        args.push_back(c.name);
        run_options o;
        o.working_directory = dir.path();
        if (c.size_limit != 0) o.child_setup = limit_file_size(c.size_limit);
        SCOPED_TRACE(c.name + " limit " + std::to_string(c.size_limit));
        const tool_output r = run_sample(args, o);
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Spinmap Sample\nERROR: Cannot write \"" + c.name + "\": " + c.error + "\n");
        EXPECT_EQ(dir.names(), before);
        EXPECT_EQ(read_file(dir.file("plain.dat")), std::optional<std::string>("plain"));
        if (!std::filesystem::is_directory(path)) {
            EXPECT_EQ(read_file(path), c.existing);
        }
    }
}

}  // namespace
}  // namespace spinmap::test
