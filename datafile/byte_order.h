// Conversion between the big-endian order of data files and host order.
// Internal to the data file layer. Every conversion is its own inverse: the
// same call turns file order into host order and back. On a big-endian host
// nothing is reversed.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace spinmap {

inline constexpr bool HOST_IS_BIG_ENDIAN = std::endian::native == std::endian::big;

constexpr uint16_t reverse_bytes(uint16_t v) { return static_cast<uint16_t>(v >> 8 | v << 8); }

constexpr uint32_t reverse_bytes(uint32_t v) {
    return v >> 24 | (v >> 8 & 0x0000FF00u) | (v << 8 & 0x00FF0000u) | v << 24;
}

// Each element between big-endian and host order, in place. Tight loops over
// whole blocks, which the compiler vectorises.
inline void big_endian_in_place(uint16_t* values, std::size_t count) {
    if constexpr (!HOST_IS_BIG_ENDIAN) {
        for (std::size_t i = 0; i < count; ++i) values[i] = reverse_bytes(values[i]);
    }
}

inline void big_endian_in_place(int32_t* values, std::size_t count) {
    if constexpr (!HOST_IS_BIG_ENDIAN) {
        for (std::size_t i = 0; i < count; ++i) {
            values[i] = static_cast<int32_t>(reverse_bytes(static_cast<uint32_t>(values[i])));
        }
    }
}

// A 32-bit value held big-endian in four bytes.
constexpr uint32_t load_big_endian_32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | uint32_t{bytes[3]};
}

}  // namespace spinmap
