// Guards that replace the library's allocation and message hooks for a scope.
#include <algorithm>
#include <cstdarg>
#include <cstdlib>

#include "support.h"

namespace spinmap::test {

namespace {

// The log of the guard that is installed; hooks are process-wide.
allocation_log* current_log = nullptr;

// Counts the call; true when it is one that fails.
bool take_call(std::size_t bytes) {
    allocation_log& log = *current_log;
    ++log.calls;
    log.largest = std::max(log.largest, bytes);
    log.last_bytes = bytes;
    return log.calls == log.fail_at || (log.fail_from > 0 && log.calls >= log.fail_from);
}

void* handed_out(void* p, std::size_t bytes) {
    if (p != nullptr) current_log->live[p] = bytes;
    return p;
}

void forget(void* p) {
    if (p == nullptr) return;
    ++current_log->releases;
    if (current_log->live.erase(p) == 0) ++current_log->foreign_frees;
}

void* on_malloc(std::size_t bytes) { return take_call(bytes) ? nullptr : handed_out(std::malloc(bytes), bytes); }

void* on_calloc(std::size_t count, std::size_t size) {
    return take_call(count * size) ? nullptr : handed_out(std::calloc(count, size), count * size);
}

void* on_realloc(void* old, std::size_t bytes) {
    if (take_call(bytes)) return nullptr;
    void* p = std::realloc(old, bytes);
    if (p != nullptr && old != nullptr && current_log->live.erase(old) == 0) ++current_log->foreign_frees;
    return handed_out(p, bytes);
}

void on_free(void* p) {
    forget(p);
    std::free(p);
}

std::string captured_text;

void capture_message(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    captured_text += text;
}

}  // namespace

allocation_hooks::allocation_hooks() : allocation_hooks(&own_) {}

allocation_hooks::allocation_hooks(allocation_log* log)
    : log_(log), malloc_(malloc_hook), realloc_(realloc_hook), calloc_(calloc_hook), free_(free_hook) {
    current_log = log;
    malloc_hook = on_malloc;
    realloc_hook = on_realloc;
    calloc_hook = on_calloc;
    free_hook = on_free;
}

allocation_hooks::allocation_hooks(failing_from first_failure) : allocation_hooks(&own_) {
    own_.fail_from = first_failure.call;
}

allocation_hooks::~allocation_hooks() {
    malloc_hook = malloc_;
    realloc_hook = realloc_;
    calloc_hook = calloc_;
    free_hook = free_;
    current_log = nullptr;
}

captured_messages::captured_messages() : saved_(error_message_hook) {
    captured_text.clear();
    error_message_hook = capture_message;
}

captured_messages::~captured_messages() { error_message_hook = saved_; }

std::string& captured_messages::text() const { return captured_text; }

}  // namespace spinmap::test
