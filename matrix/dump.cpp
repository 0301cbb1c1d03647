// Diagnostic dump of matrix records and the CRC-32 it prints.
#include <array>
#include <cinttypes>

#include <spinmap/matrix/matrix.h>

namespace spinmap {

namespace {

constexpr uint32_t CRC32_POLYNOMIAL = 0xEDB88320;  // reflected

constexpr std::array<uint32_t, 256> make_crc32_table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ CRC32_POLYNOMIAL : crc >> 1;
        table[byte] = crc;
    }
    return table;
}

constexpr std::array<uint32_t, 256> crc32_table = make_crc32_table();

// Bytes of the width x height elements the CRC covers, bounded by the
// allocation so a window changed after allocation never reads past it.
std::size_t crc_bytes(const window& w, uint32_t size, std::size_t element_bytes) {
    if (w.width <= 0 || w.height <= 0) return 0;
    const uint64_t elements = static_cast<uint64_t>(w.width) * static_cast<uint64_t>(w.height);
    const uint64_t covered = elements < size ? elements : size;
    return static_cast<std::size_t>(covered) * element_bytes;
}

void dump_record(std::FILE* stream, uint32_t size, const window& w, const void* array, std::size_t element_bytes) {
    std::fprintf(stream, "size   = %" PRIu32 "\n", size);
    std::fprintf(stream, "x      = %4d\n", w.x);
    std::fprintf(stream, "y      = %4d\n", w.y);
    std::fprintf(stream, "width  = %4d\n", w.width);
    std::fprintf(stream, "height = %4d\n", w.height);
    // The whole address, at least eight digits: a 64-bit address is not cut.
    std::fprintf(stream, "matrix = 0x%8.8" PRIXPTR "\n", reinterpret_cast<uintptr_t>(array));
    const std::size_t bytes = array != nullptr ? crc_bytes(w, size, element_bytes) : 0;
    if (bytes > 0) std::fprintf(stream, "crc    = 0x%8.8" PRIX32 "\n", u_crc32(array, bytes));
}

}  // namespace

uint32_t u_crc32(const void* data, std::size_t bytes) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t crc = 0;
    for (std::size_t i = 0; i < bytes; ++i) crc = (crc >> 8) ^ crc32_table[(crc ^ p[i]) & 0xFF];
    return crc;
}

void matrix_dump(std::FILE* stream, const height_matrix* m) {
    if (m == nullptr) {
        std::fputs("NULL\n", stream);
        return;
    }
    dump_record(stream, m->size, m->window, m->matrix, sizeof(int32_t));
}

void matrix_dump(std::FILE* stream, const intensity_matrix* m) {
    if (m == nullptr) {
        std::fputs("NULL\n", stream);
        return;
    }
    dump_record(stream, m->size, m->window, m->matrix, sizeof(uint16_t));
}

}  // namespace spinmap
