// The bindings of the Python module spinmap: the measurement as a Python
// object whose arrays view the library's matrices, and the outcomes as
// exceptions. The functions users call are in spinmap/__init__.py.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "python/measurement.h"
#include <spinmap/platform/platform.h>
#include <spinmap/run/run.h>

namespace py = pybind11;

namespace spinmap::python {

namespace {

// An outcome that is no success, on its way to the interpreter.
struct failed_outcome {
    outcome what;
};

void raise_on_failure(outcome result) {
    if (result.kind != outcome_kind::done) throw failed_outcome{std::move(result)};
}

// Messages and paths are bytes; they become text as the interpreter decodes
// file names (undecodable bytes kept as surrogate escapes).
py::str file_text(const std::string& bytes) {
    return py::reinterpret_steal<py::str>(
        PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
}

void set_python_error(const outcome& what) {
    switch (what.kind) {
        case outcome_kind::missing_file:
            PyErr_SetObject(PyExc_FileNotFoundError,
                            py::make_tuple(ENOENT, file_text(what.message), file_text(what.path)).ptr());
            return;
        case outcome_kind::existing_output:
            PyErr_SetObject(PyExc_FileExistsError,
                            py::make_tuple(EEXIST, file_text(what.message), file_text(what.path)).ptr());
            return;
        default: {
            const py::object error = py::module_::import("spinmap").attr("Error");
            PyErr_SetObject(error.ptr(), error(file_text(what.message), what.code, code_name(what.code)).ptr());
            return;
        }
    }
}

// ---- Arrays over the matrices ----------------------------------------------------

// An array of the matrix's elements in the given shape, in its memory: the
// array holds a share of the matrix, so it outlives the measurement.
template <typename Element, typename Matrix>
py::array view_of(const std::shared_ptr<Matrix>& matrix, std::vector<py::ssize_t> shape) {
    using share = std::shared_ptr<Matrix>;
    auto keep = std::make_unique<share>(matrix);
    const py::capsule owner(keep.get(), [](void* p) { delete static_cast<share*>(p); });
    keep.release();
    return py::array_t<Element>(std::move(shape), matrix->matrix, owner);
}

bool has_heights(const measurement& m) { return m.height->matrix != nullptr; }
bool has_intensity(const measurement& m) { return m.intensity->matrix != nullptr; }

std::vector<py::ssize_t> height_shape(const measurement& m) {
    return {m.height->window.height, m.height->window.width};
}

py::object heights_of(const measurement& m) {
    if (!has_heights(m)) return py::none();
    return view_of<int32_t>(m.height, height_shape(m));
}

// Copies the values into the height block, which keeps its window.
void set_heights(measurement& m, const py::array_t<int32_t, py::array::c_style>& values) {
    if (!has_heights(m)) throw py::value_error("The measurement holds no height data");
    const std::vector<py::ssize_t> shape = height_shape(m);
    if (values.ndim() != 2 || values.shape(0) != shape[0] || values.shape(1) != shape[1]) {
        throw py::value_error("The heights must have the shape of the height window: " + std::to_string(shape[0]) +
                              " rows by " + std::to_string(shape[1]) + " columns");
    }
    std::memmove(m.height->matrix, values.data(), static_cast<std::size_t>(values.size()) * sizeof(int32_t));
}

// A new array of the height window's shape, filled by fill(height, data)
// without the interpreter's lock.
template <typename Element>
py::object derived_from_heights(const measurement& m,
                                const std::function<void(const height_matrix&, Element*)>& fill) {
    if (!has_heights(m)) return py::none();
    py::array_t<Element> result(height_shape(m));
    Element* data = result.mutable_data();
    {
        const py::gil_scoped_release unlocked;
        fill(*m.height, data);
    }
    return result;
}

py::object valid_of(const measurement& m) {
    return derived_from_heights<bool>(m, [](const height_matrix& h, bool* out) { mark_valid(h, out); });
}

py::object heights_nm_of(const measurement& m) {
    const double k = usable_nanometres_per_count(m.header);
    if (k == 0 && has_heights(m)) {
        throw py::value_error(
            "The header gives no height scale (IntfScaleFactor x ObliquityFactor x WavelengthIn is not a positive "
            "number): heights in file units only");
    }
    return derived_from_heights<double>(
        m, [k](const height_matrix& h, double* out) { heights_in_nanometres(h, k, out); });
}

py::object height_scale_of(const measurement& m) {
    const double k = usable_nanometres_per_count(m.header);
    return k > 0 ? py::object(py::float_(k)) : py::object(py::none());
}

py::object intensity_of(const measurement& m) {
    if (!has_intensity(m)) return py::none();
    const window& w = m.intensity->window;
    return view_of<uint16_t>(m.intensity, {m.intensity->n_buckets, w.height, w.width});
}

py::object window_tuple(const window& w, bool present) {
    if (!present) return py::none();
    return py::make_tuple(w.x, w.y, w.width, w.height);
}

// ---- The header ------------------------------------------------------------------

py::tuple floats(const float* values, int count) {
    py::tuple t(count);
    for (int i = 0; i < count; ++i) t[i] = py::float_(static_cast<double>(values[i]));
    return t;
}

// The named fields of the header record in file order, by the names of the
// reports; single-precision fields widened exactly.
struct header_field {
    const char* name;
    py::object (*value)(const HeaderRecord& h);
};

#define SPINMAP_INT_FIELD(name) {#name, [](const HeaderRecord& h) -> py::object { return py::int_(h.name); }}
#define SPINMAP_FLOAT_FIELD(name) \
    {#name, [](const HeaderRecord& h) -> py::object { return py::float_(static_cast<double>(h.name)); }}
#define SPINMAP_POINTS_FIELD(name) \
    {#name, [](const HeaderRecord& h) -> py::object { return floats(h.name, 2 * FIDUCIAL_ROOM); }}

const header_field HEADER_FIELDS[] = {
    SPINMAP_INT_FIELD(TimeStamp),          SPINMAP_FLOAT_FIELD(IntfScaleFactor),
    SPINMAP_FLOAT_FIELD(WavelengthIn),     SPINMAP_FLOAT_FIELD(ObliquityFactor),
    SPINMAP_FLOAT_FIELD(CameraRes),        SPINMAP_INT_FIELD(PhaseRes),
    SPINMAP_INT_FIELD(CameraWidth),        SPINMAP_INT_FIELD(CameraHeight),
    SPINMAP_INT_FIELD(FiducialCountA),     SPINMAP_POINTS_FIELD(FiducialCoordsA),
    SPINMAP_FLOAT_FIELD(PixelWidth),       SPINMAP_FLOAT_FIELD(PixelHeight),
    SPINMAP_INT_FIELD(Format3Mark),        SPINMAP_INT_FIELD(FiducialCountB),
    SPINMAP_POINTS_FIELD(FiducialCoordsB), SPINMAP_INT_FIELD(FiducialCountC),
    SPINMAP_POINTS_FIELD(FiducialCoordsC), SPINMAP_INT_FIELD(FiducialCountD),
    SPINMAP_POINTS_FIELD(FiducialCoordsD),
};

#undef SPINMAP_INT_FIELD
#undef SPINMAP_FLOAT_FIELD
#undef SPINMAP_POINTS_FIELD

py::object header_of(const measurement& m) {
    py::dict fields;
    for (const header_field& f : HEADER_FIELDS) fields[f.name] = f.value(m.header);
    return py::module_::import("types").attr("MappingProxyType")(fields);
}

// Groups A to D by 7 points by x and y; NaN beyond a group's count.
py::object fiducials_of(const measurement& m) {
    py::array_t<float> points({py::ssize_t{FIDUCIAL_GROUPS}, py::ssize_t{FIDUCIAL_ROOM}, py::ssize_t{2}});
    float* out = points.mutable_data();
    for (const auto& g : fiducial_groups(m.header)) {
        for (int i = 0; i < 2 * FIDUCIAL_ROOM; ++i) {
            *out++ = i < 2 * g.count ? g.coordinates[i] : std::numeric_limits<float>::quiet_NaN();
        }
    }
    points.attr("flags").attr("writeable") = false;
    return points;
}

py::str description(const measurement& m) {
    const window& h = m.height->window;
    std::string what = has_heights(m) ? "heights " + std::to_string(h.height) + " x " + std::to_string(h.width)
                                      : "no heights";
    const int frames = has_intensity(m) ? m.intensity->n_buckets : 0;
    what += ", " + std::to_string(frames) + (frames == 1 ? " intensity frame" : " intensity frames");
    if (m.source.empty()) return py::str("<spinmap.Measurement: {}>").format(what);
    return py::str("<spinmap.Measurement of {!r}: {}>").format(file_text(m.source), what);
}

// ---- Reading and writing ----------------------------------------------------------

measurement read_file(const py::bytes& path) {
    const std::string name = path;
    measurement m;
    outcome result;
    {
        const py::gil_scoped_release unlocked;
        result = read_measurement(name, &m);
    }
    raise_on_failure(std::move(result));
    return m;
}

void write_file(const py::bytes& path, const measurement& m, bool overwrite) {
    const std::string name = path;
    outcome result;
    {
        const py::gil_scoped_release unlocked;
        result = write_measurement(name, m, overwrite);
    }
    raise_on_failure(std::move(result));
}

// ---- The rotation -------------------------------------------------------------------

const char* method_name(rotation_method method);

measurement rotate_of(const measurement& m, double angle, double pivot_x, double pivot_y, bool no_interp) {
    measurement turned;
    outcome result;
    {
        const py::gil_scoped_release unlocked;
        result = rotate_copy(m, angle, pivot_x, pivot_y, no_interp, &turned);
    }
    raise_on_failure(std::move(result));
    return turned;
}

// What the run did, beside its report's text.
py::dict rotate_file_of(const py::bytes& input, const py::bytes& output, double angle, double pivot_x, double pivot_y,
                        bool no_interp, bool overwrite) {
    const std::string in = input, out = output;
    std::string report;
    rotation_run_result run;
    outcome result;
    {
        const py::gil_scoped_release unlocked;
        result = rotate_data(in, out, angle, pivot_x, pivot_y, no_interp, overwrite, &report, &run);
    }
    raise_on_failure(std::move(result));
    py::dict values;
    values["points_in"] = run.points_in;
    values["points_out"] = run.points_out;
    values["points_outside"] = run.points_outside;
    values["pivot"] = py::make_tuple(run.plan.pivot_x, run.plan.pivot_y);
    values["method"] = method_name(run.plan.method);
    values["input_window"] = window_tuple(run.input_window, true);
    values["output_window"] = window_tuple(run.output_window, true);
    values["report"] = file_text(report);
    return values;
}

// ---- What spinmap-info shows, as values ---------------------------------------------


py::object nanometres_or_none(double units, double nm_per_count) {
    return nm_per_count > 0 ? py::object(py::float_(units * nm_per_count)) : py::object(py::none());
}

void add_statistics(py::dict& values, const height_statistics& s, double k) {
    const struct {
        const char* key;
        double units;
    } rows[] = {
        {"Height Minimum", static_cast<double>(s.minimum)},
        {"Height Maximum", static_cast<double>(s.maximum)},
        {"Height PeakToValley", static_cast<double>(s.maximum) - s.minimum},
        {"Height Mean", s.mean},
        {"Height RMS", s.rms},
    };
    for (const auto& r : rows) {
        values[r.key] = r.units;
        values[py::str(std::string(r.key) + " nm")] = nanometres_or_none(r.units, k);
    }
}

// The points each group holds, up to its room, as (x, y) pairs, keyed
// "Fiducials Group A" to "D".
void add_fiducials(py::dict& values, const HeaderRecord& h) {
    for (const auto& g : fiducial_groups(h)) {
        py::list points;
        for (int i = 0; i < std::min<int>(g.count, FIDUCIAL_ROOM); ++i) {
            const float* point = g.coordinates + 2 * i;
            points.append(py::make_tuple(static_cast<double>(point[0]), static_cast<double>(point[1])));
        }
        values[py::str(g.key)] = points;
    }
}

const char* method_name(rotation_method method) {
    switch (method) {
        case rotation_method::unchanged: return "unchanged";
        case rotation_method::move_values: return "move values";
        case rotation_method::interpolate: return "interpolate";
        case rotation_method::refused: break;
    }
    return "refused";
}

void add_forecast(py::dict& values, const measurement& m, bool has_valid, double angle, double pivot_x,
                  double pivot_y) {
    values["Angle"] = angle;
    if (!has_valid) {
        values["Rotation"] = "refused: the file holds no valid height points";
        values["Method"] = "refused";
        return;
    }
    rotation_forecast f;
    {
        const py::gil_scoped_release unlocked;
        f = forecast_rotation(m.header, *m.height, angle, pivot_x, pivot_y);
    }
    values["PivotX"] = f.pivot_x;
    values["PivotY"] = f.pivot_y;
    values["Pivot"] = f.pivot_given ? "as given" : "centre of the valid points' window";
    values["Method"] = method_name(f.method);
    values["Rotation"] = f.rotation;
    values["Points Outside"] = f.outside;
    values["Output Window"] = window_tuple(f.output, f.failure.empty());
    values["Output Points"] = f.failure.empty() ? py::object(py::int_(f.output_points)) : py::object(py::none());
    values["Failure"] = f.failure.empty() ? py::object(py::none()) : py::object(py::str(f.failure));
    values["With NoInterp"] = f.with_no_interp;
}

py::dict info_of(const py::bytes& path, bool has_angle, double angle, double pivot_x, double pivot_y) {
    measurement m = read_file(path);
    std::string reason;
    const int code = check_data_attributes(&m.header, m.intensity.get(), m.height.get(), true, &reason);
    if (code != 0) {
        throw failed_outcome{{outcome_kind::library_error, code,
                              "Invalid attribute information in input data file \"" + m.source + "\"\n" + reason,
                              m.source}};
    }
    const HeaderRecord& h = m.header;
    const double k = usable_nanometres_per_count(h);
    py::dict values;
    values["InputFile"] = file_text(m.source);
    values["TimeStamp"] = h.TimeStamp;
    values["CameraWidth"] = h.CameraWidth;
    values["CameraHeight"] = h.CameraHeight;
    values["PixelWidth"] = static_cast<double>(h.PixelWidth) * 1e6;
    values["PixelHeight"] = static_cast<double>(h.PixelHeight) * 1e6;
    values["CameraRes"] = static_cast<double>(h.CameraRes) * 1e6;
    values["IntfScaleFactor"] = static_cast<double>(h.IntfScaleFactor);
    values["WavelengthIn"] = static_cast<double>(h.WavelengthIn) * 1e9;
    values["ObliquityFactor"] = static_cast<double>(h.ObliquityFactor);
    values["PhaseRes"] = phase_resolution_word(h.PhaseRes);
    values["PryxRes"] = phase_counts_per_fringe(h.PhaseRes);
    values["HeightScale"] = k > 0 ? py::object(py::float_(k)) : py::object(py::none());
    values["Height Window"] = window_tuple(m.height->window, has_heights(m));
    values["Intensity Window"] = window_tuple(m.intensity->window, has_intensity(m));
    values["Intensity Frames"] = has_intensity(m) ? m.intensity->n_buckets : 0;
    window valid{};
    height_statistics stats;
    bool has_valid = false;
    if (has_heights(m)) {
        const py::gil_scoped_release unlocked;
        has_valid = matrix_valid_window(m.height.get(), nullptr, &valid) == 0 && measure_heights(*m.height, &stats) == 0;
    }
    values["Valid Window"] = window_tuple(valid, has_valid);
    values["Valid Points"] = has_valid ? stats.count : 0;
    if (has_valid) add_statistics(values, stats, k);
    add_fiducials(values, h);
    if (has_angle) add_forecast(values, m, has_valid, angle, pivot_x, pivot_y);
    return values;
}

// ---- Alignment by the fiducials -----------------------------------------------------

py::dict align_of(const measurement& m, const measurement& reference) {
    const fiducial_alignment a = align_fiducials(m.header, reference.header);
    const rigid_fit& fit = a.fit;
    if (fit.refusal != alignment_refusal::none) {
        const std::string what = m.source.empty() ? std::string("the measurement") : "\"" + m.source + "\"";
        const std::string to = reference.source.empty() ? std::string("the reference") : "\"" + reference.source + "\"";
        throw py::value_error("Cannot align " + what + " to " + to + ": " + alignment_refusal_text(fit));
    }
    py::dict pairs;
    for (int g = 0; g < FIDUCIAL_GROUPS; ++g) {
        if (a.per_group[g] > 0) pairs[py::str(std::string(1, char('A' + g)))] = a.per_group[g];
    }
    const bool metric = a.metres_per_pixel > 0;
    py::dict values;
    values["angle"] = fit.angle;
    values["pivot"] = py::make_tuple(fit.pivot_x, fit.pivot_y);
    values["pairs"] = fit.pairs;
    values["pairs_per_group"] = pairs;
    values["rms_px"] = fit.rms;
    values["largest_px"] = fit.largest;
    values["rms_um"] = metric ? py::object(py::float_(a.rms_um)) : py::object(py::none());
    values["largest_um"] = metric ? py::object(py::float_(a.largest_um)) : py::object(py::none());
    values["shift"] = py::make_tuple(fit.shift_x, fit.shift_y);
    values["command"] = m.source.empty() ? py::object(py::none()) : py::object(file_text(alignment_command(m.source, a)));
    return values;
}

}  // namespace

}  // namespace spinmap::python

PYBIND11_MODULE(_spinmap, module) {
    using namespace spinmap::python;
    module.doc() = "The compiled half of the spinmap module; use spinmap itself.";
    module.attr("INVALID_HEIGHT") = spinmap::INVALID_HEIGHT;
    module.attr("__version__") = SPINMAP_VERSION;
    // Large matrices on huge pages where the system offers them, as the
    // programs allocate them: a 4096 x 4096 frame then costs hundreds of page
    // faults instead of tens of thousands.
    spinmap::malloc_hook = spinmap::u_allocate_large;

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const failed_outcome& e) {
            set_python_error(e.what);
        }
    });

