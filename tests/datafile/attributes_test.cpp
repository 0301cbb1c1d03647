#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include <spinmap/datafile/datafile.h>
#include "support.h"

namespace spinmap {
namespace {

// A header every check accepts: a 640 x 480 camera with square pixels.
HeaderRecord sound_header() { return test::sound_header(640, 480); }

// Matrices whose windows only are looked at; the array pointer marks them present.
int32_t height_element;
uint16_t intensity_element;

height_matrix height_on(window w) { return height_matrix{1, w, &height_element}; }
intensity_matrix intensity_on(window w) { return intensity_matrix{1, w, 1, 0, &intensity_element}; }

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

TEST(CheckDataAttributes, EachCheckWithItsCodeAndMessage) {
    struct attribute_case {
        const char* name;
        std::function<void(HeaderRecord&)> change;
        window height_window;
        int code;
        const char* message;
    };
    const window inside = {100, 0, 540, 480};  // ends exactly at the camera's last column and row
    const attribute_case cases[] = {
        {"sound", [](HeaderRecord&) {}, inside, 0, ""},
        {"camera width 0", [](HeaderRecord& h) { h.CameraWidth = 0; }, inside, ERR_IMPROPER_WINDOW,
         "Camera width or height less than or equal to zero."},
        {"camera height negative", [](HeaderRecord& h) { h.CameraHeight = -1; }, inside, ERR_IMPROPER_WINDOW,
         "Camera width or height less than or equal to zero."},
        {"resolution 0", [](HeaderRecord& h) { h.CameraRes = 0; }, inside, 0, ""},
        {"resolution negative", [](HeaderRecord& h) { h.CameraRes = -0.000001f; }, inside, ERR_INVALID_PARAM,
         "Lateral resolution is less than zero."},
        {"resolution NaN", [](HeaderRecord& h) { h.CameraRes = NaN; }, inside, 0, ""},
        {"pixel sides differ", [](HeaderRecord& h) { h.PixelHeight = std::nextafter(h.PixelWidth, 1.0f); }, inside, ERR_INVALID_PARAM,
         "Unequal camera pixel width and height."},
        {"pixel side NaN", [](HeaderRecord& h) { h.PixelWidth = h.PixelHeight = NaN; }, inside, ERR_INVALID_PARAM,
         "Unequal camera pixel width and height."},
        {"scale factor 0", [](HeaderRecord& h) { h.IntfScaleFactor = 0; }, inside, ERR_PARAM_OUT_OF_RANGE,
         "Interferometric scale factor less than or equal to zero."},
        {"scale factor NaN", [](HeaderRecord& h) { h.IntfScaleFactor = NaN; }, inside, 0, ""},
        {"wavelength negative", [](HeaderRecord& h) { h.WavelengthIn = -1; }, inside, ERR_PARAM_OUT_OF_RANGE,
         "Wavelength-in less than or equal to zero."},
        {"wavelength NaN", [](HeaderRecord& h) { h.WavelengthIn = NaN; }, inside, 0, ""},
        {"obliquity 0", [](HeaderRecord& h) { h.ObliquityFactor = 0; }, inside, ERR_PARAM_OUT_OF_RANGE,
         "Obliquity factor less than or equal to zero."},
        {"obliquity NaN", [](HeaderRecord& h) { h.ObliquityFactor = NaN; }, inside, 0, ""},
        {"one column too wide", [](HeaderRecord&) {}, {100, 0, 541, 480}, ERR_IMPROPER_WINDOW,
         "Camera width or height inconsistent with data."},
        {"one row too tall", [](HeaderRecord&) {}, {0, 1, 640, 480}, ERR_IMPROPER_WINDOW,
         "Camera width or height inconsistent with data."},
    };
    for (const attribute_case& c : cases) {
        HeaderRecord header = sound_header();
        c.change(header);
        const height_matrix height = height_on(c.height_window);
        std::string message = "left over";
        EXPECT_EQ(check_data_attributes(&header, nullptr, &height, true, &message), c.code) << c.name;
        EXPECT_EQ(message, c.message) << c.name;
        EXPECT_EQ(check_data_attributes(&header, nullptr, &height, true, nullptr), c.code) << c.name;
    }
}

TEST(CheckDataAttributes, IntensityWindowBeyondTheCameraFails) {
    HeaderRecord header = sound_header();
    const height_matrix height = height_on({0, 0, 10, 10});
    const intensity_matrix intensity = intensity_on({600, 0, 41, 1});
    EXPECT_EQ(check_data_attributes(&header, &intensity, &height, true, nullptr), ERR_IMPROPER_WINDOW);
}

TEST(CheckDataAttributes, WithoutHeightArrayTheOpticalFactorsAreSkipped) {
    HeaderRecord header = sound_header();
    header.WavelengthIn = 0;
    header.IntfScaleFactor = -1;
    height_matrix no_array{0, {0, 0, 700, 700}, nullptr};  // absent: its window counts for nothing
    EXPECT_EQ(check_data_attributes(&header, nullptr, &no_array, true, nullptr), 0);
    EXPECT_EQ(check_data_attributes(&header, nullptr, nullptr, true, nullptr), 0);
}

TEST(CheckDataAttributes, NotStrictZeroesTheCameraAndSkipsTheWindowCheck) {
    HeaderRecord header = sound_header();
    header.CameraHeight = 0;
    const height_matrix height = height_on({0, 0, 5000, 5000});
    std::string message;
    EXPECT_EQ(check_data_attributes(&header, nullptr, &height, false, &message), 0);
    EXPECT_EQ(header.CameraWidth, 0);
    EXPECT_EQ(header.CameraHeight, 0);
    EXPECT_EQ(message, "");
}

TEST(CheckDataAttributesList, ChecksMaskedRecordsInOrderUntilTheFirstFailure) {
    HeaderRecord headers[3] = {sound_header(), sound_header(), sound_header()};
    headers[0].CameraRes = -1;
    headers[2].PixelWidth = 1;
    const uint8_t skip_first[3] = {0, 1, 1};
    std::string message;
    EXPECT_EQ(check_data_attributes_list(headers, nullptr, nullptr, true, 3, skip_first, &message),
              ERR_INVALID_PARAM);
    EXPECT_EQ(message, "Unequal camera pixel width and height.");

    const uint8_t none[3] = {0, 2, 0};  // only the byte 1 selects
    message = "untouched";
    EXPECT_EQ(check_data_attributes_list(headers, nullptr, nullptr, true, 3, none, &message), 0);
    EXPECT_EQ(message, "untouched");
}

}  // namespace
}  // namespace spinmap
