// What the tests of every folder share: big-endian byte builders, guards
// that replace the library's hooks for a scope, scratch folders with their
// files, and (POSIX) running the built programs as child processes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include <spinmap/datafile/datafile.h>
#include <spinmap/errors/errors.h>
#include <spinmap/matrix/matrix.h>
#include <spinmap/platform/platform.h>

namespace spinmap::test {

// ---- Bytes ----------------------------------------------------------------------
//
// Data files are big-endian. The builders write into any byte container
// (std::vector<uint8_t> or std::string) at an offset it already holds.

using bytes = std::vector<uint8_t>;

template <typename Bytes>
void put16(Bytes& b, std::size_t offset, uint16_t v) {
    b[offset] = static_cast<typename Bytes::value_type>(v >> 8);
    b[offset + 1] = static_cast<typename Bytes::value_type>(v);
}

template <typename Bytes>
void put32(Bytes& b, std::size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<typename Bytes::value_type>(v >> (24 - 8 * i));
}

template <typename Bytes>
void put_float(Bytes& b, std::size_t offset, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    put32(b, offset, v);
}

inline uint16_t get16(const bytes& b, std::size_t offset) {
    return static_cast<uint16_t>(b[offset] << 8 | b[offset + 1]);
}

inline uint32_t get32(const bytes& b, std::size_t offset) {
    return uint32_t{b[offset]} << 24 | uint32_t{b[offset + 1]} << 16 | uint32_t{b[offset + 2]} << 8 | b[offset + 3];
}

// The values one after another, two or four bytes each.
bytes big_endian_16(std::initializer_list<uint16_t> values);
bytes big_endian_32(std::initializer_list<int32_t> values);

// A header every attribute check accepts: the camera, square pixels of
// 7.4 um, red light, scale factor 0.5 and no obliquity.
inline HeaderRecord sound_header(int16_t camera_width, int16_t camera_height) {
    HeaderRecord h{};
    h.CameraWidth = camera_width;
    h.CameraHeight = camera_height;
    h.CameraRes = 1e-6f;
    h.PixelWidth = 7.4e-6f;
    h.PixelHeight = 7.4e-6f;
    h.IntfScaleFactor = 0.5f;
    h.WavelengthIn = 6.328e-7f;
    h.ObliquityFactor = 1.0f;
    return h;
}

// A data file header of the length the magic announces, all zero but the
// magic.
inline bytes header_bytes(uint32_t magic) {
    bytes b(magic == MAGIC_FORMAT_3 ? LONG_HEADER_BYTES : SHORT_HEADER_BYTES, 0);
    put32(b, 0, magic);
    return b;
}

inline void append(bytes& b, const bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// The wide form of a path that the library opens: the byte-order mark FF FE,
// then each unit of the text as UTF-16LE (ASCII text in a char string).
template <typename Char>
std::string wide_units(std::basic_string_view<Char> text) {
    std::string path = "\xFF\xFE";
    for (Char c : text) {
        const auto unit = static_cast<uint16_t>(static_cast<std::make_unsigned_t<Char>>(c));
        path += static_cast<char>(unit & 0xFF);
        path += static_cast<char>(unit >> 8);
    }
    return path;
}
inline std::string wide_path(std::string_view ascii) { return wide_units(ascii); }
inline std::string wide_path(std::u16string_view text) { return wide_units(text); }
inline std::string wide_path(std::wstring_view text) { return wide_units(text); }

using file_ptr = owned_file;

// A seekable stream holding the bytes, positioned at its start.
file_ptr stream_of(const bytes& content);

// Everything the stream holds, from its start.
bytes content_of(std::FILE* f);

// ---- Hooks ----------------------------------------------------------------------

// Guards and folders own what they set up: they are never copied.
struct not_copyable {
    not_copyable() = default;
    not_copyable(const not_copyable&) = delete;
    not_copyable& operator=(const not_copyable&) = delete;
};

// What the allocation hooks of an allocation_hooks guard saw, and which of
// their calls fail.
struct allocation_log {
    long calls = 0;              // malloc, calloc and realloc calls
    long fail_at = 0;            // this call (1-based) returns null; 0: none
    long fail_from = 0;          // this call and every later one return null; 0: none
    std::size_t largest = 0;     // the largest request
    std::size_t last_bytes = 0;  // the latest request
    long releases = 0;           // frees of a block
    long foreign_frees = 0;      // frees of blocks these hooks did not hand out
    std::unordered_map<void*, std::size_t> live;  // blocks handed out and not yet freed
};

// Replaces the four allocation hooks for its lifetime with ones that record
// into a log (its own, or one that outlives it) and restores the previous
// hooks after.
class allocation_hooks : not_copyable {
public:
    allocation_hooks();
    explicit allocation_hooks(allocation_log* log);
    // With its own log, whose calls fail from the given one (1-based) on.
    struct failing_from {
        long call;
    };
    explicit allocation_hooks(failing_from first_failure);
    ~allocation_hooks();

    allocation_log& log() { return *log_; }

private:
    allocation_log own_;
    allocation_log* log_;
    malloc_fn malloc_;
    realloc_fn realloc_;
    calloc_fn calloc_;
    free_fn free_;
};

// Collects what goes through error_message_hook for its lifetime.
class captured_messages : not_copyable {
public:
    captured_messages();
    ~captured_messages();

    std::string& text() const;

private:
    message_hook_fn saved_;
};

// ---- Folders and files ----------------------------------------------------------

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it on destruction (write bits a test took away are given
// back first).
class scratch_folder : not_copyable {
public:
    scratch_folder();
    ~scratch_folder();

    const std::string& path() const { return path_; }
    // The path of an entry in the folder.
    std::string file(std::string_view name) const;
    // The names in the folder, sorted.
    std::vector<std::string> names() const;

private:
    std::string path_;
};

// Writes the bytes as the whole file (created or truncated). False on failure.
bool write_file(const std::string& path, std::string_view bytes);

// The whole file's bytes; nullopt when it cannot be read.
std::optional<std::string> read_file(const std::string& path);

// ---- Programs (POSIX) -------------------------------------------------------------
//
// The tool is started by the command in SPINMAP_TOOL when that environment
// variable is set (a command line split on spaces, e.g.
// "wine64 build-win/spinmap.exe"), otherwise by the built program; the sample
// generator likewise by SPINMAP_SAMPLE, the viewer by SPINMAP_VIEW, the
// inspector by SPINMAP_INFO.

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

// The commands that start the tool, the sample generator, the viewer and
// the inspector.
std::vector<std::string> tool_command();
std::vector<std::string> sample_command();
std::vector<std::string> view_command();
std::vector<std::string> info_command();

// True when the tool command names a Windows program (a word ending in
// ".exe"), run under Wine, say. Tests of what only POSIX has (symbolic links,
// permission bits, file size limits, /dev/null) are skipped then.
bool tool_is_windows();

// Runs the tool. A Windows program's console output has CR LF line ends;
// they are given back as LF, so that its output compares with the POSIX one.
tool_output run_tool(const std::vector<std::string>& args, const run_options& options = {});
tool_output run_sample(const std::vector<std::string>& args, const run_options& options = {});
tool_output run_viewer(const std::vector<std::string>& args, const run_options& options = {});
tool_output run_inspector(const std::vector<std::string>& args, const run_options& options = {});

// Makes a FIFO at the path and runs `run` while a thread of its own reads
// the FIFO to its end; the bytes read, or nullopt when the FIFO cannot be
// made. A FIFO that no program opens yields nothing, it does not hang.
std::optional<std::string> read_fifo_while(const std::string& path, const std::function<void()>& run);

// A child setup that limits the size of files the child writes to `bytes`,
// with SIGXFSZ at its default action: a write past the limit ends a program
// that does not guard against it. (While the tool is a Windows program,
// which knows no such signal, the signal is ignored for Wine's sake.)
std::function<void()> limit_file_size(std::uint64_t bytes);

// ---- Threads --------------------------------------------------------------------

// The thread counts every threaded operation is checked with: one, and
// counts whose bands divide the tests' frames unevenly.
constexpr int FORCED_THREAD_COUNTS[] = {1, 2, 3, 7};

// Forces the library's thread count for a scope (u_set_thread_count).
class forced_threads {
public:
    explicit forced_threads(int count) { u_set_thread_count(count); }
    ~forced_threads() { u_set_thread_count(0); }
    forced_threads(const forced_threads&) = delete;
    forced_threads& operator=(const forced_threads&) = delete;
};

}  // namespace spinmap::test
