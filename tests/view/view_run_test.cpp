// The built viewer as a user runs it: usage text, messages and exit status
// of bad command lines and bad files (nothing written, nothing left behind),
// and the picture of a file that spinmap has turned.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "picture_support.h"

namespace spinmap {
namespace {

using test::picture;
using test::read_file;
using test::read_picture;
using test::run_tool;
using test::run_viewer;
using test::sample_file;
using test::scratch_folder;
using test::tool_output;
using test::write_file;
using test::write_ramp_file;

constexpr rgb RED = {255, 0, 0};

const char* const USAGE =
    "Spinmap View\n"
    "Version 2\n"
    "\n"
    "This program reads Lumatrix binary data files and writes a PNG picture\n"
    "of the height data over the whole camera frame.\n"
    "Valid heights are drawn in a sequential colour map, invalid points in\n"
    "dark grey, and fiducials as small marks, one shape and colour for each\n"
    "group A to D. A legend beside the pictures explains the colours in\n"
    "nanometres of surface height and in file units, and names the marks.\n"
    "\n"
    "Usage:\n"
    "\n"
    "Spinmap-View [Options] InFile [InFile ...] OutFile.png\n"
    "\n"
    "With several input files, their pictures are placed side by side from\n"
    "left to right and share one colour scale.\n"
    "An existing output file is replaced only when it is a PNG picture\n"
    "or empty; the output file name must end in .png.\n"
    "\n"
    "Options:\n"
    "\n"
    "Options are specified by a prefix dash (-) character followed by a keyword.\n"
    "Keywords are not case-sensitive.\n"
    "\n"
    "-Scale N\n"
    "This option draws each camera pixel as a block of N x N picture pixels,\n"
    "N a whole number from 1 to 16; -Scale 1/N draws each picture pixel as\n"
    "the mean of the valid values of N x N camera pixels, N from 1 to 64.\n"
    "The default is 1, or the largest 1/N that keeps the pictures together\n"
    "within 2400 pixels wide.\n"
    "\n"
    "-Range Lo,Hi\n"
    "This option makes the colour scale run from Lo to Hi, in the units stored\n"
    "in the file, instead of from the 0.5th to the 99.5th percentile of the\n"
    "valid values. Lo must be less than Hi. Both may end in nm for nanometres\n"
    "of surface height, as in -Range -50nm,120nm.\n"
    "The colour scale is printed on standard output in both units.\n"
    "\n"
    "-Intensity\n"
    "This option draws the first intensity frame in grey instead of the heights.\n"
    "Intensity is not rotated by Spinmap: fiducials of a rotated file are drawn\n"
    "where the rotated heights are.\n"
    "\n"
    "The options -h, -help and --help print this text, and --version prints\n"
    "the program's name and version; each ends with exit status 0.\n"
    "\n"
    "Exit Status\n"
    "If successful, the exit status is 0.\n"
    "Otherwise, the exit status is 1 and an error message is output to the console.\n";

std::string error_text(const std::string& message) { return "Spinmap View\nERROR: " + message + "\n"; }

TEST(ViewRun, FewerThanTwoArgumentsPrintTheUsageText) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-Scale"}, {"in.dat"}}) {
        const tool_output r = run_viewer(args);
        EXPECT_EQ(r.out, USAGE);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exit_status, 1);
    }
}

