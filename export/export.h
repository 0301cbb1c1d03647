// Spinmap Export: the heights of a measurement data file in open formats, for
// analysis software and for reports.
//
//   spinmap-export [Options] InFile OutFile
//
// The format comes from OutFile's extension, ASCII case-folded:
// - .x3p: the surface texture container, a ZIP of stored members: main.xml
//   (root ISO5436_2 in the namespace X3P_NAMESPACE; Record1 the axes, CX and
//   CY incremental with the pixel spacing in metres as Increment and the
//   height window's camera position as Offset, CZ absolute doubles; Record2
//   date, creator, instrument, calibration date, probing system, comment;
//   Record3 the matrix size and the point data's link and MD5; Record4 the
//   checksum file), bindata/data.bin (little-endian doubles, x fastest, NaN
//   where invalid) and md5checksum.hex (the MD5 of main.xml as md5sum writes
//   it). At most 4 GiB: a larger frame is refused.
// - .tif, .tiff: one 32-bit IEEE float sample per pixel, NaN where invalid,
//   XResolution and YResolution in pixels per centimetre; BigTIFF when the
//   samples pass 4 GiB. Heights beyond the float range are refused.
// - .xyz, .csv: one line per valid point, "x y z" or "x,y,z", each number
//   the shortest text that reads back as the same double; .csv begins with
//   the line "x_m,y_m,z_m".
//
// What is exported, in every format:
// - the height window as the file holds it (x3p, TIFF), or its valid points
//   (text forms);
// - heights in metres: value x nanometres_per_count / 1e9, the nanometres
//   spinmap-info reports divided to metres;
// - lateral positions in the camera frame, x = column x spacing and
//   y = row x spacing, the origin at the centre of camera pixel (0, 0), y
//   growing downward with the rows; the spacing is the header's CameraRes
//   (metres per pixel on the part) as the shortest decimal its single
//   precision holds (1.25e-05, not 1.2499999968e-05), so that it reads as
//   the header says it.
//
// A file without height data, without valid heights, without a usable height
// scale, or whose CameraRes is 0 (the pixel spacing unknown) is refused: a
// made-up scale would be taken for a measured one.
//
// The output is written through a temporary beside it (platform.h): a failed
// run leaves no file and an existing one as it was. An existing output is
// replaced only with -Overwrite; the input itself never.
//
// Messages as the other programs write them (cli.h): errors on standard
// error as "Spinmap Export" and "ERROR: ..."; one line on standard output
// says what was written. Operations below the entry return error codes and
// print nothing; no exception leaves this module.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <spinmap/datafile/datafile.h>

