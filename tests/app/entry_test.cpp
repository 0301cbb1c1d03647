// The command line: usage text, options and their values, file names, the
// input check and the overwrite question, seen as a user sees them (the
// exact bytes of standard output and standard error, and the exit status),
// plus the parsed settings themselves.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/app.h"
#include "support.h"

namespace spinmap {
namespace {

using namespace test;

const char* const USAGE =
    "Spinmap\n"
    "Version 2\n"
    "\n"
    "This program reads a Lumatrix binary data file and rotates the height data.\n"
    "Fiducial coordinates, if any, are also rotated.\n"
    "The output is either written to the same file or to another file.\n"
    "\n"
    "This program does not rotate intensity data.\n"
    "\n"
    "Usage:\n"
    "\n"
    "Spinmap [Options] InFile OutFile\n"
    "Spinmap [Options] InOutFile\n"
    "\n"
    "The first form uses two filename parameters:\n"
    "InFile is the input filename and OutFile is the output filename.\n"
    "\n"
    "The second form uses one filename parameter:\n"
    "InOutFile is both input and output filename.\n"
    "The Overwrite option is required.\n"
    "\n"
    "Options:\n"
    "\n"
    "Options are specified by a prefix dash (-) character followed by a keyword.\n"
    "Keywords are not case-sensitive.\n"
    "\n"
    "-Angle Ang\n"
    "This required option specifies rotation angle Ang in degress.\n"
    "A positive angle produces a counter-clockwise rotation.\n"
    "\n"
    "-Pivot X,Y\n"
    "This option specifies the coordinates of the pivot point (X,Y) in the\n"
    "camera coordinate system having the origin (0,0) at the center of the\n"
    "upper left pixel.\n"
    "If this option is not specified, the default pivot point is the center\n"
    "of the minimum enclosing rectangle for the valid height points.\n"
    "\n"
    "-NoInterp\n"
    "This option prevents the use of interpolation.\n"
    "This option is only allowed when the rotation angle is a multiple\n"
    "of 90 degrees and the pivot coordinates are multiples of 0.5 pixel.\n"
    "\n"
    "-Overwrite\n"
    "This option causes the program to quietly overwrite a pre-existing output file.\n"
    "If this option is not specified and if the output file already exists,\n"
    "the operator is prompted to confirm that the file may be overwritten.\n"
    "\n"
    "-Verbose\n"
    "This option causes verbose information to be output to the console.\n"
    "\n"
    "90 Degree Rotations\n"
    "This section discusses the special case of performing rotations by\n"
    "multiples of 90 degrees.\n"
    "If the pivot coordinates are both whole numbers or both have 0.5 as\n"
    "the fractional parts, then the rotation will be done by only moving values;\n"
    "interpolation will not be used.\n"
    "The output will contain exactly the same set of values as the input.\n"
    "However, if one pivot coordinate is a whole number and the other has 0.5\n"
    "as the fractional part, the rotation will normally require interpolation.\n"
    "The NoInterp option can be specified to ensure that interpolation is not used.\n"
    "This will cause an automatic adjustment of the pivot coordinates so that\n"
    "either both are whole numbers or both have 0.5 as the fractional parts.\n"
    "\n"
    "Exit Status\n"
    "If successful, the exit status is 0.\n"
    "Otherwise, the exit status is 1 and an error message is output to the console.\n"
    "\n";

// What the run prints when the input exists but is no data file: proof that
// the command line was accepted and the run was reached.
const char* const READ_ERROR = "Spinmap\nERROR: Error reading input data file: ERR_NOT_A_DATA_FILE\n";

const char* const NOT_A_DATA_FILE = "not a data file\n";

void expect_output(const tool_output& result, const std::string& out, const std::string& err, int status) {
    ASSERT_EQ(result.start_error, "");
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(result.exit_status, status);
}

std::string verbose_file_lines(const std::string& in, const std::string& out) {
    return "InputFile            = \"" + in + "\"\nOutputFile           = \"" + out + "\"\n";
}

class EntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(write_file(input, NOT_A_DATA_FILE));
        ASSERT_TRUE(write_file(existing_output, "old output\n"));
    }
    scratch_folder dir;
    const std::string input = dir.file("in.dat");
    const std::string existing_output = dir.file("out.dat");
};

