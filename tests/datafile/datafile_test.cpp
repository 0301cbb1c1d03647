#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <filesystem>
#include <random>
#include <string>

#include "support.h"
#include <spinmap/platform/platform.h>

namespace spinmap {
namespace {

using test::append;
using test::big_endian_16;
using test::big_endian_32;
using test::bytes;
using test::header_bytes;
using test::put16;
using test::put32;

void set_intensity_geometry(bytes& b, int16_t x, int16_t y, int16_t w, int16_t h, int16_t buckets, int32_t count) {
    put16(b, 48, static_cast<uint16_t>(x));
    put16(b, 50, static_cast<uint16_t>(y));
    put16(b, 52, static_cast<uint16_t>(w));
    put16(b, 54, static_cast<uint16_t>(h));
    put16(b, 56, static_cast<uint16_t>(buckets));
    put32(b, 60, static_cast<uint32_t>(count));
}

void set_height_geometry(bytes& b, int16_t x, int16_t y, int16_t w, int16_t h, int32_t count) {
    put16(b, 64, static_cast<uint16_t>(x));
    put16(b, 66, static_cast<uint16_t>(y));
    put16(b, 68, static_cast<uint16_t>(w));
    put16(b, 70, static_cast<uint16_t>(h));
    put32(b, 72, static_cast<uint32_t>(count));
}

// The outcome of reading a stream with every output given; frees on exit.
struct read_back {
    explicit read_back(std::FILE* stream) { code = read_data_stream(stream, &info, &header, &intensity, &height); }
    explicit read_back(const bytes& file) : read_back(test::stream_of(file).get()) {}
    int code = -1;
    InfoBlock info{};
    HeaderRecord header{};
    owned_intensity intensity;
    owned_height height;
};

// A stream that delivers bytes but cannot seek, like a pipe.
struct pipe_source {
    bytes content;
    std::size_t at = 0;
};

test::file_ptr unseekable_stream_of(pipe_source* source) {
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* out, std::size_t n) -> ssize_t {
        auto* s = static_cast<pipe_source*>(cookie);
        const std::size_t k = std::min(n, s->content.size() - s->at);
        std::memcpy(out, s->content.data() + s->at, k);
        s->at += k;
        return static_cast<ssize_t>(k);
    };
    return test::file_ptr(fopencookie(source, "r", io));
}

// A sink that records the size of every write reaching it.
struct write_log {
    std::vector<std::size_t> sizes;
    bool refuse = false;
};

test::file_ptr logging_stream(write_log* log) {
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char*, std::size_t n) -> ssize_t {
        auto* l = static_cast<write_log*>(cookie);
        l->sizes.push_back(n);
        return l->refuse ? 0 : static_cast<ssize_t>(n);
    };
    test::file_ptr f(fopencookie(log, "w", io));
    setvbuf(f.get(), nullptr, _IONBF, 0);
    return f;
}

using test::scratch_folder;

// ---- Reading ----------------------------------------------------------------

TEST(ReadDataStream, RecognisesTheThreeMagicNumbersOnly) {
    struct magic_case {
        bytes start;
        std::size_t file_length;
        int code;
    };
    const magic_case cases[] = {
        {{0x88, 0x1B, 0x03, 0x6F}, 834, 0},
        {{0x88, 0x1B, 0x03, 0x70}, 834, 0},
        {{0x88, 0x1B, 0x03, 0x71}, 4096, 0},
        {{0x88, 0x1B, 0x03, 0x71}, 834, ERR_PREMATURE_EOF},  // announces 4096 bytes
        {{0x6F, 0x03, 0x1B, 0x88}, 834, ERR_NOT_A_DATA_FILE},
        {{0x00, 0x00, 0x00, 0x00}, 834, ERR_NOT_A_DATA_FILE},
    };
    for (const magic_case& c : cases) {
        bytes file(c.file_length, 0);
        std::copy(c.start.begin(), c.start.end(), file.begin());
        EXPECT_EQ(read_back(file).code, c.code) << std::hex << int{c.start[3]} << " " << std::dec << c.file_length;
    }
}

TEST(ReadDataStream, IgnoresHeaderFormatAndHeaderSize) {
    bytes short_file = header_bytes(MAGIC_FORMAT_1);
    put16(short_file, 4, 3);
    put32(short_file, 6, 4096);
    EXPECT_EQ(read_back(short_file).code, 0);

    bytes long_file = header_bytes(MAGIC_FORMAT_3);
    put32(long_file, 6, 834);
    put16(long_file, 1264, 4);
    const read_back r(long_file);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.header.FiducialCountB, 4);
    EXPECT_EQ(r.header.Format3Mark, 3);  // set by the reader, whatever was stored
}

TEST(ReadDataStream, FileEndingInsideTheHeaderIsPrematureEof) {
    const bytes magic_only = {0x88, 0x1B, 0x03, 0x6F};
    bytes cut_header = header_bytes(MAGIC_FORMAT_1);
    cut_header.resize(833);
    for (const bytes& file : {bytes{}, bytes{0x88, 0x1B, 0x03}, magic_only, cut_header}) {
        EXPECT_EQ(read_back(file).code, ERR_PREMATURE_EOF) << file.size() << " bytes";
    }
}

