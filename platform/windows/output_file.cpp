// The Windows output files: a temporary beside the target, named for this
// process, moved over it at the commit.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include <spinmap/platform/platform.h>
#include "../interruption.h"
#include "../system.h"
#include "native.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace spinmap {

namespace {

// The wide name of an output path; nullopt for none, or a folder's name.
std::optional<std::wstring> wide_name(std::string_view path) {
    std::optional<std::wstring> name = windows_name(path);
    if (!name || name->empty() || name->back() == L'\\' || name->back() == L'/') return std::nullopt;
    return name;
}

// The names of the output are kept in UTF-8 (unpaired surrogates too, so
// that every name comes back as it was).
std::string utf8_of(const std::wstring& w) { return u_utf8_of_wide(w); }

std::wstring wide_of(const std::string& s) { return u_wide_of_utf8(s).value_or(std::wstring()); }

// The longest name of a file in a folder, in UTF-16 units, on every file
// system Windows writes.
constexpr std::size_t LONGEST_NAME_UNITS = 255;

// The temporary's name for an attempt: NAME.spinmap-PROCESS-ATTEMPT beside
// the target, NAME cut short (never between the halves of a surrogate pair)
// where the whole would be longer than a name may be.
std::wstring temporary_name(const std::wstring& target, unsigned attempt) {
    const std::wstring suffix =
        L".spinmap-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
    const std::size_t separator = target.find_last_of(L"\\/:");
    const std::size_t start = separator == std::wstring::npos ? 0 : separator + 1;
    std::size_t keep = target.size() - start;
    if (keep + suffix.size() > LONGEST_NAME_UNITS) {
        keep = LONGEST_NAME_UNITS - suffix.size();
        if (keep > 0 && target[start + keep] >= 0xDC00 && target[start + keep] <= 0xDFFF) --keep;
    }
    return target.substr(0, start + keep) + suffix;
}

}  // namespace

bool open_output(std::string_view path, output_file* out) {
    const std::optional<std::wstring> name = wide_name(path);
    if (!name) return false;
    const DWORD attributes = GetFileAttributesW(name->c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
        // A read-only file could not be opened for writing: it is not replaced either.
        if (attributes & FILE_ATTRIBUTE_READONLY) return false;
        out->replaces = true;
    } else {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) return false;
    }
    // Devices cannot be renamed over: write them in place.
    if (*name == L"NUL" || name->rfind(L"\\\\.\\", 0) == 0) {
        out->stream = _wfopen(name->c_str(), L"wb");
        out->target = utf8_of(*name);
        out->in_place = true;
        return out->stream != nullptr;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::wstring temporary = temporary_name(*name, attempt);
        // Registered before it exists, since an interruption arrives on a
        // thread of its own; the name holds this process's number, so no
        // other file goes by it.
        out->interruption_place = register_temporary(temporary.c_str());
        if (out->interruption_place < 0) return false;
        // Shared for deletion, so that an interruption can remove it while
        // it is open.
        constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        const HANDLE handle =
            CreateFileW(temporary.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            forget_interruption_place(out);
            if (error == ERROR_FILE_EXISTS) continue;
            return false;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
        out->stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
        if (out->stream == nullptr) {
            if (fd < 0) {
                CloseHandle(handle);
            } else {
                _close(fd);
            }
            _wremove(temporary.c_str());
            forget_interruption_place(out);
            return false;
        }
        out->target = utf8_of(*name);
        out->temporary = utf8_of(temporary);
        return true;
    }
    return false;
}

bool commit_output(output_file* out) {
    bool ok = std::fflush(out->stream) == 0 && std::ferror(out->stream) == 0;
    if (ok && out->durable && !out->in_place) {
        const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out->stream)));
        ok = step_allowed(output_step::flush_contents) && FlushFileBuffers(handle) != 0;
    }
    ok = (std::fclose(out->stream) == 0) && ok;
    out->stream = nullptr;
    if (out->in_place) return ok;
    const std::wstring temporary = wide_of(out->temporary);
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (out->durable ? MOVEFILE_WRITE_THROUGH : 0);
    // The point of no return: from here on the run finishes the commit.
    const commit_held held;
    if (ok) {
        ok = step_allowed(output_step::rename) &&
             MoveFileExW(temporary.c_str(), wide_of(out->target).c_str(), flags) != 0;
    }
    if (!ok) _wremove(temporary.c_str());
    forget_interruption_place(out);
    return ok;
}

void discard_output(output_file* out) {
    if (out->stream != nullptr) std::fclose(out->stream);
    out->stream = nullptr;
    if (!out->temporary.empty()) _wremove(wide_of(out->temporary).c_str());
    forget_interruption_place(out);
}

}  // namespace spinmap
