// spinmap-view: writes a PNG picture of measurement data files.
#include <string>
#include <vector>

#include "view/view.h"

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return spinmap::spinmap_view_main(args);
}
