// The POSIX output files: a temporary beside the target (anonymous where
// Linux can make one), renamed over it at the commit.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include <spinmap/platform/platform.h>
#include "../interruption.h"
#include "../system.h"
#include "native.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/random.h>
#endif

namespace spinmap {

namespace {

// Links are followed at most this many times, as the system itself does.
constexpr int MAX_LINK_HOPS = 40;

// The end of a temporary's name; the X's become letters that make it unique.
constexpr std::string_view TEMPORARY_SUFFIX = ".spinmap-XXXXXX";
constexpr std::size_t UNIQUE_LETTERS = 6;

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

// The pattern of a temporary's name beside the target,
// FOLDER/.NAME.spinmap-XXXXXX, with NAME cut short (never inside a UTF-8
// sequence) where the whole would be longer than the folder's longest name.
std::string temporary_pattern(const std::string& target) {
    const std::string folder = directory_of(target);
    const std::size_t slash = target.rfind('/');
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    errno = 0;
    const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    // -1 without an error: the folder sets no limit.
    const std::size_t longest = limit > 0 ? static_cast<std::size_t>(limit) : errno == 0 ? SIZE_MAX : NAME_MAX;
    const std::size_t room = longest > 1 + TEMPORARY_SUFFIX.size() ? longest - 1 - TEMPORARY_SUFFIX.size() : 0;
    if (base.size() > room) {
        std::size_t keep = room;
        while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
        base.resize(keep);
    }
    return folder + "/." + base + std::string(TEMPORARY_SUFFIX);
}

// Whether the user may write the existing file, judged by the effective user
// and groups as opening it would be (root may, on a writable file system).
// A system that cannot tell leaves it to the write.
bool may_write(const std::string& path) {
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0) return true;
    return errno != EACCES && errno != EPERM && errno != EROFS && errno != ETXTBSY;
}

// A device, a FIFO or a pipe: opened for writing as it is, never created or
// truncated. Whatever turns out to be a regular file or a folder after all
// is refused.
bool open_in_place(const std::string& name, output_file* out) {
    const int fd = open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    if (fstat(fd, &status) != 0 || S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)) {
        close(fd);
        return false;
    }
    out->stream = fdopen(fd, "wb");
    if (out->stream == nullptr) {
        close(fd);
        return false;
    }
    out->target = name;
    out->in_place = true;
    return true;
}

