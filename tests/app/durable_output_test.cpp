// Replacing the input: the result is flushed before the rename and the folder
// after it, a failed flush changes nothing, and an interruption while the
// temporary exists leaves no trace of the run. The commit steps are watched
// and failed through the platform's test seam, in-process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/app.h"
#include <spinmap/platform/platform.h>
#include "support.h"

namespace spinmap {

void PrintTo(commit_step step, std::ostream* os) {
    static const char* const NAMES[] = {"flush_contents", "rename", "flush_folder"};
    *os << NAMES[static_cast<int>(step)];
}

namespace {

using namespace test;

// What the seam saw, and what it does.
std::vector<commit_step> steps_seen;
std::optional<commit_step> step_to_fail;
int signal_at_rename = 0;

bool watch_step(commit_step step) {
    steps_seen.push_back(step);
    if (step == commit_step::rename && signal_at_rename != 0) raise(signal_at_rename);
    return step != step_to_fail;
}

// Installs the seam for a test's length.
struct watched_commits {
    explicit watched_commits(std::optional<commit_step> fail = std::nullopt, int signal_number = 0) {
        steps_seen.clear();
        step_to_fail = fail;
        signal_at_rename = signal_number;
        u_commit_step_hook = watch_step;
    }
    ~watched_commits() { u_commit_step_hook = nullptr; }
    watched_commits(const watched_commits&) = delete;
    watched_commits& operator=(const watched_commits&) = delete;
};

// A folder holding a sample input "in.dat" and its bytes.
struct sample_folder {
    scratch_folder dir;
    std::string input = dir.file("in.dat");
    std::string original;
    sample_folder() {
        const tool_output made = run_sample({"-Camera", "24x16", input});
        EXPECT_EQ(made.exit_status, 0) << made.err;
        original = read_file(input).value_or("");
    }
};

constexpr commit_step FLUSH = commit_step::flush_contents;
constexpr commit_step RENAME = commit_step::rename;
constexpr commit_step FOLDER = commit_step::flush_folder;

TEST(DurableOutput, FlushesAroundTheRenameOnlyWhenTheOutputIsTheInput) {
    struct output_case {
        const char* name;
        const char* output;  // empty: the one-file form
        std::vector<commit_step> steps;
    };
    const output_case cases[] = {
        {"one-file form", "", {FLUSH, RENAME, FOLDER}},
        {"symbolic link to the input", "link.dat", {FLUSH, RENAME, FOLDER}},
        {"hard link to the input", "hard.dat", {FLUSH, RENAME, FOLDER}},
        {"two-file form, new file", "new.dat", {RENAME}},
    };
    for (const output_case& c : cases) {
        SCOPED_TRACE(c.name);
        sample_folder folder;
        std::filesystem::create_symlink("in.dat", folder.dir.file("link.dat"));
        std::filesystem::create_hard_link(folder.input, folder.dir.file("hard.dat"));
        std::vector<std::string> args = {"-Angle", "30", "-Overwrite", folder.input};
        if (*c.output != '\0') args.push_back(folder.dir.file(c.output));
        const watched_commits watch;
        testing::internal::CaptureStderr();
        EXPECT_EQ(spinmap_main(args), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(steps_seen, c.steps);
        EXPECT_NE(read_file(folder.dir.file(*c.output != '\0' ? c.output : "in.dat")), folder.original);
    }
}

TEST(DurableOutput, AFailedFlushLeavesTheInputAsItWas) {
    sample_folder folder;
    const watched_commits watch(FLUSH);
    testing::internal::CaptureStderr();
    EXPECT_EQ(spinmap_main({"-Angle", "90", "-Overwrite", folder.input}), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Spinmap\nERROR: Error writing output data file: ERR_CANT_WRITE_FILE\n");
    EXPECT_EQ(steps_seen, std::vector<commit_step>{FLUSH});
    EXPECT_EQ(read_file(folder.input), folder.original);
    EXPECT_EQ(folder.dir.names(), std::vector<std::string>{"in.dat"});
}

// Runs the tool in a child process that the seam interrupts just before the
// rename, with every interruption's action the default one; the signal that
// ended the child, or 0.
int interrupted_run(const std::vector<std::string>& args, int signal_number) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
        const watched_commits watch(std::nullopt, signal_number);
        _exit(spinmap_main(args));
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return 0;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

TEST(DurableOutput, AnInterruptionLeavesNoTemporaryAndEndsTheProgramAsTheSignalDoes) {
    struct interruption_case {
        const char* name;
        int signal_number;
        bool one_file;
    };
    const interruption_case cases[] = {
        {"SIGINT, one-file form", SIGINT, true},
        {"SIGTERM, existing output", SIGTERM, false},
        {"SIGHUP, one-file form", SIGHUP, true},
    };
    for (const interruption_case& c : cases) {
        SCOPED_TRACE(c.name);
        sample_folder folder;
        const std::string existing = folder.dir.file("out.dat");
        ASSERT_TRUE(write_file(existing, "an older result"));
        std::vector<std::string> args = {"-Angle", "30", "-Overwrite", folder.input};
        if (!c.one_file) args.push_back(existing);
        EXPECT_EQ(interrupted_run(args, c.signal_number), c.signal_number);
        EXPECT_EQ(read_file(folder.input), folder.original);
        EXPECT_EQ(read_file(existing), "an older result");
        EXPECT_EQ(folder.dir.names(), (std::vector<std::string>{"in.dat", "out.dat"}));
    }
}

}  // namespace
}  // namespace spinmap