TEST(ReadDataStream, FileWithoutBlocksGivesEmptyMatrices) {
    bytes file = header_bytes(MAGIC_FORMAT_1);
    put32(file, 76, 1700000000);
    const read_back r(file);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.header.TimeStamp, 1700000000);
    EXPECT_EQ(r.intensity.matrix, nullptr);
    EXPECT_EQ(r.height.matrix, nullptr);
    EXPECT_EQ(r.height.window.width, 0);
}

TEST(ReadDataStream, ReadsBothBlocksIntoHostOrder) {
    bytes file = header_bytes(MAGIC_FORMAT_1);
    put16(file, 10, 0xBEEF);
    put16(file, 58, 0x0FFF);
    set_intensity_geometry(file, 5, 6, 2, 1, 2, 8);
    set_height_geometry(file, 10, 20, 3, 2, 24);
    append(file, big_endian_16({0x0102, 0x0304, 0xFFFE, 0x8000}));
    // Heights encode their camera pixel: x + 1000 * y.
    append(file, big_endian_32({20010, 20011, 20012, 21010, 21011, INVALID_HEIGHT}));
    const read_back r(file);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.info.word_10, 0xBEEF);
    EXPECT_EQ(r.intensity.window.x, 5);
    EXPECT_EQ(r.intensity.window.y, 6);
    EXPECT_EQ(r.intensity.n_buckets, 2);
    EXPECT_EQ(r.intensity.intens_range, 0x0FFF);
    EXPECT_EQ(r.intensity.size, 4u);
    EXPECT_EQ(std::vector<uint16_t>(r.intensity.matrix, r.intensity.matrix + 4),
              (std::vector<uint16_t>{0x0102, 0x0304, 0xFFFE, 0x8000}));
    EXPECT_EQ(r.height.window.x, 10);
    EXPECT_EQ(r.height.window.y, 20);
    EXPECT_EQ(std::vector<int32_t>(r.height.matrix, r.height.matrix + 6),
              (std::vector<int32_t>{20010, 20011, 20012, 21010, 21011, INVALID_HEIGHT}));
}

TEST(ReadDataStream, AbsentMatrixSkipsItsBlock) {
    bytes file = header_bytes(MAGIC_FORMAT_1);
    set_intensity_geometry(file, 0, 0, 2, 1, 1, 4);
    set_height_geometry(file, 0, 0, 1, 1, 4);
    append(file, big_endian_16({0xAAAA, 0xBBBB}));
    append(file, big_endian_32({-77}));
    pipe_source source{file};
    const test::file_ptr seekable = test::stream_of(file);
    const test::file_ptr piped = unseekable_stream_of(&source);
    for (std::FILE* stream : {seekable.get(), piped.get()}) {
        owned_height height;
        EXPECT_EQ(read_data_stream(stream, nullptr, nullptr, nullptr, &height), 0);
        ASSERT_NE(height.matrix, nullptr);
        EXPECT_EQ(height.matrix[0], -77);
    }
}

// A 2 x 1 window of one frame needs 2 elements; the height block (one
// element, -5) must be found where each case says.
TEST(ReadDataStream, IntensityBlockLengthAgainstItsFrames) {
    struct length_case {
        const char* name;
        int16_t buckets;
        int32_t intens_bytes;
        bytes intensity_block;
        int code;
    };
    const bytes two = big_endian_16({7, 8});
    const length_case cases[] = {
        {"short", 1, 2, two, ERR_CORRUPT_DATA_FILE},
        {"exact", 1, 4, two, 0},
        {"odd byte, nothing skipped", 1, 5, two, 0},
        {"surplus skipped", 1, 8, big_endian_16({7, 8, 9, 9}), 0},
        {"no frames", 0, 4, two, ERR_PARAM_OUT_OF_RANGE},
        {"negative frames", -1, 4, two, ERR_PARAM_OUT_OF_RANGE},
    };
    for (const length_case& c : cases) {
        bytes file = header_bytes(MAGIC_FORMAT_1);
        set_intensity_geometry(file, 0, 0, 2, 1, c.buckets, c.intens_bytes);
        set_height_geometry(file, 0, 0, 1, 1, 4);
        append(file, c.intensity_block);
        append(file, big_endian_32({-5}));
        // Carried, the block is left in the file and the height block must
        // be found at the same place.
        const test::file_ptr stream = test::stream_of(file);
        carried_intensity carried;
        owned_height carried_height;
        EXPECT_EQ(read_data_carrying_intensity(stream.get(), nullptr, nullptr, &carried, &carried_height), c.code)
            << c.name;
        EXPECT_EQ(carried.frames.matrix, nullptr) << c.name;
        if (c.code == 0) {
            EXPECT_EQ(carried_height.matrix[0], -5) << c.name;
        }
        const read_back r(file);
        EXPECT_EQ(r.code, c.code) << c.name;
        if (c.code != 0) {
            EXPECT_EQ(r.intensity.matrix, nullptr) << c.name;
            continue;
        }
        EXPECT_EQ(r.intensity.size, 2u) << c.name;
        EXPECT_EQ(r.intensity.matrix[1], 8) << c.name;
        ASSERT_NE(r.height.matrix, nullptr) << c.name;
        EXPECT_EQ(r.height.matrix[0], -5) << c.name;
    }
}

