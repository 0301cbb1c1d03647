// Reads a data file through the installed library, prints its camera size and
// the number of valid height points before and after a half turn about their
// centre; then rotates the file by a quarter turn as spinmap does, into
// DATAFILE.turned, and prints what the run reported. Every public header is included, so that one missing from the
// installation fails the build.
#include <cstdio>
#include <string>
#include <string_view>

#include <spinmap/datafile/datafile.h>
#include <spinmap/errors/errors.h>
#include <spinmap/matrix/matrix.h>
#include <spinmap/platform/platform.h>
#include <spinmap/run/run.h>
#include <spinmap/transform/transform.h>

using namespace spinmap;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: consumer DATAFILE\n");
        return 2;
    }
    HeaderRecord header{};
    height_matrix height{};
    matrix_clear(&height);
    int code = read_data_file(argv[1], nullptr, &header, nullptr, &height);
    if (code != 0) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[1], error_name(code));
        return 1;
    }
    std::printf("Camera %d x %d\n", header.CameraWidth, header.CameraHeight);

    int32_t before = 0, after = 0;
    double px = 0, py = 0;
    const window frame{0, 0, header.CameraWidth, header.CameraHeight};
    code = matrix_count_valid(&height, nullptr, &before);
    if (code == 0) code = matrix_valid_center(&height, &px, &py);
    if (code == 0) code = matrix_rotate(&height, &frame, &px, &py, 180.0, ROT_WIN_GIVEN | ROT_NO_INTERP);
    if (code == 0) code = matrix_count_valid(&height, nullptr, &after);
    matrix_free(&height);
    if (code != 0) {
        std::fprintf(stderr, "cannot rotate: %s\n", error_name(code));
        return 1;
    }
    std::printf("Valid points %d, after a half turn %d\n", before, after);

    rotation_run_settings run;
    run.input_path = argv[1];
    run.output_path = run.input_path + ".turned";
    run.angle = 90;
    run.report = true;
    std::string report;
    rotation_run_result result;
    if (rotate_data_file(run, [&](std::string_view text) { report += text; }, &result) != 0) {
        std::fprintf(stderr, "cannot rotate the file: %s\n", result.message.c_str());
        return 1;
    }
    std::printf("Run: %d valid points in, %d out, %d outside; report %s\n", result.points_in, result.points_out,
                result.points_outside, report.starts_with("InputFile") ? "given" : "missing");
    return 0;
}
