// Shared pieces of the reliability sweeps: stderr capture around an
// in-process run, and the shape of its error report.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/app.h"

namespace spinmap {

struct captured_run {
    bool ok = false;
    std::string err;
};

// run_rotation with the default pivot, its standard error captured.
inline captured_run rotate_captured(const std::string& input, const std::string& output, double angle) {
    testing::internal::CaptureStderr();
    captured_run r;
    run_settings settings;
    settings.input_path = input;
    settings.output_path = output;
    settings.angle = angle;
    r.ok = run_rotation(settings);
    r.err = testing::internal::GetCapturedStderr();
    return r;
}

// The exact two-line shape of every error report.
inline bool is_clean_error(const std::string& err) {
    const std::string head = "Spinmap\nERROR: ";
    return err.size() > head.size() + 1 && err.compare(0, head.size(), head) == 0 && err.back() == '\n';
}

}  // namespace spinmap
