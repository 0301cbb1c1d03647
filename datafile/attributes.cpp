// Validation of the header attributes the tool relies on, against each other
// and against the data windows.
#include <algorithm>

#include <spinmap/datafile/datafile.h>
#include <spinmap/errors/errors.h>

namespace spinmap {

namespace {

struct check_failure {
    int code;
    const char* message;
};

constexpr check_failure CAMERA_NOT_POSITIVE = {ERR_IMPROPER_WINDOW,
                                               "Camera width or height less than or equal to zero."};
constexpr check_failure NEGATIVE_RESOLUTION = {ERR_INVALID_PARAM, "Lateral resolution is less than zero."};
constexpr check_failure UNEQUAL_PIXEL_SIDES = {ERR_INVALID_PARAM, "Unequal camera pixel width and height."};
constexpr check_failure SCALE_FACTOR_NOT_POSITIVE = {ERR_PARAM_OUT_OF_RANGE,
                                                     "Interferometric scale factor less than or equal to zero."};
constexpr check_failure WAVELENGTH_NOT_POSITIVE = {ERR_PARAM_OUT_OF_RANGE,
                                                   "Wavelength-in less than or equal to zero."};
constexpr check_failure OBLIQUITY_NOT_POSITIVE = {ERR_PARAM_OUT_OF_RANGE,
                                                  "Obliquity factor less than or equal to zero."};
constexpr check_failure CAMERA_TOO_SMALL = {ERR_IMPROPER_WINDOW, "Camera width or height inconsistent with data."};

// A matrix counts only with an array.
template <typename Matrix>
const window* present_window(const Matrix* m) {
    return m != nullptr && m->matrix != nullptr ? &m->window : nullptr;
}

// Right and bottom extent of a window, in 32-bit sums; 0 for an absent matrix.
int32_t horizontal_extent(const window& w) { return int32_t{w.x} + w.width; }
int32_t vertical_extent(const window& w) { return int32_t{w.y} + w.height; }

int fail(const check_failure& failure, std::string* message) {
    if (message != nullptr) *message = failure.message;
    return failure.code;
}

// The seven checks of one record, in order. The comparisons are written so
// that a NaN passes every test except the pixel shape, where it is unequal.
// The windows are those of the present matrices, null for absent ones.
int check_record(HeaderRecord* header, const window* intensity_window, const window* height_window, bool strict,
                 std::string* message) {
    if (header->CameraWidth <= 0 || header->CameraHeight <= 0) {
        if (strict) return fail(CAMERA_NOT_POSITIVE, message);
        header->CameraWidth = 0;
        header->CameraHeight = 0;
    }
    if (header->CameraRes < 0) return fail(NEGATIVE_RESOLUTION, message);
    if (header->PixelWidth != header->PixelHeight) return fail(UNEQUAL_PIXEL_SIDES, message);
    const bool has_height = height_window != nullptr;
    if (has_height && header->IntfScaleFactor <= 0) return fail(SCALE_FACTOR_NOT_POSITIVE, message);
    if (has_height && header->WavelengthIn <= 0) return fail(WAVELENGTH_NOT_POSITIVE, message);
    if (has_height && header->ObliquityFactor <= 0) return fail(OBLIQUITY_NOT_POSITIVE, message);

    int32_t data_width = 0;
    int32_t data_height = 0;
    for (const window* w : {intensity_window, height_window}) {
        if (w == nullptr) continue;
        data_width = std::max(data_width, horizontal_extent(*w));
        data_height = std::max(data_height, vertical_extent(*w));
    }
    if ((header->CameraWidth > 0 && header->CameraWidth < data_width) ||
        (header->CameraHeight > 0 && header->CameraHeight < data_height)) {
        return fail(CAMERA_TOO_SMALL, message);
    }
    return 0;
}

}  // namespace

int check_data_attributes(HeaderRecord* header, const intensity_matrix* intensity, const height_matrix* height,
                          bool strict, std::string* message) {
    return check_data_attributes_list(header, intensity, height, strict, 1, nullptr, message);
}

int check_data_attributes(HeaderRecord* header, const carried_intensity& intensity, const height_matrix* height,
                          bool strict, std::string* message) {
    if (header == nullptr) return ERR_INVALID_PARAM;
    if (message != nullptr) message->clear();
    // A block left in its file has a window but no array.
    const bool carried = intensity.input != nullptr || intensity.frames.matrix != nullptr;
    return check_record(header, carried ? &intensity.frames.window : nullptr, present_window(height), strict,
                        message);
}

int check_data_attributes_list(HeaderRecord* headers, const intensity_matrix* intensities,
                               const height_matrix* heights, bool strict, int count, const uint8_t* mask,
                               std::string* message) {
    if (count > 0 && headers == nullptr) return ERR_INVALID_PARAM;
    for (int i = 0; i < count; ++i) {
        if (mask != nullptr && mask[i] != 1) continue;
        if (message != nullptr) message->clear();
        const intensity_matrix* intensity = intensities != nullptr ? &intensities[i] : nullptr;
        const height_matrix* height = heights != nullptr ? &heights[i] : nullptr;
        const int code = check_record(&headers[i], present_window(intensity), present_window(height), strict, message);
        if (code != 0) return code;
    }
    return 0;
}

}  // namespace spinmap
