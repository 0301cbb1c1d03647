// What the POSIX calls take: narrow names, at most PATH_MAX bytes with their
// end, and the signal mask a hold of the interruptions puts back. Internal
// to platform/ (the Windows build has its own native.h).
#pragma once

#include <limits.h>
#include <signal.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace spinmap {

using native_char = char;

// The longest path a call takes, its end included.
constexpr std::size_t NATIVE_NAME_ROOM = PATH_MAX;

// What a hold of the interruptions puts back when it ends.
using held_signals = sigset_t;

// The narrow name a POSIX call takes for a path (a wide path converted to
// UTF-8), or nullopt when none can: malformed UTF-16 or a zero byte.
std::optional<std::string> native_name(std::string_view path);

}  // namespace spinmap
