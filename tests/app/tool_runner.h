// Runs programs as child processes for the end-to-end tests, and small file
// helpers for them.
//
// The tool is started by the command in SPINMAP_TOOL when that environment
// variable is set (a command line split on spaces, e.g.
// "wine64 build-win/spinmap.exe"), otherwise by the built program; the sample
// generator likewise by SPINMAP_SAMPLE.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace spinmap {

struct run_options {
    // Written to the child's standard input, which then reaches its end.
    // Nullopt: standard input is the null device (end of input at once).
    std::optional<std::string> input;
    // Standard input closed in the child instead (overrides input).
    bool close_input = false;
    // Standard error goes into standard output's pipe, as with "2>&1": the
    // two streams in the order the child wrote them, all in out.
    bool merge_error = false;
    // The child's working directory; empty: the caller's.
    std::string working_directory;
    // "NAME=value" sets a variable in the child's environment, "NAME" alone
    // removes it; everything else is inherited.
    std::vector<std::string> environment;
    // Runs in the child just before the program starts (resource limits,
    // signal dispositions); only async-signal-safe calls belong here.
    std::function<void()> child_setup;
    // The child is killed after this many seconds.
    int timeout_seconds = 120;
};

// Options that feed the text to standard input, or close it.
run_options with_input(std::string text);
run_options with_closed_input();

struct tool_output {
    std::string out;       // everything the child wrote to standard output
    std::string err;       // everything it wrote to standard error
    int exit_status = -1;  // its exit status; -1 when it did not exit
    int signal = 0;        // the signal that ended it, 0 when it exited
    bool timed_out = false;
    std::string start_error;  // why it could not be started; empty when it ran
};

// Runs command[0] (searched on PATH when it holds no slash) with the rest of
// command as its arguments, then the extra arguments.
tool_output run_program(const std::vector<std::string>& command, const std::vector<std::string>& args,
                        const run_options& options = {});

// The command that starts the tool, and the sample generator.
std::vector<std::string> tool_command();
std::vector<std::string> sample_command();

// True when the tool command names a Windows program (a word ending in
// ".exe"), run under Wine, say. Tests of what only POSIX has (symbolic links,
// permission bits, file size limits, /dev/null) are skipped then.
bool tool_is_windows();

// Runs the tool. A Windows program's console output has CR LF line ends;
// they are given back as LF, so that its output compares with the POSIX one.
tool_output run_tool(const std::vector<std::string>& args, const run_options& options = {});
tool_output run_sample(const std::vector<std::string>& args, const run_options& options = {});

// A child setup that limits the size of files the child writes to `bytes`
// and ignores SIGXFSZ, so a write past the limit fails instead of killing it.
std::function<void()> limit_file_size(std::uint64_t bytes);

// A fresh, empty directory, removed with everything in it on destruction.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::string& path() const { return path_; }
    // The path of an entry in the directory.
    std::string file(std::string_view name) const;

private:
    std::string path_;
};

// Writes the bytes as the whole file (created or truncated). False on failure.
bool write_file(const std::string& path, std::string_view bytes);

// The whole file's bytes; nullopt when it cannot be read.
std::optional<std::string> read_file(const std::string& path);

}  // namespace spinmap