// An anonymous temporary in the target's folder, open for reading too (a
// copy may be made of it at the commit). False where the file system cannot
// make one.
bool open_anonymous(const std::string& target, output_file* out) {
#if defined(__linux__) && defined(O_TMPFILE)
    if (!step_allowed(output_step::make_anonymous)) return false;
    const int fd = open(directory_of(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    out->stream = fdopen(fd, "w+b");
    if (out->stream == nullptr) close(fd);
    return out->stream != nullptr;
#else
    (void)target;
    (void)out;
    return false;
#endif
}

// A named temporary made from the pattern, registered for removal on an
// interruption from the moment it exists.
bool open_named(const std::string& pattern, output_file* out) {
    std::string temporary = pattern;
    int fd = -1;
    {
        const interruptions_held held;
        fd = mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0) return false;
        out->interruption_place = register_temporary(temporary.c_str());
    }
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

// The result's owner and permission bits, then (for a durable output) its
// contents on stable storage. fsync rather than fdatasync: the owner and
// mode just set must last too.
bool finish_contents(int fd, const output_file& out) {
    struct stat status {};
    if (out.replaces && stat(out.target.c_str(), &status) == 0 && fchown(fd, status.st_uid, status.st_gid) != 0) {
        // Only the owner may give a file away; the result then stays ours.
    }
    if (fchmod(fd, static_cast<mode_t>(out.mode)) != 0) return false;
    return !out.durable || (step_allowed(output_step::flush_contents) && fsync(fd) == 0);
}

#if defined(__linux__)
// Replaces the X's at the end of the pattern with letters that no other run
// is likely to draw.
std::string unique_name(const std::string& pattern) {
    static constexpr char LETTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned draws = 0;
    uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        struct timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        bits = static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(getpid()) << 32 ^ ++draws;
    }
    std::string name = pattern;
    for (std::size_t i = name.size() - UNIQUE_LETTERS; i < name.size(); ++i) {
        name[i] = LETTERS[bits % (sizeof LETTERS - 1)];
        bits /= sizeof LETTERS - 1;
    }
    return name;
}

// Links the open anonymous file under the name: through its descriptor
// where the system allows that, else through /proc.
bool link_open_file(int fd, const std::string& name) {
    if (linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno == EEXIST) return false;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Where the anonymous file cannot be linked, a named temporary takes a copy
// of it.
bool copy_to_named(const std::string& pattern, output_file* out) {
    std::string name = pattern;
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    out->temporary = name;  // removed by the commit on failure
    const owned_file copy(fdopen(fd, "wb"));
    if (copy == nullptr) {
        close(fd);
        return false;
    }
    struct stat status {};
    return fstat(fileno(out->stream), &status) == 0 &&
           u_copy_range(out->stream, 0, static_cast<int64_t>(status.st_size), copy.get()) == 0 &&
           std::fflush(copy.get()) == 0 && finish_contents(fd, *out);
}
#endif

// Gives the anonymous temporary a name beside the target, so that it can be
// renamed over it.
bool name_anonymous(output_file* out) {
#if defined(__linux__)
    const std::string pattern = temporary_pattern(out->target);
    constexpr int ATTEMPTS = 100;
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        const std::string name = unique_name(pattern);
        if (link_open_file(fileno(out->stream), name)) {
            out->temporary = name;
            return true;
        }
        if (errno != EEXIST) break;
    }
    return copy_to_named(pattern, out);
#else
    (void)out;
    return false;
#endif
}

// Flushes the folder so that a rename in it survives a crash. A file system
// that cannot flush folders still holds the complete result.
void flush_folder(const std::string& file) {
    if (!step_allowed(output_step::flush_folder)) return;
    const int fd = open(directory_of(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

bool close_stream(output_file* out) {
    const bool ok = std::fclose(out->stream) == 0;
    out->stream = nullptr;
    return ok;
}

}  // namespace

bool open_output(std::string_view path, output_file* out) {
    const std::optional<std::string> name = native_name(path);
    if (!name || name->empty() || name->back() == '/') return false;
    switch (u_path_kind(*name)) {
        case path_kind::folder:
            return false;
        case path_kind::other:
            return open_in_place(*name, out);
        case path_kind::missing:
        case path_kind::regular_file:
            break;
    }
    const std::optional<std::string> target = final_name(*name);
    if (!target || target->back() == '/') return false;

    struct stat status {};
    if (stat(target->c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) return false;
        if (!may_write(*target)) return false;
        out->mode = static_cast<unsigned>(status.st_mode) & 07777u;
        out->replaces = true;
    } else if (errno != ENOENT) {
        return false;  // below a regular file, no permission, a loop
    } else {
        out->mode = creation_mode();
    }
    out->target = *target;
    return open_anonymous(*target, out) || open_named(temporary_pattern(*target), out);
}

bool commit_output(output_file* out) {
    bool ok = std::fflush(out->stream) == 0 && std::ferror(out->stream) == 0;
    if (out->in_place) return close_stream(out) && ok;
    ok = ok && finish_contents(fileno(out->stream), *out);
    // The point of no return: from here on the run finishes the commit.
    const commit_held held;
    ok = ok && step_allowed(output_step::rename);
    if (ok && out->temporary.empty()) ok = name_anonymous(out);
    ok = close_stream(out) && ok;
    if (ok) ok = std::rename(out->temporary.c_str(), out->target.c_str()) == 0;
    if (!ok && !out->temporary.empty()) unlink(out->temporary.c_str());
    forget_interruption_place(out);
    if (ok && out->durable) flush_folder(out->target);
    return ok;
}

void discard_output(output_file* out) {
    if (out->stream != nullptr) std::fclose(out->stream);
    out->stream = nullptr;
    if (!out->temporary.empty()) unlink(out->temporary.c_str());
    forget_interruption_place(out);
}

}  // namespace spinmap
