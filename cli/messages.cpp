// Messages of the programs, the order of the two console streams, and the
// program entry.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include <spinmap/errors/errors.h>
#include <spinmap/platform/platform.h>

namespace spinmap::cli {

namespace {

// Bytes as they are; on a Windows console through its wide output, so that
// names show every character as typed.
void write_bytes(std::FILE* stream, std::string_view text) { u_write_text(stream, text); }

}  // namespace

void print_usage(std::span<const text_lines> parts) {
    for (const text_lines& lines : parts) {
        for (const char* line : lines) std::printf("%s\n", line);
    }
}

int usage_failure(std::span<const text_lines> parts) {
    print_usage(parts);
    return EXIT_FAILED;
}

request requested(const std::vector<std::string>& args) {
    for (const std::string& argument : args) {
        const std::string word = folded_to_lower(argument);
        if (word == "-h" || word == "-help" || word == "--help") return request::help;
        if (word == "--version") return request::version;
    }
    return request::run;
}

std::optional<int> answer_request(const std::vector<std::string>& args, std::string_view tool_name,
                                  const std::function<void()>& print_usage) {
    switch (requested(args)) {
        case request::run: return std::nullopt;
        case request::help: print_usage(); break;
        case request::version:
            // The project's version, set by the build.
            std::printf("%.*s %s\n", static_cast<int>(tool_name.size()), tool_name.data(), SPINMAP_VERSION);
            break;
    }
    std::fflush(stdout);
    return EXIT_OK;
}

std::optional<int> answer_request(const std::vector<std::string>& args, std::string_view tool_name,
                                  std::span<const text_lines> usage) {
    return answer_request(args, tool_name, [usage] { print_usage(usage); });
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
        // On Windows the wide command line, as UTF-8.
        return entry(u_program_arguments(argc, argv));
    });
}

}  // namespace spinmap::cli
