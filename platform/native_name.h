// The names the system calls take for a path, shared by the platform files.
// Internal to platform/.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace spinmap {

#ifdef _WIN32
// The wide name of UTF-16LE code units (after a byte-order mark); nullopt for
// an odd byte count or a zero unit, which no file name may hold.
std::optional<std::wstring> wide_units(std::string_view units);
#else
// The narrow name a POSIX call takes for a path (a wide path converted to
// UTF-8), or nullopt when none can: malformed UTF-16 or a zero byte.
std::optional<std::string> native_name(std::string_view path);
#endif

}  // namespace spinmap