namespace spinmap {

inline constexpr const char* EXPORT_TOOL_NAME = "Spinmap Export";
inline constexpr const char* X3P_NAMESPACE = "http://www.opengps.eu/2008/ISO5436_2";

// ---- Command line ----------------------------------------------------------------

enum class export_format { x3p, tiff, xyz, csv };

struct export_settings {
    std::string input;
    std::string output;
    bool overwrite = false;
};

// The whole program: parses the arguments (after the program name), exports
// and returns the exit status (0 success, 1 the usage text and every
// failure, each explained on standard error).
int spinmap_export_main(const std::vector<std::string>& args);

// Options as the other programs take them; the first file name is the input,
// the second the output. False with the message (the text after "ERROR: ")
// on a bad argument, a missing or a third file name.
bool parse_export_arguments(const std::vector<std::string>& args, export_settings* settings, std::string* message);

// The format an output name asks for by its extension; false for none.
bool format_of_name(std::string_view path, export_format* format);

// ---- The surface -------------------------------------------------------------------

// One data file's heights as exported, with the header they came with. It
// owns its matrix.
struct export_surface {
    HeaderRecord header{};
    owned_height height;
    double nm_per_count = 0;  // usable_nanometres_per_count(header)
    double spacing = 0;       // metres per pixel: CameraRes as the decimal it holds
    int64_t valid_points = 0;
    int32_t lowest = 0;  // valid heights, file units
    int32_t highest = 0;
};

// Reads and checks a data file for export (as spinmap-info checks it) and
// fills the surface. False with the message, which names the file, for a
// file that cannot be read, unsound attributes, and the refusals above.
bool read_surface(const std::string& path, export_surface* surface, std::string* message);

// The shortest text that reads back as the same double ("1.25e-05",
// "-3.7725e-08"); at most NUMBER_TEXT_ROOM characters, no terminator.
inline constexpr int NUMBER_TEXT_ROOM = 32;
char* put_number(char* at, double value);

// A file value in metres: value x nm_per_count / 1e9 in double, in that
// order; NaN for an invalid value.
double height_in_metres(int32_t value, double nm_per_count);

// The camera-frame position of camera column or row `index`, in metres.
inline double lateral_position(int32_t index, double spacing) { return index * spacing; }

// ---- Writers: the whole output on a stream ------------------------------------------
//
// Each returns 0, ERR_CANT_WRITE_FILE when the stream refuses bytes, or a
// writer's own code below. Running out of memory throws std::bad_alloc,
// which the entry turns into ERR_NO_MEM while the output can be discarded.

// ERR_DATASET_DIM_TOO_LARGE when the archive would pass 4 GiB.
int write_x3p(std::FILE* stream, const export_surface& surface);

// ERR_PARAM_OUT_OF_RANGE when a height is beyond the float range.
int write_tiff(std::FILE* stream, const export_surface& surface);

// One line per valid point; with csv, commas and the header line.
int write_points(std::FILE* stream, const export_surface& surface, bool csv);

// The text of Record1 to Record4 of an x3p archive, given the hex MD5 of its
// point data.
std::string x3p_main_xml(const export_surface& surface, std::string_view data_md5);

// ---- Checksums, times and the ZIP container ---------------------------------------

// CRC-32 (the ZIP one: reflected polynomial 0xEDB88320) of the bytes,
// continuing from crc (0 to begin).
uint32_t crc32_update(uint32_t crc, std::span<const uint8_t> bytes);

// MD5 of a byte stream fed in pieces.
class md5_hash {
public:
    void update(std::span<const uint8_t> bytes);
    // The 16-byte digest; the hash is spent afterwards.
    std::array<uint8_t, 16> finish();

private:
    void compress(const uint8_t* block);
    uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    uint64_t length_ = 0;  // bytes fed so far
    std::array<uint8_t, 64> pending_{};
};

// Lower-case hexadecimal of the bytes.
std::string hex_text(std::span<const uint8_t> bytes);

// A time of seconds since 1970-01-01 00:00 UTC on the proleptic Gregorian
// calendar, in UTC.
struct utc_time {
    int64_t year;
    int month, day, hour, minute, second;
};
utc_time utc_of(int64_t seconds);

// "2023-11-14T22:13:20+00:00".
std::string iso8601_text(const utc_time& t);

// Counts and writes bytes to a stream.
struct byte_sink {
    std::FILE* stream;
    uint64_t written = 0;
    // ERR_CANT_WRITE_FILE when the stream takes fewer than all of them.
    int put(std::span<const uint8_t> bytes);
};

// A ZIP archive of stored members written front to back, so that the stream
// need not seek: each member's CRC-32 and size are given before its bytes.
class zip_writer {
public:
    zip_writer(std::FILE* stream, const utc_time& modified);

    // Writes the member's header, then calls body, which must put exactly
    // `size` bytes into the sink. ERR_DATASET_DIM_TOO_LARGE when the archive
    // would pass 4 GiB, ERR_INVALID_PARAM when body put another count.
    template <typename Body>
    int add(std::string_view name, uint32_t crc, uint64_t size, Body&& body) {
        int code = begin_member(name, crc, size);
        if (code == 0) code = body(sink_);
        return code != 0 ? code : end_member();
    }

    // The central directory and its end record.
    int finish();

private:
    struct member {
        std::string name;
        uint32_t crc;
        uint32_t size;
        uint32_t offset;
    };
    int begin_member(std::string_view name, uint32_t crc, uint64_t size);
    int end_member();

    byte_sink sink_;
    uint16_t dos_time_;
    uint16_t dos_date_;
    std::vector<member> members_;
};

}  // namespace spinmap
