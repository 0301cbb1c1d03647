// The Windows side of the platform calls, run under Windows or Wine: wide
// paths through the wide-character runtime, safe output through a temporary,
// calendar texts, and the C99 number conversions the tool relies on.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support.h"

namespace spinmap {
namespace {

namespace fs = std::filesystem;

// A scratch folder as a path that wide names join.
struct temp_folder {
    test::scratch_folder scratch;
    fs::path path{scratch.path()};
};

using test::wide_path;

void write_wide(const fs::path& file, const std::string& bytes) {
    std::FILE* f = _wfopen(file.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(std::fclose(f), 0);
}

std::string read_all(std::FILE* f) {
    std::string bytes;
    char buffer[256];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    return bytes;
}

std::string read_wide(const fs::path& file) {
    std::FILE* f = _wfopen(file.c_str(), L"rb");
    if (f == nullptr) return "<missing>";
    std::string bytes = read_all(f);
    std::fclose(f);
    return bytes;
}

// "Messdaten-äöü€.dat": Latin-1 letters and one beyond the ANSI code page.
const std::wstring NON_ASCII_NAME = L"Messdaten-\u00E4\u00F6\u00FC\u20AC.dat";

// Line ends and a byte that text mode would end the file at (0x1A).
const std::string BINARY_BYTES("\x88\x1B\x03\x71\r\n\n\x1A\x00\xFF", 10);

TEST(WindowsWidePath, OpensANonAsciiNameThroughTheWideRuntime) {
    const temp_folder folder;
    const fs::path file = folder.path / NON_ASCII_NAME;
    write_wide(file, BINARY_BYTES);
    const std::string path = wide_path(file.wstring());

    EXPECT_TRUE(u_is_regular_file(path));
    std::FILE* f = u_open_file(path, false);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(read_all(f), BINARY_BYTES);
    EXPECT_TRUE(u_is_same_file(f, path));
    EXPECT_FALSE(u_is_same_file(f, wide_path(folder.path.wstring())));
    std::fclose(f);
}

TEST(WindowsWidePath, FolderMissingAndMalformedNamesAreNoRegularFile) {
    const temp_folder folder;
    EXPECT_FALSE(u_is_regular_file(wide_path(folder.path.wstring())));
    EXPECT_FALSE(u_is_regular_file(wide_path((folder.path / L"missing.dat").wstring())));
    EXPECT_FALSE(u_is_regular_file(std::string("\xFF\xFE" "A", 3)));           // odd byte count
    EXPECT_FALSE(u_is_regular_file(std::string("\xFF\xFE" "A\0B\0", 6)));  // a zero unit
    EXPECT_EQ(u_open_file(std::string("\xFF\xFE" "A", 3), false), nullptr);
}

TEST(WindowsOutput, CommitReplacesTheTargetAndLeavesNoTemporary) {
    const temp_folder folder;
    const fs::path file = folder.path / NON_ASCII_NAME;
    write_wide(file, "old");
    output_file out;
    ASSERT_TRUE(u_output_open(wide_path(file.wstring()), &out));
    EXPECT_TRUE(out.replaces);
    ASSERT_EQ(std::fwrite(BINARY_BYTES.data(), 1, BINARY_BYTES.size(), out.stream), BINARY_BYTES.size());
    EXPECT_EQ(read_wide(file), "old");  // untouched until committed
    ASSERT_TRUE(u_output_commit(&out));
    EXPECT_EQ(read_wide(file), BINARY_BYTES);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), fs::directory_iterator()), 1);
}

TEST(WindowsOutput, CommitCreatesANewFileFromANarrowPath) {
    const temp_folder folder;
    const fs::path file = folder.path / L"new.dat";
    output_file out;
    ASSERT_TRUE(u_output_open(file.string(), &out));
    EXPECT_FALSE(out.replaces);
    ASSERT_EQ(std::fwrite(BINARY_BYTES.data(), 1, BINARY_BYTES.size(), out.stream), BINARY_BYTES.size());
    ASSERT_TRUE(u_output_commit(&out));
    EXPECT_EQ(read_wide(file), BINARY_BYTES);
    std::FILE* f = u_open_file(file.string(), false);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(read_all(f), BINARY_BYTES);
    std::fclose(f);
}

