// Shared pieces of the reliability sweeps: allocation hooks that count,
// track live blocks and fail on request; stderr capture around an in-process
// run; and directory listings.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/app.h"
#include "matrix/matrix.h"

namespace spinmap {

// Counts calls through the matrix allocation hooks while installed; the
// fail_at-th call (1-based; 0 never) returns null.
struct alloc_tracker {
    long calls = 0;
    long fail_at = 0;
    std::size_t largest = 0;  // largest single request
    long foreign_frees = 0;   // frees of blocks this tracker did not hand out
    std::unordered_map<void*, std::size_t> live;

    static alloc_tracker*& current() {
        static alloc_tracker* tracker = nullptr;
        return tracker;
    }

    // True when this call is the one to fail.
    bool take_call(std::size_t bytes) {
        ++calls;
        largest = std::max(largest, bytes);
        return calls == fail_at;
    }

    static void* on_malloc(std::size_t bytes) {
        alloc_tracker& t = *current();
        if (t.take_call(bytes)) return nullptr;
        void* p = std::malloc(bytes);
        if (p != nullptr) t.live[p] = bytes;
        return p;
    }
    static void* on_calloc(std::size_t count, std::size_t size) {
        alloc_tracker& t = *current();
        if (t.take_call(count * size)) return nullptr;
        void* p = std::calloc(count, size);
        if (p != nullptr) t.live[p] = count * size;
        return p;
    }
    static void* on_realloc(void* old, std::size_t bytes) {
        alloc_tracker& t = *current();
        if (t.take_call(bytes)) return nullptr;
        void* p = std::realloc(old, bytes);
        if (p != nullptr) {
            if (old != nullptr && t.live.erase(old) == 0) ++t.foreign_frees;
            t.live[p] = bytes;
        }
        return p;
    }
    static void on_free(void* p) {
        alloc_tracker& t = *current();
        if (p != nullptr && t.live.erase(p) == 0) ++t.foreign_frees;
        std::free(p);
    }
};

// Installs a tracker's hooks for its lifetime and restores the previous ones.
class tracked_allocations {
public:
    explicit tracked_allocations(alloc_tracker* tracker)
        : malloc_(malloc_hook), realloc_(realloc_hook), calloc_(calloc_hook), free_(free_hook) {
        alloc_tracker::current() = tracker;
        malloc_hook = alloc_tracker::on_malloc;
        realloc_hook = alloc_tracker::on_realloc;
        calloc_hook = alloc_tracker::on_calloc;
        free_hook = alloc_tracker::on_free;
    }
    ~tracked_allocations() {
        malloc_hook = malloc_;
        realloc_hook = realloc_;
        calloc_hook = calloc_;
        free_hook = free_;
        alloc_tracker::current() = nullptr;
    }
    tracked_allocations(const tracked_allocations&) = delete;
    tracked_allocations& operator=(const tracked_allocations&) = delete;

private:
    malloc_fn malloc_;
    realloc_fn realloc_;
    calloc_fn calloc_;
    free_fn free_;
};

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

// The names in a directory, sorted.
inline std::vector<std::string> dir_entries(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The exact two-line shape of every error report.
inline bool is_clean_error(const std::string& err) {
    const std::string head = "Spinmap\nERROR: ";
    return err.size() > head.size() + 1 && err.compare(0, head.size(), head) == 0 && err.back() == '\n';
}

}  // namespace spinmap
