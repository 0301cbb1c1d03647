// The command line of the viewer: its options and file names.
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "view/view.h"

namespace spinmap {

namespace {

enum option_id { SCALE, RANGE, INTENSITY };

constexpr cli::option_spec OPTIONS[] = {
    {"scale", SCALE, true},
    {"range", RANGE, true},
    {"intensity", INTENSITY, false},
};

// N: a number filling the argument whose value is a whole number 1..16.
bool parse_scale(const std::string& text, int* scale) {
    double value = 0;
    if (text.empty() || !cli::parse_number(text, &value)) return false;
    if (!(value >= 1 && value <= MAX_SCALE) || value != static_cast<int>(value)) return false;
    *scale = static_cast<int>(value);
    return true;
}

// Whether text ends in "nm" (any case).
bool ends_in_nm(std::string_view text) {
    return text.size() >= 2 && cli::folded_to_lower(text.substr(text.size() - 2)) == "nm";
}

// "Lo,Hi" with Lo < Hi, both in file units or both in nanometres of surface
// height, "nm" right after each number ("-50nm,120nm").
bool parse_range(const std::string& text, view_settings* settings) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    const std::string_view lo_text = std::string_view(text).substr(0, comma);
    const std::string_view hi_text = std::string_view(text).substr(comma + 1);
    const bool in_nm = ends_in_nm(lo_text);
    if (ends_in_nm(hi_text) != in_nm) return false;
    const std::string numbers = in_nm ? std::string(lo_text.substr(0, lo_text.size() - 2)) + "," +
                                            std::string(hi_text.substr(0, hi_text.size() - 2))
                                      : text;
    double lo = 0;
    double hi = 0;
    if (!cli::parse_number_pair(numbers, &lo, &hi) || !(lo < hi)) return false;
    settings->range_lo = lo;
    settings->range_hi = hi;
    settings->range_in_nm = in_nm;
    settings->has_range = true;
    return true;
}

// Takes an option of the table with its value (empty for a switch).
bool take_option(int id, const std::string& value, view_settings* settings, std::string* message) {
    if (id == INTENSITY) {
        settings->intensity = true;
        return true;
    }
    if (id == SCALE) return parse_scale(value, &settings->scale) || cli::refuse_value("scale", value, message);
    return parse_range(value, settings) || cli::refuse_value("range", value, message);
}

}  // namespace

bool parse_view_arguments(const std::vector<std::string>& args, view_settings* settings, std::string* message) {
    std::vector<std::string> names;
    const bool walked = cli::walk_arguments(
        args, {OPTIONS},
        [&](int id, const std::string&, const std::string& value, std::string* m) {
            return take_option(id, value, settings, m);
        },
        [&](const std::string& name, std::string*) {
            names.push_back(name);
            return true;
        },
        message);
    if (!walked) return false;
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
