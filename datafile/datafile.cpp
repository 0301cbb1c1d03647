// Reading and writing whole data files: the header, the intensity block and
// the height block; byte-order reversal and file copying.
#include <spinmap/datafile/datafile.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include <spinmap/datafile/byte_order.h>
#include <spinmap/datafile/header_layout.h>
#include <spinmap/errors/errors.h>
#include <spinmap/platform/platform.h>

namespace spinmap {

namespace {

constexpr std::size_t MAGIC_BYTES = 4;
constexpr std::size_t INTENSITY_CHUNK_ELEMENTS = 32768;  // one 65536-byte scratch buffer
// Blocks are read in pieces of this size, each converted while it is still
// in the cache: one pass over the array instead of a read pass and a
// separate byte-order pass.
constexpr std::size_t BLOCK_CHUNK_BYTES = 262144;
// The height block goes out through a scratch buffer of this size: each
// write call has a cost of its own in the system, and 1 MiB pieces wrote a
// 64 MiB block about a fifth faster than 256 KiB ones.
constexpr std::size_t HEIGHT_WRITE_CHUNK_BYTES = 1 << 20;
// Heights made as they are written go out in bands of about 4 MiB: a band
// of a quarter turn is a stripe of the source's columns, and stripes of
// 1 MiB (64 columns of a 4096-wide frame) read too little of each source
// row (a turn of 4096 x 4096 made in 1 MiB bands took 21 ms, in 4 MiB 12).
// A smaller block still goes out in four bands, none under 1 MiB: the one
// scratch buffer serves every band, and a block made in a single band would
// cost as many fresh pages as the turned frame it replaces (a run of
// 1024 x 1024 at 30 degrees: 1,670 page faults in one band, 905 in four;
// faults are most of a small run's cost when many files run side by side).
constexpr std::size_t MADE_BAND_BYTES = 4 << 20;
constexpr std::size_t MADE_BAND_LEAST_BYTES = 1 << 20;
constexpr std::ptrdiff_t MADE_BANDS_AT_LEAST = 4;
constexpr std::ptrdiff_t MADE_ROW_GAP = 16;  // one cache line
constexpr int64_t LARGEST_BLOCK_BYTES = std::numeric_limits<int32_t>::max();
constexpr unsigned LARGEST_WINDOW_EXTENT = 32767;

// ---- Reading ----------------------------------------------------------------

// True unless the stream is known to end before `bytes` more bytes. A stream
// that cannot seek is given the benefit of the doubt; its read then decides.
bool stream_may_hold(std::FILE* stream, int64_t bytes) {
    const std::optional<int64_t> left = u_bytes_left(stream);
    return !left || *left >= bytes;
}

// Moves past bytes the reader does not keep; a stream that cannot seek is
// read through instead, so the next block is still found at its place. Not
// checked: a block skipped past the end shows up as a short read of the next
// one, if any.
void skip_bytes(std::FILE* stream, int64_t bytes) {
    if (u_seek(stream, bytes, SEEK_CUR)) return;
    uint8_t discard[4096];
    while (bytes > 0) {
        const auto n = static_cast<std::size_t>(std::min<int64_t>(bytes, sizeof discard));
        if (std::fread(discard, 1, n, stream) != n) return;
        bytes -= static_cast<int64_t>(n);
    }
}

// Reads the magic number and the whole header it announces into the image;
// *length receives 834 or 4096.
int read_header(std::FILE* stream, header_image* image, int* length) {
    // Zero-extended: every field beyond an 834-byte header decodes as zero.
    uint8_t bytes[LONG_HEADER_BYTES] = {};
    if (std::fread(bytes, 1, MAGIC_BYTES, stream) != MAGIC_BYTES) return ERR_PREMATURE_EOF;
    *length = header_length(load_big_endian_32(bytes));
    if (*length == 0) return ERR_NOT_A_DATA_FILE;
    // The rest of the header follows the magic directly, so no seek back is
    // needed and a stream that cannot seek is read the same way.
    const std::size_t rest = static_cast<std::size_t>(*length) - MAGIC_BYTES;
    if (std::fread(bytes + MAGIC_BYTES, rest, 1, stream) != 1) return ERR_PREMATURE_EOF;
    decode_header(bytes, image);
    return 0;
}

// Reads `count` big-endian elements straight into the array, piece by
// piece, and turns each piece into host order right after it arrived. False
// when fewer elements arrive.
template <typename Element>
bool read_big_endian(std::FILE* stream, Element* elements, std::size_t count) {
    constexpr std::size_t CHUNK = BLOCK_CHUNK_BYTES / sizeof(Element);
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(count - done, CHUNK);
        if (std::fread(elements + done, sizeof(Element), n, stream) != n) return false;
        big_endian_in_place(elements + done, n);
        done += n;
    }
    return true;
}

// Window extents are 16-bit fields; taken as unsigned counts, above 32767 is
// too large (this also refuses negative ones).
bool extent_too_large(int16_t extent) { return static_cast<uint16_t>(extent) > LARGEST_WINDOW_EXTENT; }

int take_intensity_geometry(const block_geometry& geometry, intensity_matrix* intensity) {
    matrix_clear(intensity);
    if (geometry.IntensBytes <= 0) return 0;
    if (extent_too_large(geometry.IntensWindowWidth) || extent_too_large(geometry.IntensWindowHeight)) {
        return ERR_DATASET_DIM_TOO_LARGE;
    }
    intensity->window = {geometry.IntensWindowX, geometry.IntensWindowY, geometry.IntensWindowWidth,
                         geometry.IntensWindowHeight};
    intensity->n_buckets = geometry.IntensBuckets;
    intensity->intens_range = geometry.IntensRange;
    return 0;
}

int take_height_geometry(const block_geometry& geometry, height_matrix* height) {
    matrix_clear(height);
    if (geometry.PhaseBytes <= 0) return 0;
    if (extent_too_large(geometry.PhaseWindowWidth) || extent_too_large(geometry.PhaseWindowHeight)) {
        return ERR_DATASET_DIM_TOO_LARGE;
    }
    height->window = {geometry.PhaseWindowX, geometry.PhaseWindowY, geometry.PhaseWindowWidth,
                      geometry.PhaseWindowHeight};
    return 0;
}

// The elements the intensity block's frames hold.
int64_t intensity_elements(const intensity_matrix& intensity) {
    return int64_t{intensity.n_buckets} * intensity.window.width * intensity.window.height;
}

// Reads the n_buckets x width x height elements of the intensity block into
// a new array, or, given `carried_offset` and a stream that can tell its
// position, notes that position there and moves past the block. A block too
// short for its frames is corrupt; bytes beyond the frames (a whole element
// or more) are skipped.
int read_intensity_block(std::FILE* stream, int32_t intens_bytes, intensity_matrix* intensity,
                         int64_t* carried_offset) {
    const int64_t count = intensity_elements(*intensity);
    if (intensity->n_buckets < 0 || count == 0) return ERR_PARAM_OUT_OF_RANGE;
    const int64_t announced = intens_bytes / 2;
    if (announced < count) return ERR_CORRUPT_DATA_FILE;
    if (!stream_may_hold(stream, count * 2)) return ERR_CORRUPT_DATA_FILE;
    // The bytes beyond the frames are skipped only when they hold a whole
    // element: an odd last byte is where the height block is then read from.
    const int64_t block_bytes = announced > count ? int64_t{intens_bytes} : count * 2;
    if (carried_offset != nullptr && u_bytes_left(stream)) {
        *carried_offset = u_tell(stream);
        if (*carried_offset < 0) return ERR_CORRUPT_DATA_FILE;
        // The frames are there (above); the rest is skipped as after a read.
        skip_bytes(stream, block_bytes);
        return 0;
    }
    const int code = matrix_alloc(intensity);
    if (code != 0) return code;
    if (!read_big_endian(stream, intensity->matrix, static_cast<std::size_t>(count))) return ERR_CORRUPT_DATA_FILE;
    if (block_bytes > count * 2) skip_bytes(stream, block_bytes - count * 2);
    return 0;
}

// Reads the width x height elements of the height block into a new array;
// their number comes from the window, not from PhaseBytes.
int read_height_block(std::FILE* stream, height_matrix* height) {
    const int64_t count = int64_t{height->window.width} * height->window.height;
    if (count == 0) return ERR_PARAM_OUT_OF_RANGE;
    if (!stream_may_hold(stream, count * 4)) return ERR_CORRUPT_DATA_FILE;
    const int code = matrix_alloc(height);
    if (code != 0) return code;
    if (!read_big_endian(stream, height->matrix, static_cast<std::size_t>(count)) || std::ferror(stream)) {
        return ERR_CORRUPT_DATA_FILE;
    }
    return 0;
}

// Every step of reading; on failure the caller's matrices_being_read
// releases the matrices. With `carried_offset`, the intensity block may stay
// in the stream (see read_intensity_block).
int read_stream_steps(std::FILE* stream, InfoBlock* info, HeaderRecord* header, intensity_matrix* intensity,
                      int64_t* carried_offset, height_matrix* height) {
    header_image image{};
    int length = 0;
    int code = read_header(stream, &image, &length);
    if (code != 0) return code;
    const block_geometry& geometry = image.geometry;
    if (info != nullptr) *info = image.info;
    if (intensity != nullptr) {
        code = take_intensity_geometry(geometry, intensity);
        if (code != 0) return code;
    }
    if (height != nullptr) {
        code = take_height_geometry(geometry, height);
        if (code != 0) return code;
    }
    if (header != nullptr) {
        *header = image.record;
        if (length == LONG_HEADER_BYTES) header->Format3Mark = 3;
    }
    if (geometry.IntensBytes > 0) {
        if (intensity == nullptr) {
            skip_bytes(stream, geometry.IntensBytes);
        } else {
            code = read_intensity_block(stream, geometry.IntensBytes, intensity, carried_offset);
            if (code != 0) return code;
        }
    }
    if (geometry.PhaseBytes > 0) {
        if (height == nullptr) {
            skip_bytes(stream, geometry.PhaseBytes);
        } else {
            code = read_height_block(stream, height);
            if (code != 0) return code;
        }
    }
    return 0;
}

// The caller's matrices while a read fills them: released on the way out
// unless the read succeeded.
class matrices_being_read {
public:
    matrices_being_read(intensity_matrix* intensity, height_matrix* height) : intensity_(intensity), height_(height) {}
    matrices_being_read(const matrices_being_read&) = delete;
    matrices_being_read& operator=(const matrices_being_read&) = delete;
    ~matrices_being_read() {
        if (read_) return;
        if (intensity_ != nullptr) matrix_free(intensity_);
        if (height_ != nullptr) matrix_free(height_);
    }

