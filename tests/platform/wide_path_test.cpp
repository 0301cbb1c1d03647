// A wide path (byte-order mark FF FE, then UTF-16LE) with a non-ASCII name
// opens the file of that name: through the wide-character calls on Windows,
// through its UTF-8 form on POSIX.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/platform.h"

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

// The tool's wide form of an ASCII folder name, joined to the wide name.
std::string wide_in(const std::string& folder) {
    std::string path = "\xFF\xFE";
    for (char c : folder + "/") path += std::string{c, '\0'};
    return path + WIDE_NAME.substr(2);
}

TEST(WidePath, NonAsciiNameOpensTheFileOfThatName) {
    // Its own folder, so that builds testing at the same time do not meet.
    const fs::path folder =
        fs::temp_directory_path() / ("spinmap-wide-path-test-" + std::to_string(std::random_device{}()));
    fs::remove_all(folder);
    fs::create_directory(folder);
    {
        std::ofstream file(folder / NATIVE_NAME, std::ios::binary);
        file << "contents";
    }
    const std::string path = wide_in(folder.string());
    EXPECT_TRUE(u_is_regular_file(path));
    std::FILE* f = u_open_file(path, false);
    ASSERT_NE(f, nullptr);
    char text[16] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, f), 8u);
    EXPECT_STREQ(text, "contents");
    std::fclose(f);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace spinmap
