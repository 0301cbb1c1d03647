// One whole rotation run, step by step, with the time of each step: what
// spinmap does for "-Angle A [-NoInterp] IN OUT", through the same library
// calls and the same allocator (the rows made as they are written where the
// run makes them so), without the report (and so without the
// counts of valid points, which only the report needs). Prints one line of JSON:
// the milliseconds of read, checks and scans, the count of the valid points
// turned off the camera frame, rotation, trim, fiducials and write, and of
// the whole.
// Usage: bench_steps IN OUT ANGLE [noi] [PX,PY]  (the pivot by default the
// centre of the valid points' window)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <spinmap/datafile/datafile.h>
#include <spinmap/platform/platform.h>
#include <spinmap/run/run.h>
#include <spinmap/transform/transform.h>

namespace spinmap {
namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point* start) {
    const clock_type::time_point now = clock_type::now();
    const double ms = std::chrono::duration<double, std::milli>(now - *start).count();
    *start = now;
    return ms;
}

int fail(const char* step, int code) {
    std::fprintf(stderr, "bench_steps: %s: %s\n", step, error_name(code));
    return 1;
}

int run(const char* in, const char* out, double angle, bool no_interp, const char* pivot) {
    malloc_hook = u_allocate_large;  // as the program does
    InfoBlock info{};
    HeaderRecord header{};
    carried_intensity intensity;
    owned_height height;
    double ms[7] = {};
    const clock_type::time_point begin = clock_type::now();
    clock_type::time_point t = begin;

    owned_file input(u_open_file(in, false));
    if (input == nullptr) return fail("read", ERR_CANT_OPEN_FILE);
    int code = read_data_carrying_intensity(input.get(), &info, &header, &intensity, &height);
    if (code != 0) return fail("read", code);
    ms[0] = ms_since(&t);

    std::string message;
    code = check_data_attributes(&header, intensity, &height, true, &message);
    if (code != 0) return fail("check", code);
    window input_window{};
    code = matrix_valid_window(&height, nullptr, &input_window);
    if (code != 0) return fail("scan", code);
    double px = 0, py = 0;
    wn_center(input_window, &px, &py);
    if (pivot != nullptr && std::sscanf(pivot, "%lf,%lf", &px, &py) != 2) return fail("pivot", ERR_INVALID_PARAM);
    const rotation_plan plan = plan_rotation(
        {angle, px, py, no_interp ? rotation_choice::no_interp : rotation_choice::automatic, rotation_rule::tool, false});
    if (plan.refusal != rotation_refusal::none) return fail("plan", ERR_INVALID_PARAM);
    ms[1] = ms_since(&t);

    const window camera_frame{0, 0, header.CameraWidth, header.CameraHeight};
    int32_t outside = 0, valid = 0;
    code = matrix_count_outside(&height, &input_window, camera_frame, plan.pivot_x, plan.pivot_y, angle, &outside,
                                &valid);
    if (code != 0) return fail("outside", code);
    ms[2] = ms_since(&t);

    // As the run without a report: where it can, the rows are made as they
    // are written, the rotation step only finding their window and the trim
    // having nothing to do.
    window made{};
    bool making = false;
    code = made_rows_window(height, input_window, camera_frame, plan, false, &made, &making);
    if (code != 0) return fail("rotate", code);
    rotated_rows rows;
    code = making ? rows.prepare(height, plan, made) : matrix_rotate_by_plan(&height, camera_frame, plan);
    if (code != 0) return fail("rotate", code);
    ms[3] = ms_since(&t);

    code = making ? 0 : matrix_trim(&height);
    if (code != 0) return fail("trim", code);
    ms[4] = ms_since(&t);

    rotate_fiducials(&header, plan.pivot_x, plan.pivot_y, angle, report_sink());
    ms[5] = ms_since(&t);

    output_file file;
    if (!u_output_open(out, &file)) return fail("write", ERR_CANT_CREATE_FILE);
    code = making ? write_data_making_heights(file.stream, &info, &header, intensity, made,
                                              [&rows](int first, int count, int32_t* out, std::ptrdiff_t pitch) {
                                                  return rows.make(first, count, out, pitch);
                                              })
                  : write_data_carrying_intensity(file.stream, &info, &header, intensity, &height);
    input.reset();
    if (code != 0) {
        u_output_discard(&file);
        return fail("write", code);
    }
    if (!u_output_commit(&file)) return fail("write", ERR_CANT_WRITE_FILE);
    ms[6] = ms_since(&t);
    const double total = std::chrono::duration<double, std::milli>(clock_type::now() - begin).count();

    std::printf("{\"read\": %.3f, \"checks and scans\": %.3f, \"points outside\": %.3f, \"rotation\": %.3f, "
                "\"trim\": %.3f, \"fiducials\": %.3f, \"write\": %.3f, \"total\": %.3f}\n",
                ms[0], ms[1], ms[2], ms[3], ms[4], ms[5], ms[6], total);
    return 0;
}

}  // namespace
}  // namespace spinmap

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_steps IN OUT ANGLE [noi] [PX,PY]\n");
        return 2;
    }
    bool no_interp = false;
    const char* pivot = nullptr;
    for (int i = 4; i < argc; ++i) {
        if (std::string(argv[i]) == "noi") {
            no_interp = true;
        } else {
            pivot = argv[i];
        }
    }
    return spinmap::run(argv[1], argv[2], std::strtod(argv[3], nullptr), no_interp, pivot);
}