    // The read's code; 0 leaves the matrices to the caller as they are.
    int settle(int code) {
        read_ = code == 0;
        return code;
    }

private:
    intensity_matrix* intensity_;
    height_matrix* height_;
    bool read_ = false;
};

// ---- Writing ----------------------------------------------------------------

const intensity_matrix* present(const intensity_matrix* m) {
    return m != nullptr && m->matrix != nullptr ? m : nullptr;
}

const height_matrix* present(const height_matrix* m) { return m != nullptr && m->matrix != nullptr ? m : nullptr; }

// The element counts of the two blocks, 0 for an absent matrix.
struct block_counts {
    int64_t intensity;
    int64_t height;
};

// Counts the elements each present matrix writes. A block whose byte length
// does not fit its signed 32-bit header field is too large; a negative
// extent, or an array smaller than its window needs, is refused.
// A carried intensity block has no array to be measured against.
int count_block_elements(const intensity_matrix* intensity, const height_matrix* height, block_counts* counts,
                         bool intensity_carried = false) {
    *counts = {};
    if (intensity != nullptr) {
        const window& w = intensity->window;
        if (intensity->n_buckets < 0 || w.width < 0 || w.height < 0) return ERR_INVALID_PARAM;
        const int64_t count = intensity_elements(*intensity);
        if (count * 2 > LARGEST_BLOCK_BYTES) return ERR_DATASET_DIM_TOO_LARGE;
        if (!intensity_carried && count > int64_t{intensity->size}) return ERR_INVALID_PARAM;
        counts->intensity = count;
    }
    if (height != nullptr) {
        const window& w = height->window;
        if (w.width < 0 || w.height < 0) return ERR_INVALID_PARAM;
        const int64_t count = int64_t{w.width} * w.height;
        if (count * 4 > LARGEST_BLOCK_BYTES) return ERR_DATASET_DIM_TOO_LARGE;
        if (count > int64_t{height->size}) return ERR_INVALID_PARAM;
        counts->height = count;
    }
    return 0;
}

// The header to write: format chosen from the record, the InfoBlock and the
// record as given (or zeros), the block geometry from the matrices.
int build_header(const InfoBlock* info, const HeaderRecord* header, const intensity_matrix* intensity,
                 const height_matrix* height, const block_counts& counts, header_image* image) {
    *image = header_image{};
    const int length = choose_header_format(header, image);
    if (info != nullptr) image->info = *info;
    if (header != nullptr) image->record = *header;
    block_geometry& geometry = image->geometry;
    if (intensity != nullptr) {
        geometry.IntensWindowX = intensity->window.x;
        geometry.IntensWindowY = intensity->window.y;
        geometry.IntensWindowWidth = intensity->window.width;
        geometry.IntensWindowHeight = intensity->window.height;
        geometry.IntensBuckets = intensity->n_buckets;
        geometry.IntensRange = intensity->intens_range;
        geometry.IntensBytes = static_cast<int32_t>(counts.intensity * 2);
    }
    if (height != nullptr) {
        geometry.PhaseWindowX = height->window.x;
        geometry.PhaseWindowY = height->window.y;
        geometry.PhaseWindowWidth = height->window.width;
        geometry.PhaseWindowHeight = height->window.height;
        geometry.PhaseBytes = static_cast<int32_t>(counts.height * 4);
    }
    return length;
}

int write_header(const header_image& image, int length, std::FILE* stream) {
    uint8_t bytes[LONG_HEADER_BYTES];
    encode_header(image, bytes);
    if (std::fwrite(bytes, static_cast<std::size_t>(length), 1, stream) != 1) return ERR_CANT_WRITE_FILE;
    return 0;
}

// Writes the elements big-endian through one scratch buffer of
// chunk_elements, a chunk at a time, so the caller's array is left as it was
// and no copy of the whole block is ever made.
template <typename Element>
int write_big_endian(std::span<const Element> elements, std::size_t chunk_elements, std::FILE* stream) {
    const hook_buffer<Element> scratch = hook_allocate<Element>(chunk_elements);
    if (scratch == nullptr) return ERR_NO_MEM;
    for (std::size_t done = 0; done < elements.size();) {
        const std::size_t n = std::min(elements.size() - done, chunk_elements);
        big_endian_copy(elements.data() + done, n, scratch.get());
        if (std::fwrite(scratch.get(), sizeof(Element), n, stream) != n) return ERR_CANT_WRITE_FILE;
        done += n;
    }
    return 0;
}

int write_height_block(std::span<const int32_t> elements, std::FILE* stream) {
    if (elements.empty()) return 0;
    return write_big_endian(elements, HEIGHT_WRITE_CHUNK_BYTES / sizeof(int32_t), stream);
}

// Writes the rows of the window as make_rows makes them, a band of whole
// rows at a time into one scratch buffer of about MADE_BAND_BYTES; each band
// is turned big-endian there, its rows closed up, while it is still in the
// cache. The rows are made MADE_ROW_GAP elements apart: a quarter turn
// writes a band down its columns, and rows a power of two apart would share
// the cache's sets.
int write_made_heights(const window& w, const height_rows_maker& make_rows, std::FILE* stream) {
    if (w.width <= 0 || w.height <= 0) return 0;
    const std::ptrdiff_t width = w.width, pitch = width + MADE_ROW_GAP;
    const std::ptrdiff_t most_rows = static_cast<std::ptrdiff_t>(MADE_BAND_BYTES / sizeof(int32_t)) / pitch;
    const std::ptrdiff_t least_rows = static_cast<std::ptrdiff_t>(MADE_BAND_LEAST_BYTES / sizeof(int32_t)) / pitch;
    const std::ptrdiff_t rows = std::max<std::ptrdiff_t>((w.height + MADE_BANDS_AT_LEAST - 1) / MADE_BANDS_AT_LEAST,
                                                         least_rows);
    const int band_rows = static_cast<int>(std::clamp<std::ptrdiff_t>(std::min(rows, most_rows), 1, w.height));
    const hook_buffer<int32_t> scratch = hook_allocate<int32_t>(static_cast<std::size_t>(pitch * band_rows));
    if (scratch == nullptr) return ERR_NO_MEM;
    for (int first = 0; first < w.height; first += band_rows) {
        const int count = std::min(band_rows, w.height - first);
        const int code = make_rows(first, count, scratch.get(), pitch);
        if (code != 0) return code;
        // Each row moves to the front, onto places already read.
        for (std::ptrdiff_t k = 0; k < count; ++k) {
            big_endian_copy(scratch.get() + k * pitch, static_cast<std::size_t>(width), scratch.get() + k * width);
        }
        const std::size_t n = static_cast<std::size_t>(width * count);
        if (std::fwrite(scratch.get(), sizeof(int32_t), n, stream) != n) return ERR_CANT_WRITE_FILE;
    }
    return 0;
}

// Every step of writing, for present matrices only (null for an absent
// one). The intensity block comes from `carried` when given, from the
// frames' array otherwise; the height block from make_rows when given (the
// height record then gives only the window and its element count), from
// the matrix's array otherwise.
int write_stream_steps(std::FILE* stream, const InfoBlock* info, const HeaderRecord* header,
                       const intensity_matrix* intensity, const carried_intensity* carried,
                       const height_matrix* height, const height_rows_maker* make_rows = nullptr) {
    if (intensity == nullptr && height == nullptr) return ERR_INVALID_PARAM;
    block_counts counts{};
    int code = count_block_elements(intensity, height, &counts, carried != nullptr);
    if (code != 0) return code;
    // A stream without a position (a pipe) is written where it stands.
    if (u_tell(stream) >= 0 && !u_seek(stream, 0, SEEK_END)) return ERR_CANT_WRITE_FILE;
    header_image image{};
    const int length = build_header(info, header, intensity, height, counts, &image);
    code = write_header(image, length, stream);
    if (code != 0) return code;
    if (carried != nullptr) {
        code = u_copy_range(carried->input, carried->offset, counts.intensity * 2, stream);
    } else if (intensity != nullptr) {
        code = write_intensity_block({intensity->matrix, static_cast<std::size_t>(counts.intensity)}, stream);
    }
    if (code != 0) return code;
    if (make_rows != nullptr) {
        code = write_made_heights(height->window, *make_rows, stream);
        if (code != 0) return code;
    } else if (height != nullptr) {
        code = write_height_block({height->matrix, static_cast<std::size_t>(counts.height)}, stream);
        if (code != 0) return code;
    }
    return 0;
}

// ---- File copying -----------------------------------------------------------

// Copies the bytes of an open file to another; the system error number of
// the failing call, or 0.
int copy_stream(std::FILE* source, std::FILE* target) {
    constexpr std::size_t COPY_BUFFER_BYTES = 65536;
    const hook_buffer<uint8_t> buffer = hook_allocate<uint8_t>(COPY_BUFFER_BYTES);
    if (buffer == nullptr) return ENOMEM;
    for (;;) {
        const std::size_t got = std::fread(buffer.get(), 1, COPY_BUFFER_BYTES, source);
        if (got < COPY_BUFFER_BYTES && std::ferror(source)) return u_last_system_error();
        if (got > 0 && std::fwrite(buffer.get(), 1, got, target) != got) return u_last_system_error();
        if (got < COPY_BUFFER_BYTES) return 0;
    }
}

// Closes a file that was written; false when that fails, as a write the
// stream only buffered still can then.
bool close_written(owned_file* stream) {
    errno = 0;
    return std::fclose(stream->release()) == 0;
}

// The system error number of a failed copy, or 0.
int copy_file_contents(std::string_view from, std::string_view to) {
    errno = 0;
    owned_file source(u_open_file(from, false));
    if (source == nullptr) return u_last_system_error();
    // Truncating the target would destroy a source that is the same file.
    if (u_is_same_file(source.get(), to)) return EINVAL;
    errno = 0;
    owned_file target(u_open_file(to, true));
    if (target == nullptr) return u_last_system_error();
    const int error = copy_stream(source.get(), target.get());
    source.reset();
    if (!close_written(&target) && error == 0) return u_last_system_error();
    return error;
}

}  // namespace

