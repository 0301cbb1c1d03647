// Writes the hard arguments with MPFR's sine and cosine, one line each: the
// bits of x, sin x and cos x in hexadecimal. Run on the build machine for the
// Windows tests.
#include <cinttypes>
#include <bit>
#include <cstdio>

#include "trig_cases.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trig_table OUTPUT\n");
        return 1;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    using spinmap::test::reference_sin_cos;
    for (double x : spinmap::test::hard_trig_arguments()) {
        std::fprintf(out, "%016" PRIx64 " %016" PRIx64 " %016" PRIx64 "\n", std::bit_cast<uint64_t>(x),
                     std::bit_cast<uint64_t>(reference_sin_cos(x, false)),
                     std::bit_cast<uint64_t>(reference_sin_cos(x, true)));
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
