// Conversion between the big-endian order of data files and host order.
// Internal to the data file layer. Every conversion is its own inverse: the
// same call turns file order into host order and back. On a big-endian host
// nothing is reversed.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <spinmap/matrix/vector_paths.h>

#if defined(SPINMAP_SSE2)
#include <emmintrin.h>
#endif

namespace spinmap {

inline constexpr bool HOST_IS_BIG_ENDIAN = std::endian::native == std::endian::big;

constexpr uint16_t reverse_bytes(uint16_t v) { return static_cast<uint16_t>(v >> 8 | v << 8); }

constexpr uint32_t reverse_bytes(uint32_t v) {
    return v >> 24 | (v >> 8 & 0x0000FF00u) | (v << 8 & 0x00FF0000u) | v << 24;
}

// Eight 16-bit or four 32-bit elements at a time where the build has the
// SSE2 path (matrix/vector_paths.h), the same byte moves as reverse_bytes; the loops below finish the
// rest one element at a time.
#if defined(SPINMAP_SSE2)
inline __m128i reverse_bytes_16x8(__m128i v) { return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)); }

inline __m128i reverse_bytes_32x4(__m128i v) {
    v = reverse_bytes_16x8(v);
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
}

// Converts the leading multiple of `lanes` elements from `from` into `to`
// (which may be the same array); returns how many were converted.
template <typename Element>
std::size_t reverse_leading(const Element* from, std::size_t count, Element* to) {
    constexpr std::size_t lanes = 16 / sizeof(Element);
    std::size_t i = 0;
    for (; i + lanes <= count; i += lanes) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        if constexpr (sizeof(Element) == 2) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), reverse_bytes_16x8(v));
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), reverse_bytes_32x4(v));
        }
    }
    return i;
}
#else
template <typename Element>
std::size_t reverse_leading(const Element*, std::size_t, Element*) {
    return 0;
}
#endif

// Each element between big-endian and host order, from one array into
// another of at least count elements, or in place when both are the same,
// or to an earlier place of the same array at least four elements before
// (every element is read before a store reaches it).
inline void big_endian_copy(const uint16_t* from, std::size_t count, uint16_t* to) {
    if constexpr (HOST_IS_BIG_ENDIAN) {
        if (to != from) std::memcpy(to, from, count * sizeof(uint16_t));
    } else {
        for (std::size_t i = reverse_leading(from, count, to); i < count; ++i) to[i] = reverse_bytes(from[i]);
    }
}

inline void big_endian_copy(const int32_t* from, std::size_t count, int32_t* to) {
    if constexpr (HOST_IS_BIG_ENDIAN) {
        if (to != from) std::memcpy(to, from, count * sizeof(int32_t));
    } else {
        for (std::size_t i = reverse_leading(from, count, to); i < count; ++i) {
            to[i] = static_cast<int32_t>(reverse_bytes(static_cast<uint32_t>(from[i])));
        }
    }
}

inline void big_endian_in_place(uint16_t* values, std::size_t count) { big_endian_copy(values, count, values); }

inline void big_endian_in_place(int32_t* values, std::size_t count) { big_endian_copy(values, count, values); }

// A 32-bit value held big-endian in four bytes.
constexpr uint32_t load_big_endian_32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | uint32_t{bytes[3]};
}

}  // namespace spinmap
