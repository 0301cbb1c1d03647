// spinmap-view: writes a PNG picture of measurement data files.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "view/view.h"

int main(int argc, char** argv) {
    return spinmap::spinmap_view_main(spinmap::u_program_arguments(argc, argv));
}
