// Spinmap: rotates the height data of a measurement data file.
#include <string>
#include <vector>

#include "app.h"

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return spinmap::spinmap_main(args);
}
