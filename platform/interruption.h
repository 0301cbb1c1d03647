// Removal of output temporaries when the program is interrupted. Internal to
// platform/.
//
// A registered temporary is removed by the interruption's handler before the
// program ends: SIGINT, SIGTERM and SIGHUP on POSIX (each only where its
// action was the default one, so an ignored signal stays ignored), Ctrl-C,
// Ctrl-Break and closing the console on Windows. The program then ends as the
// interruption ends it.
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

namespace spinmap {

#ifdef _WIN32
using native_char = wchar_t;
#else
using native_char = char;
#endif

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
#ifndef _WIN32
    sigset_t previous_{};
#endif
};

// Registers a temporary's name (zero-terminated) for removal on an
// interruption, installing the handlers on first use. The registration, or
// -1 when the name is too long or every place is taken.
int register_temporary(const native_char* name);

// Forgets a registration once its temporary was renamed or removed; -1 is
// ignored.
void forget_temporary(int registration);

}  // namespace spinmap
