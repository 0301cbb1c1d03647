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

// A number filling the text whose value is a whole number from 1 to most.
bool parse_whole(const std::string& text, int most, int* whole) {
    double value = 0;
    if (text.empty() || !cli::parse_number(text, &value)) return false;
    if (!(value >= 1 && value <= most) || value != static_cast<int>(value)) return false;
    *whole = static_cast<int>(value);
    return true;
}

// "N", a whole number 1..MAX_SCALE, or "1/N", N a whole number
// 1..MAX_SHRINK.
bool parse_scale(const std::string& text, view_settings* settings) {
    int n = 0;
    if (text.starts_with("1/")) {
        if (!parse_whole(text.substr(2), MAX_SHRINK, &n)) return false;
        settings->scale = 1;
        settings->shrink = n;
    } else {
        if (!parse_whole(text, MAX_SCALE, &n)) return false;
        settings->scale = n;
        settings->shrink = 1;
    }
    settings->scale_given = true;
    return true;
}

// Whether text ends in "nm" (any case).
bool ends_in_nm(std::string_view text) {
    return text.size() >= 2 && cli::folded_to_lower(text.substr(text.size() - 2)) == "nm";
}

// "Lo,Hi" with Lo < Hi, both in file units or both in nanometres of surface
// height, "nm" right after each number ("-50nm,120nm"). False with the
// reason otherwise.
bool parse_range(const std::string& text, view_settings* settings, std::string* why) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) {
        *why = "give Lo,Hi, two numbers separated by a comma";
        return false;
    }
    const std::string_view lo_text = std::string_view(text).substr(0, comma);
    const std::string_view hi_text = std::string_view(text).substr(comma + 1);
    const bool in_nm = ends_in_nm(lo_text);
    if (ends_in_nm(hi_text) != in_nm) {
        *why = "Lo and Hi must both be in file units or both in nm, as in -50nm,120nm";
        return false;
    }
    const std::string numbers = in_nm ? std::string(lo_text.substr(0, lo_text.size() - 2)) + "," +
                                            std::string(hi_text.substr(0, hi_text.size() - 2))
                                      : text;
    double lo = 0;
    double hi = 0;
    if (!cli::parse_number_pair(numbers, &lo, &hi)) {
        *why = "Lo and Hi must be numbers within +-3.4e38, with no space between a number and the comma or nm";
        return false;
    }
    if (!(lo < hi)) {
        *why = "Lo must be less than Hi";
        return false;
    }
    settings->range_lo = lo;
    settings->range_hi = hi;
    settings->range_in_nm = in_nm;
    settings->has_range = true;
    return true;
}

// Sets the message "Invalid <what> \"<value>\": <why>" and returns false.
bool refuse_because(std::string_view what, const std::string& value, const std::string& why, std::string* message) {
    cli::refuse_value(what, value, message);
    *message += ": " + why;
    return false;
}

// Takes an option of the table with its value (empty for a switch).
bool take_option(int id, const std::string& value, view_settings* settings, std::string* message) {
    if (id == INTENSITY) {
        settings->intensity = true;
        return true;
    }
    if (id == SCALE) {
        return parse_scale(value, settings) ||
               refuse_because("scale", value,
                              "give N, a whole number from 1 to " + std::to_string(MAX_SCALE) + ", or 1/N with N from 1 to " +
                                  std::to_string(MAX_SHRINK),
                              message);
    }
    std::string why;
    return parse_range(value, settings, &why) || refuse_because("range", value, why, message);
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
