// Byte builders, streams, scratch folders and whole files for the tests.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "support.h"

namespace spinmap::test {

bytes big_endian_16(std::initializer_list<uint16_t> values) {
    bytes b(values.size() * 2);
    std::size_t at = 0;
    for (uint16_t v : values) put16(b, (at++) * 2, v);
    return b;
}

bytes big_endian_32(std::initializer_list<int32_t> values) {
    bytes b(values.size() * 4);
    std::size_t at = 0;
    for (int32_t v : values) put32(b, (at++) * 4, static_cast<uint32_t>(v));
    return b;
}

file_ptr stream_of(const bytes& content) {
    file_ptr f(std::tmpfile());
    if (!content.empty()) std::fwrite(content.data(), 1, content.size(), f.get());
    std::rewind(f.get());
    return f;
}

bytes content_of(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    bytes all;
    uint8_t chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) all.insert(all.end(), chunk, chunk + n);
    return all;
}

scratch_folder::scratch_folder() {
    namespace fs = std::filesystem;
    std::random_device random;
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path candidate = base / ("spinmap-test-" + std::to_string(random()));
        if (fs::create_directory(candidate, error)) path_ = candidate.string();
    }
    if (path_.empty()) {
        std::fprintf(stderr, "cannot create a scratch folder in %s\n", base.string().c_str());
        std::abort();
    }
}

scratch_folder::~scratch_folder() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

std::string scratch_folder::file(std::string_view name) const { return path_ + "/" + std::string(name); }

std::vector<std::string> scratch_folder::names() const {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(path_)) found.push_back(e.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
}

bool write_file(const std::string& path, std::string_view bytes) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    stream.close();
    return !stream.fail();
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad()) return std::nullopt;
    return bytes;
}

}  // namespace spinmap::test
