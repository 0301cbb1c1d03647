// Spinmap: rotates the height data of a measurement data file.
#include "app.h"
#include "cli/cli.h"
#include <spinmap/matrix/matrix.h>
#include <spinmap/platform/platform.h>

int main(int argc, char** argv) {
    // The program's frames come from the platform's allocator for large
    // blocks (standard malloc, with huge-page advice where it helps).
    spinmap::malloc_hook = spinmap::u_allocate_large;
    return spinmap::cli::program_main(spinmap::TOOL_NAME, argc, argv, spinmap::spinmap_main);
}
