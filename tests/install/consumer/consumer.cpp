// Reads a data file through the installed library, prints its camera size and
// the number of valid height points before and after a half turn about their
// centre. Every public header is included, so that one missing from the
// installation fails the build.
#include <cstdio>

#include "datafile/datafile.h"
#include "errors/errors.h"
#include "matrix/matrix.h"
#include "platform/platform.h"
#include "transform/transform.h"

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
    return 0;
}