TEST_F(EntryTest, FewerThanTwoArgumentsPrintTheUsageText) {
    const std::vector<std::vector<std::string>> cases = {{}, {"-Verbose"}, {"in.dat"}, {input}};
    for (const auto& args : cases) {
        SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
        expect_output(run_tool(args), USAGE, "", 1);
    }
}

TEST_F(EntryTest, BadCommandLinesAreRefusedWithTheirMessage) {
    const std::string long_word(10000, 'a');
    struct bad_line {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<bad_line> cases = {
        {{"-Verbose", "-Overwrite"}, "Spinmap\nERROR: No input data file specified\n"},
        {{"-Angle", "5", "-Pivot", "1,2"}, "Spinmap\nERROR: No input data file specified\n"},
        {{"-", "in.dat"}, "Spinmap\nERROR: Missing option name after prefix '-'\n"},
        {{"in.dat", "-ang", "5"}, "Spinmap\nERROR: Unknown option \"-ang\"\n"},
        {{"in.dat", "--angle", "5"}, "Spinmap\nERROR: Unknown option \"--angle\"\n"},
        {{"in.dat", "-Angles", "5"}, "Spinmap\nERROR: Unknown option \"-Angles\"\n"},
        {{"in.dat", "-" + long_word}, "Spinmap\nERROR: Unknown option \"-" + long_word + "\"\n"},
        {{"in.dat", "-Angle"}, "Spinmap\nERROR: Missing value after \"-Angle\"\n"},
        {{"in.dat", "-pIVOT"}, "Spinmap\nERROR: Missing value after \"-pIVOT\"\n"},
        {{"a.dat", "b.dat", "c.dat"}, "Spinmap\nERROR: Too many filename arguments\n"},
        // The first error ends the program; later arguments are not looked at.
        {{"-Bogus", "-Angle"}, "Spinmap\nERROR: Unknown option \"-Bogus\"\n"},
        {{"-Angle", "x", "-Pivot", "y", "in.dat"}, "Spinmap\nERROR: Invalid angle \"x\"\n"},
        {{"a.dat", "b.dat", "c.dat", "-Angle", "x"}, "Spinmap\nERROR: Too many filename arguments\n"},
        // A value is taken from the next argument even when it begins with a dash.
        {{"-Angle", "-Verbose", "in.dat"}, "Spinmap\nERROR: Invalid angle \"-Verbose\"\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err.substr(0, 80));
        expect_output(run_tool(c.args), "", c.err, 1);
    }
}

TEST_F(EntryTest, AnAngleMustBeAFiniteNumberFillingTheArgument) {
    for (const char* value : {"45x", "45 ", " ", "x45", "1e400", "-1e400", "inf", "-infinity", "nan", "NAN(1)",
                              "3.5e38", "-3.40282347e38", "0x", "1,5"}) {
        SCOPED_TRACE(value);
        expect_output(run_tool({"-Angle", value, input}), "",
                      std::string("Spinmap\nERROR: Invalid angle \"") + value + "\"\n", 1);
    }
}

TEST_F(EntryTest, APivotMustBeTwoFiniteNumbersAroundOneComma) {
    for (const char* value : {"10 ,20", "10", ",20", "10,", "10,20,30", "10,20 ", "10;20", "", " ,20", "10, ",
                              "nan,1", "1,inf", "1e39,0", "0,-3.5e38", "a,b"}) {
        SCOPED_TRACE(value);
        expect_output(run_tool({"-Pivot", value, input}), "",
                      std::string("Spinmap\nERROR: Invalid pivot coordinates \"") + value + "\"\n", 1);
    }
}

TEST_F(EntryTest, AcceptedOptionsReachTheRun) {
    const std::vector<std::vector<std::string>> cases = {
        {"-ANGLE", "90"},
        {"-aNgLe", "90"},
        {"-angle", "90"},
        {"-Angle", ""},
        {"-Angle", "-90"},
        {"-Angle", "3.4028234663852886e38"},
        {"-Angle", "-3.4028234663852886e38"},
        {"-Angle", "0x5A"},
        {"-Angle", "-0x2D"},
        {"-Angle", "0X1P-3"},
        {"-Angle", "0x1.68p6"},
        {"-Angle", " 45"},
        {"-Angle", "+1.5E1"},
        {"-Angle", "1e-310"},
        {"-Angle", "1e-400"},
        {"-Pivot", "10,20"},
        {"-Pivot", "10, 20"},
        {"-Pivot", " -1.5,\t2.5e1"},
        {"-Pivot", "0x10,0x8"},
        {"-Pivot", "3.4028234663852886e38,5"},
        {"-NOINTERP"},
    };
    for (std::vector<std::string> args : cases) {
        SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
        args.insert(args.end(), {"-Verbose", "-Overwrite", input});
        expect_output(run_tool(args), verbose_file_lines(input, input), READ_ERROR, 1);
    }
}

TEST_F(EntryTest, AnInputThatIsNoRegularFileIsRefused) {
    const std::string missing = dir.file("missing.dat");
    const std::string long_path = dir.path() + "/" + std::string(10000, 'p');
    for (const std::string& path : {dir.path(), missing, long_path}) {
        SCOPED_TRACE(path.substr(0, 80));
        expect_output(run_tool({path, existing_output, "-Verbose"}), "",
                      "Spinmap\nERROR: Cannot access input data file \"" + path + "\"\n", 1);
    }
}

std::string question_about(const std::string& path) { return "Overwrite output file \"" + path + "\" (n) ? "; }

TEST_F(EntryTest, AYesToTheOverwriteQuestionGoesOnToTheRun) {
    for (const char* answer : {"y\n", "Yes\n", "1\n", "Y", "yes please\nn\n"}) {
        SCOPED_TRACE(answer);
        expect_output(run_tool({input, existing_output}, with_input(answer)), question_about(existing_output),
                      READ_ERROR, 1);
    }
}

TEST_F(EntryTest, AnyOtherAnswerEndsTheProgramSilently) {
    const std::string long_line = std::string(600, 'x') + "\ny\n";
    for (const char* answer : {"n\n", "No\n", "0\n", "x\n", " y\n", "\ny\n", "", long_line.c_str()}) {
        SCOPED_TRACE(std::string(answer).substr(0, 10));
        expect_output(run_tool({input, existing_output}, with_input(answer)), question_about(existing_output), "", 1);
        EXPECT_EQ(read_file(existing_output), "old output\n");
    }
}

TEST_F(EntryTest, EndOfInputOrAClosedInputDeclines) {
    for (const bool closed : {false, true}) {
        SCOPED_TRACE(closed ? "closed" : "null device");
        expect_output(run_tool({input, existing_output}, closed ? with_closed_input() : run_options()),
                      question_about(existing_output), "", 1);
    }
}

TEST_F(EntryTest, TheQuestionShowsThePathAsTypedPerCentSignsIncluded) {
    const std::string odd_output = dir.file("out%s%d%%c%.dat");
    ASSERT_TRUE(write_file(odd_output, "old output\n"));
    expect_output(run_tool({"-Angle", "90", input, odd_output}, with_input("n\n")),
                  "Overwrite output file \"" + dir.path() + "/out%s%d%%c%.dat\" (n) ? ", "", 1);
}

TEST_F(EntryTest, TheOneFileFormAsksAboutTheInputItself) {
    expect_output(run_tool({"-Angle", "90", input}, with_input("y\n")), question_about(input), READ_ERROR, 1);
    expect_output(run_tool({"-Angle", "90", input}, with_input("n\n")), question_about(input), "", 1);
}

TEST_F(EntryTest, NoQuestionWithOverwriteOrWithoutAnExistingRegularOutput) {
    const std::string long_output = dir.path() + "/" + std::string(10000, 'q');
    const std::vector<std::vector<std::string>> cases = {
        {"-Overwrite", input, existing_output},
        {"-overwrite", input},
        {input, dir.path()},
        {input, dir.file("new.dat")},
        {input, long_output},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.back().substr(0, 80));
        // An answer is there to be read: a question would consume it and go on.
        expect_output(run_tool(args, with_input("y\n")), "", READ_ERROR, 1);
    }
    EXPECT_EQ(read_file(existing_output), "old output\n");
}

TEST_F(EntryTest, ASuccessfulRunExitsWithZeroAndSaysDoneOnlyWhenVerbose) {
    const std::string sample = dir.file("sample.dat");
    ASSERT_EQ(run_sample({"-Camera", "8x6", sample}).exit_status, 0) << "the sample generator must be built";
    const std::string result = dir.file("result.dat");

    expect_output(run_tool({"-Angle", "90", sample, result}), "", "", 0);

    const tool_output verbose_run = run_tool({"-Verbose", "-Overwrite", "-Angle", "90", sample, result});
    expect_output(verbose_run, verbose_run.out, "", 0);
    EXPECT_TRUE(verbose_run.out.starts_with(verbose_file_lines(sample, result))) << verbose_run.out;
    EXPECT_TRUE(verbose_run.out.ends_with("\n\nDone\n")) << verbose_run.out;

    expect_output(run_tool({"-Angle", "90", sample, existing_output}, with_input("y\n")),
                  question_about(existing_output), "", 0);
    EXPECT_EQ(read_file(existing_output), read_file(result));
}

// Names beyond any code page: Greek, Japanese, an emoji (a surrogate pair in
// UTF-16) and Latin-1, in both forms and through the overwrite question. The
// report and the messages show them as typed (UTF-8 bytes into a pipe), and
// the output is the same as for a plain name.
TEST(NamesOutsideTheCodePage, WorkInBothFormsAndShowAsTyped) {
    scratch_folder dir;
    ASSERT_EQ(run_sample({"-Camera", "16x12", "-Fiducials", "3", dir.file("plain.dat")}).exit_status, 0);
    ASSERT_EQ(run_tool({"-Angle", "30", dir.file("plain.dat"), dir.file("plain-30.dat")}).exit_status, 0);
    ASSERT_EQ(run_tool({"-Angle", "90", dir.file("plain.dat"), dir.file("plain-90.dat")}).exit_status, 0);
    const std::optional<std::string> sample = read_file(dir.file("plain.dat"));
    for (const std::string name : {"\u03bc\u03ad\u03c4\u03c1\u03b7\u03c3\u03b7", "\u6e2c\u5b9a\u30c7\u30fc\u30bf",
                                   "scan-\U0001F300", "Messung-\u00e4\u00f6\u00fc\u00df"}) {
        SCOPED_TRACE(name);
        const std::string in = name + ".dat", out = name + "-out.dat";
        ASSERT_TRUE(write_file(dir.file(in), *sample));
        run_options here;
        here.working_directory = dir.path();

        const tool_output two = run_tool({"-Angle", "30", "-Verbose", in, out}, here);
        expect_output(two, two.out, "", 0);
        EXPECT_TRUE(two.out.starts_with(verbose_file_lines(in, out))) << two.out;
        EXPECT_NE(two.out.find("\nWrote file \"" + out + "\"\n"), std::string::npos) << two.out;
        EXPECT_EQ(read_file(dir.file(out)), read_file(dir.file("plain-30.dat")));

        run_options yes = with_input("y\n");
        yes.working_directory = dir.path();
        expect_output(run_tool({"-Angle", "90", in, out}, yes), "Overwrite output file \"" + out + "\" (n) ? ", "", 0);
        EXPECT_EQ(read_file(dir.file(out)), read_file(dir.file("plain-90.dat")));

        expect_output(run_tool({"-Angle", "90", "-Overwrite", in}, here), "", "", 0);
        EXPECT_EQ(read_file(dir.file(in)), read_file(dir.file("plain-90.dat")));

        expect_output(run_tool({"-Angle", "90", "missing-" + in}, here), "",
                      "Spinmap\nERROR: Cannot access input data file \"missing-" + in + "\"\n", 1);
    }
}

TEST(ParseArguments, AngleAndPivotTakeTheLastOfTheirValues) {
    run_settings settings;
    std::string message;
    ASSERT_TRUE(parse_arguments({"-Angle", "10", "-Angle", "0x14", "-Pivot", "1,2", "-Pivot", " 3, 4e0", "in.dat"},
                                &settings, &message))
        << message;
    EXPECT_EQ(settings.angle, 20);
    EXPECT_EQ(settings.pivot_x, 3);
    EXPECT_EQ(settings.pivot_y, 4);
}

TEST(ParseArguments, SwitchesAndFileNamesMayStandInAnyOrder) {
    run_settings settings;
    std::string message;
    ASSERT_TRUE(parse_arguments({"-nointerp", "a.dat", "-OVERWRITE", "b.dat", "-VerBose"}, &settings, &message));
    EXPECT_EQ(settings.input_path, "a.dat");
    EXPECT_EQ(settings.output_path, "b.dat");
    EXPECT_TRUE(settings.no_interp);
    EXPECT_TRUE(settings.overwrite);
    EXPECT_TRUE(settings.verbose);
    EXPECT_EQ(settings.angle, 0);
}

TEST(ParseArguments, OneFileNameIsBothInputAndOutput) {
    run_settings settings;
    std::string message;
    ASSERT_TRUE(parse_arguments({"-Angle", "90", "data%1.dat"}, &settings, &message));
    EXPECT_EQ(settings.input_path, "data%1.dat");
    EXPECT_EQ(settings.output_path, "data%1.dat");
    EXPECT_FALSE(settings.no_interp);
    EXPECT_FALSE(settings.overwrite);
    EXPECT_FALSE(settings.verbose);
}

TEST(ParseArguments, AnUnreadableValueLeavesTheEarlierOneAndStops) {
    run_settings settings;
    std::string message;
    EXPECT_FALSE(parse_arguments({"-Angle", "30", "-Angle", "45x", "-Verbose", "in.dat"}, &settings, &message));
    EXPECT_EQ(message, "Invalid angle \"45x\"");
    EXPECT_EQ(settings.angle, 30);
    EXPECT_FALSE(settings.verbose);
    EXPECT_EQ(settings.input_path, "");
}


// The runner itself, with the shell as the child.
tool_output shell(const std::string& script, const run_options& options = {}) {
    return run_program({"/bin/sh", "-c", script}, {}, options);
}

TEST(ToolRunner, KeepsStandardOutputErrorAndExitStatusApart) {
    expect_output(shell("printf out; printf err >&2; printf more; exit 3"), "outmore", "err", 3);
}

TEST(ToolRunner, MovesLargeStreamsBothWaysWithoutBlocking) {
    const std::string input(1 << 20, 'a');
    const tool_output result = shell("cat; head -c 300000 /dev/zero >&2", with_input(input));
    EXPECT_EQ(result.out, input);
    EXPECT_EQ(result.err, std::string(300000, '\0'));
    EXPECT_EQ(result.exit_status, 0);
}

TEST(ToolRunner, StandardInputIsTextTheNullDeviceOrClosed) {
    const std::string script = "if [ -e /proc/self/fd/0 ]; then cat; echo end; else echo closed; fi";
    expect_output(shell(script, with_input("typed\n")), "typed\nend\n", "", 0);
    expect_output(shell(script), "end\n", "", 0);
    expect_output(shell(script, with_closed_input()), "closed\n", "", 0);
}

TEST(ToolRunner, ChangesTheInheritedEnvironmentAndSetsTheWorkingDirectory) {
    scratch_folder dir;
    setenv("SPINMAP_RUNNER_KEPT", "kept", 1);
    setenv("SPINMAP_RUNNER_REMOVED", "inherited", 1);
    run_options options;
    options.environment = {"TZ=UTC", "SPINMAP_RUNNER_REMOVED"};
    options.working_directory = dir.path();
    const tool_output result =
        shell("echo \"$TZ $SPINMAP_RUNNER_KEPT ${SPINMAP_RUNNER_REMOVED-unset}\"; pwd -P", options);
    expect_output(result, "UTC kept unset\n" + std::filesystem::canonical(dir.path()).string() + "\n", "", 0);
}

TEST(ToolRunner, AFileSizeLimitEndsAnUnguardedWriterBySigxfsz) {
    scratch_folder dir;
    run_options options;
    options.working_directory = dir.path();
    options.child_setup = limit_file_size(1000);
    const tool_output result = shell("head -c 5000 /dev/zero > big 2>/dev/null; echo $?", options);
    expect_output(result, std::to_string(128 + SIGXFSZ) + "\n", "", 0);
    EXPECT_EQ(read_file(dir.file("big")), std::string(1000, '\0'));
}

TEST(ToolRunner, ReportsAProgramThatCannotStartOrDoesNotEnd) {
    EXPECT_NE(run_program({"/nonexistent/program"}, {}).start_error, "");
    run_options options;
    options.timeout_seconds = 1;
    const tool_output result = shell("sleep 30", options);
    EXPECT_TRUE(result.timed_out);
    EXPECT_EQ(result.signal, SIGKILL);
}

}  // namespace
}  // namespace spinmap
