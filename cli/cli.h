// The command line of the Spinmap programs (spinmap, spinmap-view, spinmap-info,
// spinmap-sample): what every one of them does the same way, held once here.
// Each program keeps what is its own: its option table, its texts and its run.
//
// - Arguments: a program's main() hands argc and argv to program_main(), the
//   one place where the command line is read; the program's entry then gets
//   the arguments after the program name as byte strings. On Windows they
//   come from the wide (UTF-16) command line as UTF-8, and the program's
//   narrow paths are UTF-8 from then on, so that every name the file system
//   allows can be given (u_program_arguments).
// - Options: walk_arguments() takes the arguments left to right. An argument
//   that begins with "-" is an option whose keyword (the text after the dash,
//   ASCII case-folded, compared in full) must stand in the program's table; an
//   option that takes a value always takes the next argument, whatever it
//   begins with. Every other argument is a file name.
// - Numbers: the whole strtod grammar (leading white space, decimal and
//   hexadecimal forms), refusing NaN, infinities and values beyond the largest
//   float, so that every accepted value fits a single-precision field.
// - Messages: the usage text and reports go to standard output; an error goes
//   to standard error as the program's name on one line and "ERROR: " with the
//   message on the next. Standard output is flushed before anything is written
//   to standard error, so that a combined log keeps the order of events. Text
//   is written as its bytes; on a Windows console it is UTF-8 shown through
//   the console's wide output (u_write_text).
// - Help and version: -h, -help and --help ask for the usage text, --version
//   for the program's name and the build's version, both on standard output
//   with exit status 0. spinmap itself keeps its own command line and
//   answers neither.
// - Files: a message about a file that cannot be read or written says why
//   (a missing folder, a folder where a file should be, a file that is not a
//   measurement data file).
// - Exit status: 0 for success, 1 for the usage text and every failure; an
//   allocation failure (std::bad_alloc) is an error like any other.
//
// Library diagnostics (errors.h) keep the same order of the two streams.
// Only the programs include this header; it needs errors/, platform/ and
// run/ (for the loader's failures).
#pragma once

#include <cstddef>
#include <functional>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <spinmap/run/run.h>

namespace spinmap::cli {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;

// The largest finite float: the bound of every accepted number.
inline constexpr double FLOAT_LIMIT = 3.4028234663852886e38;

// ---- Program entry -------------------------------------------------------------

using program_entry = int (*)(const std::vector<std::string>& args);

// The whole of a program's main(): takes the arguments after the program name
// and returns the entry's exit status (EXIT_FAILED with the out-of-memory
// error when they cannot be held).
int program_main(std::string_view tool_name, int argc, char** argv, program_entry entry);

// Prints the out-of-memory error of the tool; returns EXIT_FAILED.
int report_out_of_memory(std::string_view tool_name);

// Runs body() (returning an exit status) so that running out of memory ends
// the program like any other failure.
template <class Body>
int guard_allocation(std::string_view tool_name, Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return report_out_of_memory(tool_name);
    }
}

// ---- Messages --------------------------------------------------------------------

using text_lines = std::span<const char* const>;

// The paragraphs of the usage texts that tell what this module decides for
// every program: how options are written, and the exit status.
inline constexpr const char* OPTIONS_PARAGRAPH[] = {
    "Options:",
    "",
    "Options are specified by a prefix dash (-) character followed by a keyword.",
    "Keywords are not case-sensitive.",
    "",
};
inline constexpr const char* EXIT_STATUS_PARAGRAPH[] = {
    "Exit Status",
    "If successful, the exit status is 0.",
    "Otherwise, the exit status is 1 and an error message is output to the console.",
};

// The paragraph that tells how to ask for help and for the version (its
// lines begin with no dash: they name no option of the program's table).
inline constexpr const char* HELP_PARAGRAPH[] = {
    "The options -h, -help and --help print this text, and --version prints",
    "the program's name and version; each ends with exit status 0.",
    "",
};

// The number of lines of a usage text made of parts.
constexpr std::size_t line_count(std::span<const text_lines> parts) {
    std::size_t count = 0;
    for (const text_lines& lines : parts) count += lines.size();
    return count;
}

// Prints the usage text, its parts in order, one line end after each line,
// on standard output.
void print_usage(std::span<const text_lines> parts);

// print_usage(), then EXIT_FAILED: the usage text for too few arguments is
// no successful run.
int usage_failure(std::span<const text_lines> parts);

// ---- Help and version --------------------------------------------------------------
//
// The words -h, -help, --help and --version (keywords folded as every
// other) are answered wherever they stand, before anything else of the
// command line is looked at, the first of them counting: no option of the
// programs takes one of them as its value, so none is taken from a value.

