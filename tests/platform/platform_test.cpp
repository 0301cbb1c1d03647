#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <spinmap/platform/platform.h>
#include "support.h"

namespace spinmap {
namespace {

// Every item in exactly one band, as many bands as threads (no more than
// items), and small work in one band on the calling thread unless a count
// is forced.
TEST(URunInBands, CoversEveryItemOnceInAsManyBandsAsThreads) {
    const struct {
        int forced;  // 0: the default count
        int items;
        int64_t work_per_item;
        int bands;
    } cases[] = {
        {1, 100, 1, 1}, {2, 5, 1, 2}, {3, 100, 1, 3}, {7, 100, 1, 7}, {7, 5, 1, 5},
        {3, 1, 1, 1},   {0, 100, 1, 1}, {0, 0, 1, 0},
    };
    for (const auto& c : cases) {
        const test::forced_threads threads(c.forced);
        std::vector<std::atomic<int>> covered(c.items);
        std::atomic<int> bands{0};
        run_in_bands(c.items, c.work_per_item, [&](int lo, int hi) {
            ++bands;
            for (int k = lo; k < hi; ++k) ++covered[k];
        });
        EXPECT_EQ(bands, c.bands) << c.forced << " threads, " << c.items << " items";
        for (int k = 0; k < c.items; ++k) EXPECT_EQ(covered[k], 1) << "item " << k;
    }
    EXPECT_GE(u_processors_available(), 1);
    EXPECT_GE(u_thread_count(), 1);
    EXPECT_LE(u_thread_count(), 16);
}

TEST(Utf16leToUtf8, ConvertsEveryFormAndRefusesMalformedUnits) {
    struct conversion_case {
        const char* name;
        std::string units;
        std::optional<std::string> utf8;
    };
    const conversion_case cases[] = {
        {"ASCII", std::string("A\0b\0", 4), "Ab"},
        {"two bytes", std::string("\xC4\x00", 2), "\xC3\x84"},                    // U+00C4
        {"three bytes", std::string("\xAC\x20", 2), "\xE2\x82\xAC"},              // U+20AC
        {"four bytes", std::string("\x3D\xD8\x00\xDE", 4), "\xF0\x9F\x98\x80"},  // U+1F600
        {"empty", "", ""},
        {"lone high surrogate", std::string("\x3D\xD8" "A\0", 4), std::nullopt},
        {"high surrogate at the end", std::string("\x3D\xD8", 2), std::nullopt},
        {"lone low surrogate", std::string("\x00\xDE", 2), std::nullopt},
        {"odd length", std::string("A\0B", 3), std::nullopt},
    };
    for (const conversion_case& c : cases) EXPECT_EQ(utf16le_to_utf8(c.units), c.utf8) << c.name;
}

TEST(IsWidePath, NeedsEitherByteOrderMark) {
    EXPECT_TRUE(is_wide_path("\xFF\xFE"));
    EXPECT_TRUE(is_wide_path("\xFE\xFFx"));
    EXPECT_FALSE(is_wide_path("\xFF"));
    EXPECT_FALSE(is_wide_path("data.dat"));
}

using test::scratch_folder;
using test::wide_path;

TEST(UPathKind, RegularFilesFoldersAndNothing) {
    const scratch_folder folder;
    const std::string file = folder.path() + "/f.dat";
    std::fclose(std::fopen(file.c_str(), "wb"));
#ifndef _WIN32
    const std::string fifo = folder.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);  // opening it for reading would wait for a writer
#endif
    const struct {
        std::string path;
        path_kind kind;
    } cases[] = {
        {file, path_kind::regular_file},
        {wide_path(file), path_kind::regular_file},
        {folder.path(), path_kind::folder},
        {folder.path() + "/missing.dat", path_kind::missing},
        // A file is no folder on the way.
        {file + "/x.dat", path_kind::missing},
        {"", path_kind::missing},
        {std::string("\xFF\xFE\x00\xDC", 4), path_kind::missing},
#ifndef _WIN32
        {"/dev/null", path_kind::other},
        {fifo, path_kind::other},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(u_path_kind(c.path), c.kind);
        EXPECT_EQ(u_is_regular_file(c.path), c.kind == path_kind::regular_file);
    }
}

TEST(UIsSameFile, ComparesTheFileNotTheName) {
    const scratch_folder folder;
    const std::string file = folder.path() + "/f.dat";
    std::FILE* open = std::fopen(file.c_str(), "wb");
    EXPECT_TRUE(u_is_same_file(open, folder.path() + "/./f.dat"));
    EXPECT_TRUE(u_is_same_file(open, wide_path(file)));
    EXPECT_FALSE(u_is_same_file(open, folder.path()));
    EXPECT_FALSE(u_is_same_file(open, folder.path() + "/missing.dat"));
    std::fclose(open);
}

TEST(UBytesLeft, CountsFromThePositionAndKeepsIt) {
    std::FILE* f = std::tmpfile();
    std::fwrite("0123456789", 1, 10, f);
    ASSERT_TRUE(u_seek(f, 3, SEEK_SET));
    EXPECT_EQ(u_bytes_left(f), 7);
    EXPECT_EQ(u_tell(f), 3);
    EXPECT_EQ(std::fgetc(f), '3');
    std::fclose(f);
}

TEST(UCalendarText, IsCtimeFormInLocalTime) {
    const char* saved = std::getenv("TZ");
    const std::string saved_tz = saved != nullptr ? saved : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(u_calendar_text(0), "Thu Jan  1 00:00:00 1970\n");
    EXPECT_EQ(u_calendar_text(1700000000), "Tue Nov 14 22:13:20 2023\n");
    EXPECT_EQ(u_calendar_text(-1), std::nullopt);
    if (saved != nullptr) {
        setenv("TZ", saved_tz.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

}  // namespace
}  // namespace spinmap
