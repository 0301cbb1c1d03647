// Helpers of the viewer tests: data files built in the test with the
// project's writer, and PNG pictures decoded with libpng.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support.h"
#include "view/view.h"

namespace spinmap::test {

// A data file to be written: sound attributes, a camera, and whatever
// blocks and fiducials a test gives it.
struct sample_file {
    InfoBlock info{};
    HeaderRecord header{};
    owned_height height;
    owned_intensity intensity;

    sample_file(int16_t camera_width, int16_t camera_height) {
        header = sound_header(camera_width, camera_height);
        header.CameraRes = 1.25e-5f;
        header.PhaseRes = 1;
    }

    // Heights over window w from value(camera x, camera y).
    void set_heights(window w, const std::function<int32_t(int, int)>& value) {
        height.window = w;
        ASSERT_EQ(matrix_alloc(&height), 0);
        for (int r = 0; r < w.height; ++r)
            for (int c = 0; c < w.width; ++c) height.matrix[r * w.width + c] = value(w.x + c, w.y + r);
    }
    // Intensity frames over window w from value(camera x, camera y, frame).
    void set_intensity(window w, int16_t frames, const std::function<uint16_t(int, int, int)>& value) {
        intensity.window = w;
        intensity.n_buckets = frames;
        ASSERT_EQ(matrix_alloc(&intensity), 0);
        std::size_t i = 0;
        for (int b = 0; b < frames; ++b)
            for (int r = 0; r < w.height; ++r)
                for (int c = 0; c < w.width; ++c) intensity.matrix[i++] = value(w.x + c, w.y + r, b);
    }
    void write(const std::string& path) const {
        ASSERT_EQ(write_data_file(path, &info, &header, &intensity, &height), 0) << path;
    }
};

// The file most tests draw: a 40 x 20 camera; heights over (4, 2, 30, 14)
// rising by 10 a column from 1000 to 1290, constant down a column, with the
// block x 10..13, y 5..7 invalid; fiducial A at (23.5, 9.7) and B at (2, 1)
// next to the corner, C at a NaN and far away, D empty. The percentiles of
// its 408 valid heights are 1000 (rank 3) and 1290 (rank 406). One count is
// 2^-20 m / 4096 = 2^-32 m = 0.23283064365386963 nm of surface height, so
// the heights run from 232.83 to 300.35 nm.
inline void write_ramp_file(const std::string& path) {
    sample_file f(40, 20);
    f.header.IntfScaleFactor = 1;
    f.header.WavelengthIn = 0x1p-20f;
    f.header.PhaseRes = 0;
    f.set_heights({4, 2, 30, 14}, [](int x, int y) {
        return x >= 10 && x <= 13 && y >= 5 && y <= 7 ? INVALID_HEIGHT : 1000 + 10 * (x - 4);
    });
    f.header.FiducialCountA = 1;
    f.header.FiducialCoordsA[0] = 23.5f;
    f.header.FiducialCoordsA[1] = 9.7f;
    f.header.FiducialCountB = 1;
    f.header.FiducialCoordsB[0] = 2;
    f.header.FiducialCoordsB[1] = 1;
    f.header.FiducialCountC = 2;
    f.header.FiducialCoordsC[0] = std::nanf("");
    f.header.FiducialCoordsC[1] = 5;
    f.header.FiducialCoordsC[2] = 1e30f;
    f.header.FiducialCoordsC[3] = -1e30f;
    f.header.FiducialCountD = -3;
    f.write(path);
}

// Where the viewer puts the first panel of a picture less than 1000 pixels
// wide (text unit 1): inside the margin, below its title (8 + 20 + 3) and
// the line of its statistics (10 + 5); an intensity picture has no such
// line.
inline constexpr uint32_t PANEL_LEFT = 8;
inline constexpr uint32_t PANEL_TOP = 46;
inline constexpr uint32_t INTENSITY_PANEL_TOP = 34;

// A decoded picture, 8-bit RGB.
struct picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bytes;
    rgb at(uint32_t x, uint32_t y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
        return {bytes[i], bytes[i + 1], bytes[i + 2]};
    }
    // Camera pixel (x, y) of the first panel, at -Scale 1.
    rgb camera(uint32_t x, uint32_t y) const { return at(PANEL_LEFT + x, PANEL_TOP + y); }
};

// Decodes a PNG file that must be 8-bit RGB without alpha.
inline void read_picture(const std::string& path, picture* p) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str())) << path << ": " << image.message;
    EXPECT_EQ(image.format, PNG_FORMAT_RGB);
    image.format = PNG_FORMAT_RGB;
    p->width = image.width;
    p->height = image.height;
    p->bytes.assign(PNG_IMAGE_SIZE(image), 0);
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, p->bytes.data(), 0, nullptr)) << image.message;
}

}  // namespace spinmap::test

namespace spinmap {
// Colours print as "(r, g, b)" in test failures.
inline void PrintTo(const rgb& c, std::ostream* os) { *os << "(" << +c.r << ", " << +c.g << ", " << +c.b << ")"; }
}  // namespace spinmap