enum class request { run, help, version };

// What the arguments ask for: a run, or help or the version.
request requested(const std::vector<std::string>& args);

// Answers a help or version request: the usage text (print_usage), or the
// tool's name and the build's version ("Spinmap Info 2.0.0"), on standard
// output, and EXIT_OK. Nullopt when the arguments ask for a run.
std::optional<int> answer_request(const std::vector<std::string>& args, std::string_view tool_name,
                                  const std::function<void()>& print_usage);
std::optional<int> answer_request(const std::vector<std::string>& args, std::string_view tool_name,
                                  std::span<const text_lines> usage);

// Prints the tool's name on one line and "ERROR: " with the message on the
// next, on standard error; returns EXIT_FAILED. The message's bytes are
// written as they are (a path may hold a per cent sign).
int failure(std::string_view tool_name, std::string_view message);

// The first line and "ERROR: " of failure(), for a caller that writes the
// rest of the message and its line end itself.
void begin_error(std::string_view tool_name);

// The text in double quotes, as messages show an argument.
std::string quoted(std::string_view text);

// Sets the message "Invalid <what> \"<value>\"" and returns false.
bool refuse_value(std::string_view what, std::string_view value, std::string* message);

// ---- Files -------------------------------------------------------------------------

// Why the path names no regular file, in words to follow a colon: "it is a
// folder", "it is not a regular file" (a device, a pipe), "the folder
// \"a/b\" does not exist", "\"a/b\" is not a folder", or "there is no such
// file". Empty when it names one.
std::string why_no_file(std::string_view path);

// Why no file can be created under the path, in the same words; empty when
// nothing tells (the path is free and its folder exists).
std::string why_no_new_file(std::string_view path);

// The message for an input data file that cannot be read: "Cannot access
// input data file \"x\": " and why_no_file() when the path names no regular
// file (whatever the code), otherwise the reader's code in words: a file
// that is not a measurement data file (empty, too short, a PNG picture, a
// text), one cut short or damaged. The error code's name where words can
// say no more.
std::string unreadable_input(std::string_view path, int code);

// The message for a measurement the loader (run/) did not give: the reading
// steps as unreadable_input() says them, then "Invalid attribute information
// in input data file \"x\"" with the check's reason on the next line, or
// "Input data file \"x\" contains no height data".
std::string unloadable_input(std::string_view path, const load_failure& failure);

// measure_heights of an input's heights, false with the programs' words
// for a failure: "Input data file \"x\" contains no valid height points",
// or the code's name after "Input data file \"x\": ".
bool measure_input_heights(std::string_view path, const height_matrix& heights, height_statistics* stats,
                           std::string* message);

// ---- Keywords and numbers ----------------------------------------------------------

// Case folding of ASCII letters only, so that no byte depends on the locale.
char fold_to_lower(char c);
std::string folded_to_lower(std::string_view text);

// One number filling the whole text, within +-FLOAT_LIMIT. An empty text is
// 0: the conversion consumes all of nothing. Underflow is no failure (a
// subnormal or zero result is a value). value is written only on success.
bool parse_number(const std::string& text, double* value);

// "A,B": two numbers within +-FLOAT_LIMIT, each at least one character, white
// space only before A and right after the comma. Written only on success.
bool parse_number_pair(const std::string& text, double* first, double* second);

// ---- Options -----------------------------------------------------------------------

struct option_spec {
    std::string_view keyword;  // lower case, without the dash
    int id;                    // the program's own name for the option
    bool takes_value;
};

struct option_rules {
    std::span<const option_spec> options;
    // A lone "-" is a file name instead of the error "Missing option name
    // after prefix '-'".
    bool lone_dash_is_name = false;
    // Every option takes a value: a last option misses its value before its
    // keyword is looked up.
    bool value_before_keyword = false;
};

// Receives an option (its table id, the argument as typed and its value, empty
// for an option without one), or a file name. False, with the message (the
// text after "ERROR: "), ends the walk.
using option_taker =
    std::function<bool(int id, const std::string& argument, const std::string& value, std::string* message)>;
using name_taker = std::function<bool(const std::string& name, std::string* message)>;

// Walks the arguments left to right; false with the message of the first
// error: "Missing option name after prefix '-'", "Unknown option \"-x\"",
// "Missing value after \"-x\"" (the argument quoted as typed), or a taker's.
bool walk_arguments(const std::vector<std::string>& args, const option_rules& rules, const option_taker& take_option,
                    const name_taker& take_name, std::string* message);

}  // namespace spinmap::cli
