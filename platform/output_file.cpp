// Safe output files: write a temporary beside the target, then rename it over.
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform.h"
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

namespace {

void reset(output_file* out) { *out = output_file{}; }

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
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return false;
    out->stream = fdopen(fd, "wb");
    if (out->stream == nullptr) {
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    out->target = *target;
    out->temporary = temporary;
    return true;
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
    ok = (std::fclose(out->stream) == 0) && ok;
    out->stream = nullptr;
    if (out->temporary.empty()) return ok;
    if (ok) ok = std::rename(out->temporary.c_str(), out->target.c_str()) == 0;
    if (!ok) unlink(out->temporary.c_str());
    return ok;
}

void discard_posix(output_file* out) {
    if (out->stream != nullptr) std::fclose(out->stream);
    out->stream = nullptr;
    if (!out->temporary.empty()) unlink(out->temporary.c_str());
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
        const int fd = _wopen(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        out->stream = _fdopen(fd, "wb");
        if (out->stream == nullptr) {
            _close(fd);
            _wremove(temporary.c_str());
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
    ok = (std::fclose(out->stream) == 0) && ok;
    out->stream = nullptr;
    if (out->temporary.empty()) return ok;
    const std::wstring temporary = wide_of(out->temporary);
    if (ok) ok = MoveFileExW(temporary.c_str(), wide_of(out->target).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) _wremove(temporary.c_str());
    return ok;
}

void discard_windows(output_file* out) {
    if (out->stream != nullptr) std::fclose(out->stream);
    out->stream = nullptr;
    if (!out->temporary.empty()) _wremove(wide_of(out->temporary).c_str());
}

#endif

}  // namespace

bool u_output_open(std::string_view path, output_file* out) {
    reset(out);
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