TEST(ReadDataStream, HeightBlockLongerThanItsWindowIsReadToTheWindow) {
    bytes file = header_bytes(MAGIC_FORMAT_1);
    set_height_geometry(file, 0, 0, 2, 1, 16);
    append(file, big_endian_32({1, 2, 3, 4}));
    const read_back r(file);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.height.size, 2u);
    EXPECT_EQ(r.height.matrix[1], 2);
}

TEST(ReadDataStream, BadWindowExtentsAreRefusedAndBothMatricesEmpty) {
    struct extent_case {
        const char* name;
        bool intensity;  // else the height window
        uint16_t width;
        uint16_t height;
        int code;
    };
    const extent_case cases[] = {
        {"height width 0", false, 0, 5, ERR_PARAM_OUT_OF_RANGE},
        {"height width 0x8000", false, 0x8000, 1, ERR_DATASET_DIM_TOO_LARGE},
        {"height rows 0xFFFF", false, 1, 0xFFFF, ERR_DATASET_DIM_TOO_LARGE},
        {"intensity width 0x8000", true, 0x8000, 1, ERR_DATASET_DIM_TOO_LARGE},
        {"intensity rows 0", true, 1, 0, ERR_PARAM_OUT_OF_RANGE},
    };
    for (const extent_case& c : cases) {
        bytes file = header_bytes(MAGIC_FORMAT_1);
        // The other block is sound; an intensity array read first goes back too.
        if (c.intensity) {
            set_intensity_geometry(file, 0, 0, static_cast<int16_t>(c.width), static_cast<int16_t>(c.height), 1, 4);
            set_height_geometry(file, 0, 0, 1, 1, 4);
        } else {
            set_intensity_geometry(file, 0, 0, 1, 1, 1, 2);
            set_height_geometry(file, 0, 0, static_cast<int16_t>(c.width), static_cast<int16_t>(c.height), 4);
        }
        append(file, bytes(64, 0));
        const read_back r(file);
        EXPECT_EQ(r.code, c.code) << c.name;
        EXPECT_EQ(r.intensity.matrix, nullptr) << c.name;
        EXPECT_EQ(r.height.matrix, nullptr) << c.name;
        EXPECT_EQ(r.height.window.width, 0) << c.name;
    }
}

TEST(ReadDataStream, HeightBlockCutShortIsCorruptAfterTheHeaderWasFilled) {
    bytes file = header_bytes(MAGIC_FORMAT_1);
    put32(file, 76, 12345);
    set_intensity_geometry(file, 0, 0, 1, 1, 1, 2);
    set_height_geometry(file, 0, 0, 2, 2, 16);
    append(file, big_endian_16({1}));
    append(file, big_endian_32({1, 2, 3}));  // one element missing

    const read_back seekable(file);
    EXPECT_EQ(seekable.code, ERR_CORRUPT_DATA_FILE);
    EXPECT_EQ(seekable.header.TimeStamp, 12345);
    EXPECT_EQ(seekable.intensity.matrix, nullptr);
    EXPECT_EQ(seekable.height.matrix, nullptr);

    // Without seeking the short read itself finds it; both arrays go back.
    test::allocation_hooks hooks;
    pipe_source source{file};
    const read_back piped(unseekable_stream_of(&source).get());
    EXPECT_EQ(piped.code, ERR_CORRUPT_DATA_FILE);
    EXPECT_EQ(piped.header.TimeStamp, 12345);
    EXPECT_EQ(piped.height.matrix, nullptr);
    EXPECT_EQ(hooks.log().calls, 2);
    EXPECT_EQ(hooks.log().releases, 2);
}

TEST(ReadDataStream, HugeBlockInATinyFileFailsBeforeAllocating) {
    bytes huge_intensity = header_bytes(MAGIC_FORMAT_1);
    set_intensity_geometry(huge_intensity, 0, 0, 32767, 32767, 1, 0x7FFFFFFE);
    bytes huge_height = header_bytes(MAGIC_FORMAT_1);
    set_height_geometry(huge_height, 0, 0, 32767, 32767, 0x7FFFFFFC);
    for (bytes file : {huge_intensity, huge_height}) {
        append(file, bytes(100, 0));
        test::allocation_hooks hooks;
        EXPECT_EQ(read_back(file).code, ERR_CORRUPT_DATA_FILE);
        EXPECT_EQ(hooks.log().calls, 0);
    }
}

