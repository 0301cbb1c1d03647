// spinmap-sample: writes a synthetic measurement data file for tests and
// demonstrations, with the project's own writer.
//
//   spinmap-sample [Options] OutFile
//
// The height map lies in the height window; its valid points fill the valid
// rectangle (or the circle inscribed in it); everything else is invalid. All
// values come from integer arithmetic or a fixed seed, so a file is the same
// on every platform.
#include <array>
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
#include <spinmap/datafile/datafile.h>
#include <spinmap/platform/platform.h>

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
    bool valid_given = false;
    aperture shape = aperture::circle;
    surface kind = surface::cap;
    int dropouts = 5;
    int buckets = 1;
    int fiducials = 3;
    std::optional<int> phase_res;  // 1, or 2 for format 2, unless given
    int64_t time_stamp = 1700000000;
    uint32_t seed = 1;
    std::string output;
    bool overwrite = false;
};

constexpr const char* SAMPLE_NAME = "Spinmap Sample";

enum option_id { CAMERA, FORMAT, WINDOW, VALID, APERTURE, SURFACE, DROPOUTS, BUCKETS, FIDUCIALS, PHASE_RES,
                 TIME_STAMP, SEED, OVERWRITE };

// A whole-number option's bounds; both 0 for the other options.
struct bounds {
    long long lo;
    long long hi;
};

// One option: how the usage text shows it, what it sets, the values it takes
// (said in the usage text and in the message that refuses a value), and its
// default.
struct sample_option {
    cli::option_spec word;
    const char* form;
    const char* meaning;
    bounds range;        // whole-number options: "N from lo to hi"
    const char* values;  // the values in words, or what a whole number needs more
    const char* fallback;
};

constexpr sample_option SAMPLE_OPTIONS[] = {
    {{"camera", CAMERA, true}, "-Camera WxH", "The camera size in pixels", {}, "W and H from 1 to 32767",
     "640x480"},
    {{"format", FORMAT, true}, "-Format N", "The header format", {1, 3}, "", "3"},
    {{"window", WINDOW, true}, "-Window X,Y,W,H", "The window of the height block", {},
     "X and Y from -32768 to 32767, W and H from 0 to 32767", "the whole camera"},
    {{"valid", VALID, true}, "-Valid X,Y,W,H", "The rectangle holding the valid points", {},
     "X and Y from 0, X+W up to the camera width, Y+H up to its height",
     "the height window"},
    {{"aperture", APERTURE, true}, "-Aperture A", "The shape of the valid points", {}, "A is circle, rect or none",
     "circle"},
    {{"surface", SURFACE, true}, "-Surface S", "The heights", {},
     "S is cap (a tilted spherical cap), plane, or coords (x + 1000 y)", "cap"},
    {{"dropouts", DROPOUTS, true}, "-Dropouts N", "The number of invalid points scattered in the aperture",
     {0, 1000000}, "", "5"},
    {{"buckets", BUCKETS, true}, "-Buckets N", "The number of intensity frames over the height window, 0 for none",
     {0, 64}, "", "1"},
    {{"fiducials", FIDUCIALS, true}, "-Fiducials N", "Points in fiducial group A, and N-1 in group B in format 3",
     {0, FIDUCIAL_ROOM}, "", "3"},
    {{"phaseres", PHASE_RES, true}, "-PhaseRes N", "The phase resolution code", {-32768, 32767},
     "below 2 in format 1, 2 or more in format 2", "1, or 2 in format 2"},
    {{"timestamp", TIME_STAMP, true}, "-TimeStamp N", "The measurement time in seconds since 1970",
     {INT32_MIN, INT32_MAX}, "", "1700000000"},
    {{"seed", SEED, true}, "-Seed N", "The seed of the dropouts", {0, UINT32_MAX}, "", "1"},
    {{"overwrite", OVERWRITE, false}, "-Overwrite",
     "Replace an existing OutFile; without it, an existing OutFile is refused", {}, "", ""},
};

