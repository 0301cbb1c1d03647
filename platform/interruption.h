// Removal of output temporaries when the program is interrupted, the hold of
// the interruptions across a commit, and the file size signal while an
// output is written. Internal to platform/.
//
// A registered temporary is removed by the interruption's handler before the
// program ends: SIGINT, SIGTERM and SIGHUP on POSIX (each only where its
// action was the default one, so an ignored signal stays ignored), Ctrl-C,
// Ctrl-Break and closing the console on Windows. The program then ends as the
// interruption ends it.
#pragma once

#include "native.h"

namespace spinmap {

// Holds off the interruptions for its lifetime, so that a temporary is made
// and registered as one step. (Windows delivers them on a thread of their
// own and cannot hold them off; there a temporary is registered before it is
// made, and its name is its process's own.)
class interruptions_held {
public:
    interruptions_held();
    ~interruptions_held();
    interruptions_held(const interruptions_held&) = delete;
    interruptions_held& operator=(const interruptions_held&) = delete;

private:
    held_signals previous_{};
};

// Holds off the interruptions across a commit, the point of no return, for
// its lifetime. One that arrives meanwhile and would have ended the program
// (its action the default one, or the removal of temporaries) is dropped when
// the hold ends, so that the program finishes the commit and reports it; one
// that the program handles itself, or had blocked itself, is left pending.
// On Windows the console handler waits for the commit to end and then lets
// the program go on after Ctrl-C or Ctrl-Break (closing the console still
// ends it, once the commit is done); an interruption already under way when
// the commit would begin ends the program there, before anything is renamed.
class commit_held {
public:
    commit_held();
    ~commit_held();
    commit_held(const commit_held&) = delete;
    commit_held& operator=(const commit_held&) = delete;

private:
    held_signals previous_{};
};

// While an output is open: a write past the file size limit is to fail
// (EFBIG) instead of ending the program by SIGXFSZ. True when the signal's
// action was the default one and is now ignored; a program's own action is
// left alone (false). Nothing to do on Windows.
bool ignore_file_size_signal();
// Gives SIGXFSZ its default action back (after ignore_file_size_signal
// returned true).
void restore_file_size_signal();

// Registers a temporary's name (zero-terminated) for removal on an
// interruption, installing the handlers on first use. The registration, or
// -1 when the name is too long or every place is taken.
int register_temporary(const native_char* name);

// Forgets a registration once its temporary was renamed or removed; -1 is
// ignored.
void forget_temporary(int registration);

// ---- Between the registrations (interruption.cpp) and each system's handlers

// Removes every registered temporary; safe inside a signal handler.
void remove_registered();

// Removes a file by its system name; safe inside a signal handler.
void remove_native_file(const native_char* name);

// Installs the handlers that remove the registered temporaries.
void install_handlers();

// Lets a handler that is reading a registered name on another thread finish.
void let_handler_run();

}  // namespace spinmap
