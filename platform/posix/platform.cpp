// The POSIX platform calls: files by their narrow names (a wide path
// converted to UTF-8), their states and identities, 64-bit positions, the
// last error, the arguments, the time and the processors.
#include <spinmap/platform/platform.h>
#include "../system.h"
#include "native.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace spinmap {

namespace {

// A file name holds no zero byte; a path that does names no file.
bool has_zero_byte(std::string_view s) { return s.find('\0') != std::string_view::npos; }

bool same_identity(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

int64_t nanoseconds(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

file_state state_of_status(const struct stat& status) {
    file_state state;
    state.volume = static_cast<uint64_t>(status.st_dev);
    state.index = static_cast<uint64_t>(status.st_ino);
    state.size = static_cast<int64_t>(status.st_size);
    state.modified_ns = nanoseconds(status.st_mtim);
    state.changed_ns = nanoseconds(status.st_ctim);
    return state;
}

}  // namespace

std::optional<std::string> native_name(std::string_view path) {
    std::optional<std::string> name =
        is_wide_path(path) ? utf16le_to_utf8(path.substr(2)) : std::optional<std::string>(std::string(path));
    if (!name || has_zero_byte(*name)) return std::nullopt;
    return name;
}

std::FILE* u_open_file(std::string_view path, bool write) {
    const std::optional<std::string> name = native_name(path);
    if (!name) {
        errno = ENOENT;
        return nullptr;
    }
    return std::fopen(name->c_str(), write ? "wb" : "rb");
}

std::optional<unsigned> status_mode(std::string_view path) {
    const std::optional<std::string> name = native_name(path);
    struct stat status {};
    if (!name || stat(name->c_str(), &status) != 0) return std::nullopt;
    return static_cast<unsigned>(status.st_mode);
}

std::optional<file_state> u_file_state(std::FILE* stream) {
    struct stat status {};
    if (fstat(fileno(stream), &status) != 0) return std::nullopt;
    return state_of_status(status);
}

std::optional<file_state> u_file_state(std::string_view path) {
    const std::optional<std::string> name = native_name(path);
    struct stat status {};
    if (!name || stat(name->c_str(), &status) != 0) return std::nullopt;
    return state_of_status(status);
}

bool u_is_same_file(std::FILE* stream, std::string_view path) {
    const std::optional<std::string> name = native_name(path);
    struct stat open_status {};
    struct stat path_status {};
    if (!name || fstat(fileno(stream), &open_status) != 0 || stat(name->c_str(), &path_status) != 0) return false;
    return same_identity(open_status, path_status);
}

bool u_names_same_file(std::string_view a, std::string_view b) {
    const std::optional<std::string> a_name = native_name(a);
    const std::optional<std::string> b_name = native_name(b);
    struct stat a_status {};
    struct stat b_status {};
    if (!a_name || !b_name || stat(a_name->c_str(), &a_status) != 0 || stat(b_name->c_str(), &b_status) != 0) {
        return false;
    }
    return same_identity(a_status, b_status);
}

bool u_seek(std::FILE* stream, int64_t offset, int origin) {
    // off_t is 64 bits wherever large files are supported; a narrower one
    // cannot express the offset.
    if (offset > std::numeric_limits<off_t>::max() || offset < std::numeric_limits<off_t>::min()) return false;
    return fseeko(stream, static_cast<off_t>(offset), origin) == 0;
}

int64_t u_tell(std::FILE* stream) { return static_cast<int64_t>(ftello(stream)); }

int u_last_system_error() { return errno != 0 ? errno : EIO; }

std::vector<std::string> u_program_arguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

void u_write_text(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

int64_t u_time_now() { return static_cast<int64_t>(std::time(nullptr)); }

bool local_time(int64_t seconds, std::tm* local) {
    if (seconds > std::numeric_limits<std::time_t>::max()) return false;
    const std::time_t t = static_cast<std::time_t>(seconds);
    return localtime_r(&t, local) != nullptr;
}

int u_processors_available() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(CPU_COUNT(&set), 1);
    return static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
}

}  // namespace spinmap