TEST(ViewRun, BadCommandLinesAreRefusedWithTheirMessage) {
    const std::string scale_range = ": give N, a whole number from 1 to 16, or 1/N with N from 1 to 64";
    const std::string reversed = ": Lo must be less than Hi";
    const std::string mixed = ": Lo and Hi must both be in file units or both in nm, as in -50nm,120nm";
    const std::string not_numbers =
        ": Lo and Hi must be numbers within +-3.4e38, with no space between a number and the comma or nm";
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-", "a.dat", "a.png"}, "Missing option name after prefix '-'"},
        {{"a.dat", "a.png", "-Scale"}, "Missing value after \"-Scale\""},
        {{"a.dat", "a.png", "-rANGE"}, "Missing value after \"-rANGE\""},
        {{"a.dat", "a.png", "-x"}, "Unknown option \"-x\""},
        {{"a.dat", "a.png", "--scale", "2"}, "Unknown option \"--scale\""},
        {{"a.dat", "a.png", "-Scales", "2"}, "Unknown option \"-Scales\""},
        {{"-Scale", "0", "a.dat", "a.png"}, "Invalid scale \"0\"" + scale_range},
        {{"-Scale", "17", "a.dat", "a.png"}, "Invalid scale \"17\"" + scale_range},
        {{"-Scale", "2.5", "a.dat", "a.png"}, "Invalid scale \"2.5\"" + scale_range},
        {{"-Scale", "2 ", "a.dat", "a.png"}, "Invalid scale \"2 \"" + scale_range},
        {{"-Scale", "", "a.dat", "a.png"}, "Invalid scale \"\"" + scale_range},
        {{"-Scale", "nan", "a.dat", "a.png"}, "Invalid scale \"nan\"" + scale_range},
        {{"-Scale", "-Intensity", "a.dat", "a.png"}, "Invalid scale \"-Intensity\"" + scale_range},
        {{"-Scale", "1/65", "a.dat", "a.png"}, "Invalid scale \"1/65\"" + scale_range},
        {{"-Scale", "1/0", "a.dat", "a.png"}, "Invalid scale \"1/0\"" + scale_range},
        {{"-Scale", "2/4", "a.dat", "a.png"}, "Invalid scale \"2/4\"" + scale_range},
        {{"-Range", "5,5", "a.dat", "a.png"}, "Invalid range \"5,5\"" + reversed},
        {{"-Range", "6,5", "a.dat", "a.png"}, "Invalid range \"6,5\"" + reversed},
        {{"-Range", "300nm,-50nm", "a.dat", "a.png"}, "Invalid range \"300nm,-50nm\"" + reversed},
        {{"-Range", "-50,300nm", "a.dat", "a.png"}, "Invalid range \"-50,300nm\"" + mixed},
        {{"-Range", "-50nm,120", "a.dat", "a.png"}, "Invalid range \"-50nm,120\"" + mixed},
        {{"-Range", "1", "a.dat", "a.png"}, "Invalid range \"1\": give Lo,Hi, two numbers separated by a comma"},
        {{"-Range", "1,", "a.dat", "a.png"}, "Invalid range \"1,\"" + not_numbers},
        {{"-Range", "1 ,2", "a.dat", "a.png"}, "Invalid range \"1 ,2\"" + not_numbers},
        {{"-Range", "nan,1", "a.dat", "a.png"}, "Invalid range \"nan,1\"" + not_numbers},
        {{"-Range", "0,inf", "a.dat", "a.png"}, "Invalid range \"0,inf\"" + not_numbers},
        {{"-Range", "0,1e39", "a.dat", "a.png"}, "Invalid range \"0,1e39\"" + not_numbers},
        {{"-Range", "-50 nm,120 nm", "a.dat", "a.png"}, "Invalid range \"-50 nm,120 nm\"" + not_numbers},
        {{"-Scale", "2", "-Intensity"}, "No input data file specified"},
        {{"-Intensity", "a.dat"}, "No output PNG file specified"},
        // The first error ends the run.
        {{"-Bogus", "-Scale", "0", "a.dat"}, "Unknown option \"-Bogus\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const tool_output r = run_viewer(c.args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, error_text(c.message));
        EXPECT_EQ(r.exit_status, 1);
    }
}

