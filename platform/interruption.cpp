// The temporaries an interruption removes, the handlers that remove them,
// the holds of the interruptions while a temporary is made and across a
// commit, and the file size signal while an output is open.
//
// The handler may run at any point of the program (POSIX) or beside it on
// another thread (Windows), so it reads only preallocated names and lock-free
// states, and calls nothing but the system's removal, sigaction and raise.
#include "interruption.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <optional>

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

// Whether a commit is under way, or an interruption is ending the program;
// whichever comes first decides: a commit never begins once an
// interruption is ending the program, and an interruption waits for a
// commit under way.
enum commit_phase : int { IDLE, COMMITTING, ENDING };
std::atomic<int> phase{IDLE};

BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    for (;;) {
        int expected = IDLE;
        if (phase.compare_exchange_strong(expected, ENDING)) {
            remove_registered();
            return FALSE;  // the next handler, the system's own, ends the program as the event does
        }
        if (expected == ENDING) return FALSE;  // another event is ending it already
        while (phase.load() == COMMITTING) Sleep(1);
        // The commit went through and the program goes on to report it;
        // closing the console ends it all the same.
        if (event != CTRL_CLOSE_EVENT) return TRUE;
    }
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

// Gives a signal the default action, or has it ignored; safe inside a
// signal handler.
bool set_plain_action(int signal_number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    return sigaction(signal_number, &action, nullptr) == 0;
}

// The signal's action, when it is a plain one (no SA_SIGINFO handler).
std::optional<struct sigaction> plain_action(int signal_number) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0) return std::nullopt;
    return current;
}

extern "C" void on_interruption(int signal_number) {
    const int saved_errno = errno;
    remove_registered();
    // Ends the program as the signal does by default, so that the shell
    // sees the interruption: the signal stays pending until this returns.
    set_plain_action(signal_number, SIG_DFL);
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
        // An ignored signal stays ignored (nohup, a background job), and a
        // handler the program set itself stays in place.
        const std::optional<struct sigaction> current = plain_action(s);
        if (current && current->sa_handler == SIG_DFL) sigaction(s, &action, nullptr);
    }
}

void let_handler_run() { sched_yield(); }

#endif

}  // namespace

#ifdef _WIN32
interruptions_held::interruptions_held() = default;
interruptions_held::~interruptions_held() = default;

commit_held::commit_held() {
    int expected = IDLE;
    if (phase.compare_exchange_strong(expected, COMMITTING)) return;
    // An interruption came first: its handler removes the temporary and
    // ends the program, which waits here for it.
    for (;;) Sleep(INFINITE);
}
commit_held::~commit_held() { phase.store(IDLE); }

bool ignore_file_size_signal() { return false; }
void restore_file_size_signal() {}
#else
interruptions_held::interruptions_held() {
    const sigset_t set = handled_signals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
}
interruptions_held::~interruptions_held() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

commit_held::commit_held() {
    const sigset_t set = handled_signals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
}

commit_held::~commit_held() {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    for (int s : SIGNALS) {
        // Blocked by the program itself: its business.
        if (!sigismember(&pending, s) || sigismember(&previous_, s)) continue;
        const std::optional<struct sigaction> current = plain_action(s);
        if (!current || (current->sa_handler != SIG_DFL && current->sa_handler != on_interruption)) continue;
        // Ignoring a pending signal drops it; then its action is put back.
        set_plain_action(s, SIG_IGN);
        sigaction(s, &*current, nullptr);
    }
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

bool ignore_file_size_signal() {
    const std::optional<struct sigaction> current = plain_action(SIGXFSZ);
    return current && current->sa_handler == SIG_DFL && set_plain_action(SIGXFSZ, SIG_IGN);
}

void restore_file_size_signal() { set_plain_action(SIGXFSZ, SIG_DFL); }
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
