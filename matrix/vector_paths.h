// Which vector paths the build compiles, decided here and nowhere else.
//
// SPINMAP_SSE2: the 128-bit paths of the byte swaps, the valid-point scans
// and both rotation kernels. Every x86-64 compiler offers SSE2; a build
// configured with SPINMAP_VECTOR=OFF (which defines SPINMAP_PLAIN_KERNELS)
// leaves them out, so that the plain paths are compiled and tested too.
#pragma once

#if !defined(SPINMAP_PLAIN_KERNELS) && defined(__SSE2__)
#define SPINMAP_SSE2 1
#endif
