// Options, keywords and numbers of the command line.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"

namespace spinmap::cli {

namespace {

bool within_float_range(double value) { return value >= -FLOAT_LIMIT && value <= FLOAT_LIMIT; }

// Converts a number at text; returns the position after it, text itself when
// nothing was converted. errno is not looked at: underflow is a value.
const char* convert_number(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end;
}

const option_spec* find_option(std::span<const option_spec> options, std::string_view keyword) {
    for (const option_spec& option : options) {
        if (option.keyword == keyword) return &option;
    }
    return nullptr;
}

bool missing_value(const std::string& argument, std::string* message) {
    *message = "Missing value after " + quoted(argument);
    return false;
}

}  // namespace

char fold_to_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string folded_to_lower(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) c = fold_to_lower(c);
    return folded;
}

bool parse_number(const std::string& text, double* value) {
    double v = 0;
    const char* end = convert_number(text.c_str(), &v);
    if (end != text.c_str() + text.size() || !within_float_range(v)) return false;
    *value = v;
    return true;
}

bool parse_number_pair(const std::string& text, double* first, double* second) {
    const char* const start = text.c_str();
    const char* const finish = start + text.size();
    double a = 0;
    const char* a_end = convert_number(start, &a);
    if (a_end == start || *a_end != ',' || !within_float_range(a)) return false;
    const char* const b_start = a_end + 1;
    double b = 0;
    const char* b_end = convert_number(b_start, &b);
    if (b_end == b_start || b_end != finish || !within_float_range(b)) return false;
    *first = a;
    *second = b;
    return true;
}

bool walk_arguments(const std::vector<std::string>& args, const option_rules& rules, const option_taker& take_option,
                    const name_taker& take_name, std::string* message) {
    static const std::string no_value;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& argument = args[i];
        const bool lone_dash = argument == "-";
        if (argument.empty() || argument[0] != '-' || (lone_dash && rules.lone_dash_is_name)) {
            if (!take_name(argument, message)) return false;
            continue;
        }
        if (lone_dash) {
            *message = "Missing option name after prefix '-'";
            return false;
        }
        const bool no_value_follows = i + 1 >= args.size();
        if (no_value_follows && rules.value_before_keyword) return missing_value(argument, message);
        const option_spec* option = find_option(rules.options, folded_to_lower(std::string_view(argument).substr(1)));
        if (option == nullptr) {
            *message = "Unknown option " + quoted(argument);
            return false;
        }
        if (option->takes_value && no_value_follows) return missing_value(argument, message);
        const std::string& value = option->takes_value ? args[++i] : no_value;
        if (!take_option(option->id, argument, value, message)) return false;
    }
    return true;
}

}  // namespace spinmap::cli
