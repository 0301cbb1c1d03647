// Truncation, corruption, write-failure and hostile-size sweeps of the
// rotation run. Whatever the input, the run either succeeds or ends with one
// clean "Spinmap\nERROR: ..." report; it never crashes or hangs, never
// changes the input, and leaves no partial output or temporary behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <spinmap/datafile/datafile.h>
#include "sweep_support.h"
#include "support.h"

namespace spinmap {
namespace {

using namespace test;

std::string make_sample_bytes(const scratch_folder& dir, const std::vector<std::string>& options) {
    const std::string path = dir.file("sample.dat");
    std::vector<std::string> args = options;
    args.push_back(path);
    const tool_output made = run_sample(args);
    EXPECT_EQ(made.exit_status, 0) << made.err;
    std::optional<std::string> bytes = read_file(path);
    std::remove(path.c_str());
    return bytes.value_or("");
}

// Small camera with one intensity frame, in the given header format.
std::string small_sample(const scratch_folder& dir, int format) {
    return make_sample_bytes(dir, {"-Camera", "8x6", "-Buckets", "1", "-Format", std::to_string(format)});
}

// Runs a 30-degree rotation of the bytes in-process and checks the outcome's
// shape; returns whether the run succeeded.
bool rotate_and_check(const scratch_folder& dir, const std::string& bytes) {
    const std::string input = dir.file("in.dat");
    const std::string output = dir.file("out.dat");
    // A fresh file each time: truncating one in place is slow on some file systems.
    std::remove(input.c_str());
    EXPECT_TRUE(write_file(input, bytes));
    const captured_run r = rotate_captured(input, output, 30);
    EXPECT_EQ(read_file(input), bytes) << "input changed";
    if (r.ok) {
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.dat", "out.dat"}));
        std::remove(output.c_str());
    } else {
        EXPECT_TRUE(is_clean_error(r.err)) << r.err;
        EXPECT_EQ(dir.names(), std::vector<std::string>{"in.dat"});
    }
    return r.ok;
}

const int FORMATS[] = {1, 2, 3};

TEST(CorruptionSweep, EveryTruncatedFileFailsCleanly) {
    for (const int format : FORMATS) {
        SCOPED_TRACE("format " + std::to_string(format));
        scratch_folder dir;
        const std::string whole = small_sample(dir, format);
        ASSERT_FALSE(whole.empty());
        // The height block ends the file, so every proper prefix lacks data.
        for (std::size_t length = 0; length < whole.size(); ++length) {
            SCOPED_TRACE("prefix " + std::to_string(length));
            EXPECT_FALSE(rotate_and_check(dir, whole.substr(0, length)));
            if (HasFailure()) return;
        }
        EXPECT_TRUE(rotate_and_check(dir, whole));
        std::printf("truncation sweep, format %d: %zu prefixes\n", format, whole.size() + 1);
    }
}

TEST(CorruptionSweep, EveryFlippedHeaderByteSucceedsOrFailsCleanly) {
    for (const int format : FORMATS) {
        SCOPED_TRACE("format " + std::to_string(format));
        scratch_folder dir;
        const std::string whole = small_sample(dir, format);
        const std::size_t header_bytes = format == 3 ? LONG_HEADER_BYTES : SHORT_HEADER_BYTES;
        ASSERT_GT(whole.size(), header_bytes);
        int succeeded = 0;
        for (std::size_t offset = 0; offset < header_bytes; ++offset) {
            SCOPED_TRACE("flipped byte " + std::to_string(offset));
            std::string bytes = whole;
            bytes[offset] = static_cast<char>(bytes[offset] ^ 0xFF);
            if (rotate_and_check(dir, bytes)) ++succeeded;
            if (HasFailure()) return;
        }
        std::printf("corruption sweep, format %d: %zu flipped header bytes, %d accepted, %zu refused\n", format,
                    header_bytes, succeeded, header_bytes - succeeded);
    }
}

// ---- Write failures at every chunk boundary ----------------------------------------

struct write_failure_case {
    const char* name;
    int format;
    bool one_file;
};

const write_failure_case WRITE_FAILURES[] = {
    {"format 3, two files", 3, false},
    {"format 3, one file", 3, true},
    {"format 1, two files", 1, false},
    {"format 1, one file", 1, true},
};

TEST(WriteFailureSweep, AFullDiskAtEveryChunkBoundaryKeepsEveryFile) {
    constexpr int64_t INTENSITY_BYTES = 2 * 200 * 100 * 2;  // two frames of 200 x 100
    constexpr int64_t CHUNK = 65536;
    int cases = 0;
    for (const write_failure_case& c : WRITE_FAILURES) {
        SCOPED_TRACE(c.name);
        scratch_folder dir;
        const std::string original = make_sample_bytes(
            dir, {"-Camera", "200x100", "-Buckets", "2", "-Format", std::to_string(c.format)});
        const std::string input = dir.file("in.dat");
        const std::string output = c.one_file ? input : dir.file("out.dat");
        const std::string previous_output = "an earlier result\n";
        const int64_t header = c.format == 3 ? LONG_HEADER_BYTES : SHORT_HEADER_BYTES;

        // An unlimited run gives the output's length.
        ASSERT_TRUE(write_file(input, original));
        const tool_output full = run_tool({"-Angle", "30", input, dir.file("reference.dat")});
        ASSERT_EQ(full.exit_status, 0) << full.err;
        const std::optional<std::string> reference = read_file(dir.file("reference.dat"));
        ASSERT_TRUE(reference);
        std::remove(dir.file("reference.dat").c_str());
        const auto total = static_cast<int64_t>(reference->size());
        ASSERT_GT(total, header + INTENSITY_BYTES);

        const int64_t limits[] = {0,         1,
                                  header - 1, header,
                                  header + 1, header + CHUNK - 1,
                                  header + CHUNK, header + CHUNK + 1,
                                  header + INTENSITY_BYTES - 1, header + INTENSITY_BYTES,
                                  header + INTENSITY_BYTES + 1, total - 1};
        const std::vector<std::string> expected_entries =
            c.one_file ? std::vector<std::string>{"in.dat"} : std::vector<std::string>{"in.dat", "out.dat"};
        for (const int64_t limit : limits) {
            SCOPED_TRACE("file size limit " + std::to_string(limit));
            ASSERT_TRUE(write_file(input, original));
            if (!c.one_file) {
                ASSERT_TRUE(write_file(output, previous_output));
            }
            run_options limited;
            limited.child_setup = limit_file_size(static_cast<uint64_t>(limit));
            const tool_output r = run_tool({"-Angle", "30", "-Overwrite", input, output}, limited);
            ++cases;
            EXPECT_EQ(r.signal, 0);
            EXPECT_EQ(r.exit_status, 1);
            EXPECT_EQ(r.err, "Spinmap\nERROR: Error writing output data file: ERR_CANT_WRITE_FILE\n");
            EXPECT_EQ(read_file(input), original);
            if (!c.one_file) {
                EXPECT_EQ(read_file(output), previous_output);
            }
            EXPECT_EQ(dir.names(), expected_entries);
        }

        // The limit itself is no obstacle once the whole output fits.
        ASSERT_TRUE(write_file(input, original));
        run_options enough;
        enough.child_setup = limit_file_size(static_cast<uint64_t>(total));
        const tool_output r = run_tool({"-Angle", "30", "-Overwrite", input, output}, enough);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(read_file(output), reference);
        EXPECT_EQ(dir.names(), expected_entries);
    }
    std::printf("write-failure sweep: %d cases\n", cases);
}

// ---- Hostile sizes ----------------------------------------------------------------------

struct field_patch {
    std::size_t offset;
    int width;  // 2 or 4 bytes, big-endian
    uint32_t value;
};

struct hostile_case {
    const char* name;
    std::vector<field_patch> patches;
    int expected;
};

void put_big_endian(std::string* bytes, const field_patch& p) {
    for (int i = 0; i < p.width; ++i) {
        (*bytes)[p.offset + i] = static_cast<char>(p.value >> (8 * (p.width - 1 - i)));
    }
}

// Header field offsets of the block geometry and camera size.
constexpr std::size_t INTENS_WIDTH = 52, INTENS_HEIGHT = 54, INTENS_BUCKETS = 56, INTENS_BYTES = 60;
constexpr std::size_t PHASE_WIDTH = 68, PHASE_HEIGHT = 70, PHASE_BYTES = 72;
constexpr std::size_t CAMERA_WIDTH = 234, CAMERA_HEIGHT = 236;
constexpr uint32_t LARGEST_BYTES = 0x7FFFFFFF;

const hostile_case HOSTILE[] = {
    {"largest intensity window",
     {{INTENS_WIDTH, 2, 32767}, {INTENS_HEIGHT, 2, 32767}, {INTENS_BYTES, 4, LARGEST_BYTES}},
     ERR_CORRUPT_DATA_FILE},
    {"largest bucket count", {{INTENS_BUCKETS, 2, 32767}, {INTENS_BYTES, 4, LARGEST_BYTES}}, ERR_CORRUPT_DATA_FILE},
    {"largest bucket count, block too short for it", {{INTENS_BUCKETS, 2, 32767}}, ERR_CORRUPT_DATA_FILE},
    {"largest intensity window and bucket count",
     {{INTENS_WIDTH, 2, 32767},
      {INTENS_HEIGHT, 2, 32767},
      {INTENS_BUCKETS, 2, 32767},
      {INTENS_BYTES, 4, LARGEST_BYTES}},
     ERR_CORRUPT_DATA_FILE},
    {"largest intensity block over a small window", {{INTENS_BYTES, 4, LARGEST_BYTES}}, ERR_CORRUPT_DATA_FILE},
    {"largest height window",
     {{PHASE_WIDTH, 2, 32767}, {PHASE_HEIGHT, 2, 32767}, {PHASE_BYTES, 4, LARGEST_BYTES}},
     ERR_CORRUPT_DATA_FILE},
    {"largest height window, four bytes announced",
     {{PHASE_WIDTH, 2, 32767}, {PHASE_HEIGHT, 2, 32767}, {PHASE_BYTES, 4, 4}},
     ERR_CORRUPT_DATA_FILE},
    {"largest camera and windows",
     {{CAMERA_WIDTH, 2, 32767},
      {CAMERA_HEIGHT, 2, 32767},
      {INTENS_WIDTH, 2, 32767},
      {INTENS_HEIGHT, 2, 32767},
      {PHASE_WIDTH, 2, 32767},
      {PHASE_HEIGHT, 2, 32767},
      {PHASE_BYTES, 4, LARGEST_BYTES}},
     ERR_CORRUPT_DATA_FILE},
    {"extent past the 16-bit range", {{PHASE_WIDTH, 2, 0x8000}}, ERR_DATASET_DIM_TOO_LARGE},
    {"negative extent", {{INTENS_HEIGHT, 2, 0xFFFF}}, ERR_DATASET_DIM_TOO_LARGE},
    {"negative bucket count", {{INTENS_BUCKETS, 2, 0x8000}}, ERR_PARAM_OUT_OF_RANGE},
};

TEST(HostileSizes, HugeAnnouncedBlocksInATinyFileFailWithoutHugeAllocations) {
    scratch_folder dir;
    const std::string sample = small_sample(dir, 3);
    for (const hostile_case& c : HOSTILE) {
        SCOPED_TRACE(c.name);
        std::string bytes = sample.substr(0, LONG_HEADER_BYTES + 64);
        for (const field_patch& p : c.patches) put_big_endian(&bytes, p);
        const std::string input = dir.file("in.dat");
        ASSERT_TRUE(write_file(input, bytes));

        allocation_log tracker;
        int code = 0;
        {
            allocation_hooks hooks(&tracker);
            InfoBlock info{};
            HeaderRecord header{};
            intensity_matrix intensity{};
            height_matrix height{};
            code = read_data_file(input, &info, &header, &intensity, &height);
        }
        EXPECT_EQ(code, c.expected) << error_name(code);
        EXPECT_LT(tracker.largest, 4 * bytes.size());
        EXPECT_TRUE(tracker.live.empty());

        const captured_run r = rotate_captured(input, dir.file("out.dat"), 30);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.err, std::string("Spinmap\nERROR: Error reading input data file: ") + error_name(c.expected) + "\n");
        EXPECT_EQ(dir.names(), std::vector<std::string>{"in.dat"});
    }
    std::printf("hostile-size sweep: %zu cases\n", std::size(HOSTILE));
}

}  // namespace
}  // namespace spinmap
