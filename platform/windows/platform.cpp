// The Windows platform calls: files by their wide names, their states and
// identities, 64-bit positions, the last error, the wide command line, text
// for the console, the time and the processors.
#include <spinmap/platform/platform.h>
#include "../system.h"
#include "native.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

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

namespace spinmap {

namespace {

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

std::FILE* u_open_file(std::string_view path, bool write) {
    const std::optional<std::wstring> name = windows_name(path);
    if (!name) return nullptr;
    return _wfopen(name->c_str(), write ? L"wb" : L"rb");
}

std::optional<unsigned> status_mode(std::string_view path) {
    struct _stat64i32 status {};
    const std::optional<std::wstring> name = windows_name(path);
    if (!name || _wstat64i32(name->c_str(), &status) != 0) return std::nullopt;
    return static_cast<unsigned>(status.st_mode);
}

std::optional<file_state> u_file_state(std::FILE* stream) {
    return state_of_handle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
}

std::optional<file_state> u_file_state(std::string_view path) {
    const HANDLE handle = query_handle(path);
    std::optional<file_state> state = state_of_handle(handle);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return state;
}

bool u_is_same_file(std::FILE* stream, std::string_view path) {
    BY_HANDLE_FILE_INFORMATION open_identity {};
    BY_HANDLE_FILE_INFORMATION path_identity {};
    const HANDLE open_handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (!file_identity(open_handle, &open_identity)) return false;
    const HANDLE path_handle = query_handle(path);
    const bool known = file_identity(path_handle, &path_identity);
    if (path_handle != INVALID_HANDLE_VALUE) CloseHandle(path_handle);
    return known && same_identity(open_identity, path_identity);
}

bool u_names_same_file(std::string_view a, std::string_view b) {
    BY_HANDLE_FILE_INFORMATION a_identity {};
    BY_HANDLE_FILE_INFORMATION b_identity {};
    const HANDLE a_handle = query_handle(a);
    const HANDLE b_handle = query_handle(b);
    const bool known = file_identity(a_handle, &a_identity) && file_identity(b_handle, &b_identity);
    if (a_handle != INVALID_HANDLE_VALUE) CloseHandle(a_handle);
    if (b_handle != INVALID_HANDLE_VALUE) CloseHandle(b_handle);
    return known && same_identity(a_identity, b_identity);
}

bool u_seek(std::FILE* stream, int64_t offset, int origin) { return _fseeki64(stream, offset, origin) == 0; }

int64_t u_tell(std::FILE* stream) { return _ftelli64(stream); }

int u_last_system_error() {
    const DWORD code = GetLastError();
    if (code != 0 && code <= static_cast<DWORD>(std::numeric_limits<int>::max())) return static_cast<int>(code);
    return errno != 0 ? errno : EIO;
}

std::vector<std::string> u_program_arguments(int argc, char** argv) {
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide != nullptr) {
        for (int i = 1; i < count; ++i) args.push_back(u_utf8_of_wide(wide[i]));
        LocalFree(wide);
        u_take_names_as_utf8();
        return args;
    }
    // Without the wide command line the runtime's (ANSI) arguments serve.
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

void u_write_text(std::FILE* stream, std::string_view text) {
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
    std::fwrite(text.data(), 1, text.size(), stream);
}

int64_t u_time_now() { return _time64(nullptr); }

bool local_time(int64_t seconds, std::tm* local) {
    const __time64_t t = seconds;
    return _localtime64_s(local, &t) == 0;
}

int u_processors_available() {
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) && process_mask != 0) {
        return __builtin_popcountll(static_cast<unsigned long long>(process_mask));
    }
    const DWORD active = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return active > 0 ? static_cast<int>(active) : 1;
}

}  // namespace spinmap
