// Allocation-failure sweep: a whole rotation run is repeated with each of its
// allocations failing in turn. Every such run must report ERR_NO_MEM in the
// message of the step that failed, keep the input as it was, leave no output
// or temporary file behind, and release every block it obtained.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sweep_support.h"
#include "support.h"

namespace spinmap {
namespace {

using namespace test;

const std::vector<std::string> NO_MEM_MESSAGES = {
    "Spinmap\nERROR: Error reading input data file: ERR_NO_MEM\n",
    "Spinmap\nERROR: ERR_NO_MEM\n",
    "Spinmap\nERROR: Error writing output data file: ERR_NO_MEM\n",
};

struct sweep_case {
    const char* name;
    double angle;
    bool one_file;  // the output replaces the input
};

const sweep_case SWEEPS[] = {
    {"30 degrees, two files", 30, false},
    {"90 degrees, two files", 90, false},
    {"30 degrees, one file", 30, true},
    {"90 degrees, one file", 90, true},
};

TEST(AllocSweep, EveryFailedAllocationEndsTheRunCleanly) {
    long cases = 0;
    for (const sweep_case& c : SWEEPS) {
        SCOPED_TRACE(c.name);
        scratch_folder dir;
        const std::string input = dir.file("in.dat");
        const tool_output made = run_sample({"-Camera", "16x12", "-Buckets", "2", input});
        ASSERT_EQ(made.exit_status, 0) << made.err;
        const std::optional<std::string> original = read_file(input);
        ASSERT_TRUE(original);
        const std::string output = c.one_file ? input : dir.file("out.dat");

        // The counting run: it succeeds and releases everything.
        allocation_log counting;
        {
            allocation_hooks hooks(&counting);
            const captured_run r = rotate_captured(input, output, c.angle);
            ASSERT_TRUE(r.ok) << r.err;
        }
        EXPECT_TRUE(counting.live.empty());
        ASSERT_GT(counting.calls, 2);
        if (!c.one_file) std::remove(output.c_str());
        ASSERT_TRUE(write_file(input, *original));

        std::vector<bool> message_seen(NO_MEM_MESSAGES.size(), false);
        for (long k = 1; k <= counting.calls; ++k) {
            SCOPED_TRACE("failing allocation " + std::to_string(k));
            allocation_log failing;
            failing.fail_at = k;
            captured_run r;
            {
                allocation_hooks hooks(&failing);
                r = rotate_captured(input, output, c.angle);
            }
            ++cases;
            EXPECT_FALSE(r.ok);
            bool known = false;
            for (std::size_t m = 0; m < NO_MEM_MESSAGES.size(); ++m) {
                if (r.err == NO_MEM_MESSAGES[m]) message_seen[m] = known = true;
            }
            EXPECT_TRUE(known) << r.err;
            EXPECT_TRUE(failing.live.empty()) << failing.live.size() << " blocks not released";
            EXPECT_EQ(failing.foreign_frees, 0);
            EXPECT_EQ(read_file(input), original);
            EXPECT_EQ(dir.names(), std::vector<std::string>{"in.dat"});
        }
        // Reading, rotating and writing each allocate, so each message shows.
        for (std::size_t m = 0; m < NO_MEM_MESSAGES.size(); ++m) {
            EXPECT_TRUE(message_seen[m]) << NO_MEM_MESSAGES[m];
        }
    }
    std::printf("allocation-failure sweep: %ld cases\n", cases);
}

}  // namespace
}  // namespace spinmap
