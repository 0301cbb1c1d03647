// Work on the rows of one frame split into bands over a few threads.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "platform.h"

namespace spinmap {

namespace {

// The count set by u_set_thread_count; 0 while none is.
std::atomic<int> forced_count{0};

// A whole number from 1 up, nothing else; larger ones stop at MOST_THREADS.
int parse_thread_count(const char* text) {
    if (text == nullptr || *text == '\0') return 0;
    int count = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return 0;
        count = std::min(count * 10 + (*p - '0'), MOST_THREADS);
    }
    return count;
}

int default_thread_count() {
    const int from_environment = parse_thread_count(std::getenv("SPINMAP_THREADS"));
    if (from_environment > 0) return from_environment;
    return std::clamp(u_processors_available(), 1, MOST_THREADS);
}

// Runs every band of its share on the calling thread: bands first .. last-1
// of `count`.
void run_share(int items, int count, int first, int last, band_work work, void* context) {
    for (int b = first; b < last; ++b) {
        const int lo = static_cast<int>(int64_t{items} * b / count);
        const int hi = static_cast<int>(int64_t{items} * (b + 1) / count);
        if (lo < hi) work(context, lo, hi);
    }
}

}  // namespace

int u_thread_count() {
    const int forced = forced_count.load(std::memory_order_relaxed);
    if (forced > 0) return forced;
    static const int count = default_thread_count();
    return count;
}

void u_set_thread_count(int count) {
    forced_count.store(std::clamp(count, 0, MOST_THREADS), std::memory_order_relaxed);
}

void u_run_in_bands(int items, int64_t work_per_item, band_work work, void* context) {
    if (items <= 0) return;
    // A forced count holds for every size, so that tests split small frames.
    const int forced = forced_count.load(std::memory_order_relaxed);
    const int64_t total = int64_t{items} * std::max<int64_t>(work_per_item, 1);
    const int64_t by_work = forced > 0 ? forced : std::max<int64_t>(total / BAND_WORK_MIN, 1);
    const int count = static_cast<int>(std::min<int64_t>({u_thread_count(), by_work, items}));
    if (count == 1) {
        work(context, 0, items);
        return;
    }
    // Band 0 stays on the calling thread; each other band gets a thread, and
    // the bands of any thread that cannot start run here too.
    std::thread helpers[MOST_THREADS];
    int started = 1;
    for (; started < count; ++started) {
        try {
            helpers[started] = std::thread(run_share, items, count, started, started + 1, work, context);
        } catch (...) {
            break;
        }
    }
    run_share(items, count, 0, 1, work, context);
    run_share(items, count, started, count, work, context);
    for (int t = 1; t < started; ++t) helpers[t].join();
}

}  // namespace spinmap
