// TIFF output through libtiff: one 32-bit float sample per pixel, heights in
// metres, NaN where invalid, the pixel spacing as the resolution. libtiff
// writes to the output's stream through the procedures below, so that the
// output's temporary and its commit stay with platform.
#include <tiffio.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "export/export.h"
#include <spinmap/platform/platform.h>

// The stream procedures libtiff calls; the handle is the output's stream.
extern "C" {

static std::FILE* stream_of(thandle_t handle) { return static_cast<std::FILE*>(handle); }

static tmsize_t read_stream(thandle_t handle, void* buffer, tmsize_t size) {
    return static_cast<tmsize_t>(std::fread(buffer, 1, static_cast<std::size_t>(size), stream_of(handle)));
}

static tmsize_t write_stream(thandle_t handle, void* buffer, tmsize_t size) {
    return static_cast<tmsize_t>(std::fwrite(buffer, 1, static_cast<std::size_t>(size), stream_of(handle)));
}

static toff_t seek_stream(thandle_t handle, toff_t offset, int origin) {
    std::FILE* stream = stream_of(handle);
    if (!spinmap::u_seek(stream, static_cast<int64_t>(offset), origin)) return static_cast<toff_t>(-1);
    return static_cast<toff_t>(spinmap::u_tell(stream));
}

// The output's owner closes the stream.
static int keep_stream(thandle_t) { return 0; }

static toff_t stream_size(thandle_t handle) {
    std::FILE* stream = stream_of(handle);
    const int64_t position = spinmap::u_tell(stream);
    const std::optional<int64_t> left = spinmap::u_bytes_left(stream);
    return position < 0 || !left ? 0 : static_cast<toff_t>(position + *left);
}

static int map_nothing(thandle_t, void**, toff_t*) { return 0; }
static void unmap_nothing(thandle_t, void*, toff_t) {}

}  // extern "C"

namespace spinmap {

namespace {

// Strips of about this many bytes.
constexpr int64_t STRIP_BYTES = 1 << 18;
// Past this size the classic format's 32-bit offsets no longer reach.
constexpr uint64_t CLASSIC_LIMIT = 0xFFFFFFFFu - (1u << 20);

struct tiff_closer {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using owned_tiff = std::unique_ptr<TIFF, tiff_closer>;

// TIFF's DateTime form, "YYYY:MM:DD HH:MM:SS", here in UTC.
std::string tiff_date(const utc_time& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04lld:%02d:%02d %02d:%02d:%02d", static_cast<long long>(t.year), t.month,
                  t.day, t.hour, t.minute, t.second);
    return text;
}

std::string description(const export_surface& s) {
    char spacing[NUMBER_TEXT_ROOM + 1];
    *put_number(spacing, s.spacing) = '\0';
    const window& w = s.height.window;
    return "Surface heights in metres, NaN where the data file holds no valid height; pixel spacing " +
           std::string(spacing) + " m; the first pixel is camera column " + std::to_string(w.x) + ", row " +
           std::to_string(w.y) + ". Exported by spinmap-export.";
}

bool fits_float(const export_surface& s) {
    const double low = height_in_metres(s.lowest, s.nm_per_count);
    const double high = height_in_metres(s.highest, s.nm_per_count);
    return std::fabs(low) <= FLT_MAX && std::fabs(high) <= FLT_MAX;
}

void set_tags(TIFF* tif, const export_surface& s, uint32_t rows_per_strip) {
    const window& w = s.height.window;
    const double pixels_per_cm = 0.01 / s.spacing;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(w.height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, pixels_per_cm);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, pixels_per_cm);
    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, description(s).c_str());
    TIFFSetField(tif, TIFFTAG_SOFTWARE, "spinmap-export (Spinmap " SPINMAP_VERSION ")");
    TIFFSetField(tif, TIFFTAG_DATETIME, tiff_date(utc_of(s.header.TimeStamp)).c_str());
}

int write_image(std::FILE* stream, const export_surface& s) {
    if (!fits_float(s)) return ERR_PARAM_OUT_OF_RANGE;
    const window& w = s.height.window;
    const uint64_t sample_bytes = uint64_t{4} * static_cast<uint64_t>(w.width) * static_cast<uint64_t>(w.height);
    std::vector<float> row(static_cast<std::size_t>(w.width));
    // libtiff's own messages would go to standard error; its failures are
    // reported through the codes here.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    const owned_tiff tif(TIFFClientOpen("output", sample_bytes > CLASSIC_LIMIT ? "w8" : "w", stream, read_stream,
                                        write_stream, seek_stream, keep_stream, stream_size, map_nothing,
                                        unmap_nothing));
    if (tif == nullptr) return ERR_CANT_WRITE_FILE;
    const int64_t row_bytes = int64_t{4} * w.width;
    set_tags(tif.get(), s, static_cast<uint32_t>(std::max<int64_t>(1, STRIP_BYTES / row_bytes)));
    for (int r = 0; r < w.height; ++r) {
        const int32_t* values = s.height.matrix + static_cast<std::size_t>(r) * static_cast<std::size_t>(w.width);
        for (int c = 0; c < w.width; ++c) row[c] = static_cast<float>(height_in_metres(values[c], s.nm_per_count));
        if (TIFFWriteScanline(tif.get(), row.data(), static_cast<uint32_t>(r), 0) < 0) return ERR_CANT_WRITE_FILE;
    }
    return TIFFFlush(tif.get()) == 1 ? 0 : ERR_CANT_WRITE_FILE;
}

}  // namespace

int write_tiff(std::FILE* stream, const export_surface& s) { return write_image(stream, s); }

}  // namespace spinmap
