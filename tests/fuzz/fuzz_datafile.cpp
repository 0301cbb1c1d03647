// Fuzz target: arbitrary bytes as a data file. Reads them from memory (and
// again with the intensity block carried, which must agree in code and in
// the bytes written back), checks the attributes and, when the file is
// accepted and small, rotates it
// the way the tool does (angle, pivot and method from the input's last eight
// bytes), writes the result to memory and reads it back. Any crash,
// sanitizer report, leak or round-trip mismatch is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <spinmap/run/run.h>
#include <spinmap/datafile/datafile.h>
#include <spinmap/matrix/matrix.h>
#include <spinmap/transform/transform.h>

namespace spinmap {
namespace {

// Rotation is tried only on small frames, so that each input stays fast.
constexpr int64_t LARGEST_CAMERA_PIXELS = 128 * 128;
constexpr std::size_t TRAILER_BYTES = 8;

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "fuzz finding: %s\n", what);
    std::abort();
}

struct file_data {
    InfoBlock info{};
    HeaderRecord header{};
    owned_intensity intensity;
    owned_height height;
};

int read_from_memory(const uint8_t* data, std::size_t size, file_data* f) {
    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (stream == nullptr) return -1;
    const int code = read_data_stream(stream, &f->info, &f->header, &f->intensity, &f->height);
    std::fclose(stream);
    if (code != 0 && (f->intensity.matrix != nullptr || f->height.matrix != nullptr)) {
        finding("a failed read kept a matrix");
    }
    return code;
}

int16_t load_int16(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] << 8 | p[1])); }

struct rotation {
    double angle = 0;
    double pivot_x = NO_PIVOT;
    double pivot_y = NO_PIVOT;
    int mode = ROT_WIN_GIVEN;
};

// Trailer: angle in tenths of a degree, pivot in half pixels (16-bit each),
// a method byte (0 automatic, 1 interpolate, 2 move values; bit 2: pivot at
// the valid points' centre) and a byte whose bit 0 takes the angle and pivot
// as raw doubles from the 24 bytes before the trailer instead.
rotation rotation_from(const uint8_t* data, std::size_t size) {
    rotation r;
    if (size < TRAILER_BYTES) return r;
    const uint8_t* t = data + size - TRAILER_BYTES;
    r.angle = load_int16(t) / 10.0;
    r.pivot_x = load_int16(t + 2) / 2.0;
    r.pivot_y = load_int16(t + 4) / 2.0;
    static const int methods[] = {0, ROT_INTERP, ROT_NO_INTERP, 0};
    r.mode = ROT_WIN_GIVEN | methods[t[6] & 3];
    if ((t[6] & 4) != 0) r.pivot_x = r.pivot_y = NO_PIVOT;
    if ((t[7] & 1) != 0 && size >= TRAILER_BYTES + 24) {
        double raw[3];
        std::memcpy(raw, t - 24, sizeof raw);
        r.angle = raw[0];
        r.pivot_x = raw[1];
        r.pivot_y = raw[2];
    }
    return r;
}

bool same_elements(const void* a, const void* b, std::size_t bytes) {
    return bytes == 0 || std::memcmp(a, b, bytes) == 0;
}

// Writes the data to memory and reads it back; the matrices must return as
// they were written.
void check_round_trip(const file_data& f) {
    char* buffer = nullptr;
    std::size_t length = 0;
    std::FILE* stream = open_memstream(&buffer, &length);
    if (stream == nullptr) return;
    const int code = write_data_stream(stream, &f.info, &f.header, &f.intensity, &f.height);
    std::fclose(stream);
    if (code == 0) {
        file_data back;
        if (read_from_memory(reinterpret_cast<const uint8_t*>(buffer), length, &back) != 0) {
            finding("a written file does not read back");
        }
        const window& hw = f.height.window;
        const window& bw = back.height.window;
        if (hw.x != bw.x || hw.y != bw.y || hw.width != bw.width || hw.height != bw.height ||
            !same_elements(f.height.matrix, back.height.matrix, std::size_t{4} * hw.width * hw.height)) {
            finding("height data changed in a round trip");
        }
        const intensity_matrix& fi = f.intensity;
        const intensity_matrix& bi = back.intensity;
        if (fi.matrix != nullptr) {
            const std::size_t bytes = std::size_t{2} * fi.n_buckets * fi.window.width * fi.window.height;
            if (bi.matrix == nullptr || fi.n_buckets != bi.n_buckets || fi.window.width != bi.window.width ||
                fi.window.height != bi.window.height || !same_elements(fi.matrix, bi.matrix, bytes)) {
                finding("intensity data changed in a round trip");
            }
        }
    }
    std::free(buffer);
}

// The file written whole from memory.
template <typename Write>
std::string written(Write&& write) {
    char* buffer = nullptr;
    std::size_t length = 0;
    std::FILE* stream = open_memstream(&buffer, &length);
    if (stream == nullptr) return {};
    const int code = write(stream);
    std::fclose(stream);
    std::string bytes = code == 0 ? std::string(buffer, length) : "failed: " + std::to_string(code);
    std::free(buffer);
    return bytes;
}

// Reading with the intensity block left in the input gives the same code as
// reading it whole, and writing it from there gives the same bytes.
void check_carried_agrees(const uint8_t* data, std::size_t size, int code, const file_data& f) {
    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (stream == nullptr) return;
    file_data c;
    carried_intensity intensity;
    const int carried_code = read_data_carrying_intensity(stream, &c.info, &c.header, &intensity, &c.height);
    if (carried_code != code) finding("a carried read differs in its code");
    if (code == 0 && written([&](std::FILE* out) {
                         return write_data_carrying_intensity(out, &c.info, &c.header, intensity, &c.height);
                     }) != written([&](std::FILE* out) {
                         return write_data_stream(out, &f.info, &f.header, &f.intensity, &f.height);
                     })) {
        finding("a carried intensity block is written differently");
    }
    std::fclose(stream);
}

// The tool's steps after reading: rotate on the camera frame, trim, rotate
// the fiducials, then write.
void rotate_like_the_tool(file_data* f, const rotation& r) {
    window valid{};
    if (matrix_valid_window(&f->height, nullptr, &valid) != 0) return;
    double px = r.pivot_x;
    double py = r.pivot_y;
    if (px == NO_PIVOT || py == NO_PIVOT) wn_center(valid, &px, &py);
    const window camera_frame{0, 0, f->header.CameraWidth, f->header.CameraHeight};
    if (matrix_rotate(&f->height, &camera_frame, &px, &py, r.angle, r.mode) != 0) return;
    if (matrix_trim(&f->height) != 0) return;
    rotate_fiducials(&f->header, px, py, r.angle, report_sink());
    check_round_trip(*f);
}

}  // namespace
}  // namespace spinmap

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace spinmap;
    if (size == 0) return 0;
    file_data f;
    const int code = read_from_memory(data, size, &f);
    check_carried_agrees(data, size, code, f);
    if (code != 0) return 0;
    std::string message;
    if (check_data_attributes(&f.header, &f.intensity, &f.height, true, &message) != 0) return 0;
    if (f.height.matrix == nullptr) {
        check_round_trip(f);
        return 0;
    }
    const int64_t camera_pixels = int64_t{f.header.CameraWidth} * f.header.CameraHeight;
    if (camera_pixels > LARGEST_CAMERA_PIXELS) return 0;
    rotate_like_the_tool(&f, rotation_from(data, size));
    return 0;
}
