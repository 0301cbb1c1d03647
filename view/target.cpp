// The picture's output name and whatever file stands there now: a picture
// may replace an earlier picture, never a measurement or anything else.
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include <spinmap/platform/platform.h>
#include "view/view.h"

namespace spinmap {

namespace {

constexpr std::array<unsigned char, 8> PNG_SIGNATURE = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool ends_in_png(std::string_view path) {
    if (path.size() < 4) return false;
    const std::string_view tail = path.substr(path.size() - 4);
    constexpr std::string_view EXTENSION = ".png";
    for (std::size_t i = 0; i < EXTENSION.size(); ++i) {
        const char c = tail[i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != EXTENSION[i]) return false;
    }
    return true;
}

enum class existing { none, replaceable, unreadable, not_a_picture };

// What stands at the path: nothing the program can look at (it is created,
// or its creation fails later with its own message), an empty file or a PNG
// (replaceable), a device or a pipe (written in place: nothing is replaced),
// or anything else. Only a regular file is opened, so that a FIFO without a
// writer never holds the check up.
existing what_is_there(std::string_view path) {
    switch (u_path_kind(path)) {
        case path_kind::missing:
            return existing::none;
        case path_kind::folder:
            return existing::not_a_picture;
        case path_kind::other:
            return existing::replaceable;
        case path_kind::regular_file:
            break;
    }
    const owned_file stream(u_open_file(path, false));
    if (stream == nullptr) return existing::unreadable;
    std::array<unsigned char, PNG_SIGNATURE.size()> head{};
    const std::size_t got = std::fread(head.data(), 1, head.size(), stream.get());
    const bool failed = std::ferror(stream.get()) != 0;
    if (failed) return existing::not_a_picture;
    if (got == 0) return existing::replaceable;
    return got == head.size() && head == PNG_SIGNATURE ? existing::replaceable : existing::not_a_picture;
}

}  // namespace

bool check_picture_target(std::string_view path, std::string* message) {
    const std::string name = "\"" + std::string(path) + "\"";
    if (!ends_in_png(path)) {
        *message = "Output PNG file name does not end in \".png\": " + name;
        return false;
    }
    switch (what_is_there(path)) {
        case existing::none:
        case existing::replaceable:
            return true;
        case existing::unreadable:
            *message = "Output PNG file " + name + " exists and cannot be read to check that it is a picture";
            return false;
        case existing::not_a_picture:
            *message = "Output PNG file " + name + " exists and is not a PNG picture; it is not replaced";
            return false;
    }
    return false;
}

}  // namespace spinmap
