#include <spinmap/errors/errors.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace spinmap {

static_assert(sizeof(error_names) / sizeof(error_names[0]) == ERROR_COUNT + 1,
              "one name for every code from 1 to ERROR_COUNT");

namespace {

char name_buffer[ERROR_NAME_BUFFER_SIZE];

// Whatever standard output still holds goes first, so that a log of both
// streams keeps the order of events.
void message_to_stderr(const char* format, ...) {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

}  // namespace

message_hook_fn error_message_hook = message_to_stderr;

const char* error_name_into(int code, char* buffer, std::size_t size) {
    if (code == 0) {
        std::snprintf(buffer, size, "NO_ERROR");
    } else if (code >= 1 && code <= ERROR_COUNT) {
        std::snprintf(buffer, size, "%s", error_names[code]);
    } else {
        std::snprintf(buffer, size, "invalid error number %d", code);
    }
    return buffer;
}

const char* error_name(int code) { return error_name_into(code, name_buffer, sizeof name_buffer); }

const char* error_text(int code) { return error_name(code); }

void error_report(int code) {
    if (code != 0) error_message_hook("%s\n", error_name(code));
}

void error_report_exit(int code) {
    if (code == 0) return;
    error_report(code);
    std::exit(1);
}

}  // namespace spinmap