TEST(ViewRun, BadInputsWriteNothingAndLoseNothing) {
    scratch_folder folder;
    const std::string good = folder.file("good.dat");
    write_ramp_file(good);
    ASSERT_TRUE(write_file(folder.file("text.dat"), "no data file here\n"));
    {
        sample_file f(8, 8);
        f.set_intensity({0, 0, 8, 8}, 1, [](int, int, int) { return uint16_t(7); });
        f.write(folder.file("no-heights.dat"));
    }
    {
        sample_file f(8, 8);
        f.set_heights({0, 0, 8, 8}, [](int, int) { return INVALID_HEIGHT + 3; });
        f.write(folder.file("all-invalid.dat"));
    }
    {
        sample_file f(8, 8);
        f.set_heights({2, 0, 7, 8}, [](int, int) { return 1; });  // one column beyond the camera
        f.write(folder.file("too-wide.dat"));
    }
    {
        sample_file f(8, 8);  // the ramp's counts are 2^-32 m, these 2^-35 m
        f.set_heights({0, 0, 8, 8}, [](int, int) { return 1; });
        f.header.WavelengthIn = 0x1p-20f;
        f.header.PhaseRes = 1;
        f.write(folder.file("other-scale.dat"));
    }
    ASSERT_TRUE(write_file(folder.file("old.png"), "\x89PNG\r\n\x1b\n: one byte off a picture"));
    {
        sample_file f(8, 8);
        f.set_heights({0, 0, 8, 8}, [](int, int) { return 1; });
        f.write(folder.file("data.PNG"));
    }
    std::filesystem::create_directory(folder.file("folder.png"));
    ASSERT_EQ(link(good.c_str(), folder.file("hard-link.png").c_str()), 0);
    ASSERT_EQ(symlink(good.c_str(), folder.file("soft-link.png").c_str()), 0);
    const std::vector<std::string> names = folder.names();
    const std::optional<std::string> good_bytes = read_file(good);

    const std::string out = folder.file("out.png");
    const auto named = [&](const std::string& name) { return "\"" + folder.file(name) + "\""; };
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{good, folder.file("missing.dat"), out},
         "Cannot access input data file " + named("missing.dat") + ": there is no such file"},
        {{good, folder.file("no-such-folder/in.dat"), out}, "Cannot access input data file " +
                                                                named("no-such-folder/in.dat") + ": the folder " +
                                                                named("no-such-folder") + " does not exist"},
        {{good, folder.file("folder.png"), out},
         "Cannot access input data file " + named("folder.png") + ": it is a folder"},
        {{good, folder.file("text.dat"), out},
         "Input file " + named("text.dat") + " is not a measurement data file: it holds text"},
        {{folder.file("no-heights.dat"), out}, "Input data file " + named("no-heights.dat") + " contains no height data"},
        {{folder.file("all-invalid.dat"), out},
         "Input data file " + named("all-invalid.dat") + " contains no valid height points"},
        {{"-Intensity", good, out}, "Input data file " + named("good.dat") + " contains no intensity data"},
        {{folder.file("too-wide.dat"), out}, "Invalid attribute information in input data file " + named("too-wide.dat") +
                                                 "\nCamera width or height inconsistent with data."},
        {{good, folder.file("no-such-folder/out.png")}, "Cannot create output PNG file " +
                                                            named("no-such-folder/out.png") + ": the folder " +
                                                            named("no-such-folder") + " does not exist"},
        {{good, folder.file("text.dat/out.png")}, "Cannot create output PNG file " + named("text.dat/out.png") +
                                                      ": " + named("text.dat") + " is not a folder"},
        {{good, good}, "Output PNG file is an input data file " + named("good.dat")},
        {{folder.file("no-heights.dat"), good, folder.file("hard-link.png")},
         "Output PNG file is an input data file " + named("hard-link.png")},
        {{good, folder.file("soft-link.png")}, "Output PNG file is an input data file " + named("soft-link.png")},
        {{"-Range", "250nm,280nm", good, folder.file("other-scale.dat"), out},
         "A range in nanometres needs input data files that agree on one height scale"},
        {{"-Intensity", "-Range", "1nm,2nm", folder.file("no-heights.dat"), out},
         "A range in nanometres is for height pictures, not for -Intensity"},
        // The picture never replaces what is not a picture, nor takes a
        // name that is not one: the forgotten output name, a data file.
        {{good, folder.file("no-heights.dat")},
         "Output PNG file name does not end in \".png\": " + named("no-heights.dat")},
        {{good, folder.file("out.jpg")}, "Output PNG file name does not end in \".png\": " + named("out.jpg")},
        {{good, folder.file("data.PNG")},
         "Output PNG file " + named("data.PNG") + " exists and is not a PNG picture; it is not replaced"},
        {{good, folder.file("old.png")},
         "Output PNG file " + named("old.png") + " exists and is not a PNG picture; it is not replaced"},
        {{good, folder.file("folder.png")},
         "Cannot create output PNG file " + named("folder.png") + ": it is a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const tool_output r = run_viewer(c.args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, error_text(c.message));
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(folder.names(), names);
    }
    EXPECT_EQ(read_file(good), good_bytes);
    EXPECT_EQ(read_file(folder.file("old.png")),
              std::optional<std::string>("\x89PNG\r\n\x1b\n: one byte off a picture"));
    EXPECT_EQ(read_file(folder.file("data.PNG")).value_or("").substr(0, 4), "\x88\x1b\x03\x6f");
}

