// Helpers shared by the matrix tests: literal height matrices, and windows
// that gtest compares and prints.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include <spinmap/matrix/matrix.h>
#include "support.h"

namespace spinmap::test {

inline constexpr int32_t I = INVALID_HEIGHT;

// A height matrix over w, released when the test ends.
struct HeightMatrix {
    owned_height m;

    // `values` row by row, or all zero when the list is empty.
    HeightMatrix(window w, std::initializer_list<int32_t> values) {
        m.window = w;
        EXPECT_EQ(matrix_alloc(&m), 0);
        if (m.matrix == nullptr) return;
        std::fill(m.matrix, m.matrix + m.size, 0);
        if (values.size() == 0) return;
        EXPECT_EQ(values.size(), m.size);
        if (values.size() == m.size) std::copy(values.begin(), values.end(), m.matrix);
    }

    // The elements of the window (a trimmed array holds more).
    std::vector<int32_t> values() const {
        return std::vector<int32_t>(m.matrix, m.matrix + std::size_t(m.window.width) * m.window.height);
    }
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
