// Child processes with captured output for the end-to-end tests (POSIX).
#include "support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

extern char** environ;

namespace spinmap::test {

namespace {

// Closes a descriptor once; -1 means closed.
void close_fd(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

// Moves a descriptor above the standard streams (the test process may run
// with some of them closed, and then a new descriptor could be 0, 1 or 2).
bool raise_fd(int* fd) {
    if (*fd > 2) return true;
    const int raised = fcntl(*fd, F_DUPFD_CLOEXEC, 3);
    close(*fd);
    *fd = raised;
    return raised >= 0;
}

// A close-on-exec pipe whose ends are both above the standard streams.
bool make_pipe(int ends[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    if (raise_fd(&ends[0]) && raise_fd(&ends[1])) return true;
    close_fd(&ends[0]);
    close_fd(&ends[1]);
    return false;
}

struct child_pipes {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int in[2] = {-1, -1};
    int report[2] = {-1, -1};  // the exec failure's errno travels here
    int null_input = -1;

    ~child_pipes() {
        for (int* ends : {out, err, in, report}) {
            close_fd(&ends[0]);
            close_fd(&ends[1]);
        }
        close_fd(&null_input);
    }
};

std::vector<std::string> split_on_spaces(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t end = std::min(text.find(' ', i), text.size());
        if (end > i) words.emplace_back(text.substr(i, end - i));
        i = end + 1;
    }
    return words;
}

// The command from an environment variable, or the built program.
std::vector<std::string> command_from(const char* variable, const char* built_program) {
    const char* setting = std::getenv(variable);
    if (setting != nullptr) {
        std::vector<std::string> words = split_on_spaces(setting);
        if (!words.empty()) return words;
    }
    return {built_program};
}

// The program's path: as given when it holds a slash, else the first
// executable of that name on PATH.
std::string find_program(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* search = std::getenv("PATH");
    std::string_view dirs = search != nullptr ? search : "/usr/bin:/bin";
    while (true) {
        const std::size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        const std::string candidate = (dir.empty() ? std::string(".") : std::string(dir)) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string_view::npos) return name;
        dirs.remove_prefix(colon + 1);
    }
}

std::string variable_name(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// The caller's environment with the given changes.
std::vector<std::string> child_environment(const std::vector<std::string>& changes) {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) entries.emplace_back(*e);
    for (const std::string& change : changes) {
        const std::string name = variable_name(change);
        std::erase_if(entries, [&](const std::string& entry) { return variable_name(entry) == name; });
        if (change.find('=') != std::string::npos) entries.push_back(change);
    }
    return entries;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the child: wires the standard streams and starts the program. Never
// returns; on failure the errno goes to the report pipe.
[[noreturn]] void start_child(child_pipes& pipes, const run_options& options, const char* program, char** argv,
                              char** envp) {
    bool ok = true;
    if (options.close_input) {
        close(STDIN_FILENO);
    } else {
        ok = dup2(options.input ? pipes.in[0] : pipes.null_input, STDIN_FILENO) >= 0;
    }
    const int error_pipe = options.merge_error ? pipes.out[1] : pipes.err[1];
    ok = ok && dup2(pipes.out[1], STDOUT_FILENO) >= 0 && dup2(error_pipe, STDERR_FILENO) >= 0;
    // The test process ignores SIGPIPE; the program gets the default back.
    std::signal(SIGPIPE, SIG_DFL);
    ok = ok && (options.working_directory.empty() || chdir(options.working_directory.c_str()) == 0);
    if (ok) {
        if (options.child_setup) options.child_setup();
        execve(program, argv, envp);
    }
    const int error = errno;
    [[maybe_unused]] const ssize_t written = write(pipes.report[1], &error, sizeof error);
    _exit(127);
}

// Reads what is there on a readable pipe; closes it at its end.
void drain(int* fd, std::string* sink) {
    char buffer[65536];
    const ssize_t n = read(*fd, buffer, sizeof buffer);
    if (n > 0) {
        sink->append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        close_fd(fd);
    }
}

// Writes the next part of the pending input; closes the pipe when all is
// written or the child stopped reading.
void feed(int* fd, std::string_view* pending) {
    if (!pending->empty()) {
        const ssize_t n = write(*fd, pending->data(), std::min<std::size_t>(pending->size(), 65536));
        if (n > 0) {
            pending->remove_prefix(static_cast<std::size_t>(n));
        } else if (errno != EINTR && errno != EAGAIN) {
            close_fd(fd);
            return;
        }
    }
    if (pending->empty()) close_fd(fd);
}

// Moves input in and output out until both outputs end or time runs out.
void exchange(child_pipes& pipes, std::string_view pending, pid_t pid, int timeout_seconds, tool_output* result) {
    int* const out = &pipes.out[0];
    int* const err = &pipes.err[0];
    int* const in = &pipes.in[1];
    if (*in >= 0) {
        fcntl(*in, F_SETFL, fcntl(*in, F_GETFL) | O_NONBLOCK);
        if (pending.empty()) close_fd(in);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    while (*out >= 0 || *err >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            result->timed_out = true;
            return;
        }
        pollfd watched[3] = {{*out, POLLIN, 0}, {*err, POLLIN, 0}, {*in, POLLOUT, 0}};
        const int ready = poll(watched, 3, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) {
            kill(pid, SIGKILL);
            result->start_error = std::string("poll failed: ") + std::strerror(errno);
            return;
        }
        if (ready <= 0) continue;
        if (watched[0].revents != 0) drain(out, &result->out);
        if (watched[1].revents != 0) drain(err, &result->err);
        if (watched[2].revents != 0) feed(in, &pending);
    }
}

void wait_for(pid_t pid, tool_output* result) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return;
    }
    if (WIFEXITED(status)) result->exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result->signal = WTERMSIG(status);
}

bool open_pipes(child_pipes& pipes, const run_options& options) {
    if (!make_pipe(pipes.out) || !make_pipe(pipes.err) || !make_pipe(pipes.report)) return false;
    if (options.close_input) return true;
    if (options.input) return make_pipe(pipes.in);
    pipes.null_input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    return pipes.null_input >= 0 && raise_fd(&pipes.null_input);
}

// The text with every CR LF pair replaced by LF.
std::string with_lf_line_ends(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

}  // namespace

run_options with_input(std::string text) {
    run_options options;
    options.input = std::move(text);
    return options;
}

run_options with_closed_input() {
    run_options options;
    options.close_input = true;
    return options;
}

tool_output run_program(const std::vector<std::string>& command, const std::vector<std::string>& args,
                        const run_options& options) {
    tool_output result;
    if (command.empty()) {
        result.start_error = "no program given";
        return result;
    }
    // A child that exits before reading all its input must not kill the test.
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> argv_texts = command;
    argv_texts.insert(argv_texts.end(), args.begin(), args.end());
    std::vector<std::string> env_texts = child_environment(options.environment);
    std::vector<char*> argv = pointers_to(argv_texts);
    std::vector<char*> envp = pointers_to(env_texts);
    const std::string program = find_program(command[0]);

    child_pipes pipes;
    if (!open_pipes(pipes, options)) {
        result.start_error = std::string("cannot make pipes: ") + std::strerror(errno);
        return result;
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        result.start_error = std::string("fork failed: ") + std::strerror(errno);
        return result;
    }
    if (pid == 0) start_child(pipes, options, program.c_str(), argv.data(), envp.data());

    close_fd(&pipes.out[1]);
    close_fd(&pipes.err[1]);
    close_fd(&pipes.in[0]);
    close_fd(&pipes.null_input);
    close_fd(&pipes.report[1]);
    int exec_error = 0;
    ssize_t n = 0;
    do {
        n = read(pipes.report[0], &exec_error, sizeof exec_error);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof exec_error)) {
        result.start_error = "cannot start " + program + ": " + std::strerror(exec_error);
    } else {
        exchange(pipes, options.input ? std::string_view(*options.input) : std::string_view(), pid,
                 options.timeout_seconds, &result);
    }
    wait_for(pid, &result);
    return result;
}

