// The wide names of Windows: a path's name for the wide system calls, and
// UTF-8 and UTF-16 both ways.
#include <spinmap/platform/platform.h>
#include "../system.h"
#include "native.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace spinmap {

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

}  // namespace spinmap