TEST(WindowsOutput, DiscardLeavesTheTargetAsItWas) {
    const temp_folder folder;
    const fs::path file = folder.path / NON_ASCII_NAME;
    write_wide(file, "old");
    output_file out;
    ASSERT_TRUE(u_output_open(wide_path(file.wstring()), &out));
    std::fputs("new", out.stream);
    u_output_discard(&out);
    EXPECT_EQ(read_wide(file), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), fs::directory_iterator()), 1);
}

std::vector<commit_step> steps_seen;

bool record_step(commit_step step) {
    steps_seen.push_back(step);
    return true;
}

TEST(WindowsOutput, ADurableCommitFlushesBeforeTheRenameAndTheInputIsKnownByItsIdentity) {
    const temp_folder folder;
    const fs::path file = folder.path / NON_ASCII_NAME;
    const fs::path other = folder.path / L"other.dat";
    write_wide(file, "old");
    write_wide(other, "old");
    ASSERT_TRUE(CreateHardLinkW((folder.path / L"link.dat").c_str(), file.c_str(), nullptr));
    EXPECT_TRUE(u_names_same_file(wide_path(file.wstring()), (folder.path / L"link.dat").string()));
    EXPECT_FALSE(u_names_same_file(wide_path(file.wstring()), other.string()));

    for (const bool durable : {true, false}) {
        SCOPED_TRACE(durable ? "durable" : "plain");
        steps_seen.clear();
        u_commit_step_hook = record_step;
        output_file out;
        ASSERT_TRUE(u_output_open(wide_path(file.wstring()), &out, durable));
        std::fputs("new", out.stream);
        EXPECT_TRUE(u_output_commit(&out));
        u_commit_step_hook = nullptr;
        EXPECT_EQ(read_wide(file), "new");
        const std::vector<commit_step> expected =
            durable ? std::vector<commit_step>{commit_step::flush_contents, commit_step::rename}
                    : std::vector<commit_step>{commit_step::rename};
        EXPECT_EQ(steps_seen, expected);
    }
}

TEST(WindowsOutput, AnInterruptionCanRemoveTheTemporaryWhileItIsOpen) {
    const temp_folder folder;
    const fs::path file = folder.path / L"out.dat";
    write_wide(file, "old");
    output_file out;
    ASSERT_TRUE(u_output_open(file.string(), &out, true));
    std::fputs("new", out.stream);
    // What the console handler does, on its own thread, while the program writes.
    EXPECT_TRUE(DeleteFileW(fs::path(out.temporary).c_str()));
    EXPECT_FALSE(u_output_commit(&out));
    EXPECT_EQ(read_wide(file), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), fs::directory_iterator()), 1);
}

TEST(WindowsOutput, NoFileWhereAFolderOrAMissingFolderIs) {
    const temp_folder folder;
    output_file out;
    EXPECT_FALSE(u_output_open(folder.path.string(), &out));
    EXPECT_FALSE(u_output_open((folder.path / L"missing" / L"out.dat").string(), &out));
    EXPECT_FALSE(u_output_open((folder.path / L"new.dat").string() + "\\", &out));
    EXPECT_EQ(out.stream, nullptr);
    EXPECT_TRUE(fs::is_empty(folder.path));
}

TEST(WindowsCalendarText, CtimeFormAndInvalidTimes) {
    ASSERT_EQ(_putenv("TZ=UTC"), 0);
    _tzset();
    EXPECT_EQ(u_calendar_text(0), "Thu Jan  1 00:00:00 1970\n");
    EXPECT_EQ(u_calendar_text(1700000000), "Tue Nov 14 22:13:20 2023\n");
    EXPECT_EQ(u_calendar_text(-1), std::nullopt);
    EXPECT_EQ(u_calendar_text(INT64_MIN), std::nullopt);
    EXPECT_EQ(u_calendar_text(INT64_MAX), std::nullopt);
}

