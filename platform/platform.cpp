// POSIX and Windows implementations of the platform calls.
#include "platform.h"

#include <sys/stat.h>

#include <ctime>
#include <string>

#ifdef _WIN32
#include <wchar.h>
#endif

namespace spinmap {

bool is_wide_path(std::string_view path) {
    if (path.size() < 2) return false;
    const unsigned mark = static_cast<unsigned char>(path[0]) | static_cast<unsigned>(static_cast<unsigned char>(path[1])) << 8;
    return mark == 0xFEFF || mark == 0xFFFE;
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
    return out;
}

namespace {

// A file name holds no zero byte; a path that does names no file.
bool has_zero_byte(std::string_view s) { return s.find('\0') != std::string_view::npos; }

#ifdef _WIN32
std::optional<std::wstring> wide_units(std::string_view units) {
    if (units.size() % 2 != 0) return std::nullopt;
    std::wstring out;
    for (std::size_t i = 0; i < units.size(); i += 2) {
        const wchar_t u = static_cast<wchar_t>(static_cast<unsigned char>(units[i]) |
                                               static_cast<unsigned>(static_cast<unsigned char>(units[i + 1])) << 8);
        if (u == 0) return std::nullopt;
        out += u;
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

}  // namespace

std::FILE* u_open_file(std::string_view path, bool write) {
#ifdef _WIN32
    if (is_wide_path(path)) {
        const std::optional<std::wstring> name = wide_units(path.substr(2));
        if (!name) return nullptr;
        return _wfopen(name->c_str(), write ? L"wb" : L"rb");
    }
    if (has_zero_byte(path)) return nullptr;
    return std::fopen(std::string(path).c_str(), write ? "wb" : "rb");
#else
    const std::optional<std::string> name = native_name(path);
    if (!name) return nullptr;
    return std::fopen(name->c_str(), write ? "wb" : "rb");
#endif
}

bool u_is_regular_file(std::string_view path) {
    constexpr unsigned FILE_TYPE_MASK = 0xF000;
    constexpr unsigned REGULAR_FILE = 0x8000;
#ifdef _WIN32
    struct _stat64i32 status {};
    if (is_wide_path(path)) {
        const std::optional<std::wstring> name = wide_units(path.substr(2));
        if (!name || _wstat64i32(name->c_str(), &status) != 0) return false;
    } else {
        if (has_zero_byte(path) || _stat64i32(std::string(path).c_str(), &status) != 0) return false;
    }
    return (static_cast<unsigned>(status.st_mode) & FILE_TYPE_MASK) == REGULAR_FILE;
#else
    const std::optional<std::string> name = native_name(path);
    struct stat status {};
    if (!name || stat(name->c_str(), &status) != 0) return false;
    return (static_cast<unsigned>(status.st_mode) & FILE_TYPE_MASK) == REGULAR_FILE;
#endif
}

int64_t u_time_now() {
#ifdef _WIN32
    return _time64(nullptr);
#else
    return static_cast<int64_t>(std::time(nullptr));
#endif
}

std::optional<std::string> u_calendar_text(int64_t seconds) {
    // Negative times are refused everywhere, as the Windows runtime does.
    if (seconds < 0) return std::nullopt;
#ifdef _WIN32
    const __time64_t t = seconds;
    const char* text = _ctime64(&t);
    if (text == nullptr) return std::nullopt;
    return std::string(text);
#else
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local {};
    if (localtime_r(&t, &local) == nullptr) return std::nullopt;
    // ctime's fixed form; a year beyond four digits would not fit it.
    if (local.tm_year + 1900 > 9999) return std::nullopt;
    char text[32];
    if (std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y\n", &local) == 0) return std::nullopt;
    return std::string(text);
#endif
}

}  // namespace spinmap
