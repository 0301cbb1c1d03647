// The input: a data file's heights with their height scale and pixel
// spacing, checked as the other programs check a file.
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "cli/cli.h"
#include "export/export.h"

namespace spinmap {

namespace {

// The valid heights' count and extremes; the matrix is whole (the reader
// allocated it for its window).
void measure(export_surface* s) {
    const window& w = s->height.window;
    const std::size_t n = static_cast<std::size_t>(w.width) * static_cast<std::size_t>(w.height);
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t v = s->height.matrix[i];
        if (!is_valid_height(v)) continue;
        if (s->valid_points == 0 || v < s->lowest) s->lowest = v;
        if (s->valid_points == 0 || v > s->highest) s->highest = v;
        ++s->valid_points;
    }
}

// The shortest decimal that the single-precision value holds, as a double.
double decimal_of(float value) {
    char text[NUMBER_TEXT_ROOM];
    const char* end = std::to_chars(text, text + sizeof text, value).ptr;
    double decimal = value;
    std::from_chars(text, end, decimal);
    return decimal;
}

}  // namespace

char* put_number(char* at, double value) { return std::to_chars(at, at + NUMBER_TEXT_ROOM, value).ptr; }

double height_in_metres(int32_t value, double nm_per_count) {
    if (!is_valid_height(value)) return std::numeric_limits<double>::quiet_NaN();
    return value * nm_per_count / 1e9;
}

bool read_surface(const std::string& path, export_surface* s, std::string* message) {
    const std::string name = cli::quoted(path);
    int code = read_data_file(path, nullptr, &s->header, nullptr, &s->height);
    if (code != 0) {
        *message = "Error reading input data file " + name + ": " + error_name(code);
        return false;
    }
    std::string reason;
    code = check_data_attributes(&s->header, nullptr, &s->height, true, &reason);
    if (code != 0) {
        *message = "Invalid attribute information in input data file " + name + "\n" + reason;
        return false;
    }
    if (s->height.matrix == nullptr) {
        *message = "Input data file " + name + " contains no height data";
        return false;
    }
    measure(s);
    if (s->valid_points == 0) {
        *message = "Input data file " + name + " contains no valid height points";
        return false;
    }
    s->nm_per_count = usable_nanometres_per_count(s->header);
    if (s->nm_per_count == 0) {
        *message = "Input data file " + name +
                   " has no height scale: IntfScaleFactor x ObliquityFactor x WavelengthIn is not a positive number";
        return false;
    }
    s->spacing = decimal_of(s->header.CameraRes);
    if (!(s->spacing > 0 && std::isfinite(s->spacing))) {
        *message = "Input data file " + name + " has no lateral resolution (CameraRes is " +
                   (s->spacing == 0 ? std::string("0") : "not a finite number") + "), so its pixel spacing is unknown";
        return false;
    }
    return true;
}

}  // namespace spinmap
