// The verbose report's lines.
#include <cstdarg>
#include <cstdio>

#include "app.h"

namespace spinmap {

namespace {
constexpr int KEY_WIDTH = 20;
}  // namespace

void run_report::line(const char* key, const char* format, ...) const {
    if (!on_) return;
    std::printf("%-*s = ", KEY_WIDTH, key);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void run_report::text(std::string_view text) const {
    if (on_) std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace spinmap