std::vector<std::string> tool_command() { return command_from("SPINMAP_TOOL", SPINMAP_EXE); }

std::vector<std::string> sample_command() { return command_from("SPINMAP_SAMPLE", SPINMAP_SAMPLE_EXE); }

std::vector<std::string> view_command() { return command_from("SPINMAP_VIEW", SPINMAP_VIEW_EXE); }

std::vector<std::string> info_command() { return command_from("SPINMAP_INFO", SPINMAP_INFO_EXE); }

bool tool_is_windows() {
    for (const std::string& word : tool_command()) {
        if (word.size() < 4) continue;
        std::string suffix = word.substr(word.size() - 4);
        std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (suffix == ".exe") return true;
    }
    return false;
}

// A Windows program run under Wine has, rarely, ended with status 1 and no
// output at all (twice within one test of one whole test run, among
// thousands of runs, and never on a repeat): the emulator giving up, as
// every failure of the program itself prints its message. Such a run is
// made once more, so that the test sees the program's own result; a
// program that really fails silently does so twice and is still caught.
static bool silent_failure(const tool_output& r) {
    return r.exit_status > 0 && r.out.empty() && r.err.empty() && !r.timed_out && r.start_error.empty();
}

tool_output run_tool(const std::vector<std::string>& args, const run_options& options) {
    tool_output result = run_program(tool_command(), args, options);
    if (tool_is_windows()) {
        if (silent_failure(result)) {
            std::fprintf(stderr, "note: a silent Windows run (status %d) made again\n", result.exit_status);
            result = run_program(tool_command(), args, options);
        }
        result.out = with_lf_line_ends(result.out);
        result.err = with_lf_line_ends(result.err);
    }
    return result;
}

tool_output run_sample(const std::vector<std::string>& args, const run_options& options) {
    return run_program(sample_command(), args, options);
}

tool_output run_viewer(const std::vector<std::string>& args, const run_options& options) {
    return run_program(view_command(), args, options);
}

tool_output run_inspector(const std::vector<std::string>& args, const run_options& options) {
    return run_program(info_command(), args, options);
}

std::optional<std::string> read_fifo_while(const std::string& path, const std::function<void()>& run) {
    if (mkfifo(path.c_str(), 0644) != 0) return std::nullopt;
    std::optional<std::string> bytes;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        bytes = read_file(path);
        done = true;
    });
    run();
    // A writer of our own ends a reader still waiting for one.
    while (!done) {
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reader.join();
    return bytes;
}

std::function<void()> limit_file_size(std::uint64_t bytes) {
    // The default action, whatever the test process inherited: the programs
    // must hold their own against it. A Windows program knows no such signal;
    // under Wine it would end the emulator, where Windows fails the write.
    const auto action = tool_is_windows() ? SIG_IGN : SIG_DFL;
    return [bytes, action] {
        std::signal(SIGXFSZ, action);
        const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
}

}  // namespace spinmap::test
