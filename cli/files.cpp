// What the messages say about files that cannot be read or written.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/cli.h"
#include <spinmap/errors/errors.h>
#include <spinmap/platform/platform.h>

namespace spinmap::cli {

namespace {

// The path's narrow form (a wide path's UTF-8), whose separators can be
// found byte by byte.
std::string narrow_form(std::string_view path) {
    if (!is_wide_path(path)) return std::string(path);
    return utf16le_to_utf8(path.substr(2)).value_or(std::string());
}

bool is_separator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// The folder a name stands in, as written ("" for a bare name, which stands
// in the current folder; a root keeps its separator).
std::string folder_of(const std::string& path) {
    std::size_t end = path.size();
    while (end > 0 && !is_separator(path[end - 1])) --end;
    if (end == 0) return {};
    const std::size_t separator = end - 1;
    return path.substr(0, separator == 0 ? 1 : separator);
}

// A file's first bytes and its length; nullopt when it cannot be read.
struct file_start {
    std::string bytes;  // up to 256
    long long length = 0;
};

std::optional<file_start> read_start(std::string_view path) {
    const owned_file stream(u_open_file(path, false));
    if (!stream) return std::nullopt;
    file_start start;
    const std::optional<int64_t> left = u_bytes_left(stream.get());
    if (!left) return std::nullopt;
    start.length = *left;
    char bytes[256];
    start.bytes.assign(bytes, std::fread(bytes, 1, sizeof bytes, stream.get()));
    return start;
}

// Printable ASCII, white space and UTF-8 bytes only.
bool looks_like_text(std::string_view bytes) {
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') return false;
        if (b == 0x7F) return false;
    }
    return !bytes.empty();
}

// Why a file that does not begin with a header's mark is none.
std::string what_it_is(std::string_view path) {
    const std::optional<file_start> start = read_start(path);
    if (!start) return "it does not begin with the mark of a data file header";
    if (start->bytes.rfind("\x89PNG\r\n\x1A\n", 0) == 0) return "it is a PNG picture";
    if (looks_like_text(start->bytes)) return "it holds text";
    return "it does not begin with the mark of a data file header";
}

// A file that ends before its header is complete.
std::string short_file(std::string_view path, const std::string& name) {
    const std::optional<file_start> start = read_start(path);
    // The mark alone is four bytes.
    if (start && start->length == 0) return "Input file " + name + " is empty: it is not a measurement data file";
    if (start && start->length < 4) {
        return "Input file " + name + " holds only " + std::to_string(start->length) +
               " bytes: it is not a measurement data file";
    }
    return "Input data file " + name + " is cut short: it ends inside its header";
}

}  // namespace

std::string why_no_new_file(std::string_view path) {
    const std::string narrow = narrow_form(path);
    switch (u_path_kind(narrow)) {
        case path_kind::folder: return "it is a folder";
        case path_kind::other: return "it is not a regular file";
        case path_kind::regular_file: return {};
        case path_kind::missing: break;
    }
    const std::string folder = folder_of(narrow);
    if (folder.empty()) return {};
    switch (u_path_kind(folder)) {
        case path_kind::missing: return "the folder " + quoted(folder) + " does not exist";
        case path_kind::regular_file:
        case path_kind::other: return quoted(folder) + " is not a folder";
        case path_kind::folder: break;
    }
    return {};
}

std::string why_no_file(std::string_view path) {
    if (u_is_regular_file(path)) return {};
    const std::string why = why_no_new_file(path);
    return why.empty() ? "there is no such file" : why;
}

std::string unreadable_input(std::string_view path, int code) {
    const std::string name = quoted(path);
    if (const std::string why = why_no_file(path); !why.empty()) return "Cannot access input data file " + name + ": " + why;
    switch (code) {
        case ERR_NOT_A_DATA_FILE:
            return "Input file " + name + " is not a measurement data file: " + what_it_is(path);
        case ERR_PREMATURE_EOF:
            return short_file(path, name);
        case ERR_CORRUPT_DATA_FILE:
            return "Input data file " + name + " is cut short or damaged: its data blocks do not hold what its header announces";
        case ERR_DATASET_DIM_TOO_LARGE:
        case ERR_PARAM_OUT_OF_RANGE:
            return "Input data file " + name + " is damaged: its header gives a data block an impossible size";
        case ERR_CANT_OPEN_FILE:
            return "Cannot open input data file " + name + " for reading";
        default:
            break;
    }
    return "Error reading input data file " + name + ": " + error_name(code);
}

std::string unloadable_input(std::string_view path, const load_failure& failure) {
    switch (failure.step) {
        case load_step::attributes:
            return "Invalid attribute information in input data file " + quoted(path) + "\n" + failure.reason;
        case load_step::heights: return "Input data file " + quoted(path) + " contains no height data";
        default: return unreadable_input(path, failure.code);
    }
}

bool measure_input_heights(std::string_view path, const height_matrix& heights, height_statistics* stats,
                           std::string* message) {
    const int code = measure_heights(heights, stats);
    if (code == 0) return true;
    *message = code == ERR_ALL_BAD_DATA ? "Input data file " + quoted(path) + " contains no valid height points"
                                        : "Input data file " + quoted(path) + ": " + error_name(code);
    return false;
}

}  // namespace spinmap::cli
