// The POSIX handlers of SIGINT, SIGTERM and SIGHUP that remove the registered
// temporaries, the holds of those signals, and SIGXFSZ while an output is
// open.
#include "../interruption.h"

#include <cerrno>
#include <optional>

#include <sched.h>
#include <unistd.h>

namespace spinmap {

namespace {

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

}  // namespace

void remove_native_file(const native_char* name) { unlink(name); }

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

}  // namespace spinmap
