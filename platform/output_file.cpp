// Safe output files: write a temporary beside the target, then rename it
// over. What both systems share is here; how each makes, commits and
// discards the temporary is its own (posix/output_file.cpp,
// windows/output_file.cpp).
#include <spinmap/platform/platform.h>
#include "interruption.h"
#include "system.h"

namespace spinmap {

output_step_hook u_output_step_hook = nullptr;

namespace {

void reset(output_file* out) { *out = output_file{}; }

}  // namespace

bool step_allowed(output_step step) { return u_output_step_hook == nullptr || u_output_step_hook(step); }

void forget_interruption_place(output_file* out) {
    forget_temporary(out->interruption_place);
    out->interruption_place = -1;
}

bool u_output_open(std::string_view path, output_file* out, bool durable) {
    reset(out);
    out->durable = durable;
    const bool ok = open_output(path, out);
    if (!ok) {
        reset(out);
        return false;
    }
    out->file_size_signal_ignored = ignore_file_size_signal();
    return true;
}

bool u_output_commit(output_file* out) {
    if (out->stream == nullptr) return false;
    const bool restore = out->file_size_signal_ignored;
    const bool ok = commit_output(out);
    if (restore) restore_file_size_signal();
    reset(out);
    return ok;
}

void u_output_discard(output_file* out) {
    const bool restore = out->file_size_signal_ignored;
    discard_output(out);
    if (restore) restore_file_size_signal();
    reset(out);
}

}  // namespace spinmap