constexpr auto OPTIONS = [] {
    std::array<cli::option_spec, std::size(SAMPLE_OPTIONS)> words{};
    std::size_t n = 0;
    for (const sample_option& o : SAMPLE_OPTIONS) words[n++] = o.word;
    return words;
}();

// A lone "-" is a file name.
constexpr cli::option_rules RULES{OPTIONS, true, false};

const sample_option& option_of(int id) {
    for (const sample_option& o : SAMPLE_OPTIONS) {
        if (o.word.id == id) return o;
    }
    return SAMPLE_OPTIONS[0];  // not reached: every id is in the table
}

// The values an option takes, in words.
std::string values_text(const sample_option& o) {
    if (o.range.lo == 0 && o.range.hi == 0) return o.values;
    const std::string range = "N from " + std::to_string(o.range.lo) + " to " + std::to_string(o.range.hi);
    return *o.values == '\0' ? range : range + "; " + o.values;
}

// The usage text: what the program does, its form, then each option's form
// on a line of its own, what it sets with its default, and the values it
// takes.
std::vector<std::string> usage_text() {
    std::vector<std::string> lines = {
        SAMPLE_NAME,
        "Version 2",
        "",
        "This program writes a synthetic Lumatrix binary data file, for trying",
        "the other Spinmap programs and for tests. The same options give the",
        "same file on every platform.",
        "",
        "Usage:",
        "",
        "Spinmap-Sample [Options] OutFile",
        "",
        "An existing OutFile is refused unless the Overwrite option is given.",
        "",
    };
    for (const char* line : cli::OPTIONS_PARAGRAPH) lines.emplace_back(line);
    for (const sample_option& o : SAMPLE_OPTIONS) {
        lines.emplace_back(o.form);
        const std::string fallback = *o.fallback != '\0' ? std::string(" (default: ") + o.fallback + ")" : "";
        lines.push_back(o.meaning + fallback + ".");
        if (const std::string values = values_text(o); !values.empty()) lines.push_back(values + ".");
        lines.emplace_back("");
    }
    for (const char* line : cli::HELP_PARAGRAPH) lines.emplace_back(line);
    for (const char* line : cli::EXIT_STATUS_PARAGRAPH) lines.emplace_back(line);
    lines.emplace_back("");
    return lines;
}

void print_usage() {
    for (const std::string& line : usage_text()) std::printf("%s\n", line.c_str());
}

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

// Reads the value of a whole-number option within its bounds.
bool take_number(int id, const std::string& value, long long* v) {
    const bounds& b = option_of(id).range;
    return parse_int(value, b.lo, b.hi, v);
}

// Reads the value of an option; false when it is not one the option takes.
bool take_value(int id, const std::string& value, sample_settings* s) {
    long long v = 0;
    switch (id) {
        case CAMERA: {
            int wh[2];
            if (!parse_list(value, 'x', 2, wh) || wh[0] <= 0 || wh[1] <= 0) return false;
            s->camera_width = wh[0];
            s->camera_height = wh[1];
            return true;
        }
        case WINDOW:
            return parse_window(value, &s->height_window);
        case VALID:
            s->valid_given = true;
            return parse_window(value, &s->valid);
        case APERTURE: {
            const std::string a = cli::folded_to_lower(value);
            s->shape = a == "circle" ? aperture::circle : a == "rect" ? aperture::rect : aperture::none;
            return a == "circle" || a == "rect" || a == "none";
        }
        case SURFACE: {
            const std::string k = cli::folded_to_lower(value);
            s->kind = k == "cap" ? surface::cap : k == "plane" ? surface::plane : surface::coords;
            return k == "cap" || k == "plane" || k == "coords";
        }
        case OVERWRITE:
            s->overwrite = true;
            return true;
        default:
            break;
    }
    if (!take_number(id, value, &v)) return false;
    switch (id) {
        case FORMAT: s->format = static_cast<int>(v); break;
        case DROPOUTS: s->dropouts = static_cast<int>(v); break;
        case BUCKETS: s->buckets = static_cast<int>(v); break;
        case FIDUCIALS: s->fiducials = static_cast<int>(v); break;
        case PHASE_RES: s->phase_res = static_cast<int>(v); break;
        case TIME_STAMP: s->time_stamp = v; break;
        case SEED: s->seed = static_cast<uint32_t>(v); break;
        default: break;
    }
    return true;
}