TEST(ReadDataStream, FailedAllocationIsNoMemWithBothMatricesEmpty) {
    bytes file = header_bytes(MAGIC_FORMAT_1);
    set_height_geometry(file, 0, 0, 1, 1, 4);
    append(file, big_endian_32({9}));
    test::allocation_hooks hooks;
    hooks.log().fail_from = 1;
    const read_back r(file);
    EXPECT_EQ(r.code, ERR_NO_MEM);
    EXPECT_EQ(r.height.matrix, nullptr);
}

TEST(ReadDataFile, MissingFileCannotBeOpened) {
    height_matrix height{};
    EXPECT_EQ(read_data_file("/nonexistent/folder/file.dat", nullptr, nullptr, nullptr, &height), ERR_CANT_OPEN_FILE);
}

// ---- Writing ----------------------------------------------------------------

// Heights over w, row by row.
struct height_block {
    height_block(window w, std::initializer_list<int32_t> values) {
        m.window = w;
        matrix_alloc(&m);
        std::copy(values.begin(), values.end(), m.matrix);
    }
    owned_height m;
};

// Intensity frames over w counting up from 0x0100.
struct intensity_block {
    intensity_block(window w, int16_t buckets, uint16_t range) {
        m.window = w;
        m.n_buckets = buckets;
        m.intens_range = range;
        matrix_alloc(&m);
        for (uint32_t i = 0; i < m.size; ++i) m.matrix[i] = static_cast<uint16_t>(0x0100 + i);
    }
    owned_intensity m;
};

// Makes the rows of the matrix's window from its array.
height_rows_maker rows_of(const height_matrix& m) {
    return [&m](int first, int count, int32_t* rows, std::ptrdiff_t pitch) {
        const std::ptrdiff_t width = m.window.width;
        for (std::ptrdiff_t k = 0; k < count; ++k) {
            std::copy(m.matrix + (first + k) * width, m.matrix + (first + k + 1) * width, rows + k * pitch);
        }
        return 0;
    };
}

bytes written(const InfoBlock* info, const HeaderRecord* header, const intensity_matrix* intensity,
              const height_matrix* height, int expected_code = 0) {
    test::file_ptr out(std::tmpfile());
    EXPECT_EQ(write_data_stream(out.get(), info, header, intensity, height), expected_code);
    return test::content_of(out.get());
}

TEST(WriteDataStream, HeightMatrixGoesOutBigEndianAfterItsHeader) {
    const height_block height({7, 8, 3, 2}, {8007, 8008, 8009, 9007, 9008, -1});
    const bytes out = written(nullptr, nullptr, nullptr, &height.m);
    ASSERT_EQ(out.size(), 834u + 24u);
    EXPECT_EQ(test::get32(out, 0), MAGIC_FORMAT_1);
    EXPECT_EQ(test::get16(out, 4), 1);
    EXPECT_EQ(test::get32(out, 6), 834u);
    EXPECT_EQ(test::get32(out, 60), 0u);  // IntensBytes
    EXPECT_EQ(test::get16(out, 64), 7);
    EXPECT_EQ(test::get16(out, 66), 8);
    EXPECT_EQ(test::get16(out, 68), 3);
    EXPECT_EQ(test::get16(out, 70), 2);
    EXPECT_EQ(test::get32(out, 72), 24u);  // PhaseBytes
    EXPECT_EQ(bytes(out.begin() + 834, out.end()), big_endian_32({8007, 8008, 8009, 9007, 9008, -1}));
    EXPECT_EQ(height.m.matrix[0], 8007);  // the caller's array untouched
}

// Blocks of every length around the vector widths of the byte-order
// conversion, and blocks of more than one read and write chunk: each element's bytes
// are 0x01 0x02 .. in file order, counted on from the element's index.
TEST(WriteDataStream, EveryBlockLengthIsReadAndWrittenBackExactly) {
    const struct {
        int16_t width, height;
    } shapes[] = {{1, 1}, {3, 1}, {4, 1}, {5, 1}, {7, 1}, {8, 1}, {9, 1}, {17, 1}, {600, 467}};
    for (const auto& s : shapes) {
        const int32_t n = int32_t{s.width} * s.height;
        bytes file = header_bytes(MAGIC_FORMAT_1);
        set_intensity_geometry(file, 0, 0, s.width, s.height, 2, 4 * n);
        set_height_geometry(file, 0, 0, s.width, s.height, 4 * n);
        for (int32_t k = 0; k < 2 * n; ++k) append(file, {uint8_t(k), uint8_t(k + 1)});
        for (int32_t k = 0; k < n; ++k) append(file, {uint8_t(k), uint8_t(k + 1), uint8_t(k + 2), uint8_t(k + 3)});
        const read_back r(file);
        ASSERT_EQ(r.code, 0) << n;
        for (int32_t k = 0; k < 2 * n; ++k) {
            ASSERT_EQ(r.intensity.matrix[k], uint16_t(uint8_t(k) << 8 | uint8_t(k + 1))) << n << " at " << k;
        }
        for (int32_t k = 0; k < n; ++k) {
            const uint32_t expected = uint32_t(uint8_t(k)) << 24 | uint32_t(uint8_t(k + 1)) << 16 |
                                      uint32_t(uint8_t(k + 2)) << 8 | uint8_t(k + 3);
            ASSERT_EQ(uint32_t(r.height.matrix[k]), expected) << n << " at " << k;
        }
        const bytes out = written(&r.info, &r.header, &r.intensity, &r.height);
        ASSERT_EQ(out.size(), file.size()) << n;
        EXPECT_TRUE(std::equal(out.begin() + 834, out.end(), file.begin() + 834)) << n;
        carried_intensity frames;
        frames.frames.window = r.intensity.window;
        frames.frames.n_buckets = r.intensity.n_buckets;
        ASSERT_EQ(matrix_alloc(&frames.frames), 0);
        std::copy(r.intensity.matrix, r.intensity.matrix + 2 * n, frames.frames.matrix);
        const test::file_ptr made(std::tmpfile());
        ASSERT_EQ(write_data_making_heights(made.get(), &r.info, &r.header, frames, r.height.window, rows_of(r.height)),
                  0);
        EXPECT_EQ(test::content_of(made.get()), out) << n;
    }
}

