// A wide path (byte-order mark FF FE, then UTF-16LE) with a non-ASCII name
// opens the file of that name: through the wide-character calls on Windows,
// through its UTF-8 form on POSIX.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <spinmap/platform/platform.h>
#include "support.h"

namespace spinmap {
namespace {

namespace fs = std::filesystem;

// "Messdaten-äöü€.dat" as UTF-16LE code units after the mark.
const std::string WIDE_NAME(
    "\xFF\xFE"
    "M\0e\0s\0s\0d\0a\0t\0e\0n\0-\0\xE4\0\xF6\0\xFC\0\xAC\x20.\0d\0a\0t\0",
    2 + 2 * 18);

// The same name as the file system is given it.
const fs::path NATIVE_NAME(u8"Messdaten-\u00E4\u00F6\u00FC\u20AC.dat");

TEST(WidePath, NonAsciiNameOpensTheFileOfThatName) {
    const test::scratch_folder scratch;
    const fs::path folder(scratch.path());
    {
        std::ofstream file(folder / NATIVE_NAME, std::ios::binary);
        file << "contents";
    }
    const std::string path = test::wide_path(scratch.path() + "/") + WIDE_NAME.substr(2);
    EXPECT_TRUE(u_is_regular_file(path));
    std::FILE* f = u_open_file(path, false);
    ASSERT_NE(f, nullptr);
    char text[16] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, f), 8u);
    EXPECT_STREQ(text, "contents");
    std::fclose(f);
}

}  // namespace
}  // namespace spinmap
