// What the Windows calls take: wide names, at most 32767 units with their
// end. Internal to platform/ (the POSIX build has its own native.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace spinmap {

using native_char = wchar_t;

// The longest wide path and its end.
constexpr std::size_t NATIVE_NAME_ROOM = 32768;

// Windows delivers the interruptions on a thread of their own and cannot
// hold them off: a hold has nothing to put back.
struct held_signals {};

// The wide name the system calls take for a path: the code units of a wide
// path, otherwise the narrow bytes decoded as UTF-8 once the program has
// asked for it (u_take_names_as_utf8), else in the ANSI code page. nullopt
// for a name that cannot be had (malformed units or UTF-8, a zero unit or
// byte), which no file name may hold.
std::optional<std::wstring> windows_name(std::string_view path);

}  // namespace spinmap
