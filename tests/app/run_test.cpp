// The rotation run end to end where it takes the program itself: the order
// of its streams, and outputs that need a process of its own (a file size
// limit, another user, devices and pipes) or that the Windows program is
// checked on under Wine (places where no file can be made, the longest
// name). The built tool runs on files made by the sample generator, compared
// by standard output, standard error, exit status and the output file's
// contents. The run's own cases (report, plan, counts, messages, bytes
// written) are the library's, in tests/run.
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support.h"

namespace spinmap {
namespace {

using namespace test;

// ---- Helpers ------------------------------------------------------------------

void make_sample(const std::string& path, const std::vector<std::string>& options) {
    std::vector<std::string> args = options;
    args.push_back(path);
    const tool_output r = run_sample(args);
    ASSERT_EQ(r.exit_status, 0) << r.err;
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

// ---- The streams ---------------------------------------------------------------

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

// ---- Outputs ----------------------------------------------------------------------

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

}  // namespace
}  // namespace spinmap
