// spinmap-sample: writes a synthetic measurement data file for tests and
// demonstrations, with the project's own writer.
//
//   spinmap-sample [Options] OutFile
//
// The height map lies in the height window; its valid points fill the valid
// rectangle (or the circle inscribed in it); everything else is invalid. All
// values come from integer arithmetic or a fixed seed, so a file is the same
// on every platform.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "datafile/datafile.h"

using namespace spinmap;

namespace {

enum class surface { cap, plane, coords };
enum class aperture { circle, rect, none };

struct sample_settings {
    int camera_width = 640;
    int camera_height = 480;
    int format = 3;
    window height_window{-1, -1, -1, -1};  // whole camera unless given
    window valid{-1, -1, -1, -1};          // the height window unless given
    aperture shape = aperture::circle;
    surface kind = surface::cap;
    int dropouts = 5;
    int buckets = 1;
    int fiducials = 3;
    std::optional<int> phase_res;  // 1, or 2 for format 2, unless given
    int64_t time_stamp = 1700000000;
    uint32_t seed = 1;
    std::string output;
};

const char* const usage_lines[] = {
    "spinmap-sample: writes a synthetic measurement data file",
    "",
    "Usage: spinmap-sample [Options] OutFile",
    "",
    "-Camera WxH        camera size in pixels (640x480)",
    "-Format N          header format 1, 2 or 3 (3)",
    "-Window X,Y,W,H    window of the height block (the whole camera)",
    "-Valid X,Y,W,H     rectangle holding the valid points (the height window)",
    "-Aperture A        circle, rect or none: the valid points' shape (circle)",
    "-Surface S         cap (tilted spherical cap), plane, or coords (x + 1000 y)",
    "-Dropouts N        invalid points scattered in the aperture (5)",
    "-Buckets N         intensity frames over the height window; 0: no block (1)",
    "-Fiducials N       points in fiducial group A, and N-1 in B in format 3 (3)",
    "-PhaseRes N        phase resolution code (1; 2 for format 2)",
    "-TimeStamp N       measurement time, seconds since 1970 (1700000000)",
    "-Seed N            seed of the dropouts (1)",
};
constexpr cli::text_lines USAGE[] = {usage_lines};

constexpr const char* SAMPLE_NAME = "spinmap-sample";

// The message and the argument it is about, in double quotes.
bool fail(const std::string& message, const std::string& what, std::string* text) {
    *text = message + " " + cli::quoted(what);
    return false;
}

bool parse_int(const std::string& text, long long lo, long long hi, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *value = v;
    return true;
}

// "A<sep>B<sep>..." into n integers within the 16-bit range.
bool parse_list(const std::string& text, char separator, int n, int* values) {
    std::size_t start = 0;
    for (int i = 0; i < n; ++i) {
        const std::size_t end = i + 1 < n ? text.find(separator, start) : text.size();
        if (end == std::string::npos) return false;
        long long v = 0;
        if (!parse_int(text.substr(start, end - start), -32768, 32767, &v)) return false;
        values[i] = static_cast<int>(v);
        start = end + 1;
    }
    return true;
}

bool parse_window(const std::string& text, window* w) {
    int v[4];
    if (!parse_list(text, ',', 4, v) || v[2] < 0 || v[3] < 0) return false;
    *w = window{static_cast<int16_t>(v[0]), static_cast<int16_t>(v[1]), static_cast<int16_t>(v[2]),
                static_cast<int16_t>(v[3])};
    return true;
}

enum option_id { CAMERA, FORMAT, WINDOW, VALID, APERTURE, SURFACE, DROPOUTS, BUCKETS, FIDUCIALS, PHASE_RES,
                 TIME_STAMP, SEED };

constexpr cli::option_spec OPTIONS[] = {
    {"camera", CAMERA, true},      {"format", FORMAT, true},        {"window", WINDOW, true},
    {"valid", VALID, true},        {"aperture", APERTURE, true},    {"surface", SURFACE, true},
    {"dropouts", DROPOUTS, true},  {"buckets", BUCKETS, true},      {"fiducials", FIDUCIALS, true},
    {"phaseres", PHASE_RES, true}, {"timestamp", TIME_STAMP, true}, {"seed", SEED, true},
};

// Every option takes a value; a lone "-" is a file name.
constexpr cli::option_rules RULES{OPTIONS, true, true};

// Reads the value of an option; false when it is out of its range.
bool take_value(int id, const std::string& value, sample_settings* s) {
    long long v = 0;
    bool ok = true;
    switch (id) {
        case CAMERA: {
            int wh[2];
            ok = parse_list(value, 'x', 2, wh) && wh[0] > 0 && wh[1] > 0;
            s->camera_width = wh[0];
            s->camera_height = wh[1];
            break;
        }
        case FORMAT:
            ok = parse_int(value, 1, 3, &v);
            s->format = static_cast<int>(v);
            break;
        case WINDOW:
            ok = parse_window(value, &s->height_window);
            break;
        case VALID:
            ok = parse_window(value, &s->valid);
            break;
        case APERTURE: {
            const std::string a = cli::folded_to_lower(value);
            ok = a == "circle" || a == "rect" || a == "none";
            s->shape = a == "circle" ? aperture::circle : a == "rect" ? aperture::rect : aperture::none;
            break;
        }
        case SURFACE: {
            const std::string k = cli::folded_to_lower(value);
            ok = k == "cap" || k == "plane" || k == "coords";
            s->kind = k == "cap" ? surface::cap : k == "plane" ? surface::plane : surface::coords;
            break;
        }
        case DROPOUTS:
            ok = parse_int(value, 0, 1000000, &v);
            s->dropouts = static_cast<int>(v);
            break;
        case BUCKETS:
            ok = parse_int(value, 0, 64, &v);
            s->buckets = static_cast<int>(v);
            break;
        case FIDUCIALS:
            ok = parse_int(value, 0, FIDUCIAL_ROOM, &v);
            s->fiducials = static_cast<int>(v);
            break;
        case PHASE_RES:
            ok = parse_int(value, -32768, 32767, &v);
            s->phase_res = static_cast<int>(v);
            break;
        case TIME_STAMP:
            ok = parse_int(value, INT32_MIN, INT32_MAX, &v);
            s->time_stamp = v;
            break;
        case SEED:
            ok = parse_int(value, 0, UINT32_MAX, &v);
            s->seed = static_cast<uint32_t>(v);
            break;
    }
    return ok;
}

// Settles what the options leave open; false with the message when they
// contradict each other.
bool settle(sample_settings* s, std::string* message) {
    if (!s->phase_res) s->phase_res = s->format == 2 ? 2 : 1;
    // The writer picks the short formats from PhaseRes alone.
    if (s->format == 2 && *s->phase_res < 2)
        return fail("Format 2 needs PhaseRes 2 or more, not", std::to_string(*s->phase_res), message);
    if (s->format == 1 && *s->phase_res >= 2)
        return fail("Format 1 needs PhaseRes below 2, not", std::to_string(*s->phase_res), message);
    if (s->height_window.width < 0) {
        s->height_window = window{0, 0, static_cast<int16_t>(s->camera_width), static_cast<int16_t>(s->camera_height)};
    }
    if (s->valid.width < 0) s->valid = s->height_window;
    return true;
}

// Reads the arguments into settings; false with the message of the first bad
// one. Without an output name, *usage is set instead.
bool parse(const std::vector<std::string>& args, sample_settings* s, bool* usage, std::string* message) {
    const bool walked = cli::walk_arguments(
        args, RULES,
        [&](int id, const std::string& argument, const std::string& value, std::string* m) {
            return take_value(id, value, s) || cli::refuse_value("value", argument + " " + value, m);
        },
        [&](const std::string& name, std::string* m) {
            if (!s->output.empty()) return fail("Too many filename arguments:", name, m);
            s->output = name;
            return true;
        },
        message);
    if (!walked) return false;
    if (s->output.empty()) {
        *usage = true;
        return false;
    }
    return settle(s, message);
}

// A small fixed generator, the same on every platform.
struct lcg {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

bool inside_aperture(const sample_settings& s, int x, int y) {
    const window& v = s.valid;
    if (s.shape == aperture::none) return false;
    if (x < v.x || y < v.y || x >= v.x + v.width || y >= v.y + v.height) return false;
    if (s.shape == aperture::rect) return true;
    // Circle inscribed in the valid rectangle, compared in doubled units so
    // that half-pixel centres stay exact.
    const int64_t cx2 = 2 * int64_t{v.x} + v.width - 1, cy2 = 2 * int64_t{v.y} + v.height - 1;
    const int64_t dx = 2 * int64_t{x} - cx2, dy = 2 * int64_t{y} - cy2;
    const int64_t r = (v.width < v.height ? v.width : v.height);
    return dx * dx + dy * dy <= r * r;
}

int32_t height_value(const sample_settings& s, int x, int y) {
    switch (s.kind) {
        case surface::coords:
            return x + 1000 * y;
        case surface::plane:
            return 37 * x - 23 * y + 5000;
        case surface::cap:
            break;
    }
    // A spherical cap of 0.8 fringes with a tilt of 0.3 fringes across the
    // valid rectangle and two small bumps, in phase units of 32768 a fringe.
    const window& v = s.valid;
    const double u = (2.0 * (x - v.x) + 1) / (v.width > 0 ? v.width : 1) - 1;
    const double w = (2.0 * (y - v.y) + 1) / (v.height > 0 ? v.height : 1) - 1;
    double fringes = 0.8 * (1 - (u * u + w * w)) + 0.3 * u;
    const double b1 = (u - 0.35) * (u - 0.35) + (w + 0.2) * (w + 0.2);
    const double b2 = (u + 0.4) * (u + 0.4) + (w - 0.3) * (w - 0.3);
    if (b1 < 0.01) fringes += 0.05 * (1 - b1 / 0.01);
    if (b2 < 0.02) fringes -= 0.04 * (1 - b2 / 0.02);
    return static_cast<int32_t>(std::lround(fringes * 32768));
}

void fill_height(const sample_settings& s, height_matrix* h) {
    const window& w = h->window;
    for (int r = 0; r < w.height; ++r) {
        for (int c = 0; c < w.width; ++c) {
            const int x = w.x + c, y = w.y + r;
            h->matrix[static_cast<std::size_t>(r) * w.width + c] =
                inside_aperture(s, x, y) ? height_value(s, x, y) : INVALID_HEIGHT;
        }
    }
    lcg random{s.seed};
    const uint64_t n = static_cast<uint64_t>(w.width) * w.height;
    for (int i = 0; i < s.dropouts && n > 0; ++i) h->matrix[random.next() % n] = INVALID_HEIGHT;
}

void fill_intensity(intensity_matrix* m) {
    const window& w = m->window;
    std::size_t i = 0;
    for (int b = 0; b < m->n_buckets; ++b) {
        for (int r = 0; r < w.height; ++r) {
            for (int c = 0; c < w.width; ++c) {
                m->matrix[i++] = static_cast<uint16_t>((7 * (w.x + c) + 13 * (w.y + r) + 101 * b) % 4096);
            }
        }
    }
}

void set_fiducials(const sample_settings& s, HeaderRecord* h) {
    const window& v = s.valid;
    const float points[FIDUCIAL_ROOM][2] = {
        {v.x + v.width * 0.25f, v.y + v.height * 0.25f}, {v.x + v.width * 0.75f, v.y + v.height * 0.25f},
        {v.x + v.width * 0.5f, v.y + v.height * 0.75f},  {v.x + 0.5f, v.y + 0.5f},
        {v.x + v.width - 1.5f, v.y + 1.0f},               {v.x + 2.0f, v.y + v.height - 2.0f},
        {v.x + v.width * 0.5f, v.y + v.height * 0.5f},
    };
    h->FiducialCountA = static_cast<int16_t>(s.fiducials);
    for (int i = 0; i < s.fiducials; ++i) {
        h->FiducialCoordsA[2 * i] = points[i][0];
        h->FiducialCoordsA[2 * i + 1] = points[i][1];
    }
    if (s.format != 3 || s.fiducials < 2) return;
    h->FiducialCountB = static_cast<int16_t>(s.fiducials - 1);
    for (int i = 0; i + 1 < s.fiducials; ++i) {
        h->FiducialCoordsB[2 * i] = points[FIDUCIAL_ROOM - 1 - i][0];
        h->FiducialCoordsB[2 * i + 1] = points[FIDUCIAL_ROOM - 1 - i][1];
    }
}

void set_attributes(const sample_settings& s, HeaderRecord* h) {
    h->TimeStamp = static_cast<int32_t>(s.time_stamp);
    h->CameraWidth = static_cast<int16_t>(s.camera_width);
    h->CameraHeight = static_cast<int16_t>(s.camera_height);
    h->PixelWidth = 7.4e-6f;
    h->PixelHeight = 7.4e-6f;
    h->CameraRes = 1.25e-5f;
    h->IntfScaleFactor = 0.5f;
    h->WavelengthIn = 632.8e-9f;
    h->ObliquityFactor = 1.0f;
    h->PhaseRes = static_cast<int16_t>(*s.phase_res);
    if (s.format == 3) h->Format3Mark = 3;
}

int sample_main(const std::vector<std::string>& args) {
    sample_settings s;
    bool usage = false;
    std::string message;
    if (!parse(args, &s, &usage, &message)) {
        return usage ? cli::usage_failure(USAGE) : cli::failure(SAMPLE_NAME, message);
    }

    HeaderRecord header{};
    InfoBlock info{};
    info.word_10 = 1;
    std::memcpy(info.bytes_12, "spinmap-sample synthetic data", 29);
    set_attributes(s, &header);
    set_fiducials(s, &header);

    owned_height height;
    height.window = s.height_window;
    owned_intensity intensity;

    int code = 0;
    if (s.height_window.width > 0 && s.height_window.height > 0) {
        code = matrix_alloc(&height);
        if (code == 0) fill_height(s, &height);
    }
    if (code == 0 && s.buckets > 0) {
        intensity.window = s.height_window;
        intensity.n_buckets = static_cast<int16_t>(s.buckets);
        intensity.intens_range = 4095;
        code = matrix_alloc(&intensity);
        if (code == 0) fill_intensity(&intensity);
    }
    if (code == 0) code = write_data_file(s.output, &info, &header, &intensity, &height);
    if (code != 0) return cli::failure(SAMPLE_NAME, "Cannot write " + cli::quoted(s.output) + ": " + error_name(code));
    return cli::EXIT_OK;
}

}  // namespace

int main(int argc, char** argv) { return cli::program_main(SAMPLE_NAME, argc, argv, sample_main); }
