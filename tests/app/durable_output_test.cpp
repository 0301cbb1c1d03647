// Writing the output, watched step by step in-process: the result is flushed
// before the rename and the folder after it, a failed flush changes nothing,
// an interruption before the commit leaves no trace of the run while one
// during the commit lets it finish, an input that changes during the run
// gives no output, and the temporary has no name until the commit (where
// the system can) and a name that fits the folder. The steps are watched
// and failed through the platform's test seam; the flushes and the rename
// are seen as the system calls themselves, which this program takes over.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include <spinmap/platform/platform.h>
#include "support.h"

namespace {

// What the seam and the system calls saw, in order.
std::vector<std::string> events;
// The name the last rename took the result from, without its folder.
std::string renamed_from;

}  // namespace

// The program's own fsync and rename: each call is recorded once the system
// has made it.
extern "C" int fsync(int fd) {
    struct stat status {};
    const bool folder = fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
    const int result = static_cast<int>(syscall(SYS_fsync, fd));
    if (result == 0) events.emplace_back(folder ? "fsync folder" : "fsync file");
    return result;
}

extern "C" int rename(const char* from, const char* to) {
    const int result = static_cast<int>(syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0));
    if (result == 0) renamed_from = std::filesystem::path(from).filename().string();
    return result;
}

namespace spinmap {
namespace {

using namespace test;

const char* const STEP_NAMES[] = {"make_anonymous", "write_contents", "flush_contents", "rename", "flush_folder"};

// What the seam does at a step besides recording it.
struct step_plan {
    std::optional<output_step> fail{};         // this step fails
    bool named = false;                        // no anonymous temporary
    std::optional<output_step> signal_step{};  // the signal is raised here
    int signal_number = 0;
    std::optional<output_step> action_step{};  // the action runs here
    std::function<void()> action{};
};
step_plan plan;

bool watch_step(output_step step) {
    events.emplace_back(STEP_NAMES[static_cast<int>(step)]);
    if (step == plan.signal_step) raise(plan.signal_number);
    if (step == plan.action_step) plan.action();
    if (step == output_step::make_anonymous && plan.named) return false;
    return step != plan.fail;
}

// Installs the seam for a test's length.
struct watched_output {
    explicit watched_output(step_plan p = {}) {
        events.clear();
        renamed_from.clear();
        plan = std::move(p);
        u_output_step_hook = watch_step;
    }
    ~watched_output() { u_output_step_hook = nullptr; }
    watched_output(const watched_output&) = delete;
    watched_output& operator=(const watched_output&) = delete;
};

// A folder holding a sample input "in.dat", its bytes, and the bytes of its
// 30-degree rotation.
struct sample_folder {
    scratch_folder dir;
    std::string input = dir.file("in.dat");
    std::string original;
    std::string rotated;
    sample_folder() {
        const tool_output made = run_sample({"-Camera", "24x16", "-Buckets", "2", input});
        EXPECT_EQ(made.exit_status, 0) << made.err;
        original = read_file(input).value_or("");
        const std::string reference = dir.file("reference.dat");
        EXPECT_EQ(spinmap_main({"-Angle", "30", input, reference}), 0);
        rotated = read_file(reference).value_or("");
        std::remove(reference.c_str());
    }
};

// The run in-process; its status and what it printed on standard error.
std::pair<int, std::string> run_caught(const std::vector<std::string>& args) {
    testing::internal::CaptureStderr();
    const int status = spinmap_main(args);
    return {status, testing::internal::GetCapturedStderr()};
}

TEST(DurableOutput, FlushesAroundTheRenameOnlyWhenTheOutputIsTheInput) {
    using steps = std::vector<std::string>;
    const steps flushed = {"make_anonymous", "write_contents", "flush_contents", "fsync file",
                           "rename",         "flush_folder",   "fsync folder"};
    const steps not_flushed = {"make_anonymous", "write_contents", "rename"};
    struct output_case {
        const char* name;
        const char* output;  // empty: the one-file form
        const steps& expected;
    };
    const output_case cases[] = {
        {"one-file form", "", flushed},
        {"symbolic link to the input", "link.dat", flushed},
        {"hard link to the input", "hard.dat", flushed},
        {"two-file form, new file", "new.dat", not_flushed},
    };
    for (const bool named : {false, true}) {
        for (const output_case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (named ? ", named temporary" : ""));
            sample_folder folder;
            std::filesystem::create_symlink("in.dat", folder.dir.file("link.dat"));
            std::filesystem::create_hard_link(folder.input, folder.dir.file("hard.dat"));
            std::vector<std::string> args = {"-Angle", "30", "-Overwrite", folder.input};
            if (*c.output != '\0') args.push_back(folder.dir.file(c.output));
            const watched_output watch({.named = named});
            EXPECT_EQ(run_caught(args), std::make_pair(0, std::string()));
            EXPECT_EQ(events, c.expected);
            EXPECT_EQ(read_file(folder.dir.file(*c.output != '\0' ? c.output : "in.dat")), folder.rotated);
        }
    }
}

TEST(DurableOutput, AFailedFlushLeavesTheInputAsItWas) {
    sample_folder folder;
    const watched_output watch({.fail = output_step::flush_contents});
    EXPECT_EQ(run_caught({"-Angle", "90", "-Overwrite", folder.input}),
              std::make_pair(1, std::string("Spinmap\nERROR: Error writing output data file: ERR_CANT_WRITE_FILE\n")));
    EXPECT_EQ(events, (std::vector<std::string>{"make_anonymous", "write_contents", "flush_contents"}));
    EXPECT_EQ(read_file(folder.input), folder.original);
    EXPECT_EQ(folder.dir.names(), std::vector<std::string>{"in.dat"});
}

// How a child process that ran the tool ended.
struct ending {
    int signal = 0;
    int status = -1;
};

// Runs the tool in a child process whose seam raises the signal at the
// step, with every interruption's action the default one.
ending interrupted_run(const std::vector<std::string>& args, step_plan p) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
        const watched_output watch(std::move(p));
        _exit(spinmap_main(args));
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return {};
    if (WIFSIGNALED(status)) return {WTERMSIG(status), -1};
    return {0, WEXITSTATUS(status)};
}

