// The correctly rounded sine and cosine on Windows, against the table of hard
// arguments with MPFR's results that the build machine made.
#include <gtest/gtest.h>

#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include <spinmap/transform/transform.h>
#include "trig_cases.h"

namespace spinmap::test {
namespace {

TEST(RoundedSinCos, TableOfHardArgumentsRoundsAsMpfr) {
    // The table lies in the test's working directory, the build folder.
    std::FILE* table = std::fopen("trig_table.txt", "r");
    ASSERT_NE(table, nullptr) << "trig_table.txt is missing";
    uint64_t x = 0, sine = 0, cosine = 0;
    int count = 0, failures = 0;
    while (std::fscanf(table, "%" SCNx64 " %" SCNx64 " %" SCNx64, &x, &sine, &cosine) == 3) {
        ++count;
        const double arg = std::bit_cast<double>(x);
        const bool sine_ok = same_result(rounded_sin(arg), std::bit_cast<double>(sine));
        const bool cosine_ok = same_result(rounded_cos(arg), std::bit_cast<double>(cosine));
        EXPECT_TRUE(sine_ok && cosine_ok) << std::hexfloat << arg;
        if (!(sine_ok && cosine_ok) && ++failures == 10) break;
    }
    std::fclose(table);
    EXPECT_GE(count, 20000);
}

}  // namespace
}  // namespace spinmap::test