    py::class_<measurement>(module, "Measurement", R"(One measurement data file in memory, as spinmap.read gives it.

Its arrays are views of the file's data, not copies: they stay valid after the
Measurement is gone, and changes made through .heights or .intensity are what
spinmap.write writes. Coordinates are camera pixels: x counts columns to the
right and y rows downward, (0, 0) the centre of the upper-left camera pixel.)")
        .def_property("heights", &heights_of, &set_heights,
                      R"(The height data in file units: int32, rows by columns of the height window.

Invalid points hold spinmap.INVALID_HEIGHT (2147483640). A view of the
measurement's data: change it in place, or assign an int32-compatible array of
the same shape (the values are copied in), and spinmap.write writes the
changed values. None when the file holds no height data.)")
        .def_property_readonly("valid", &valid_of,
                               R"(True where a height is valid: a new bool array of the heights' shape.

A height is valid below spinmap.INVALID_HEIGHT. None without height data.)")
        .def("heights_nm", &heights_nm_of,
             R"(The heights in nanometres of surface height: a new float64 array, NaN where invalid.

Each valid height times height_scale, as spinmap-info scales them. Raises
ValueError when the header gives no usable scale; None without height data.)")
        .def_property_readonly("height_scale", &height_scale_of,
                               R"(Nanometres of surface height of one file unit, or None.

IntfScaleFactor x ObliquityFactor x WavelengthIn (metres) / counts per fringe
of PhaseRes, in nanometres; None when that is not a positive finite number.)")
        .def_property_readonly("header", &header_of,
                               R"(The header's named fields, a read-only mapping keyed as spinmap-info shows them.

TimeStamp (seconds since 1970-01-01 00:00 UTC), IntfScaleFactor,
WavelengthIn (metres), ObliquityFactor, CameraRes (metres per camera pixel on
the part), PhaseRes (0 Normal, 1 High, other Super), CameraWidth and
CameraHeight (pixels), PixelWidth and PixelHeight (metres), Format3Mark (3
for a 4096-byte header), and for the fiducial groups A to D FiducialCountA ..
FiducialCountD with FiducialCoordsA .. FiducialCoordsD (14 floats each: x, y
of 7 points in camera pixels, meaningful up to the count). The values are as
the file holds them, single-precision numbers widened exactly. The data
blocks' geometry is in height_window, intensity_window and intensity.)")
        .def_property_readonly(
            "height_window", [](const measurement& m) { return window_tuple(m.height->window, has_heights(m)); },
            "The camera pixels the heights cover: (x, y, width, height), or None without height data.")
        .def_property_readonly(
            "intensity_window",
            [](const measurement& m) { return window_tuple(m.intensity->window, has_intensity(m)); },
            "The camera pixels every intensity frame covers: (x, y, width, height), or None.")
        .def_property_readonly("intensity", &intensity_of,
                               R"(The intensity frames: uint16, frames by rows by columns, or None.

A view of the measurement's data, as .heights is; spinmap.write writes it.)")
        .def_property_readonly("fiducials", &fiducials_of,
                               R"(The fiducial points: a read-only float32 array of shape (4, 7, 2).

fiducials[g, i] is point i of group g (0 to 3 for A to D) as (x, y) in camera
pixels; NaN beyond the group's count (FiducialCountA .. D of the header).)")
        .def_property_readonly(
            "path", [](const measurement& m) { return m.source.empty() ? py::object(py::none()) : file_text(m.source); },
            "The file it was read from, or None.")
        .def("__repr__", &description);

    module.def("read", &read_file, py::arg("path"), "Reads a data file; see spinmap.read.");
    module.def("write", &write_file, py::arg("path"), py::arg("measurement"), py::arg("overwrite"),
               "Writes a data file; see spinmap.write.");
    module.def("rotate", &rotate_of, py::arg("measurement"), py::arg("angle"), py::arg("pivot_x"), py::arg("pivot_y"),
               py::arg("no_interp"), "Turns a measurement; see spinmap.rotate.");
    module.def("rotate_file", &rotate_file_of, py::arg("input"), py::arg("output"), py::arg("angle"),
               py::arg("pivot_x"), py::arg("pivot_y"), py::arg("no_interp"), py::arg("overwrite"),
               "The tool's run on files; see spinmap.rotate_file.");
    module.def("info", &info_of, py::arg("path"), py::arg("has_angle"), py::arg("angle"), py::arg("pivot_x"),
               py::arg("pivot_y"), "What spinmap-info shows of a file; see spinmap.info.");
    module.def("align", &align_of, py::arg("measurement"), py::arg("reference"),
               "The turn that aligns the fiducials; see spinmap.align.");
    module.attr("NO_PIVOT") = spinmap::NO_PIVOT;
}