// ---- Public operations ------------------------------------------------------

int read_data_file(std::string_view path, InfoBlock* info, HeaderRecord* header, intensity_matrix* intensity,
                   height_matrix* height) {
    const owned_file stream(u_open_file(path, false));
    if (stream == nullptr) return ERR_CANT_OPEN_FILE;
    return read_data_stream(stream.get(), info, header, intensity, height);
}

int read_data_stream(std::FILE* stream, InfoBlock* info, HeaderRecord* header, intensity_matrix* intensity,
                     height_matrix* height) {
    matrices_being_read reading(intensity, height);
    return reading.settle(read_stream_steps(stream, info, header, intensity, nullptr, height));
}

int write_data_file(std::string_view path, const InfoBlock* info, const HeaderRecord* header,
                    const intensity_matrix* intensity, const height_matrix* height) {
    // Blocks that cannot be written are refused before the file is touched.
    block_counts counts{};
    int code = count_block_elements(present(intensity), present(height), &counts);
    if (code != 0) return code;
    owned_file stream(u_open_file(path, true));
    if (stream == nullptr) return ERR_CANT_CREATE_FILE;
    code = write_data_stream(stream.get(), info, header, intensity, height);
    if (!close_written(&stream) && code == 0) return ERR_CANT_WRITE_FILE;
    return code;
}

