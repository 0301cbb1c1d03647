// CRC-32 and MD5, the two checksums the x3p container needs.
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "export/export.h"

namespace spinmap {

namespace {

constexpr std::array<uint32_t, 256> CRC_TABLE = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

// MD5's additive constants, floor(|sin(i + 1)| x 2^32), and rotations.
constexpr uint32_t MD5_K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
constexpr int MD5_SHIFT[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr uint32_t rotate_left(uint32_t x, int n) { return x << n | x >> (32 - n); }

uint32_t little_endian_32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

uint32_t crc32_update(uint32_t crc, std::span<const uint8_t> bytes) {
    uint32_t c = ~crc;
    for (const uint8_t b : bytes) c = CRC_TABLE[(c ^ b) & 0xFF] ^ (c >> 8);
    return ~c;
}

void md5_hash::compress(const uint8_t* block) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) m[i] = little_endian_32(block + 4 * i);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f = 0;
        int g = 0;
        switch (round) {
            case 0: f = (b & c) | (~b & d); g = i; break;
            case 1: f = (d & b) | (~d & c); g = (5 * i + 1) % 16; break;
            case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
            default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
        }
        const uint32_t next = b + rotate_left(a + f + MD5_K[i] + m[g], MD5_SHIFT[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void md5_hash::update(std::span<const uint8_t> bytes) {
    std::size_t used = length_ % 64;
    length_ += bytes.size();
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), 64 - used);
        std::memcpy(pending_.data() + used, bytes.data(), take);
        bytes = bytes.subspan(take);
        used += take;
        if (used == 64) {
            compress(pending_.data());
            used = 0;
        }
    }
}

std::array<uint8_t, 16> md5_hash::finish() {
    const uint64_t bits = length_ * 8;
    // A one bit, zeros up to 56 bytes of the last block, the length.
    const uint8_t one = 0x80;
    update({&one, 1});
    const uint8_t zero = 0;
    while (length_ % 64 != 56) update({&zero, 1});
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(bits >> (8 * i));
    update(length);
    std::array<uint8_t, 16> digest{};
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(state_[i / 4] >> (8 * (i % 4)));
    return digest;
}

std::string hex_text(std::span<const uint8_t> bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const uint8_t b : bytes) {
        text += DIGITS[b >> 4];
        text += DIGITS[b & 0xF];
    }
    return text;
}

}  // namespace spinmap