TEST(DurableOutput, AnInterruptionBeforeTheCommitLeavesNoTraceAndOneDuringItLetsTheRunFinish) {
    struct interruption_case {
        const char* name;
        output_step step;
        int signal_number;
        bool one_file;
        bool committed;
    };
    const interruption_case cases[] = {
        {"SIGINT while writing, one-file form", output_step::write_contents, SIGINT, true, false},
        {"SIGTERM while writing, existing output", output_step::write_contents, SIGTERM, false, false},
        {"SIGHUP at the flush, one-file form", output_step::flush_contents, SIGHUP, true, false},
        {"SIGTERM at the rename, one-file form", output_step::rename, SIGTERM, true, true},
        {"SIGINT at the rename, existing output", output_step::rename, SIGINT, false, true},
        {"SIGHUP at the folder's flush, one-file form", output_step::flush_folder, SIGHUP, true, true},
    };
    for (const bool named : {false, true}) {
        for (const interruption_case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (named ? ", named temporary" : ""));
            sample_folder folder;
            const std::string existing = folder.dir.file("out.dat");
            ASSERT_TRUE(write_file(existing, "an older result"));
            std::vector<std::string> args = {"-Angle", "30", "-Overwrite", folder.input};
            if (!c.one_file) args.push_back(existing);
            const ending end =
                interrupted_run(args, {.named = named, .signal_step = c.step, .signal_number = c.signal_number});
            const std::string& target = c.one_file ? folder.input : existing;
            if (c.committed) {
                EXPECT_EQ(end.signal, 0);
                EXPECT_EQ(end.status, 0);
                EXPECT_EQ(read_file(target), folder.rotated);
            } else {
                EXPECT_EQ(end.signal, c.signal_number);
                EXPECT_EQ(read_file(folder.input), folder.original);
                EXPECT_EQ(read_file(existing), "an older result");
            }
            EXPECT_EQ(folder.dir.names(), (std::vector<std::string>{"in.dat", "out.dat"}));
        }
    }
}

