// The verbose report's lines.
#include <cstdarg>
#include <cstdio>

#include <string>

#include "app.h"
#include "platform/platform.h"

namespace spinmap {

namespace {
constexpr int KEY_WIDTH = 20;
}  // namespace

// Lines are formatted whole and written as text: names in them show every
// character as typed on a Windows console too.
void run_report::line(const char* key, const char* format, ...) const {
    if (!on_) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string value(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(value.data(), value.size() + 1, format, again);
    va_end(again);
    char key_field[64];
    std::snprintf(key_field, sizeof key_field, "%-*s = ", KEY_WIDTH, key);
    u_write_text(stdout, key_field + value);
}

void run_report::text(std::string_view text) const {
    if (on_) u_write_text(stdout, text);
}

}  // namespace spinmap
