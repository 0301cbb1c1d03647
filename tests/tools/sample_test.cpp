// The sample generator's help, and what it refuses: every stream, the exit
// status, and the file left behind (none, or the one that was there).
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support.h"

namespace spinmap::test {
namespace {

TEST(SampleHelp, HelpWordsPrintTheUsageTextAndSucceed) {
    scratch_folder dir;
    const tool_output usage = run_sample({});
    ASSERT_EQ(usage.exit_status, 1);
    EXPECT_EQ(usage.out.rfind("Spinmap Sample\nVersion 2\n", 0), 0u) << usage.out;
    EXPECT_NE(usage.out.find("\n-Fiducials N\n"), std::string::npos);
    EXPECT_NE(usage.out.find("\nN from 0 to 7.\n"), std::string::npos);
    EXPECT_NE(usage.out.find("\n-Overwrite\n"), std::string::npos);

    for (const char* help : {"-h", "-help", "--help", "-HELP"}) {
        SCOPED_TRACE(help);
        // Help wins over everything after it: nothing is written.
        const tool_output r = run_sample({help, dir.file("out.dat"), "-Camera", "bad"});
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.out, usage.out);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(dir.names().empty());
    }
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

// A write that fails part way (the file size limit), or a file with nothing
// to hold, leaves no output and no temporary, and an existing file as it was.
TEST(SampleRefusal, FailedWriteLeavesTheFolderAsItWas) {
    struct failure {
        std::vector<std::string> args;  // before the output name
        std::uint64_t size_limit;       // 0: none
        std::optional<std::string> existing;
        std::string error;
    };
    const failure cases[] = {
        {{"-Camera", "64x48"}, 4096, std::nullopt, "ERR_CANT_WRITE_FILE"},
        {{"-Overwrite", "-Camera", "64x48"}, 4096, "kept", "ERR_CANT_WRITE_FILE"},
        {{"-Overwrite", "-Camera", "64x48"}, 1, "kept", "ERR_CANT_WRITE_FILE"},
        {{"-Window", "0,0,0,0", "-Buckets", "0"}, 0, std::nullopt, "ERR_INVALID_PARAM"},
    };
    for (const failure& c : cases) {
        scratch_folder dir;
        const std::string path = dir.file("out.dat");
        if (c.existing) {
            ASSERT_TRUE(write_file(path, *c.existing));
        }
        const std::vector<std::string> before = dir.names();
        std::vector<std::string> args = c.args;
        args.push_back(path);
        run_options o;
        if (c.size_limit != 0) o.child_setup = limit_file_size(c.size_limit);
        SCOPED_TRACE(args[0] + " limit " + std::to_string(c.size_limit));
        const tool_output r = run_sample(args, o);
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Spinmap Sample\nERROR: Cannot write \"" + path + "\": " + c.error + "\n");
        EXPECT_EQ(dir.names(), before);
        EXPECT_EQ(read_file(path), c.existing);
    }
}

}  // namespace
}  // namespace spinmap::test
