#include <climits>
#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include <spinmap/errors/errors.h>
#include "support.h"

namespace spinmap {
namespace {

TEST(ErrorName, NamesCodesAcrossTheTable) {
    const struct {
        int code;
        const char* name;
    } cases[] = {
        {1, "ERR_AC_CANT_AGC"},
        {27, "ERR_ALL_BAD_DATA"},
        {46, "ERR_BAD_PARAM"},
        {116, "ERR_CANT_CREATE_FILE"},
        {120, "ERR_CANT_OPEN_FILE"},
        {125, "ERR_CANT_WRITE_FILE"},
        {134, "ERR_CORRUPT_DATA_FILE"},
        {142, "ERR_DATASET_DIM_TOO_LARGE"},
        {231, "ERR_IMPROPER_WINDOW"},
        {242, "ERR_INVALID_PARAM"},
        {320, "ERR_NO_MEM"},
        {328, "ERR_NOT_A_DATA_FILE"},
        {333, "ERR_PARAM_OUT_OF_RANGE"},
        {353, "ERR_PREMATURE_EOF"},
        {445, "ERR_WINDOWS_DISJOINT"},
        {462, "ERR_ZOOM_TIMEOUT"},
    };
    for (const auto& c : cases) EXPECT_STREQ(error_name(c.code), c.name) << c.code;
}

TEST(ErrorName, ConstantsCarryTheirNumbers) {
    EXPECT_EQ(ERR_ALL_BAD_DATA, 27);
    EXPECT_EQ(ERR_CANT_CREATE_FILE, 116);
    EXPECT_EQ(ERR_CANT_OPEN_FILE, 120);
    EXPECT_EQ(ERR_CANT_WRITE_FILE, 125);
    EXPECT_EQ(ERR_CORRUPT_DATA_FILE, 134);
    EXPECT_EQ(ERR_DATASET_DIM_TOO_LARGE, 142);
    EXPECT_EQ(ERR_IMPROPER_WINDOW, 231);
    EXPECT_EQ(ERR_INVALID_PARAM, 242);
    EXPECT_EQ(ERR_NO_MEM, 320);
    EXPECT_EQ(ERR_NOT_A_DATA_FILE, 328);
    EXPECT_EQ(ERR_PARAM_OUT_OF_RANGE, 333);
    EXPECT_EQ(ERR_PREMATURE_EOF, 353);
    EXPECT_EQ(ERR_WINDOWS_DISJOINT, 445);
    EXPECT_EQ(ERR_ZOOM_TIMEOUT, 462);
}

TEST(ErrorName, ZeroAndCodesOutsideTheTable) {
    EXPECT_STREQ(error_name(0), "NO_ERROR");
    EXPECT_STREQ(error_name(463), "invalid error number 463");
    EXPECT_STREQ(error_name(-1), "invalid error number -1");
    EXPECT_STREQ(error_name(INT_MIN), "invalid error number -2147483648");
    EXPECT_STREQ(error_name(INT_MAX), "invalid error number 2147483647");
}

TEST(ErrorName, EachCallOverwritesTheOneBuffer) {
    const char* first = error_name(27);
    const char* second = error_name(320);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "ERR_NO_MEM");
    EXPECT_STREQ(error_text(134), "ERR_CORRUPT_DATA_FILE");
}

TEST(ErrorName, IntoTheCallersBufferLeavesTheSharedOneAlone) {
    const char* shared = error_name(27);
    char mine[ERROR_NAME_BUFFER_SIZE];
    EXPECT_EQ(error_name_into(463, mine, sizeof mine), mine);
    EXPECT_STREQ(mine, "invalid error number 463");
    EXPECT_STREQ(shared, "ERR_ALL_BAD_DATA");
}

TEST(ErrorTable, HoldsExactlyTheDistinctErrNames) {
    std::set<std::string> seen;
    for (int code = 1; code <= ERROR_COUNT; ++code) {
        const std::string name = error_names[code];
        EXPECT_EQ(name.rfind("ERR_", 0), 0u) << code;
        EXPECT_LE(name.size(), 45u) << code;
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 462u);
    EXPECT_STREQ(error_names[0], "");
}

TEST(ErrorReport, PrintsNonZeroCodesThroughTheHook) {
    std::string captured;
    {
        const test::captured_messages messages;
        error_report(0);
        error_report(27);
        captured = messages.text();
    }
    EXPECT_EQ(captured, "ERR_ALL_BAD_DATA\n");
}

TEST(ErrorReportDeathTest, ExitsWithStatusOneAfterReporting) {
    EXPECT_EXIT(error_report_exit(320), testing::ExitedWithCode(1), "ERR_NO_MEM");
}

}  // namespace
}  // namespace spinmap