TEST(WindowsRuntime, NumberTextsFollowTheC99Grammar) {
    const struct {
        const char* text;
        double value;
        std::size_t used;
    } cases[] = {
        {"0x5A", 90.0, 4}, {"-0x2D", -45.0, 5}, {"0X1P-3", 0.125, 6}, {"0x10,0x8", 16.0, 4},
        {" 45", 45.0, 3},  {"1e-3", 0.001, 4},  {"inf", HUGE_VAL, 3},  {"12abc", 12.0, 2},
    };
    for (const auto& c : cases) {
        char* end = nullptr;
        EXPECT_EQ(std::strtod(c.text, &end), c.value) << c.text;
        EXPECT_EQ(static_cast<std::size_t>(end - c.text), c.used) << c.text;
    }
}

TEST(WindowsRuntime, PrintfFormsMatchTheCLibrary) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {7.4, "7.4"}, {632.8, "632.8"}, {1e-5, "1e-05"}, {131072, "131072"}, {1e20, "1e+20"}, {-0.0, "-0"},
    };
    char text[64];
    for (const auto& c : cases) {
        std::snprintf(text, sizeof text, "%g", c.value);
        EXPECT_STREQ(text, c.text);
    }
    std::snprintf(text, sizeof text, "[%-*s]", 8, "Key");
    EXPECT_STREQ(text, "[Key     ]");
}

double from_bits(uint64_t bits) {
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint64_t bits_of(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Units in the last place between two doubles of the same sign.
uint64_t ulps_apart(double a, double b) {
    const uint64_t x = bits_of(a), y = bits_of(b);
    return x > y ? x - y : y - x;
}

// The runtime's sine and cosine against glibc's results for the rotation's
// angles (degrees to radians as the rotation converts them). Away from their
// zeros they agree to one unit in the last place; at the zeros near quarter
// turns (where the reduced angle is not exactly a multiple of pi/2) the
// results are about 1e-12 and differ by less than 1e-20.
TEST(WindowsRuntime, SineAndCosineAgreeWithGlibcToTheLastUnit) {
    const struct {
        double degrees;
        uint64_t sine, cosine;  // glibc's bits
    } cases[] = {
        {30, 0x3fdffffffffff627, 0x3febb67ae8584f82},      {45, 0x3fe6a09e667f35c5, 0x3fe6a09e667f41d4},
        {-33.3, 0xbfe191984d01e415, 0x3feabeef145aa98e},   {123.45, 0x3feab322c2548882, 0xbfe1a38135800dcb},
        {-354.54, 0x3fb85bcdb7ed34d8, 0x3fefdad4f234eddd}, {-347.95, 0x3fcab8d17aeaec78, 0x3fef4b7eea2ffd0f},
    };
    for (const auto& c : cases) {
        const double theta = std::fmod(c.degrees, 360) / 57.2957795131;
        EXPECT_LE(ulps_apart(std::sin(theta), from_bits(c.sine)), 1u) << c.degrees;
        EXPECT_LE(ulps_apart(std::cos(theta), from_bits(c.cosine)), 1u) << c.degrees;
    }
    const struct {
        double degrees;
        bool sine;  // else the cosine
        uint64_t glibc;
    } zeros[] = {{90, false, 0x3d610e8d313198a3}, {180, true, 0x3d710e8d313198a3}, {270, false, 0xbd7994d3c9ca64f4}};
    for (const auto& z : zeros) {
        const double theta = std::fmod(z.degrees, 360) / 57.2957795131;
        const double value = z.sine ? std::sin(theta) : std::cos(theta);
        EXPECT_LE(std::fabs(value - from_bits(z.glibc)), 1e-20) << z.degrees;
    }
}

}  // namespace
}  // namespace spinmap
