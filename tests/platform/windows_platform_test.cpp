// The Windows side of the platform calls, run under Windows or Wine: wide
// paths through the wide-character runtime, safe output through a temporary,
// calendar texts, and the C99 number conversions and printf forms the tool
// relies on.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <spinmap/platform/platform.h>
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

TEST(WindowsNames, Utf8AndUtf16GoBothWaysUnchangedAndMalformedUtf8IsRefused) {
    const struct {
        std::wstring wide;
        std::string utf8;
    } cases[] = {
        {L"plain.dat", "plain.dat"},
        {L"\u03bc\u03ad\u03c4\u03c1\u03b7\u03c3\u03b7", "\xCE\xBC\xCE\xAD\xCF\x84\xCF\x81\xCE\xB7\xCF\x83\xCE\xB7"},
        {L"\u6e2c\u5b9a-\u00e4", "\xE6\xB8\xAC\xE5\xAE\x9A-\xC3\xA4"},
        {L"scan-\U0001F300", "scan-\xF0\x9F\x8C\x80"},                 // a surrogate pair
        {std::wstring(L"a") + wchar_t(0xD800) + L"b", "a\xED\xA0\x80" "b"},  // an unpaired one keeps its units
    };
    for (const auto& c : cases) {
        EXPECT_EQ(u_utf8_of_wide(c.wide), c.utf8);
        EXPECT_EQ(u_wide_of_utf8(c.utf8), c.wide);
    }
    for (const char* bad : {"\xC0\x80", "\xFF", "\xE6\xB8", "\xF4\x90\x80\x80", "\x80"}) {
        EXPECT_EQ(u_wide_of_utf8(bad), std::nullopt) << bad;
    }
}

// Once the program takes its names as UTF-8, narrow UTF-8 names reach files
// whose names lie beyond the ANSI code page, for reading and for writing.
TEST(WindowsNames, NarrowUtf8NamesOpenTestAndReplaceFiles) {
    const temp_folder folder;
    const std::wstring name = L"\u6e2c\u5b9a-\U0001F300-\u03bc.dat";
    write_wide(folder.path / name, BINARY_BYTES);
    u_take_names_as_utf8();
    const std::string path = u_utf8_of_wide((folder.path / name).wstring());

    EXPECT_TRUE(u_is_regular_file(path));
    std::FILE* f = u_open_file(path, false);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(read_all(f), BINARY_BYTES);
    EXPECT_TRUE(u_is_same_file(f, wide_path((folder.path / name).wstring())));
    std::fclose(f);

    output_file out;
    ASSERT_TRUE(u_output_open(path, &out));
    ASSERT_EQ(std::fputs("new", out.stream), 0);
    ASSERT_TRUE(u_output_commit(&out));
    EXPECT_EQ(read_wide(folder.path / name), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), fs::directory_iterator()), 1);
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

std::vector<output_step> steps_seen;

bool record_step(output_step step) {
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
        u_output_step_hook = record_step;
        output_file out;
        ASSERT_TRUE(u_output_open(wide_path(file.wstring()), &out, durable));
        std::fputs("new", out.stream);
        EXPECT_TRUE(u_output_commit(&out));
        u_output_step_hook = nullptr;
        EXPECT_EQ(read_wide(file), "new");
        const std::vector<output_step> expected =
            durable ? std::vector<output_step>{output_step::flush_contents, output_step::rename}
                    : std::vector<output_step>{output_step::rename};
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

// The temporary's name is cut short to fit a folder's longest name (255
// units); a read-only file is refused as an open for writing would be.
TEST(WindowsOutput, TheLongestNameIsWrittenAndAReadOnlyFileIsNot) {
    const temp_folder folder;
    const fs::path longest = folder.path / std::wstring(255, L'n');
    const fs::path read_only = folder.path / L"read-only.dat";
    write_wide(read_only, "old");
    ASSERT_TRUE(SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_READONLY));
    for (const char* contents : {"created", "replaced"}) {
        output_file out;
        ASSERT_TRUE(u_output_open(wide_path(longest.wstring()), &out));
        std::fputs(contents, out.stream);
        EXPECT_TRUE(u_output_commit(&out));
        EXPECT_EQ(read_wide(longest), contents);
    }
    output_file out;
    EXPECT_FALSE(u_output_open(wide_path(read_only.wstring()), &out));
    EXPECT_EQ(read_wide(read_only), "old");
    ASSERT_TRUE(SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), fs::directory_iterator()), 2);
}

// A file's state by its open stream and by its name agree, and a write or
// another file under the name changes it.
TEST(WindowsFileState, KnowsTheFileAndItsChanges) {
    const temp_folder folder;
    const fs::path file = folder.path / NON_ASCII_NAME;
    write_wide(file, "first");
    std::FILE* open = _wfopen(file.c_str(), L"rb");
    ASSERT_NE(open, nullptr);
    const std::optional<file_state> before = u_file_state(open);
    ASSERT_TRUE(before);
    EXPECT_EQ(u_file_state(wide_path(file.wstring())), before);
    EXPECT_EQ(before->size, 5);
    std::fclose(open);
    write_wide(file, "second");
    EXPECT_NE(u_file_state(wide_path(file.wstring())), before);
    EXPECT_EQ(u_file_state((folder.path / L"missing.dat").string()), std::nullopt);
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

}  // namespace
}  // namespace spinmap
