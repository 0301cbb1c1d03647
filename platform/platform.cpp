// POSIX and Windows implementations of the platform calls.
#include <spinmap/platform/platform.h>
#include "native_name.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <wchar.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <sys/types.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace spinmap {

bool is_wide_path(std::string_view path) {
    if (path.size() < 2) return false;
    const unsigned mark = static_cast<unsigned char>(path[0]) | static_cast<unsigned>(static_cast<unsigned char>(path[1])) << 8;
    return mark == 0xFEFF || mark == 0xFFFE;
}

namespace {

// Appends the UTF-8 bytes of a code point (a surrogate's too, in the same
// three-byte form as its neighbours).
void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::optional<std::string> utf16le_to_utf8(std::string_view units) {
    if (units.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(units.size() * 3 / 2);
    const auto unit_at = [&](std::size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(units[i])) |
               static_cast<uint32_t>(static_cast<unsigned char>(units[i + 1])) << 8;
    };
    for (std::size_t i = 0; i < units.size(); i += 2) {
        uint32_t cp = unit_at(i);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 2 >= units.size()) return std::nullopt;
            const uint32_t low = unit_at(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return std::nullopt;
        }
        append_utf8(out, cp);
    }
    return out;
}

namespace {

#ifndef _WIN32
// A file name holds no zero byte; a path that does names no file.
bool has_zero_byte(std::string_view s) { return s.find('\0') != std::string_view::npos; }
#endif

#ifdef _WIN32
// Volume and file index of an open handle: the identity of a file.
bool file_identity(HANDLE handle, BY_HANDLE_FILE_INFORMATION* identity) {
    return handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, identity) != 0;
}

bool same_identity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// A handle for querying a path, or INVALID_HANDLE_VALUE.
HANDLE query_handle(std::string_view path) {
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const std::optional<std::wstring> name = windows_name(path);
    if (!name) return INVALID_HANDLE_VALUE;
    return CreateFileW(name->c_str(), 0, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
#else
bool same_identity(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }
#endif

}  // namespace

#ifdef _WIN32
namespace {

// Set once by the program before it names any file.
bool narrow_names_are_utf8 = false;

// The wide name of UTF-16LE code units (after a byte-order mark); nullopt for
// an odd byte count.
std::optional<std::wstring> wide_units(std::string_view units) {
    if (units.size() % 2 != 0) return std::nullopt;
    std::wstring out;
    for (std::size_t i = 0; i < units.size(); i += 2) {
        out += static_cast<wchar_t>(static_cast<unsigned char>(units[i]) |
                                    static_cast<unsigned>(static_cast<unsigned char>(units[i + 1])) << 8);
    }
    return out;
}

std::optional<std::wstring> ansi_name(std::string_view path) {
    if (path.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring name(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), name.data(), n);
    return name;
}

}  // namespace

std::optional<std::wstring> windows_name(std::string_view path) {
    std::optional<std::wstring> name = is_wide_path(path) ? wide_units(path.substr(2))
                                       : narrow_names_are_utf8 ? u_wide_of_utf8(path)
                                                               : ansi_name(path);
    if (!name || name->find(L'\0') != std::wstring::npos) return std::nullopt;
    return name;
}

void u_take_names_as_utf8() { narrow_names_are_utf8 = true; }

std::optional<std::wstring> u_wide_of_utf8(std::string_view text) {
    static constexpr uint32_t SMALLEST[5] = {0, 0, 0x80, 0x800, 0x10000};  // by sequence length
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return std::nullopt;
        uint32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            cp = cp << 6 | (next & 0x3F);
        }
        if (cp < SMALLEST[length] || cp > 0x10FFFF) return std::nullopt;
        if (cp >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(cp);  // a lone surrogate stays one
        }
        i += length;
    }
    return out;
}

