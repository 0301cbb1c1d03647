// The temporaries an interruption removes, and the handlers that remove them.
//
// The handler may run at any point of the program (POSIX) or beside it on
// another thread (Windows), so it reads only preallocated names and lock-free
// states, and calls nothing but the system's removal, sigaction and raise.
#include "interruption.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <sched.h>
#include <unistd.h>
#endif

namespace spinmap {

namespace {

// A program writes one output at a time; a few more places cost only
// untouched memory.
constexpr int PLACES = 8;
#ifdef _WIN32
constexpr std::size_t NAME_ROOM = 32768;  // the longest wide path and its end
#else
constexpr std::size_t NAME_ROOM = PATH_MAX;  // the longest path a call takes, its end included
#endif

enum place_state : int { FREE, FILLING, ARMED, REMOVING };

std::atomic<int> states[PLACES];
native_char names[PLACES][NAME_ROOM];

static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free states");

// Removes every registered temporary; safe inside a signal handler.
void remove_registered() {
    for (int i = 0; i < PLACES; ++i) {
        int expected = ARMED;
        if (!states[i].compare_exchange_strong(expected, REMOVING)) continue;
#ifdef _WIN32
        DeleteFileW(names[i]);
#else
        unlink(names[i]);
#endif
        states[i].store(ARMED);
    }
}

#ifdef _WIN32

BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) remove_registered();
    return FALSE;  // the next handler, the system's own, ends the program as the event does
}

void install_handlers() {
    static std::atomic<bool> installed{false};
    if (!installed.exchange(true)) SetConsoleCtrlHandler(on_console_event, TRUE);
}

void let_handler_run() { Sleep(1); }

#else

constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t handled_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : SIGNALS) sigaddset(&set, s);
    return set;
}

extern "C" void on_interruption(int signal_number) {
    const int saved_errno = errno;
    remove_registered();
    // Ends the program as the signal does by default, so that the shell
    // sees the interruption: the signal stays pending until this returns.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    raise(signal_number);
    errno = saved_errno;
}

// Looked at again for each temporary, since the program may have changed an
// action since the last one.
void install_handlers() {
    struct sigaction action {};
    action.sa_handler = on_interruption;
    action.sa_mask = handled_signals();
    action.sa_flags = SA_RESTART;
    for (int s : SIGNALS) {
        struct sigaction current {};
        if (sigaction(s, nullptr, &current) != 0) continue;
        // An ignored signal stays ignored (nohup, a background job), and a
        // handler the program set itself stays in place.
        if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
        sigaction(s, &action, nullptr);
    }
}

void let_handler_run() { sched_yield(); }

#endif

}  // namespace

#ifdef _WIN32
interruptions_held::interruptions_held() = default;
interruptions_held::~interruptions_held() = default;
#else
interruptions_held::interruptions_held() {
    const sigset_t set = handled_signals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
}
interruptions_held::~interruptions_held() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
#endif

int register_temporary(const native_char* name) {
    install_handlers();
    std::size_t length = 0;
    while (name[length] != 0) {
        if (++length >= NAME_ROOM) return -1;
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
