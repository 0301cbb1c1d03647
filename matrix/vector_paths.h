// Which vector paths the build compiles, decided here and nowhere else.
//
// SPINMAP_SSE2: the 128-bit paths of the byte swaps, the valid-point scans
// and both rotation kernels. Every x86-64 compiler offers SSE2; a build
// configured with SPINMAP_VECTOR=OFF (which defines SPINMAP_PLAIN_KERNELS)
// leaves them out, so that the plain paths are compiled and tested too.
//
// SPINMAP_WIDE_LANES: beside the SSE2 path, interpolation kernels with
// 256-bit (AVX2) and 512-bit (AVX-512) lanes, compiled through function
// target attributes and chosen at run time by what the processor offers.
#pragma once

#if !defined(SPINMAP_PLAIN_KERNELS) && defined(__SSE2__)
#define SPINMAP_SSE2 1
#if defined(__x86_64__) && defined(__GNUC__)
#define SPINMAP_WIDE_LANES 1
#endif
#endif