std::string u_utf8_of_wide(std::wstring_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = static_cast<uint16_t>(text[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
            const uint32_t low = static_cast<uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        append_utf8(out, cp);
    }
    return out;
}

#else
// The narrow name a POSIX call takes for a path, or nullopt when none can.
std::optional<std::string> native_name(std::string_view path) {
    std::optional<std::string> name =
        is_wide_path(path) ? utf16le_to_utf8(path.substr(2)) : std::optional<std::string>(std::string(path));
    if (!name || has_zero_byte(*name)) return std::nullopt;
    return name;
}
#endif

std::FILE* u_open_file(std::string_view path, bool write) {
#ifdef _WIN32
    const std::optional<std::wstring> name = windows_name(path);
    if (!name) return nullptr;
    return _wfopen(name->c_str(), write ? L"wb" : L"rb");
#else
    const std::optional<std::string> name = native_name(path);
    if (!name) {
        errno = ENOENT;
        return nullptr;
    }
    return std::fopen(name->c_str(), write ? "wb" : "rb");
#endif
}

path_kind u_path_kind(std::string_view path) {
    constexpr unsigned FILE_TYPE_MASK = 0xF000;
    constexpr unsigned REGULAR_FILE = 0x8000;
    constexpr unsigned FOLDER = 0x4000;
#ifdef _WIN32
    struct _stat64i32 status {};
    const std::optional<std::wstring> name = windows_name(path);
    if (!name || _wstat64i32(name->c_str(), &status) != 0) return path_kind::missing;
#else
    const std::optional<std::string> name = native_name(path);
    struct stat status {};
    if (!name || stat(name->c_str(), &status) != 0) return path_kind::missing;
#endif
    const unsigned type = static_cast<unsigned>(status.st_mode) & FILE_TYPE_MASK;
    return type == REGULAR_FILE ? path_kind::regular_file : type == FOLDER ? path_kind::folder : path_kind::other;
}

bool u_is_regular_file(std::string_view path) { return u_path_kind(path) == path_kind::regular_file; }

#ifdef _WIN32
namespace {

// 100-nanosecond units from 1601 to 1970.
constexpr int64_t WINDOWS_EPOCH_UNITS = 116444736000000000;

int64_t nanoseconds_since_1970(LARGE_INTEGER time) { return (time.QuadPart - WINDOWS_EPOCH_UNITS) * 100; }

std::optional<file_state> state_of_handle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION identity {};
    FILE_BASIC_INFO times {};
    if (!file_identity(handle, &identity) ||
        GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times) == 0) {
        return std::nullopt;
    }
    file_state state;
    state.volume = identity.dwVolumeSerialNumber;
    state.index = uint64_t{identity.nFileIndexHigh} << 32 | identity.nFileIndexLow;
    state.size = static_cast<int64_t>(uint64_t{identity.nFileSizeHigh} << 32 | identity.nFileSizeLow);
    state.modified_ns = nanoseconds_since_1970(times.LastWriteTime);
    state.changed_ns = nanoseconds_since_1970(times.ChangeTime);
    return state;
}

}  // namespace

std::optional<file_state> u_file_state(std::FILE* stream) {
    return state_of_handle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
}