int write_data_stream(std::FILE* stream, const InfoBlock* info, const HeaderRecord* header,
                      const intensity_matrix* intensity, const height_matrix* height) {
    return write_stream_steps(stream, info, header, present(intensity), nullptr, present(height));
}

int write_data_carrying_intensity(std::FILE* stream, const InfoBlock* info, const HeaderRecord* header,
                                  const carried_intensity& intensity, const height_matrix* height) {
    if (intensity.frames.matrix != nullptr || intensity.input == nullptr) {
        return write_data_stream(stream, info, header, &intensity.frames, height);
    }
    return write_stream_steps(stream, info, header, &intensity.frames, &intensity, present(height));
}

int write_data_making_heights(std::FILE* stream, const InfoBlock* info, const HeaderRecord* header,
                              const carried_intensity& intensity, const window& height_window,
                              const height_rows_maker& make_rows) {
    const int64_t count = int64_t{height_window.width} * height_window.height;
    if (!make_rows || height_window.width <= 0 || height_window.height <= 0) return ERR_INVALID_PARAM;
    // The record only describes the block; make_rows gives its elements.
    const height_matrix described{static_cast<uint32_t>(count), height_window, nullptr};
    const bool carried = intensity.frames.matrix == nullptr && intensity.input != nullptr;
    return write_stream_steps(stream, info, header, carried ? &intensity.frames : present(&intensity.frames),
                              carried ? &intensity : nullptr, &described, &make_rows);
}

