// Spinmap: rotates the height data of a measurement data file.
#include <string>
#include <vector>

#include "app.h"
#include "matrix/matrix.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    // The program's frames come from the platform's allocator for large
    // blocks (standard malloc, with huge-page advice where it helps).
    spinmap::malloc_hook = spinmap::u_allocate_large;
    return spinmap::spinmap_main(spinmap::u_program_arguments(argc, argv));
}
