// The shared command line: numbers, keywords and the walk over the
// arguments, as every program sees them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli.h"

namespace spinmap::cli {
namespace {

TEST(Numbers, EveryFormOfTheConversionGivesItsValue) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"0x5A", 90},
        {"0x1.68p6", 90},
        {"-0x2D", -45},
        {"0X1P-3", 0.125},
        {" 45", 45},
        {"+1.5E1", 15},
        {"-90", -90},
        {"1e-310", 1e-310},
        {"1e-400", 0},
        {"", 0},
        {"3.4028234663852886e38", FLOAT_LIMIT},
        {"-3.4028234663852886e38", -FLOAT_LIMIT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        double value = -1;
        ASSERT_TRUE(parse_number(c.text, &value));
        EXPECT_EQ(value, c.value);
    }
}

TEST(Numbers, RefusedTextsLeaveTheValueAlone) {
    for (const char* text : {"45x", "45 ", " ", "x45", "1e400", "inf", "-infinity", "nan", "NAN(1)", "3.5e38",
                             "-3.40282347e38", "0x", "1,5"}) {
        SCOPED_TRACE(text);
        double value = 7;
        EXPECT_FALSE(parse_number(text, &value));
        EXPECT_EQ(value, 7);
    }
}

TEST(Numbers, APairIsTwoNumbersAroundOneComma) {
    const struct {
        const char* text;
        double first, second;
    } accepted[] = {
        {"10,20", 10, 20},
        {"10, 20", 10, 20},
        {"\t-1.5,\n2.5e1", -1.5, 25},
        {"0x10,0x8", 16, 8},
        {"3.4028234663852886e38,5", FLOAT_LIMIT, 5},
    };
    for (const auto& c : accepted) {
        SCOPED_TRACE(c.text);
        double a = -1, b = -1;
        ASSERT_TRUE(parse_number_pair(c.text, &a, &b));
        EXPECT_EQ(a, c.first);
        EXPECT_EQ(b, c.second);
    }
    for (const char* text : {"10 ,20", "10", ",20", "10,", "10,20,30", "10,20 ", "10;20", "", " ,20", "10, ",
                             "nan,1", "1,inf", "1e39,0", "0,-3.5e38", "a,b"}) {
        SCOPED_TRACE(text);
        double a = 7, b = 7;
        EXPECT_FALSE(parse_number_pair(text, &a, &b));
        EXPECT_EQ(a, 7);
        EXPECT_EQ(b, 7);
    }
}

TEST(Keywords, OnlyAsciiLettersAreFolded) {
    EXPECT_EQ(folded_to_lower("NoInterp-Z@[\xC4\xD6]"), "nointerp-z@[\xC4\xD6]");
}

// ---- The walk ------------------------------------------------------------------

enum { ANGLE, VERBOSE };
constexpr option_spec OPTIONS[] = {{"angle", ANGLE, true}, {"verbose", VERBOSE, false}};

// Every option and name the walk hands over, in order, and its message.
struct walk_record {
    bool ok;
    std::vector<std::string> events;
    std::string message;
};

walk_record walk(const std::vector<std::string>& args, option_rules rules = {OPTIONS}) {
    walk_record r;
    r.ok = walk_arguments(
        args, rules,
        [&](int id, const std::string& argument, const std::string& value, std::string* message) {
            r.events.push_back(std::to_string(id) + " " + argument + " " + value);
            if (value != "bad") return true;
            *message = "taker refused";
            return false;
        },
        [&](const std::string& name, std::string*) {
            r.events.push_back("name " + name);
            return true;
        },
        &r.message);
    return r;
}

TEST(Walk, OptionsAndNamesInOrderEachValueTheNextArgument) {
    const walk_record r = walk({"a", "-ANGLE", "-5", "", "-vErBoSe", "-Angle", "-verbose", "b"});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.events, (std::vector<std::string>{"name a", "0 -ANGLE -5", "name ", "1 -vErBoSe ", "0 -Angle -verbose",
                                                  "name b"}));
}

TEST(Walk, TheFirstErrorEndsTheWalkWithItsMessage) {
    const struct {
        std::vector<std::string> args;
        option_rules rules;
        std::string message;
        std::size_t events;
    } cases[] = {
        {{"a", "-", "-x"}, {OPTIONS}, "Missing option name after prefix '-'", 1},
        {{"-ang", "5"}, {OPTIONS}, "Unknown option \"-ang\"", 0},
        {{"--angle", "5"}, {OPTIONS}, "Unknown option \"--angle\"", 0},
        {{"-Angles", "5"}, {OPTIONS}, "Unknown option \"-Angles\"", 0},
        {{"-verbose", "-Angle"}, {OPTIONS}, "Missing value after \"-Angle\"", 1},
        {{"-Angle", "bad", "-x"}, {OPTIONS}, "taker refused", 1},
        // A program may take a lone dash as a name, and look for a missing
        // value before the keyword.
        {{"-", "-x"}, {OPTIONS, true, false}, "Unknown option \"-x\"", 1},
        {{"-x"}, {OPTIONS, false, true}, "Missing value after \"-x\"", 0},
        {{"-x", "1"}, {OPTIONS, false, true}, "Unknown option \"-x\"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const walk_record r = walk(c.args, c.rules);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.events.size(), c.events);
    }
}

}  // namespace
}  // namespace spinmap::cli
