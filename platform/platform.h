// The few calls that differ between Windows and POSIX: opening files by path,
// testing for a regular file, and the calendar text of a time.
//
// Paths are byte strings (they may hold any bytes). A path whose first two
// bytes, read as a little-endian 16-bit value, are 0xFEFF or 0xFFFE (a UTF-16
// byte-order mark) is a wide path: the bytes after the mark are UTF-16LE code
// units. Windows opens such a path with the wide-character calls; POSIX
// converts it to UTF-8 first, and a malformed one names no file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace spinmap {

// True when the path begins with a UTF-16 byte-order mark.
bool is_wide_path(std::string_view path);

// The UTF-8 form of UTF-16LE code units (an odd byte count, or an unpaired
// surrogate, is malformed: nullopt). A zero code unit ends nothing here: it
// becomes a zero byte, which no file name may hold.
std::optional<std::string> utf16le_to_utf8(std::string_view units);

// Opens a file in binary mode ("rb" when write is false, "wb" when true),
// narrow or wide as the path says. Null when it cannot be opened.
std::FILE* u_open_file(std::string_view path, bool write);

// True when the path names an existing regular file (file type bits 0x8000
// of the status mode); false for anything missing, any other kind of entry,
// and a malformed wide path.
bool u_is_regular_file(std::string_view path);

// Seconds since 1970-01-01 00:00 UTC, now.
int64_t u_time_now();

// The 24-character local calendar form of a time followed by a line end, as
// ctime gives it; nullopt for a negative time or one the platform cannot
// convert.
std::optional<std::string> u_calendar_text(int64_t seconds);

}  // namespace spinmap
