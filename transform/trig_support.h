// The constants and the working width of the correctly rounded sine and
// cosine (trig.cpp), open to their tests. Internal to transform/.
#pragma once

#include <cstdint>

namespace spinmap {

// Bits of 2/pi after the binary point, most significant word first: enough
// for the largest double's exponent and the widest fixed-point sum.
inline constexpr uint64_t TWO_OVER_PI[40] = {
    0xa2f9836e4e441529, 0xfc2757d1f534ddc0, 0xdb6295993c439041, 0xfe5163abdebbc561, 0xb7246e3a424dd2e0,
    0x06492eea09d1921c, 0xfe1deb1cb129a73e, 0xe88235f52ebb4484, 0xe99c7026b45f7e41, 0x3991d639835339f4,
    0x9c845f8bbdf9283b, 0x1ff897ffde05980f, 0xef2f118b5a0a6d1f, 0x6d367ecf27cb09b7, 0x4f463f669e5fea2d,
    0x7527bac7ebe5f17b, 0x3d0739f78a5292ea, 0x6bfb5fb11f8d5d08, 0x56033046fc7b6bab, 0xf0cfbc209af4361d,
    0xa9e391615ee61b08, 0x6599855f14a06840, 0x8dffd8804d732731, 0x06061556ca73a8c9, 0x60e27bc08c6b47c4,
    0x19c367cddce8092a, 0x8359c4768b961ca6, 0xddaf44d15719053e, 0xa5ff07053f7e33e8, 0x32c2de4f98327dbb,
    0xc33d26ef6b1e5ef8, 0x9f3a1f35caf27f1d, 0x87f121907c7c246a, 0xfa6ed5772d30433b, 0x15c614b59d19c3c2,
    0xc4ad414d2c5d000c, 0x467d862d71e39ac6, 0x9b0062337cd2b497, 0xa7b4d55537f63ed7, 0x1810a3fc764d2a9d,
};

// Bits of pi/2 - 1 after the binary point, most significant word first.
inline constexpr uint64_t HALF_PI_MINUS_ONE[16] = {
    0x921fb54442d18469, 0x898cc51701b839a2, 0x52049c1114cf98e8, 0x04177d4c76273644,
    0xa29410f31c6809bb, 0xdf2a33679a748636, 0x605614dbe4be286e, 0x9fc26adadaa3848b,
    0xc90b6aecc4bcfd8d, 0xe89885d34c6fdad6, 0x17feb96de80d6fdb, 0xdc70d7f6b5133f4b,
    0x5d3e4822f8963fcc, 0x9250cca3d9c8b67b, 0x8400f97142c77e0b, 0x31b4906c38aba734,
};

// sin x (cosine false) or cos x, rounded correctly, the fixed-point sums
// starting at `words` 64-bit words (2 to 16) and widening as needed; the
// public functions start at 2.
double rounded_sin_cos(double x, bool cosine, int words);

}  // namespace spinmap