bool inside_camera(const sample_settings& s, const window& w) {
    return w.x >= 0 && w.y >= 0 && w.x + w.width <= s.camera_width && w.y + w.height <= s.camera_height;
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
    if (s->valid_given && !inside_camera(*s, s->valid)) {
        const window& v = s->valid;
        *message = "Valid rectangle " +
                   cli::quoted(std::to_string(v.x) + "," + std::to_string(v.y) + "," + std::to_string(v.width) +
                               "," + std::to_string(v.height)) +
                   " is not inside the camera " +
                   cli::quoted(std::to_string(s->camera_width) + "x" + std::to_string(s->camera_height));
        return false;
    }
    if (s->height_window.width < 0) {
        s->height_window = window{0, 0, static_cast<int16_t>(s->camera_width), static_cast<int16_t>(s->camera_height)};
    }
    if (!s->valid_given) s->valid = s->height_window;
    return true;
}

enum class parse_result { run, usage, failed };

// Reads the arguments into settings: run, or the usage text (no output
// name), or failed with the message of the first bad argument.
parse_result parse(const std::vector<std::string>& args, sample_settings* s, std::string* message) {
    const bool walked = cli::walk_arguments(
        args, RULES,
        [&](int id, const std::string& argument, const std::string& value, std::string* m) {
            if (take_value(id, value, s)) return true;
            *m = "Invalid value " + cli::quoted(argument + " " + value) + " (" + values_text(option_of(id)) + ")";
            return false;
        },
        [&](const std::string& name, std::string* m) {
            if (!s->output.empty()) return fail("Too many filename arguments:", name, m);
            s->output = name;
            return true;
        },
        message);
    if (!walked) return parse_result::failed;
    if (s->output.empty()) return parse_result::usage;
    return settle(s, message) ? parse_result::run : parse_result::failed;
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

// Writes the file through a temporary that replaces the target only when
// complete, so a failed run leaves no output and an existing file as it was.
int write_sample(const std::string& path, const InfoBlock& info, const HeaderRecord& header,
                 const intensity_matrix& intensity, const height_matrix& height) {
    return u_write_output(path, false, [&](std::FILE* stream) {
        return write_data_stream(stream, &info, &header, &intensity, &height);
    });
}

// Why the output could not be written: what its name names, or its folder,
// when the file could not be created; otherwise the error code's name.
std::string write_failure(const std::string& path, int code) {
    const std::string why = code == ERR_CANT_CREATE_FILE ? cli::why_no_new_file(path) : std::string();
    return "Cannot write " + cli::quoted(path) + ": " + (why.empty() ? error_name(code) : why);
}

int sample_main(const std::vector<std::string>& args) {
    if (const std::optional<int> answered = cli::answer_request(args, SAMPLE_NAME, print_usage)) return *answered;
    sample_settings s;
    std::string message;
    switch (parse(args, &s, &message)) {
        case parse_result::usage:
            print_usage();
            return cli::EXIT_FAILED;
        case parse_result::failed:
            return cli::failure(SAMPLE_NAME, message);
        case parse_result::run:
            break;
    }
    // A sample never replaces a file by accident.
    if (!s.overwrite && u_is_regular_file(s.output)) {
        return cli::failure(SAMPLE_NAME, "Output file " + cli::quoted(s.output) +
                                             " exists; the Overwrite option replaces it");
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
    if (code == 0) code = write_sample(s.output, info, header, intensity, height);
    if (code != 0) return cli::failure(SAMPLE_NAME, write_failure(s.output, code));
    return cli::EXIT_OK;
}

}  // namespace

int main(int argc, char** argv) { return cli::program_main(SAMPLE_NAME, argc, argv, sample_main); }
