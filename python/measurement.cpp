// Reading and writing a measurement for the Python module.
#include "python/measurement.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <limits>

#include <spinmap/platform/platform.h>

namespace spinmap::python {

namespace {

std::string quoted(std::string_view path) { return "\"" + std::string(path) + "\""; }

outcome library_error(int code, std::string message, std::string_view path) {
    return {outcome_kind::library_error, code, std::move(message), std::string(path)};
}

outcome failed_file(std::string_view what, int code, std::string_view path) {
    return library_error(code, std::string(what) + " " + quoted(path) + ": " + code_name(code), path);
}

// A path that names no regular file: missing, or something else (a folder,
// a device) that is no data file.
outcome not_a_regular_file(std::string_view path) {
    const owned_file probe(u_open_file(path, false));
    if (probe == nullptr && u_last_system_error() == ENOENT) {
        return {outcome_kind::missing_file, 0, "Cannot access input data file", std::string(path)};
    }
    return library_error(ERR_CANT_OPEN_FILE, "Cannot access input data file " + quoted(path), path);
}

// An output that exists, which only overwrite replaces: there is no question
// to ask as on the console.
outcome existing_output(std::string_view path) {
    return {outcome_kind::existing_output, 0, "Output data file exists (overwrite=True replaces it)",
            std::string(path)};
}

std::size_t element_count(const window& w) {
    return static_cast<std::size_t>(w.width) * static_cast<std::size_t>(w.height);
}

}  // namespace

std::string code_name(int code) {
    char name[ERROR_NAME_BUFFER_SIZE];
    return error_name_into(code, name, sizeof name);
}

outcome read_measurement(std::string_view path, measurement* m) {
    if (!u_is_regular_file(path)) return not_a_regular_file(path);
    const int code = read_data_file(path, &m->info, &m->header, m->intensity.get(), m->height.get());
    if (code != 0) return failed_file("Error reading input data file", code, path);
    m->source = path;
    return {};
}

outcome write_measurement(std::string_view path, const measurement& m, bool overwrite) {
    if (!overwrite && u_is_regular_file(path)) {
        return existing_output(path);
    }
    const bool durable = !m.source.empty() && u_names_same_file(m.source, path);
    const int code = u_write_output(path, durable, [&](std::FILE* stream) {
        return write_data_stream(stream, &m.info, &m.header, m.intensity.get(), m.height.get());
    });
    if (code != 0) return failed_file("Error writing output data file", code, path);
    return {};
}

// A failure of the run, in the tool's words.
outcome run_failure(const rotation_run_result& run, std::string_view path) {
    return library_error(run.code, run.message, path);
}

outcome rotate_copy(const measurement& m, double angle, double pivot_x, double pivot_y, bool no_interp,
                    measurement* turned) {
    measurement t;
    t.info = m.info;
    t.header = m.header;
    t.intensity = m.intensity;
    if (m.height->matrix != nullptr) {
        t.height->window = m.height->window;
        int code = matrix_alloc(t.height.get());
        if (code == 0) code = matrix_copy_window(m.height.get(), t.height.get());
        if (code != 0) return library_error(code, code_name(code), m.source);
    }
    // The tool refuses a file whose attributes are unsound before it turns
    // anything; a measurement in memory is held to the same.
    std::string reason;
    const int code = check_data_attributes(&t.header, t.intensity.get(), t.height.get(), true, &reason);
    if (code != 0) return library_error(code, "Invalid attribute information in input data file\n" + reason, m.source);
    rotation_run_result run;
    if (rotate_measurement(&t.header, t.height.get(), angle, pivot_x, pivot_y, no_interp, nullptr, &run) != 0) {
        return run_failure(run, m.source);
    }
    *turned = std::move(t);
    return {};
}

outcome rotate_data(std::string_view input, std::string_view output, double angle, double pivot_x, double pivot_y,
                    bool no_interp, bool overwrite, std::string* report, rotation_run_result* run) {
    if (!u_is_regular_file(input)) return not_a_regular_file(input);
    if (!overwrite && u_is_regular_file(output)) {
        return existing_output(output);
    }
    rotation_run_settings settings;
    settings.input_path = input;
    settings.output_path = output;
    settings.angle = angle;
    settings.pivot_x = pivot_x;
    settings.pivot_y = pivot_y;
    settings.no_interp = no_interp;
    settings.report = true;
    report->clear();
    const report_sink sink = [report](std::string_view text) { report->append(text); };
    if (rotate_data_file(settings, sink, run) != 0) return run_failure(*run, input);
    return {};
}

void mark_valid(const height_matrix& height, bool* valid) {
    const std::size_t n = element_count(height.window);
    for (std::size_t i = 0; i < n; ++i) valid[i] = is_valid_height(height.matrix[i]);
}

void heights_in_nanometres(const height_matrix& height, double nm_per_count, double* nanometres) {
    const std::size_t n = element_count(height.window);
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t v = height.matrix[i];
        nanometres[i] = is_valid_height(v) ? static_cast<double>(v) * nm_per_count
                                           : std::numeric_limits<double>::quiet_NaN();
    }
}

}  // namespace spinmap::python
