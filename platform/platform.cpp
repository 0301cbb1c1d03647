// The platform calls written once for both systems: wide paths and their
// UTF-8 form, the kind of a path, bytes left in a stream, the calendar text
// of a time and large blocks. Each system's own calls are in posix/ and
// windows/.
#include <spinmap/platform/platform.h>
#include "system.h"

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <string>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace spinmap {

bool is_wide_path(std::string_view path) {
    if (path.size() < 2) return false;
    const unsigned mark = static_cast<unsigned char>(path[0]) | static_cast<unsigned>(static_cast<unsigned char>(path[1])) << 8;
    return mark == 0xFEFF || mark == 0xFFFE;
}

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

path_kind u_path_kind(std::string_view path) {
    constexpr unsigned FILE_TYPE_MASK = 0xF000;
    constexpr unsigned REGULAR_FILE = 0x8000;
    constexpr unsigned FOLDER = 0x4000;
    const std::optional<unsigned> mode = status_mode(path);
    if (!mode) return path_kind::missing;
    const unsigned type = *mode & FILE_TYPE_MASK;
    return type == REGULAR_FILE ? path_kind::regular_file : type == FOLDER ? path_kind::folder : path_kind::other;
}

bool u_is_regular_file(std::string_view path) { return u_path_kind(path) == path_kind::regular_file; }

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
