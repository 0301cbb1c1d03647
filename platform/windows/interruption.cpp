// The Windows console handler of Ctrl-C, Ctrl-Break and closing the console
// that removes the registered temporaries, and the hold across a commit.
// Windows has no file size signal.
#include "../interruption.h"

#include <atomic>

#include <windows.h>

namespace spinmap {

namespace {

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

}  // namespace

void remove_native_file(const native_char* name) { DeleteFileW(name); }

void install_handlers() {
    static std::atomic<bool> installed{false};
    if (!installed.exchange(true)) SetConsoleCtrlHandler(on_console_event, TRUE);
}

void let_handler_run() { Sleep(1); }

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

}  // namespace spinmap