std::optional<file_state> u_file_state(std::string_view path) {
    const HANDLE handle = query_handle(path);
    std::optional<file_state> state = state_of_handle(handle);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return state;
}
#else
namespace {

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
#endif

bool u_is_same_file(std::FILE* stream, std::string_view path) {
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION open_identity {};
    BY_HANDLE_FILE_INFORMATION path_identity {};
    const HANDLE open_handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (!file_identity(open_handle, &open_identity)) return false;
    const HANDLE path_handle = query_handle(path);
    const bool known = file_identity(path_handle, &path_identity);
    if (path_handle != INVALID_HANDLE_VALUE) CloseHandle(path_handle);
    return known && same_identity(open_identity, path_identity);
#else
    const std::optional<std::string> name = native_name(path);
    struct stat open_status {};
    struct stat path_status {};
    if (!name || fstat(fileno(stream), &open_status) != 0 || stat(name->c_str(), &path_status) != 0) return false;
    return same_identity(open_status, path_status);
#endif
}

bool u_names_same_file(std::string_view a, std::string_view b) {
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION a_identity {};
    BY_HANDLE_FILE_INFORMATION b_identity {};
    const HANDLE a_handle = query_handle(a);
    const HANDLE b_handle = query_handle(b);
    const bool known = file_identity(a_handle, &a_identity) && file_identity(b_handle, &b_identity);
    if (a_handle != INVALID_HANDLE_VALUE) CloseHandle(a_handle);
    if (b_handle != INVALID_HANDLE_VALUE) CloseHandle(b_handle);
    return known && same_identity(a_identity, b_identity);
#else
    const std::optional<std::string> a_name = native_name(a);
    const std::optional<std::string> b_name = native_name(b);
    struct stat a_status {};
    struct stat b_status {};
    if (!a_name || !b_name || stat(a_name->c_str(), &a_status) != 0 || stat(b_name->c_str(), &b_status) != 0) {
        return false;
    }
    return same_identity(a_status, b_status);
#endif
}

bool u_seek(std::FILE* stream, int64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(stream, offset, origin) == 0;
#else
    // off_t is 64 bits wherever large files are supported; a narrower one
    // cannot express the offset.
    if (offset > std::numeric_limits<off_t>::max() || offset < std::numeric_limits<off_t>::min()) return false;
    return fseeko(stream, static_cast<off_t>(offset), origin) == 0;
#endif
}

int64_t u_tell(std::FILE* stream) {
#ifdef _WIN32
    return _ftelli64(stream);
#else
    return static_cast<int64_t>(ftello(stream));
#endif
}

std::optional<int64_t> u_bytes_left(std::FILE* stream) {
    const int64_t here = u_tell(stream);
    if (here < 0 || !u_seek(stream, 0, SEEK_END)) return std::nullopt;
    const int64_t end = u_tell(stream);
    // Back to where the reader stands; a stream that cannot return there
    // must not be read further, so it counts as holding nothing.
    if (!u_seek(stream, here, SEEK_SET)) return 0;
    if (end < here) return 0;
    return end - here;
}

int u_last_system_error() {
#ifdef _WIN32
    const DWORD code = GetLastError();
    if (code != 0 && code <= static_cast<DWORD>(std::numeric_limits<int>::max())) return static_cast<int>(code);
#endif
    return errno != 0 ? errno : EIO;
}

std::vector<std::string> u_program_arguments(int argc, char** argv) {
    std::vector<std::string> args;
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide != nullptr) {
        for (int i = 1; i < count; ++i) args.push_back(u_utf8_of_wide(wide[i]));
        LocalFree(wide);
        u_take_names_as_utf8();
        return args;
    }
    // Without the wide command line the runtime's (ANSI) arguments serve.
#endif
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

void u_write_text(std::FILE* stream, std::string_view text) {
#ifdef _WIN32
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    const std::optional<std::wstring> wide =
        handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? u_wide_of_utf8(text) : std::nullopt;
    if (wide) {
        // What the stream holds goes first.
        std::fflush(stream);
        constexpr std::size_t CHUNK = 8192;
        for (std::size_t at = 0; at < wide->size();) {
            const DWORD units = static_cast<DWORD>(std::min(CHUNK, wide->size() - at));
            DWORD written = 0;
            if (!WriteConsoleW(handle, wide->data() + at, units, &written, nullptr) || written == 0) return;
            at += written;
        }
        return;
    }
#endif
    std::fwrite(text.data(), 1, text.size(), stream);
}

int64_t u_time_now() {
#ifdef _WIN32
    return _time64(nullptr);
#else
    return static_cast<int64_t>(std::time(nullptr));
#endif
}

namespace {

// The local broken-down time of a non-negative time; false when the platform
// cannot convert it.
bool local_time(int64_t seconds, std::tm* local) {
#ifdef _WIN32
    const __time64_t t = seconds;
    return _localtime64_s(local, &t) == 0;
#else
    if (seconds > std::numeric_limits<std::time_t>::max()) return false;
    const std::time_t t = static_cast<std::time_t>(seconds);
    return localtime_r(&t, local) != nullptr;
#endif
}

}  // namespace

std::optional<std::string> u_calendar_text(int64_t seconds) {
    // Negative times are refused everywhere, as the Windows runtime does.
    if (seconds < 0) return std::nullopt;
    std::tm local {};
    if (!local_time(seconds, &local)) return std::nullopt;
    // ctime's fixed form; a year beyond four digits would not fit it.
    if (local.tm_year > 9999 - 1900) return std::nullopt;
    if (local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) return std::nullopt;
    // The names are ctime's own, not the locale's, and the day of the month is
    // padded with a space as C's ctime does (the Windows runtime's own ctime
    // pads it with a zero).
    static constexpr const char* DAY_NAMES[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* MONTH_NAMES[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[32];
    std::snprintf(text, sizeof text, "%s %s%3d %.2d:%.2d:%.2d %d\n", DAY_NAMES[local.tm_wday],
                  MONTH_NAMES[local.tm_mon], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_year + 1900);
    return std::string(text);
}

namespace {
constexpr std::size_t HUGE_PAGE_BYTES = std::size_t{2} << 20;
constexpr std::size_t LARGE_BLOCK_BYTES = 2 * HUGE_PAGE_BYTES;
}  // namespace

void* u_allocate_large(std::size_t bytes) {
    void* block = std::malloc(bytes);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (block == nullptr || bytes < LARGE_BLOCK_BYTES) return block;
    // Only the whole huge pages inside the block are advised.
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + HUGE_PAGE_BYTES - 1) & ~(HUGE_PAGE_BYTES - 1);
    const std::uintptr_t end = (start + bytes) & ~(HUGE_PAGE_BYTES - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#endif
    return block;
}

}  // namespace spinmap
