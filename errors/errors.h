// Error codes and their printable names.
//
// Every library operation that can fail returns an error code: 0 is success,
// 1 to ERROR_COUNT name a condition. error_name() turns a code into text in one
// process-wide buffer that each call overwrites. Library diagnostics go through
// error_message_hook, a printf-style function that by default flushes standard
// output, then writes to standard error and flushes it. Nothing here allocates
// or throws.
#pragma once

#include <cstddef>
#include <cstdint>

namespace spinmap {

enum error_code : int {
#define SPINMAP_ERROR(number, name) name = number,
#include "error_codes.def"
#undef SPINMAP_ERROR
};

inline constexpr int ERROR_COUNT = 462;

// The name table, indexed by code; entry 0 is empty and never printed.
inline constexpr const char* error_names[ERROR_COUNT + 1] = {
    "",
#define SPINMAP_ERROR(number, name) #name,
#include "error_codes.def"
#undef SPINMAP_ERROR
};

// Size of the buffer error_name() writes; the longest name is far shorter.
inline constexpr int ERROR_NAME_BUFFER_SIZE = 512;

// "NO_ERROR" for 0, the table's name for 1..ERROR_COUNT, otherwise
// "invalid error number %d". Returns the shared buffer; not thread-safe.
const char* error_name(int code);

// The same text in the caller's buffer (ERROR_NAME_BUFFER_SIZE bytes hold
// any), for callers on several threads; returns the buffer.
const char* error_name_into(int code, char* buffer, std::size_t size);

// Forwards to error_name().
const char* error_text(int code);

// Prints the name of a non-zero code with "%s\n" through error_message_hook;
// does nothing for 0.
void error_report(int code);

// As error_report(), then ends the process with exit status 1 when code is
// not 0.
void error_report_exit(int code);

using message_hook_fn = void (*)(const char* format, ...);

// Process-wide hook for library diagnostics; defaults to standard error.
extern message_hook_fn error_message_hook;

}  // namespace spinmap
