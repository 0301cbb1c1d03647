// The command line of the viewer: options and file names.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "view/view.h"

namespace spinmap {

namespace {

// Numbers are read as the rotation tool reads them: strtod's grammar in the
// whole argument, finite and within the largest float.
constexpr double VALUE_LIMIT = 3.4028234663852886e38;

// Case folding of ASCII letters only, so no byte depends on the locale.
std::string folded_to_lower(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

bool within_value_limit(double value) { return value >= -VALUE_LIMIT && value <= VALUE_LIMIT; }

// Converts the number at text; returns the position after it (text itself
// when nothing was converted).
const char* convert_number(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end;
}

// N: a number filling the argument whose value is a whole number 1..16.
bool parse_scale(const std::string& text, int* scale) {
    double value = 0;
    const char* end = convert_number(text.c_str(), &value);
    if (end == text.c_str() || end != text.c_str() + text.size()) return false;
    if (!(value >= 1 && value <= MAX_SCALE) || value != static_cast<int>(value)) return false;
    *scale = static_cast<int>(value);
    return true;
}

// One end of a range at text: a number, then "nm" (any case) when it is in
// nanometres. The position after it, text itself when there is no number.
const char* convert_range_end(const char* text, double* value, bool* in_nm) {
    const char* end = convert_number(text, value);
    *in_nm = end != text && folded_to_lower(std::string_view(end).substr(0, 2)) == "nm";
    return *in_nm ? end + 2 : end;
}

// "Lo,Hi", both in file units or both in nanometres ("-50nm,120nm"): white
// space only before Lo and right after the comma; Lo < Hi.
bool parse_range(const std::string& text, double* lo, double* hi, bool* in_nm) {
    const char* const start = text.c_str();
    const char* const finish = start + text.size();
    double a = 0;
    bool a_nm = false;
    const char* a_end = convert_range_end(start, &a, &a_nm);
    if (a_end == start || *a_end != ',' || !within_value_limit(a)) return false;
    const char* const b_start = a_end + 1;
    double b = 0;
    bool b_nm = false;
    const char* b_end = convert_range_end(b_start, &b, &b_nm);
    if (b_end == b_start || b_end != finish || !within_value_limit(b) || !(a < b) || a_nm != b_nm) return false;
    *lo = a;
    *hi = b;
    *in_nm = a_nm;
    return true;
}

// Takes the option at args[*index] and, for -Scale and -Range, its value
// (advancing *index past it).
bool parse_option(const std::vector<std::string>& args, std::size_t* index, view_settings* settings,
                  std::string* message) {
    const std::string& argument = args[*index];
    if (argument.size() == 1) {
        *message = "Missing option name after prefix '-'";
        return false;
    }
    const std::string keyword = folded_to_lower(std::string_view(argument).substr(1));
    if (keyword == "scale" || keyword == "range") {
        if (*index + 1 >= args.size()) {
            *message = "Missing value after " + quoted(argument);
            return false;
        }
        const std::string& value = args[++*index];
        if (keyword == "scale") {
            if (parse_scale(value, &settings->scale)) return true;
            *message = "Invalid scale " + quoted(value);
        } else {
            if (parse_range(value, &settings->range_lo, &settings->range_hi, &settings->range_in_nm)) {
                settings->has_range = true;
                return true;
            }
            *message = "Invalid range " + quoted(value);
        }
        return false;
    }
    if (keyword == "intensity") {
        settings->intensity = true;
        return true;
    }
    *message = "Unknown option " + quoted(argument);
    return false;
}

}  // namespace

bool parse_view_arguments(const std::vector<std::string>& args, view_settings* settings, std::string* message) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!args[i].empty() && args[i][0] == '-') {
            if (!parse_option(args, &i, settings, message)) return false;
        } else {
            names.push_back(args[i]);
        }
    }
    if (names.empty()) {
        *message = "No input data file specified";
        return false;
    }
    if (names.size() == 1) {
        *message = "No output PNG file specified";
        return false;
    }
    settings->output = names.back();
    names.pop_back();
    settings->inputs = std::move(names);
    return true;
}

}  // namespace spinmap
