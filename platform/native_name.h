// The names the system calls take for a path, shared by the platform files.
// Internal to platform/.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace spinmap {

#ifdef _WIN32
// The wide name the system calls take for a path: the code units of a wide
// path, otherwise the narrow bytes decoded as UTF-8 once the program has
// asked for it (u_take_names_as_utf8), else in the ANSI code page. nullopt
// for a name that cannot be had (malformed units or UTF-8, a zero unit or
// byte), which no file name may hold.
std::optional<std::wstring> windows_name(std::string_view path);
#else
// The narrow name a POSIX call takes for a path (a wide path converted to
// UTF-8), or nullopt when none can: malformed UTF-16 or a zero byte.
std::optional<std::string> native_name(std::string_view path);
#endif

}  // namespace spinmap