TEST(ViewRun, TheFiducialCrossFollowsAQuarterTurn) {
    scratch_folder folder;
    const std::string in = folder.file("in.dat");
    const std::string turned = folder.file("turned.dat");
    write_ramp_file(in);
    const tool_output r = run_tool({"-Angle", "90", "-Pivot", "20,10", "-NoInterp", in, turned});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    // An empty file is replaced, and so is a picture.
    ASSERT_TRUE(write_file(folder.file("both.png"), ""));
    ASSERT_EQ(run_viewer({in, folder.file("both.png")}).exit_status, 0);
    const tool_output v = run_viewer({in, turned, folder.file("both.png")});
    ASSERT_EQ(v.exit_status, 0) << v.err;
    // The scale in both units: 1000 and 1290 counts of 2^-32 m.
    EXPECT_EQ(v.out, "Colour scale (0.5th to 99.5th percentile): 1000 to 1290 file units, "
                     "232.831 to 300.352 nm of surface height\n");
    EXPECT_EQ(v.err, "");
    picture p;
    read_picture(folder.file("both.png"), &p);
    // (23.5, 9.7) turns about (20, 10) to (19.7, 6.5): drawn about (20, 7).
    // The first panel's column is as wide as its statistics' line, 149
    // pixels, the gap 8.
    const uint32_t left = 149 + 8;
    EXPECT_EQ(p.camera(24, 10), RED);
    EXPECT_EQ(p.camera(left + 24, 10), HEIGHT_COLOURS[141]);  // 1160 from (20, 14): 140.7
    for (const auto& [x, y] : {std::pair{20, 7}, {17, 7}, {23, 7}, {20, 4}, {20, 10}}) {
        EXPECT_EQ(p.camera(left + x, y), RED) << x << "," << y;
    }
    // The heights turned with it: the top of the ramp, column 33, is now
    // row 10 - (33 - 20) = -3, off the frame; column 30 is row 0, the invalid
    // block's columns 10..13 are rows 17..20, its rows 5..7 columns 15..17.
    EXPECT_EQ(p.camera(left + 12, 0), HEIGHT_COLOURS[229]);  // 1260: 228.6
    EXPECT_EQ(p.camera(left + 15, 17), NO_HEIGHT_COLOUR);
    EXPECT_EQ(p.camera(left + 14, 17), HEIGHT_COLOURS[79]);  // 1090: 79.1
}

// The picture goes wherever a user sends it: to a FIFO (the check of what
// stands there does not wait for a writer), to the longest name a folder
// takes. Under a file size limit the write fails with its message and leaves
// nothing behind.
TEST(ViewRun, PicturesGoToAFifoAndToTheLongestNameAndAFileSizeLimitFailsTheWrite) {
    scratch_folder folder;
    const std::string in = folder.file("in.dat");
    write_ramp_file(in);
    const std::string reference = folder.file("reference.png");
    ASSERT_EQ(run_viewer({in, reference}).exit_status, 0);
    const std::string picture = *read_file(reference);

    const std::string longest = folder.file(std::string(251, 'p') + ".png");
    const tool_output to_longest = run_viewer({in, longest});
    EXPECT_EQ(to_longest.exit_status, 0) << to_longest.err;
    EXPECT_EQ(read_file(longest), picture);

    const std::string fifo = folder.file("fifo.png");
    test::run_options patient;
    patient.timeout_seconds = 10;
    tool_output to_fifo;
    EXPECT_EQ(test::read_fifo_while(fifo, [&] { to_fifo = run_viewer({in, fifo}, patient); }), picture);
    EXPECT_EQ(to_fifo.exit_status, 0) << to_fifo.err;
    std::remove(fifo.c_str());

    const std::vector<std::string> names = folder.names();
    test::run_options limited;
    limited.child_setup = test::limit_file_size(picture.size() / 2);
    const tool_output r = run_viewer({in, folder.file("limited.png")}, limited);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, error_text("Error writing output PNG file \"" + folder.file("limited.png") + "\"" +
                                ": ERR_CANT_WRITE_FILE"));
    EXPECT_EQ(folder.names(), names);
}

}  // namespace
}  // namespace spinmap