// The input changed between reading it and copying its intensity block: the
// output would mix two states of it, so none is written.
TEST(DurableOutput, AnInputChangedDuringTheRunGivesNoOutput) {
    using change = std::function<void(const std::string& input)>;
    // A file system keeps times to its clock's tick: a rewrite comes a
    // moment later, as a user's would.
    const auto after_a_tick = [](const change& c) {
        return [c](const std::string& input) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            c(input);
        };
    };
    const change rewritten = after_a_tick([](const std::string& input) {
        std::string bytes = *read_file(input);
        bytes.back() ^= 1;
        ASSERT_TRUE(write_file(input, bytes));
    });
    const change cut_short = [](const std::string& input) {
        std::filesystem::resize_file(input, std::filesystem::file_size(input) / 2);
    };
    const change replaced = [](const std::string& input) {
        const std::string other = input + ".new";
        ASSERT_TRUE(write_file(other, *read_file(input)));
        std::filesystem::rename(other, input);
    };
    struct change_case {
        const char* name;
        const change& make;
        bool one_file;
    };
    const change_case cases[] = {
        {"rewritten with the same length, one-file form", rewritten, true},
        {"rewritten with the same length, existing output", rewritten, false},
        {"cut short, existing output", cut_short, false},
        {"cut short, one-file form", cut_short, true},
        {"replaced by another file of the same bytes, one-file form", replaced, true},
    };
    for (const change_case& c : cases) {
        SCOPED_TRACE(c.name);
        sample_folder folder;
        const std::string existing = folder.dir.file("out.dat");
        ASSERT_TRUE(write_file(existing, "an older result"));
        std::vector<std::string> args = {"-Angle", "30", "-Overwrite", folder.input};
        if (!c.one_file) args.push_back(existing);
        std::string changed;
        const watched_output watch({.action_step = output_step::write_contents, .action = [&] {
                                        c.make(folder.input);
                                        changed = *read_file(folder.input);
                                    }});
        EXPECT_EQ(run_caught(args),
                  std::make_pair(1, std::string("Spinmap\nERROR: Input data file changed during the run; "
                                                "no output was written\n")));
        EXPECT_EQ(read_file(folder.input), changed);
        EXPECT_EQ(read_file(existing), "an older result");
        EXPECT_EQ(folder.dir.names(), (std::vector<std::string>{"in.dat", "out.dat"}));
    }
}

// Where the system makes anonymous files, the result has no name in the
// folder while it is written; a temporary's name (the anonymous one's at the
// commit, or a named one's from the start) is .NAME.spinmap-XXXXXX, with NAME
// cut short where the whole would exceed the folder's longest name.
TEST(DurableOutput, TheTemporaryHasNoNameUntilTheCommitAndThenOneThatFits) {
    const std::string longest(255, 'n');
    struct name_case {
        const char* name;
        const std::string& target;
        bool named;
        std::string temporary_start;  // the temporary's name before its six letters
    };
    const name_case cases[] = {
        {"anonymous", "in.dat", false, ".in.dat.spinmap-"},
        {"anonymous, longest name", longest, false, "." + std::string(239, 'n') + ".spinmap-"},
        {"named", "in.dat", true, ".in.dat.spinmap-"},
        {"named, longest name", longest, true, "." + std::string(239, 'n') + ".spinmap-"},
    };
    for (const name_case& c : cases) {
        SCOPED_TRACE(c.name);
        sample_folder folder;
        const std::string target = folder.dir.file(c.target);
        if (c.target != "in.dat") std::filesystem::rename(folder.input, target);
        const int probe = open(folder.dir.path().c_str(), O_TMPFILE | O_WRONLY, 0600);
        if (probe < 0 && !c.named) {
            std::printf("note: the scratch folder's file system makes no anonymous files; skipped\n");
            continue;
        }
        if (probe >= 0) close(probe);
        std::vector<std::string> at_write;
        const watched_output watch(
            {.named = c.named, .action_step = output_step::write_contents, .action = [&] {
                 at_write = folder.dir.names();
             }});
        EXPECT_EQ(run_caught({"-Angle", "30", "-Overwrite", target}), std::make_pair(0, std::string()));
        EXPECT_EQ(renamed_from.size(), c.temporary_start.size() + 6);
        EXPECT_EQ(renamed_from.substr(0, c.temporary_start.size()), c.temporary_start);
        const std::vector<std::string> expected =
            c.named ? std::vector<std::string>{renamed_from, c.target} : std::vector<std::string>{c.target};
        EXPECT_EQ(at_write, expected);
        EXPECT_EQ(folder.dir.names(), std::vector<std::string>{c.target});
        EXPECT_EQ(read_file(target), folder.rotated);
    }
}

}  // namespace
}  // namespace spinmap
