// The input: a data file's heights with their height scale and pixel
// spacing, checked as the other programs check a file.
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include <spinmap/run/run.h>

#include "cli/cli.h"
#include "export/export.h"

namespace spinmap {

namespace {

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
    loaded_measurement m;
    load_failure failure;
    if (load_measurement(path, {intensity_use::skip, true, true}, &m, &failure) != 0) {
        // The exporter names a reading failure by its code.
        *message = failure.step == load_step::reading || failure.step == load_step::opening
                       ? "Error reading input data file " + name + ": " + error_name(failure.code)
                       : cli::unloadable_input(path, failure);
        return false;
    }
    s->header = m.header;
    s->height = std::move(m.height);
    height_statistics stats;
    if (!cli::measure_input_heights(path, s->height, &stats, message)) return false;
    s->valid_points = stats.count;
    s->lowest = stats.minimum;
    s->highest = stats.maximum;
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
