// The temporaries an interruption removes: their registrations, written once
// for both systems. The handlers that remove them, the holds of the
// interruptions and the file size signal are each system's own
// (posix/interruption.cpp, windows/interruption.cpp).
//
// The handler may run at any point of the program (POSIX) or beside it on
// another thread (Windows), so it reads only preallocated names and lock-free
// states, and calls nothing but the system's removal, sigaction and raise.
#include "interruption.h"

#include <atomic>
#include <cstddef>

namespace spinmap {

namespace {

// A program writes one output at a time; a few more places cost only
// untouched memory.
constexpr int PLACES = 8;

enum place_state : int { FREE, FILLING, ARMED, REMOVING };

std::atomic<int> states[PLACES];
native_char names[PLACES][NATIVE_NAME_ROOM];

static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free states");

}  // namespace

void remove_registered() {
    for (int i = 0; i < PLACES; ++i) {
        int expected = ARMED;
        if (!states[i].compare_exchange_strong(expected, REMOVING)) continue;
        remove_native_file(names[i]);
        states[i].store(ARMED);
    }
}

int register_temporary(const native_char* name) {
    install_handlers();
    std::size_t length = 0;
    while (name[length] != 0) {
        if (++length >= NATIVE_NAME_ROOM) return -1;
    }
    for (int i = 0; i < PLACES; ++i) {
        int expected = FREE;
        if (!states[i].compare_exchange_strong(expected, FILLING)) continue;
        for (std::size_t k = 0; k <= length; ++k) names[i][k] = name[k];
        states[i].store(ARMED);
        return i;
    }
    return -1;
}

void forget_temporary(int registration) {
    if (registration < 0 || registration >= PLACES) return;
    for (;;) {
        int expected = ARMED;
        if (states[registration].compare_exchange_strong(expected, FREE)) return;
        // A handler on another thread is reading the name; the program ends
        // as soon as it is done.
        let_handler_run();
    }
}

}  // namespace spinmap