int read_data_carrying_intensity(std::FILE* stream, InfoBlock* info, HeaderRecord* header,
                                 carried_intensity* intensity, height_matrix* height) {
    intensity->input = nullptr;
    intensity->offset = -1;
    matrices_being_read reading(&intensity->frames, height);
    const int code =
        reading.settle(read_stream_steps(stream, info, header, &intensity->frames, &intensity->offset, height));
    if (code != 0) return code;
    if (intensity->frames.matrix == nullptr && intensity->offset >= 0) intensity->input = stream;
    return 0;
}

int write_intensity_block(std::span<const uint16_t> elements, std::FILE* stream) {
    return write_big_endian(elements, INTENSITY_CHUNK_ELEMENTS, stream);
}

void u_swap_bytes(void* address, int width) {
    if (width != 2 && width != 4 && width != 8) {
        error_message_hook("u_swap_bytes: n=%d\n", width);
        std::abort();
    }
    auto* bytes = static_cast<uint8_t*>(address);
    std::reverse(bytes, bytes + width);
}

int u_copy_file(std::string_view from, std::string_view to) {
    const int error = copy_file_contents(from, to);
    if (error == 0) return 0;
    error_message_hook("u_copy_file failed: win_err = %d\n", error);
    return ERR_CANT_WRITE_FILE;
}

}  // namespace spinmap
