// spinmap-info: prints what measurement data files hold.
#include <string>
#include <vector>

#include "info/info.h"

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return spinmap::spinmap_info_main(args);
}
