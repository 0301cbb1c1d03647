// The binary measurement data file: header layout and formats, reading and
// writing whole files, byte-order reversal, and header attribute validation.
//
// A data file is a header of 834 or 4096 bytes, then an intensity block
// (16-bit values, IntensBytes long, present when IntensBytes > 0), then a
// height block (32-bit values, PhaseBytes long, present when PhaseBytes > 0),
// with nothing between. Every multi-byte number in the file is big-endian,
// except Format3Mark; memory always holds host order, and conversion happens
// only in this layer. The header's data-block geometry lives in the two
// matrices, not in HeaderRecord.
//
// All operations return an error code (errors.h) and print nothing, except
// u_swap_bytes and u_copy_file, which report through error_message_hook.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <spinmap/matrix/matrix.h>

namespace spinmap {

// The first four bytes of the file decide the format and the header length.
inline constexpr uint32_t MAGIC_FORMAT_1 = 0x881B036F;  // 834-byte header
inline constexpr uint32_t MAGIC_FORMAT_2 = 0x881B0370;  // 834-byte header
inline constexpr uint32_t MAGIC_FORMAT_3 = 0x881B0371;  // 4096-byte header
inline constexpr int SHORT_HEADER_BYTES = 834;
inline constexpr int LONG_HEADER_BYTES = 4096;

// Header bytes 10 to 47, handed from reader to writer unchanged.
struct InfoBlock {
    uint16_t word_10;
    uint8_t bytes_12[30];
    uint16_t words_42[3];
};

// Every header field from TimeStamp (offset 76) to the end of the 4096-byte
// layout, in file order and host byte order. Unnamed fields carry their file
// offset in their name and only round-trip. After reading an 834-byte header
// everything from offset 834 on is zero.
struct HeaderRecord {
    int32_t TimeStamp;  // seconds since 1970-01-01 00:00 UTC
    uint8_t bytes_80[82];
    uint16_t word_162;
    float IntfScaleFactor;
    float WavelengthIn;  // metres
    uint32_t word_172;
    float ObliquityFactor;
    uint32_t word_180;
    float CameraRes;  // metres per camera pixel on the part
    uint16_t words_188[5];
    uint32_t word_198;
    uint16_t word_202;
    uint32_t word_204;
    uint8_t bytes_208[2];
    uint32_t words_210[2];
    int16_t PhaseRes;  // 0 Normal, 1 High, other Super
    uint32_t word_220;
    uint16_t word_224;
    uint32_t word_226;
    uint16_t words_230[2];
    int16_t CameraWidth;
    int16_t CameraHeight;
    uint16_t words_238[4];
    uint8_t bytes_246[52];
    uint16_t words_298[3];
    uint8_t bytes_304[56];
    uint32_t word_360;
    uint16_t words_364[2];
    uint32_t word_368;
    uint16_t words_372[2];
    uint32_t words_376[2];
    uint16_t word_384;
    uint32_t words_386[3];
    uint8_t bytes_398[8];
    uint16_t word_406;
    uint8_t bytes_408[20];
    int16_t FiducialCountA;
    float FiducialCoordsA[14];  // up to 7 points, x then y
    float PixelWidth;           // metres
    float PixelHeight;          // metres
    uint32_t words_494[2];
    uint8_t bytes_502[232];
    uint16_t word_734;
    uint8_t bytes_736[80];
    uint16_t word_816;
    uint8_t bytes_818[16];
    // 4096-byte header only from here on.
    uint8_t bytes_834[4];
    uint16_t words_838[2];
    uint32_t words_842[7];
    uint8_t bytes_870[28];
    uint16_t Format3Mark;  // stored least significant byte first
    uint16_t words_900[2];
    uint8_t bytes_904[30];
    uint32_t word_934;
    uint8_t bytes_938[60];
    uint32_t words_998[10];
    uint8_t bytes_1038[88];
    uint32_t words_1126[23];
    uint8_t bytes_1218[32];
    uint32_t words_1250[3];
    uint8_t bytes_1262[2];
    int16_t FiducialCountB;
    float FiducialCoordsB[14];
    uint8_t bytes_1322[2];
    int16_t FiducialCountC;
    float FiducialCoordsC[14];
    uint8_t bytes_1382[2];
    int16_t FiducialCountD;
    float FiducialCoordsD[14];
    uint8_t bytes_1442[4];
    uint32_t words_1446[2];
    uint8_t bytes_1454[2642];
};

// Room of each fiducial group, in points.
inline constexpr int FIDUCIAL_ROOM = 7;
inline constexpr int FIDUCIAL_GROUPS = 4;  // A to D

// The header's fiducial groups A to D in order: each its report key, its
// count as the header holds it (a count below 0 or beyond FIDUCIAL_ROOM lies
// outside the format) and its coordinates, x then y of each point; writable
// through a writable header.
template <typename Header>
constexpr auto fiducial_groups(Header& h) {
    using coordinate = std::conditional_t<std::is_const_v<Header>, const float, float>;
    struct group {
        const char* key;
        int16_t count;
        coordinate* coordinates;
    };
    return std::array<group, FIDUCIAL_GROUPS>{{{"Fiducials Group A", h.FiducialCountA, h.FiducialCoordsA},
                                               {"Fiducials Group B", h.FiducialCountB, h.FiducialCoordsB},
                                               {"Fiducials Group C", h.FiducialCountC, h.FiducialCoordsC},
                                               {"Fiducials Group D", h.FiducialCountD, h.FiducialCoordsD}}};
}

// Phase counts per fringe by the PhaseRes code: 4096 for 0 ("Normal"),
// 32768 for 1 ("High"), 131072 for any other value ("Super").
constexpr double phase_counts_per_fringe(int16_t phase_res) {
    return phase_res == 0 ? 4096 : phase_res == 1 ? 32768 : 131072;
}
constexpr const char* phase_resolution_word(int16_t phase_res) {
    return phase_res == 0 ? "Normal" : phase_res == 1 ? "High" : "Super";
}

// Nanometres of surface height of one height count: IntfScaleFactor x
// ObliquityFactor x WavelengthIn / counts per fringe, in metres, the fields
// widened to double and multiplied in that order, then x 1e9. Not
// necessarily finite or positive: the fields are as the file holds them.
inline double nanometres_per_count(const HeaderRecord& h) {
    return static_cast<double>(h.IntfScaleFactor) * static_cast<double>(h.ObliquityFactor) *
           static_cast<double>(h.WavelengthIn) / phase_counts_per_fringe(h.PhaseRes) * 1e9;
}

// The height scale when it is a positive finite number, the one a report or
// an export can use; 0 when the header gives none.
inline double usable_nanometres_per_count(const HeaderRecord& h) {
    const double k = nanometres_per_count(h);
    return k > 0 && k <= std::numeric_limits<double>::max() ? k : 0;
}

// A header attribute as a report shows it: its key and its value in words
// and units.
struct attribute_text {
    const char* key;
    std::string value;
};

// The camera, pixel, optical and phase attributes (CameraWidth to PryxRes)
// in the order the reports show them; lengths in um or nm, the
// single-precision fields widened before scaling.
std::vector<attribute_text> header_attribute_texts(const HeaderRecord& h);

// ---- Reading and writing ----------------------------------------------------

// Reads a whole data file. Any output may be null and is then not filled (an
// absent matrix's block is skipped). On a failure after the file was opened
// both given matrices are released; info and header keep what was already
// put there. Paths follow the byte-order-mark convention of platform.h.
// The intensity block must hold the n_buckets x width x height elements of
// its window (bytes beyond them are skipped); a block shorter than that, or
// one reaching past the end of a seekable stream, is ERR_CORRUPT_DATA_FILE
// before anything is allocated.
int read_data_file(std::string_view path, InfoBlock* info, HeaderRecord* header, intensity_matrix* intensity,
                   height_matrix* height);
int read_data_stream(std::FILE* stream, InfoBlock* info, HeaderRecord* header, intensity_matrix* intensity,
                     height_matrix* height);

// Writes a whole data file (created or truncated). Any input may be null; a
// matrix without an array counts as absent, and with both absent the result
// is ERR_INVALID_PARAM (the file is created, and stays empty). The header
// format is chosen from the record; the block geometry and sizes are
// recomputed from the matrices. A block whose byte length does not fit its
// 32-bit header field (ERR_DATASET_DIM_TOO_LARGE), or a matrix whose array is
// smaller than its window or has a negative extent (ERR_INVALID_PARAM), is
// refused before the file is created. The caller's records and arrays are
// never modified. A failure to flush the file on closing is
// ERR_CANT_WRITE_FILE. The stream form appends to what the stream holds; a
// stream without a position (a pipe) is written where it stands.
int write_data_file(std::string_view path, const InfoBlock* info, const HeaderRecord* header,
                    const intensity_matrix* intensity, const height_matrix* height);
int write_data_stream(std::FILE* stream, const InfoBlock* info, const HeaderRecord* header,
                      const intensity_matrix* intensity, const height_matrix* height);

// ---- Carrying the intensity block through ----------------------------------

// An intensity block read only to be written again unchanged. From a stream
// that can seek, the reader notes where the block's elements lie instead of
// loading them: `frames` then has no array, and the writer copies the bytes
// from `input`, which must stay open and unchanged until then. From any
// other stream the frames are loaded as read_data_stream loads them and
// `input` is null. `frames` always holds the block's window, n_buckets and
// intens_range (all zero without an intensity block).
struct carried_intensity {
    owned_intensity frames;
    std::FILE* input = nullptr;  // not owned
    int64_t offset = 0;          // of the first element in `input`
};

// read_data_stream with the intensity block carried: the same checks, codes
// and results, but a block left in its file takes no memory.
int read_data_carrying_intensity(std::FILE* stream, InfoBlock* info, HeaderRecord* header,
                                 carried_intensity* intensity, height_matrix* height);

// write_data_stream with a carried intensity block, its bytes as the input
// holds them (the same bytes write_data_stream would write for the frames).
int write_data_carrying_intensity(std::FILE* stream, const InfoBlock* info, const HeaderRecord* header,
                                  const carried_intensity& intensity, const height_matrix* height);

// Makes rows first .. first+count-1 of a height block's window into `rows`,
// in host order, each as wide as the window, their starts `pitch` elements
// apart (pitch >= width); 0, or the error code that ends the write.
using height_rows_maker = std::function<int(int first, int count, int32_t* rows, std::ptrdiff_t pitch)>;

// write_data_carrying_intensity with the height block's rows made on demand
// instead of read from a matrix: the same bytes as writing a matrix on
// height_window that holds the rows make_rows makes. The rows are made a
// band at a time straight into the scratch buffer the block is written
// from, so the block never takes memory of its own. ERR_INVALID_PARAM for a
// window without elements or an empty maker.
int write_data_making_heights(std::FILE* stream, const InfoBlock* info, const HeaderRecord* header,
                              const carried_intensity& intensity, const window& height_window,
                              const height_rows_maker& make_rows);

// Writes the elements big-endian through one 65536-byte scratch buffer, in
// chunks of at most 32768 elements.
int write_intensity_block(std::span<const uint16_t> elements, std::FILE* stream);

// Reverses in place the bytes of the one value of `width` bytes at address;
// width 2, 4 or 8. Any other width reports through error_message_hook and
// aborts the process.
void u_swap_bytes(void* address, int width);

// Copies a file, replacing an existing target; ERR_CANT_WRITE_FILE (reported
// through error_message_hook with the system error number) when that fails.
// A target that is the source itself is refused, never truncated.
int u_copy_file(std::string_view from, std::string_view to);

// ---- Attribute validation ---------------------------------------------------

// Checks camera size, lateral resolution, pixel shape, the optical factors
// (only when a height array is present) and that both data windows fit the
// camera. On failure returns the code and, when message is given, the reason
// text; message is emptied when the checks begin. When not strict, a camera
// size not above zero is set to 0 x 0 instead of failing. Matrices without
// an array count as absent.
int check_data_attributes(HeaderRecord* header, const intensity_matrix* intensity, const height_matrix* height,
                          bool strict, std::string* message);

// The same checks with a carried intensity block: its window counts
// whether or not its frames were loaded.
int check_data_attributes(HeaderRecord* header, const carried_intensity& intensity, const height_matrix* height,
                          bool strict, std::string* message);

// The same over `count` records in parallel arrays (either matrix array may
// be null); only records whose mask byte is 1 are checked when mask is given.
// Records are checked in index order; the first failure ends the check.
int check_data_attributes_list(HeaderRecord* headers, const intensity_matrix* intensities,
                               const height_matrix* heights, bool strict, int count, const uint8_t* mask,
                               std::string* message);

}  // namespace spinmap
