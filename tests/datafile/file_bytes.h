// Helpers for the data file tests: header bytes written at their offsets,
// streams holding given bytes, and counting allocation hooks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "datafile/datafile.h"

namespace spinmap::test {

using bytes = std::vector<uint8_t>;

inline void put16(bytes& b, std::size_t offset, uint16_t v) {
    b[offset] = static_cast<uint8_t>(v >> 8);
    b[offset + 1] = static_cast<uint8_t>(v);
}

inline void put32(bytes& b, std::size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

inline void put_float(bytes& b, std::size_t offset, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    put32(b, offset, v);
}

inline uint32_t get32(const bytes& b, std::size_t offset) {
    return uint32_t{b[offset]} << 24 | uint32_t{b[offset + 1]} << 16 | uint32_t{b[offset + 2]} << 8 | b[offset + 3];
}

inline uint16_t get16(const bytes& b, std::size_t offset) {
    return static_cast<uint16_t>(b[offset] << 8 | b[offset + 1]);
}

// A header of the length the magic announces, all zero but the magic.
inline bytes header_bytes(uint32_t magic) {
    bytes b(magic == MAGIC_FORMAT_3 ? LONG_HEADER_BYTES : SHORT_HEADER_BYTES, 0);
    put32(b, 0, magic);
    return b;
}

inline void append(bytes& b, const bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// A seekable stream holding the bytes, positioned at its start.
inline file_ptr stream_of(const bytes& content) {
    file_ptr f(std::tmpfile());
    if (!content.empty()) std::fwrite(content.data(), 1, content.size(), f.get());
    std::rewind(f.get());
    return f;
}

// Everything the stream holds, from its start.
inline bytes content_of(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    bytes all;
    uint8_t chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) all.insert(all.end(), chunk, chunk + n);
    return all;
}

// Allocation hooks that count calls and can be told to fail; restored on
// destruction.
class counting_hooks {
public:
    counting_hooks() {
        saved_malloc_ = malloc_hook;
        saved_free_ = free_hook;
        state() = {};
        malloc_hook = [](std::size_t n) -> void* {
            ++state().allocations;
            if (n > state().largest) state().largest = n;
            return state().fail ? nullptr : std::malloc(n);
        };
        free_hook = [](void* p) {
            if (p != nullptr) ++state().releases;
            std::free(p);
        };
    }
    ~counting_hooks() {
        malloc_hook = saved_malloc_;
        free_hook = saved_free_;
    }
    void fail_allocations() { state().fail = true; }
    int allocations() const { return state().allocations; }
    int releases() const { return state().releases; }
    std::size_t largest() const { return state().largest; }

private:
    struct counts {
        int allocations;
        int releases;
        std::size_t largest;
        bool fail;
    };
    static counts& state() {
        static counts c{};
        return c;
    }
    malloc_fn saved_malloc_;
    free_fn saved_free_;
};

}  // namespace spinmap::test
