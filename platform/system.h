// Between the platform's files written once for both systems and each
// system's own (posix/ or windows/, whichever the build is for): what each
// side defines for the other. Internal to platform/.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include <spinmap/platform/platform.h>

namespace spinmap {

// ---- Written once (platform.cpp, output_file.cpp) ---------------------------

// Appends the UTF-8 bytes of a code point (a surrogate's too, in the same
// three-byte form as its neighbours).
void append_utf8(std::string& out, uint32_t cp);

// False when a test has the step fail.
bool step_allowed(output_step step);

// The temporary is gone or renamed: an interruption has nothing to remove.
void forget_interruption_place(output_file* out);

// ---- Each system's own ---------------------------------------------------

// The status mode of what the path names (links followed); nullopt when it
// cannot be queried.
std::optional<unsigned> status_mode(std::string_view path);

// The local broken-down time of a non-negative time; false when the platform
// cannot convert it.
bool local_time(int64_t seconds, std::tm* local);

// The system's part of u_output_open (out empty, durable set), of
// u_output_commit (out open) and of u_output_discard: the temporary made,
// committed or removed as platform.h says.
bool open_output(std::string_view path, output_file* out);
bool commit_output(output_file* out);
void discard_output(output_file* out);

}  // namespace spinmap