// The rows are asked for in order, a band of whole rows of about 4 MiB at a
// time, a cache line apart; a maker's failure ends the write with its code.
TEST(WriteDataMakingHeights, AsksForBandsOfRowsInOrderAndStopsAtAFailure) {
    // Rows 600 wide are made 616 apart: 1702 of them fill 4 MiB, 425 fill 1 MiB.
    const struct {
        int rows;
        std::vector<std::pair<int, int>> bands;
    } cases[] = {
        {100, {{0, 100}}},                                      // under 1 MiB: one band
        {1900, {{0, 475}, {475, 475}, {950, 475}, {1425, 475}}},  // four bands of over 1 MiB
        {8000, {{0, 1702}, {1702, 1702}, {3404, 1702}, {5106, 1702}, {6808, 1192}}},  // 4 MiB at most
    };
    const carried_intensity none;
    std::vector<std::pair<int, int>> asked;
    for (const auto& c : cases) {
        asked.clear();
        const window w{0, 0, 600, static_cast<int16_t>(c.rows)};
        const test::file_ptr out(std::tmpfile());
        EXPECT_EQ(write_data_making_heights(out.get(), nullptr, nullptr, none, w,
                                            [&](int first, int count, int32_t* rows, std::ptrdiff_t pitch) {
                                                asked.emplace_back(first, count);
                                                EXPECT_EQ(pitch, 616);
                                                for (int k = 0; k < count; ++k) {
                                                    std::fill(rows + k * pitch, rows + k * pitch + 600, first + k);
                                                    std::fill(rows + k * pitch + 600, rows + (k + 1) * pitch, -1);
                                                }
                                                return 0;
                                            }),
                  0);
        EXPECT_EQ(asked, c.bands) << c.rows;
        const bytes written_out = test::content_of(out.get());
        ASSERT_EQ(written_out.size(), 834u + 4u * 600 * static_cast<unsigned>(c.rows));
        for (uint32_t row = 0; row < static_cast<uint32_t>(c.rows); ++row) {
            ASSERT_EQ(test::get32(written_out, 834 + 4 * 600 * row), row);
            ASSERT_EQ(test::get32(written_out, 834 + 4 * 600 * row + 4 * 599), row);
        }
    }

    const window w{0, 0, 600, 1900};
    asked.clear();
    const test::file_ptr failed(std::tmpfile());
    EXPECT_EQ(write_data_making_heights(failed.get(), nullptr, nullptr, none, w,
                                        [&](int first, int count, int32_t*, std::ptrdiff_t) {
                                            asked.emplace_back(first, count);
                                            return first > 0 ? ERR_NO_MEM : 0;
                                        }),
              ERR_NO_MEM);
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(write_data_making_heights(failed.get(), nullptr, nullptr, none, {0, 0, 0, 3}, rows_of(height_matrix{})),
              ERR_INVALID_PARAM);
    EXPECT_EQ(write_data_making_heights(failed.get(), nullptr, nullptr, none, w, height_rows_maker()),
              ERR_INVALID_PARAM);
}

