// Safe output files: write a temporary beside the target, then rename it over.
#include <cerrno>
#include <cstdio>
#include <string>

#include <spinmap/platform/platform.h>
#include "interruption.h"
#include "native_name.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace spinmap {

commit_step_hook u_commit_step_hook = nullptr;

namespace {

void reset(output_file* out) { *out = output_file{}; }

// False when a test has the step fail.
bool step_allowed(commit_step step) { return u_commit_step_hook == nullptr || u_commit_step_hook(step); }

// The temporary is gone or renamed: an interruption has nothing to remove.
void forget_interruption_place(output_file* out) {
    forget_temporary(out->interruption_place);
    out->interruption_place = -1;
}

#ifndef _WIN32

// Links are followed at most this many times, as the system itself does.
constexpr int MAX_LINK_HOPS = 40;

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Follows symbolic links from path to the name that is finally written; the
// last link of a dangling chain names a file to create. nullopt for a loop.
std::optional<std::string> final_name(std::string path) {
    for (int hop = 0; hop < MAX_LINK_HOPS; ++hop) {
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
        std::string link(static_cast<std::size_t>(status.st_size) + 1, '\0');
        const ssize_t n = readlink(path.c_str(), link.data(), link.size());
        if (n < 0 || static_cast<std::size_t>(n) >= link.size()) return std::nullopt;
        link.resize(static_cast<std::size_t>(n));
        path = (!link.empty() && link[0] == '/') ? link : directory_of(path) + "/" + link;
    }
    return std::nullopt;
}

unsigned creation_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

bool open_posix(std::string_view path, output_file* out) {
    const std::optional<std::string> name = native_name(path);
    if (!name || name->empty() || name->back() == '/') return false;
    const std::optional<std::string> target = final_name(*name);
    if (!target || target->back() == '/') return false;

    struct stat status {};
    if (stat(target->c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) return false;
        if (!S_ISREG(status.st_mode)) {
            // A device or a pipe cannot be renamed over: write it in place.
            out->stream = std::fopen(target->c_str(), "wb");
            if (out->stream == nullptr) return false;
            out->target = *target;
            return true;
        }
        out->mode = static_cast<unsigned>(status.st_mode) & 07777u;
        out->replaces = true;
    } else if (errno != ENOENT) {
        return false;  // below a regular file, no permission, a loop
    } else {
        out->mode = creation_mode();
    }

    const std::size_t slash = target->rfind('/');
    const std::string base = slash == std::string::npos ? *target : target->substr(slash + 1);
    const std::string folder = directory_of(*target);
    std::string temporary = folder + "/." + base + ".spinmap-XXXXXX";
    int fd = -1;
    {
        // An interruption finds the temporary registered as soon as it exists.
        const interruptions_held held;
        fd = mkstemp(temporary.data());
        if (fd < 0) return false;
        out->interruption_place = register_temporary(temporary.c_str());
    }
    out->target = *target;
    out->temporary = temporary;
    if (out->interruption_place >= 0) out->stream = fdopen(fd, "wb");
    if (out->stream == nullptr) {
        close(fd);
        unlink(temporary.c_str());
        forget_interruption_place(out);
        return false;
    }
    return true;
}

// Flushes the folder so that a rename in it survives a crash. A file system
// that cannot flush folders still holds the complete result.
void flush_folder(const std::string& file) {
    if (!step_allowed(commit_step::flush_folder)) return;
    const int fd = open(directory_of(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

bool commit_posix(output_file* out) {
    const int fd = fileno(out->stream);
    bool ok = std::fflush(out->stream) == 0 && std::ferror(out->stream) == 0;
    if (ok && !out->temporary.empty()) {
        struct stat status {};
        if (out->replaces && stat(out->target.c_str(), &status) == 0 && fchown(fd, status.st_uid, status.st_gid) != 0) {
            // Only the owner may give a file away; the result then stays ours.
        }
        ok = fchmod(fd, static_cast<mode_t>(out->mode)) == 0;
    }
    // fsync rather than fdatasync: the owner and mode just set must last too.
    if (ok && out->durable && !out->temporary.empty()) {
        ok = step_allowed(commit_step::flush_contents) && fsync(fd) == 0;
    }
    ok = (std::fclose(out->stream) == 0) && ok;
    out->stream = nullptr;
    if (out->temporary.empty()) return ok;
    if (ok) ok = step_allowed(commit_step::rename) && std::rename(out->temporary.c_str(), out->target.c_str()) == 0;
    if (!ok) unlink(out->temporary.c_str());
    forget_interruption_place(out);
    if (ok && out->durable) flush_folder(out->target);
    return ok;
}

void discard_posix(output_file* out) {
    if (out->stream != nullptr) std::fclose(out->stream);
    out->stream = nullptr;
    if (!out->temporary.empty()) unlink(out->temporary.c_str());
    forget_interruption_place(out);
}

#else  // _WIN32

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

bool open_windows(std::string_view path, output_file* out) {
    const std::optional<std::wstring> name = wide_name(path);
    if (!name) return false;
    const DWORD attributes = GetFileAttributesW(name->c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
        out->replaces = true;
    } else {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) return false;
    }
    // Devices cannot be renamed over: write them in place.
    if (*name == L"NUL" || name->rfind(L"\\\\.\\", 0) == 0) {
        out->stream = _wfopen(name->c_str(), L"wb");
        out->target = utf8_of(*name);
        return out->stream != nullptr;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::wstring temporary =
            *name + L".spinmap-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
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

bool commit_windows(output_file* out) {
    bool ok = std::fflush(out->stream) == 0 && std::ferror(out->stream) == 0;
    if (ok && out->durable && !out->temporary.empty()) {
        const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out->stream)));
        ok = step_allowed(commit_step::flush_contents) && FlushFileBuffers(handle) != 0;
    }
    ok = (std::fclose(out->stream) == 0) && ok;
    out->stream = nullptr;
    if (out->temporary.empty()) return ok;
    const std::wstring temporary = wide_of(out->temporary);
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (out->durable ? MOVEFILE_WRITE_THROUGH : 0);
    if (ok) {
        ok = step_allowed(commit_step::rename) &&
             MoveFileExW(temporary.c_str(), wide_of(out->target).c_str(), flags) != 0;
    }
    if (!ok) _wremove(temporary.c_str());
    forget_interruption_place(out);
    return ok;
}

void discard_windows(output_file* out) {
    if (out->stream != nullptr) std::fclose(out->stream);
    out->stream = nullptr;
    if (!out->temporary.empty()) _wremove(wide_of(out->temporary).c_str());
    forget_interruption_place(out);
}

#endif

}  // namespace

bool u_output_open(std::string_view path, output_file* out, bool durable) {
    reset(out);
    out->durable = durable;
#ifdef _WIN32
    const bool ok = open_windows(path, out);
#else
    const bool ok = open_posix(path, out);
#endif
    if (!ok) reset(out);
    return ok;
}

bool u_output_commit(output_file* out) {
    if (out->stream == nullptr) return false;
#ifdef _WIN32
    const bool ok = commit_windows(out);
#else
    const bool ok = commit_posix(out);
#endif
    reset(out);
    return ok;
}

void u_output_discard(output_file* out) {
#ifdef _WIN32
    discard_windows(out);
#else
    discard_posix(out);
#endif
    reset(out);
}

}  // namespace spinmap
