// Messages of the programs, the order of the two console streams, and the
// program entry.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "errors/errors.h"

namespace spinmap::cli {

namespace {

void write_bytes(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

}  // namespace

int usage_failure(std::span<const text_lines> parts) {
    for (const text_lines& lines : parts) {
        for (const char* line : lines) std::printf("%s\n", line);
    }
    return EXIT_FAILED;
}

void begin_error(std::string_view tool_name) {
    std::fflush(stdout);
    write_bytes(stderr, tool_name);
    write_bytes(stderr, "\nERROR: ");
}

int failure(std::string_view tool_name, std::string_view message) {
    begin_error(tool_name);
    write_bytes(stderr, message);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    return EXIT_FAILED;
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

bool refuse_value(std::string_view what, std::string_view value, std::string* message) {
    *message = "Invalid " + std::string(what) + " " + quoted(value);
    return false;
}

int report_out_of_memory(std::string_view tool_name) { return failure(tool_name, error_name(ERR_NO_MEM)); }

int program_main(std::string_view tool_name, int argc, char** argv, program_entry entry) {
    return guard_allocation(tool_name, [&] {
        const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
        return entry(args);
    });
}

}  // namespace spinmap::cli