TEST(WriteDataStream, IntensityBlockPrecedesTheHeightBlock) {
    const intensity_block intensity({1, 2, 2, 1}, 2, 0xABCD);
    const height_block height({0, 0, 1, 1}, {0x01020304});
    const bytes out = written(nullptr, nullptr, &intensity.m, &height.m);
    ASSERT_EQ(out.size(), 834u + 8u + 4u);
    EXPECT_EQ(test::get16(out, 48), 1);
    EXPECT_EQ(test::get16(out, 50), 2);
    EXPECT_EQ(test::get16(out, 52), 2);
    EXPECT_EQ(test::get16(out, 54), 1);
    EXPECT_EQ(test::get16(out, 56), 2);
    EXPECT_EQ(test::get16(out, 58), 0xABCD);
    EXPECT_EQ(test::get32(out, 60), 8u);
    EXPECT_EQ(bytes(out.begin() + 834, out.end()),
              (bytes{0x01, 0x00, 0x01, 0x01, 0x01, 0x02, 0x01, 0x03, 0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(intensity.m.matrix[1], 0x0101);
}

TEST(WriteDataStream, HeaderIsAppendedToWhatTheStreamHolds) {
    const height_block height({0, 0, 1, 1}, {5});
    test::file_ptr out = test::stream_of({0xDD, 0xDD});
    EXPECT_EQ(write_data_stream(out.get(), nullptr, nullptr, nullptr, &height.m), 0);
    const bytes all = test::content_of(out.get());
    ASSERT_EQ(all.size(), 2u + 834u + 4u);
    EXPECT_EQ(test::get32(all, 2), MAGIC_FORMAT_1);
}

TEST(WriteDataStream, MatricesWithoutArraysAreInvalid) {
    height_matrix no_array{};
    no_array.window = {0, 0, 2, 2};
    intensity_matrix no_intensity{};
    EXPECT_TRUE(written(nullptr, nullptr, &no_intensity, &no_array, ERR_INVALID_PARAM).empty());
    EXPECT_TRUE(written(nullptr, nullptr, nullptr, nullptr, ERR_INVALID_PARAM).empty());
}

TEST(WriteDataStream, BlocksThatCannotBeWrittenAreRefusedBeforeAnyByte) {
    height_block small({0, 0, 2, 2}, {1, 2, 3, 4});
    intensity_block frames({0, 0, 1, 1}, 1, 0);
    struct refusal_case {
        const char* name;
        window height_window;
        window intensity_window;
        int16_t buckets;
        int code;
    };
    const refusal_case cases[] = {
        {"height block beyond 2^31 bytes", {0, 0, 32767, 32767}, {0, 0, 1, 1}, 1, ERR_DATASET_DIM_TOO_LARGE},
        {"intensity block beyond 2^31 bytes", {0, 0, 2, 2}, {0, 0, 32767, 32767}, 2, ERR_DATASET_DIM_TOO_LARGE},
        {"height window beyond its array", {0, 0, 3, 2}, {0, 0, 1, 1}, 1, ERR_INVALID_PARAM},
        {"intensity frames beyond the array", {0, 0, 2, 2}, {0, 0, 1, 1}, 2, ERR_INVALID_PARAM},
        {"negative height extent", {0, 0, -2, -2}, {0, 0, 1, 1}, 1, ERR_INVALID_PARAM},
    };
    for (const refusal_case& c : cases) {
        small.m.window = c.height_window;
        frames.m.window = c.intensity_window;
        frames.m.n_buckets = c.buckets;
        EXPECT_TRUE(written(nullptr, nullptr, &frames.m, &small.m, c.code).empty()) << c.name;
    }
    small.m.window = {0, 0, 2, 2};
    frames.m.window = {0, 0, 1, 1};
}

TEST(WriteIntensityBlock, WritesChunksOfAtMost32768Elements) {
    std::vector<uint16_t> elements(70000, 0x1234);
    write_log log;
    test::allocation_hooks hooks;
    EXPECT_EQ(write_intensity_block(elements, logging_stream(&log).get()), 0);
    EXPECT_EQ(log.sizes, (std::vector<std::size_t>{32768 * 2, 32768 * 2, 4464 * 2}));
    EXPECT_EQ(hooks.log().calls, 1);
    EXPECT_EQ(hooks.log().largest, 65536u);
    EXPECT_EQ(hooks.log().releases, 1);
    EXPECT_EQ(elements[0], 0x1234);
}

TEST(WriteIntensityBlock, FailuresReleaseTheScratchBuffer) {
    std::vector<uint16_t> elements(40000, 1);
    write_log log;
    log.refuse = true;
    {
        test::allocation_hooks hooks;
        EXPECT_EQ(write_intensity_block(elements, logging_stream(&log).get()), ERR_CANT_WRITE_FILE);
        EXPECT_EQ(log.sizes.size(), 1u);  // stops at the first short write
        EXPECT_EQ(hooks.log().releases, 1);
    }
    test::allocation_hooks hooks;
    hooks.log().fail_from = 1;
    EXPECT_EQ(write_intensity_block(elements, logging_stream(&log).get()), ERR_NO_MEM);
}

TEST(WriteDataFile, WithoutArraysLeavesAnEmptyFile) {
    const scratch_folder folder;
    const std::string path = folder.file("empty.dat");
    EXPECT_EQ(write_data_file(path, nullptr, nullptr, nullptr, nullptr), ERR_INVALID_PARAM);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(WriteDataFile, OversizedBlockCreatesNoFile) {
    const scratch_folder folder;
    const std::string path = folder.file("big.dat");
    height_block height({0, 0, 1, 1}, {1});
    height.m.window = {0, 0, 32767, 32767};
    EXPECT_EQ(write_data_file(path, nullptr, nullptr, nullptr, &height.m), ERR_DATASET_DIM_TOO_LARGE);
    height.m.window = {0, 0, 2, 1};
    EXPECT_EQ(write_data_file(path, nullptr, nullptr, nullptr, &height.m), ERR_INVALID_PARAM);
    EXPECT_FALSE(std::filesystem::exists(path));
    height.m.window = {0, 0, 1, 1};
}

TEST(WriteDataFile, UncreatableFileIsReported) {
    const scratch_folder folder;
    const height_block height({0, 0, 1, 1}, {1});
    EXPECT_EQ(write_data_file(folder.path(), nullptr, nullptr, nullptr, &height.m), ERR_CANT_CREATE_FILE);
}

// ---- Reading and writing back -----------------------------------------------

TEST(WriteDataStream, FormatFollowsTheRecordRead) {
    struct rewrite_case {
        const char* name;
        uint32_t magic_read;
        int16_t phase_res;
        uint32_t magic_written;
        std::size_t header_written;
    };
    const rewrite_case cases[] = {
        {"format 3 stays 3", MAGIC_FORMAT_3, 0, MAGIC_FORMAT_3, 4096},
        {"format 2 with PhaseRes 1 becomes 1", MAGIC_FORMAT_2, 1, MAGIC_FORMAT_1, 834},
        {"format 1 with PhaseRes 3 becomes 2", MAGIC_FORMAT_1, 3, MAGIC_FORMAT_2, 834},
    };
    for (const rewrite_case& c : cases) {
        bytes file = header_bytes(c.magic_read);
        put16(file, 218, static_cast<uint16_t>(c.phase_res));
        set_height_geometry(file, 0, 0, 1, 1, 4);
        append(file, big_endian_32({3}));
        const read_back r(file);
        ASSERT_EQ(r.code, 0) << c.name;
        const bytes out = written(&r.info, &r.header, &r.intensity, &r.height);
        ASSERT_EQ(out.size(), c.header_written + 4) << c.name;
        EXPECT_EQ(test::get32(out, 0), c.magic_written) << c.name;
        EXPECT_EQ(test::get32(out, 6), c.header_written) << c.name;
        if (c.header_written == 4096) {
            EXPECT_EQ(out[898], 0x03) << c.name;
            EXPECT_EQ(out[899], 0x00) << c.name;
        }
    }
}

TEST(WriteDataStream, ExtensionBytesAt834Only) {
    HeaderRecord header{};
    header.bytes_834[0] = 0xFF;
    const height_block height({0, 0, 1, 1}, {1});
    const bytes out = written(nullptr, &header, nullptr, &height.m);
    EXPECT_EQ(out.size(), 834u + 4u);
    EXPECT_EQ(test::get32(out, 0), MAGIC_FORMAT_1);
    EXPECT_EQ(test::get32(out, 834), 1u);  // the height block, not the extension
}

// A file with arbitrary content in every field it does not recompute, read
// and written back, is identical byte for byte.
TEST(WriteDataStream, FileReadAndWrittenBackIsUnchanged) {
    std::mt19937 random(7);
    for (uint32_t magic : {MAGIC_FORMAT_1, MAGIC_FORMAT_2, MAGIC_FORMAT_3}) {
        for (int blocks : {1, 2, 3}) {  // bit 0: intensity, bit 1: height
            bytes file = header_bytes(magic);
            for (std::size_t i = 10; i < file.size(); ++i) file[i] = static_cast<uint8_t>(random());
            const int format = magic == MAGIC_FORMAT_1 ? 1 : magic == MAGIC_FORMAT_2 ? 2 : 3;
            put16(file, 4, static_cast<uint16_t>(format));
            put32(file, 6, static_cast<uint32_t>(file.size()));
            if (format == 1) put16(file, 218, 1);
            if (format == 2) put16(file, 218, 2);
            if (format == 3) {
                file[898] = 0x03;
                file[899] = 0x00;
            }
            std::fill(file.begin() + 48, file.begin() + 76, 0);
            bytes blocks_bytes;
            if (blocks & 1) {
                set_intensity_geometry(file, -3, 4, 5, 2, 2, 40);
                put16(file, 58, 0x3FFF);
                for (int i = 0; i < 40; ++i) blocks_bytes.push_back(static_cast<uint8_t>(random()));
            }
            if (blocks & 2) {
                set_height_geometry(file, 1, 2, 3, 4, 48);
                for (int i = 0; i < 48; ++i) blocks_bytes.push_back(static_cast<uint8_t>(random()));
            }
            append(file, blocks_bytes);
            const read_back r(file);
            ASSERT_EQ(r.code, 0) << format << " " << blocks;
            EXPECT_EQ(written(&r.info, &r.header, &r.intensity, &r.height), file) << format << " " << blocks;

            // Carried through: left in a file (and copied from it), or
            // loaded from a pipe; the same bytes either way.
            const test::file_ptr seekable = test::stream_of(file);
            pipe_source pipe{file};
            const test::file_ptr unseekable = unseekable_stream_of(&pipe);
            for (std::FILE* source : {seekable.get(), unseekable.get()}) {
                InfoBlock info{};
                HeaderRecord header{};
                carried_intensity intensity;
                owned_height height;
                ASSERT_EQ(read_data_carrying_intensity(source, &info, &header, &intensity, &height), 0);
                EXPECT_EQ(intensity.input != nullptr, source == seekable.get() && (blocks & 1)) << format << blocks;
                EXPECT_EQ(intensity.frames.matrix != nullptr, source == unseekable.get() && (blocks & 1));
                const test::file_ptr out(std::tmpfile());
                ASSERT_EQ(write_data_carrying_intensity(out.get(), &info, &header, intensity, &height), 0);
                EXPECT_EQ(test::content_of(out.get()), file) << format << " " << blocks;
                if (!(blocks & 2)) continue;
                // The heights made a band of rows at a time instead.
                const test::file_ptr made(std::tmpfile());
                ASSERT_EQ(write_data_making_heights(made.get(), &info, &header, intensity, height.window,
                                                    rows_of(height)),
                          0);
                EXPECT_EQ(test::content_of(made.get()), file) << format << " " << blocks;
            }
        }
    }
}

// ---- Paths ------------------------------------------------------------------

TEST(DataFilePaths, WidePathIsOpenedForWritingAndReading) {
    const scratch_folder folder;
    const std::string path = test::wide_path(folder.path() + "/") + test::wide_path(u"Messung-\u00C4.dat").substr(2);
    const height_block height({0, 0, 2, 1}, {11, 12});
    EXPECT_EQ(write_data_file(path, nullptr, nullptr, nullptr, &height.m), 0);
    EXPECT_TRUE(std::filesystem::exists(folder.file("Messung-\xC3\x84.dat")));
    owned_height back;
    EXPECT_EQ(read_data_file(path, nullptr, nullptr, nullptr, &back), 0);
    ASSERT_EQ(back.size, 2u);
    EXPECT_EQ(back.matrix[1], 12);
}

TEST(DataFilePaths, MalformedWidePathOpensNothing) {
    const std::string odd_length = "\xFF\xFE\x41\x00\x42";
    const std::string lone_surrogate = std::string("\xFF\xFE\x00\xD8", 4);
    const height_block height({0, 0, 1, 1}, {1});
    for (const std::string& path : {odd_length, lone_surrogate}) {
        EXPECT_EQ(read_data_file(path, nullptr, nullptr, nullptr, nullptr), ERR_CANT_OPEN_FILE);
        EXPECT_EQ(write_data_file(path, nullptr, nullptr, nullptr, &height.m), ERR_CANT_CREATE_FILE);
    }
}

// ---- Byte order and copying -------------------------------------------------

TEST(USwapBytes, ReversesOneValueOfTheGivenWidth) {
    struct swap_case {
        int width;
        bytes before;
        bytes after;
    };
    const swap_case cases[] = {
        {2, {1, 2, 9}, {2, 1, 9}},
        {4, {1, 2, 3, 4, 9}, {4, 3, 2, 1, 9}},
        {8, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {8, 7, 6, 5, 4, 3, 2, 1, 9}},
    };
    for (const swap_case& c : cases) {
        bytes value = c.before;
        u_swap_bytes(value.data(), c.width);
        EXPECT_EQ(value, c.after) << c.width;
    }
}

TEST(USwapBytesDeathTest, OtherWidthReportsAndAborts) {
    uint8_t value[4] = {};
    EXPECT_DEATH(u_swap_bytes(value, 3), "u_swap_bytes: n=3\n");
}

using test::captured_messages;

using test::read_file;
using test::write_file;

TEST(UCopyFile, ReplacesTheTarget) {
    const scratch_folder folder;
    write_file(folder.file("from"), "new");
    write_file(folder.file("to"), "old and longer");
    const captured_messages messages;
    EXPECT_EQ(u_copy_file(folder.file("from"), folder.file("to")), 0);
    EXPECT_EQ(*read_file(folder.file("to")), "new");
    EXPECT_EQ(messages.text(), "");
}

TEST(UCopyFile, FailureIsReportedWithTheSystemError) {
    const scratch_folder folder;
    write_file(folder.file("same"), "kept");
    const captured_messages messages;
    EXPECT_EQ(u_copy_file(folder.file("missing"), folder.file("to")), ERR_CANT_WRITE_FILE);
    EXPECT_EQ(messages.text(), "u_copy_file failed: win_err = " + std::to_string(ENOENT) + "\n");
    EXPECT_FALSE(std::filesystem::exists(folder.file("to")));

    messages.text().clear();
    EXPECT_EQ(u_copy_file(folder.file("same"), folder.path() + "/./same"), ERR_CANT_WRITE_FILE);
    EXPECT_EQ(messages.text(), "u_copy_file failed: win_err = " + std::to_string(EINVAL) + "\n");
    EXPECT_EQ(*read_file(folder.file("same")), "kept");
}

}  // namespace
}  // namespace spinmap
