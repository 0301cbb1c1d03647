// Helpers shared by the matrix tests: literal height matrices and replaceable
// allocation hooks.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include "matrix/matrix.h"

namespace spinmap::test {

inline constexpr int32_t I = INVALID_HEIGHT;

// A height matrix over w, released when the test ends.
struct HeightMatrix {
    height_matrix m;

    // `values` row by row, or all zero when the list is empty.
    HeightMatrix(window w, std::initializer_list<int32_t> values) {
        matrix_clear(&m);
        m.window = w;
        EXPECT_EQ(matrix_alloc(&m), 0);
        if (m.matrix == nullptr) return;
        std::fill(m.matrix, m.matrix + m.size, 0);
        if (values.size() == 0) return;
        EXPECT_EQ(values.size(), m.size);
        if (values.size() == m.size) std::copy(values.begin(), values.end(), m.matrix);
    }
    ~HeightMatrix() { matrix_free(&m); }
    HeightMatrix(const HeightMatrix&) = delete;
    HeightMatrix& operator=(const HeightMatrix&) = delete;

    // The elements of the window (a trimmed array holds more).
    std::vector<int32_t> values() const {
        return std::vector<int32_t>(m.matrix, m.matrix + std::size_t(m.window.width) * m.window.height);
    }
};

// Counts the calls of the hooks installed by MallocHookGuard.
inline int malloc_calls = 0;
inline std::size_t last_malloc_bytes = 0;

inline void* counting_malloc(std::size_t bytes) {
    ++malloc_calls;
    last_malloc_bytes = bytes;
    return std::malloc(bytes);
}

inline void* failing_malloc(std::size_t bytes) {
    ++malloc_calls;
    last_malloc_bytes = bytes;
    return nullptr;
}

// Installs a malloc hook for one scope and restores the previous one after.
class MallocHookGuard {
public:
    explicit MallocHookGuard(malloc_fn hook) : saved_(malloc_hook) {
        malloc_calls = 0;
        last_malloc_bytes = 0;
        malloc_hook = hook;
    }
    ~MallocHookGuard() { malloc_hook = saved_; }
    MallocHookGuard(const MallocHookGuard&) = delete;
    MallocHookGuard& operator=(const MallocHookGuard&) = delete;

private:
    malloc_fn saved_;
};

}  // namespace spinmap::test

namespace spinmap {
// Lets gtest print windows in failure messages.
inline void PrintTo(const window& w, std::ostream* os) {
    *os << "(" << w.x << ", " << w.y << ", " << w.width << ", " << w.height << ")";
}
inline bool operator==(const window& a, const window& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
}  // namespace spinmap
