// The data file header: its three formats and the one table of its layout,
// through which every field is decoded and encoded.
#include <cstddef>
#include <cstring>
#include <utility>

#include <spinmap/datafile/byte_order.h>
#include <spinmap/datafile/header_layout.h>

namespace spinmap {

namespace {

// How a field's bytes relate to memory. Numbers are big-endian in the file,
// except Format3Mark, which is stored least significant byte first.
enum class field_kind : uint8_t {
    SIGNED_16,
    SIGNED_32,
    FLOAT,
    WORD_16,
    WORD_32,
    BYTES,        // copied as stored, never reversed
    LITTLE_16,    // Format3Mark
};

constexpr int unit_bytes(field_kind kind) {
    switch (kind) {
        case field_kind::SIGNED_16:
        case field_kind::WORD_16:
        case field_kind::LITTLE_16:
            return 2;
        case field_kind::SIGNED_32:
        case field_kind::FLOAT:
        case field_kind::WORD_32:
            return 4;
        case field_kind::BYTES:
            return 1;
    }
    return 0;
}

// Whether the units of a field are reversed between file and host order.
constexpr bool reversed_on_this_host(field_kind kind) {
    if (kind == field_kind::BYTES) return false;
    if (kind == field_kind::LITTLE_16) return HOST_IS_BIG_ENDIAN;
    return !HOST_IS_BIG_ENDIAN;
}

// One stretch of the header: `width` bytes at `offset` in the file, held at
// `memory` in a header_image. A width above the kind's unit is an array.
struct header_field {
    int offset;
    int width;
    field_kind kind;
    std::size_t memory;
    std::size_t memory_bytes;  // size of the member it is held in
};

#define FIELD(offset, width, kind, member)                                                      \
    header_field {                                                                              \
        offset, width, field_kind::kind, offsetof(header_image, member),                        \
            sizeof(std::declval<header_image&>().member)                                        \
    }

constexpr header_field HEADER_LAYOUT[] = {
    FIELD(0, 4, WORD_32, MagicNumber),
    FIELD(4, 2, SIGNED_16, HeaderFormat),
    FIELD(6, 4, SIGNED_32, HeaderSize),
    FIELD(10, 2, WORD_16, info.word_10),
    FIELD(12, 30, BYTES, info.bytes_12),
    FIELD(42, 6, WORD_16, info.words_42),
    FIELD(48, 2, SIGNED_16, geometry.IntensWindowX),
    FIELD(50, 2, SIGNED_16, geometry.IntensWindowY),
    FIELD(52, 2, SIGNED_16, geometry.IntensWindowWidth),
    FIELD(54, 2, SIGNED_16, geometry.IntensWindowHeight),
    FIELD(56, 2, SIGNED_16, geometry.IntensBuckets),
    FIELD(58, 2, WORD_16, geometry.IntensRange),
    FIELD(60, 4, SIGNED_32, geometry.IntensBytes),
    FIELD(64, 2, SIGNED_16, geometry.PhaseWindowX),
    FIELD(66, 2, SIGNED_16, geometry.PhaseWindowY),
    FIELD(68, 2, SIGNED_16, geometry.PhaseWindowWidth),
    FIELD(70, 2, SIGNED_16, geometry.PhaseWindowHeight),
    FIELD(72, 4, SIGNED_32, geometry.PhaseBytes),
    FIELD(76, 4, SIGNED_32, record.TimeStamp),
    FIELD(80, 82, BYTES, record.bytes_80),
    FIELD(162, 2, WORD_16, record.word_162),
    FIELD(164, 4, FLOAT, record.IntfScaleFactor),
    FIELD(168, 4, FLOAT, record.WavelengthIn),
    FIELD(172, 4, WORD_32, record.word_172),
    FIELD(176, 4, FLOAT, record.ObliquityFactor),
    FIELD(180, 4, WORD_32, record.word_180),
    FIELD(184, 4, FLOAT, record.CameraRes),
    FIELD(188, 10, WORD_16, record.words_188),
    FIELD(198, 4, WORD_32, record.word_198),
    FIELD(202, 2, WORD_16, record.word_202),
    FIELD(204, 4, WORD_32, record.word_204),
    FIELD(208, 2, BYTES, record.bytes_208),
    FIELD(210, 8, WORD_32, record.words_210),
    FIELD(218, 2, SIGNED_16, record.PhaseRes),
    FIELD(220, 4, WORD_32, record.word_220),
    FIELD(224, 2, WORD_16, record.word_224),
    FIELD(226, 4, WORD_32, record.word_226),
    FIELD(230, 4, WORD_16, record.words_230),
    FIELD(234, 2, SIGNED_16, record.CameraWidth),
    FIELD(236, 2, SIGNED_16, record.CameraHeight),
    FIELD(238, 8, WORD_16, record.words_238),
    FIELD(246, 52, BYTES, record.bytes_246),
    FIELD(298, 6, WORD_16, record.words_298),
    FIELD(304, 56, BYTES, record.bytes_304),
    FIELD(360, 4, WORD_32, record.word_360),
    FIELD(364, 4, WORD_16, record.words_364),
    FIELD(368, 4, WORD_32, record.word_368),
    FIELD(372, 4, WORD_16, record.words_372),
    FIELD(376, 8, WORD_32, record.words_376),
    FIELD(384, 2, WORD_16, record.word_384),
    FIELD(386, 12, WORD_32, record.words_386),
    FIELD(398, 8, BYTES, record.bytes_398),
    FIELD(406, 2, WORD_16, record.word_406),
    FIELD(408, 20, BYTES, record.bytes_408),
    FIELD(428, 2, SIGNED_16, record.FiducialCountA),
    FIELD(430, 56, FLOAT, record.FiducialCoordsA),
    FIELD(486, 4, FLOAT, record.PixelWidth),
    FIELD(490, 4, FLOAT, record.PixelHeight),
    FIELD(494, 8, WORD_32, record.words_494),
    FIELD(502, 232, BYTES, record.bytes_502),
    FIELD(734, 2, WORD_16, record.word_734),
    FIELD(736, 80, BYTES, record.bytes_736),
    FIELD(816, 2, WORD_16, record.word_816),
    FIELD(818, 16, BYTES, record.bytes_818),
    // The 4096-byte header only from here on.
    FIELD(834, 4, BYTES, record.bytes_834),
    FIELD(838, 4, WORD_16, record.words_838),
    FIELD(842, 28, WORD_32, record.words_842),
    FIELD(870, 28, BYTES, record.bytes_870),
    FIELD(898, 2, LITTLE_16, record.Format3Mark),
    FIELD(900, 4, WORD_16, record.words_900),
    FIELD(904, 30, BYTES, record.bytes_904),
    FIELD(934, 4, WORD_32, record.word_934),
    FIELD(938, 60, BYTES, record.bytes_938),
    FIELD(998, 40, WORD_32, record.words_998),
    FIELD(1038, 88, BYTES, record.bytes_1038),
    FIELD(1126, 92, WORD_32, record.words_1126),
    FIELD(1218, 32, BYTES, record.bytes_1218),
    FIELD(1250, 12, WORD_32, record.words_1250),
    FIELD(1262, 2, BYTES, record.bytes_1262),
    FIELD(1264, 2, SIGNED_16, record.FiducialCountB),
    FIELD(1266, 56, FLOAT, record.FiducialCoordsB),
    FIELD(1322, 2, BYTES, record.bytes_1322),
    FIELD(1324, 2, SIGNED_16, record.FiducialCountC),
    FIELD(1326, 56, FLOAT, record.FiducialCoordsC),
    FIELD(1382, 2, BYTES, record.bytes_1382),
    FIELD(1384, 2, SIGNED_16, record.FiducialCountD),
    FIELD(1386, 56, FLOAT, record.FiducialCoordsD),
    FIELD(1442, 4, BYTES, record.bytes_1442),
    FIELD(1446, 8, WORD_32, record.words_1446),
    FIELD(1454, 2642, BYTES, record.bytes_1454),
};

#undef FIELD

// The entries cover offsets 0 to 4096 in order with no gap or overlap, each
// a whole number of units and exactly the size of its member, and the members
// follow each other in memory in the same order.
constexpr bool layout_tiles_header() {
    int next_offset = 0;
    std::size_t next_memory = 0;
    for (const header_field& field : HEADER_LAYOUT) {
        if (field.offset != next_offset || field.width <= 0) return false;
        if (field.width % unit_bytes(field.kind) != 0) return false;
        if (field.memory_bytes != static_cast<std::size_t>(field.width)) return false;
        if (field.memory < next_memory) return false;
        next_offset = field.offset + field.width;
        next_memory = field.memory + field.memory_bytes;
    }
    return next_offset == LONG_HEADER_BYTES && next_memory <= sizeof(header_image);
}

constexpr bool is_field_boundary(int offset) {
    for (const header_field& field : HEADER_LAYOUT) {
        if (field.offset == offset) return true;
    }
    return false;
}

static_assert(layout_tiles_header(), "the header layout must tile offsets 0 to 4096");
static_assert(is_field_boundary(SHORT_HEADER_BYTES), "the 834-byte header must end between two fields");
static_assert(is_field_boundary(76) && is_field_boundary(838), "record and format-3 test start at fields");

enum class direction { DECODE, ENCODE };

// The one conversion loop: copies each field between file bytes and the
// image, reversing its units where this host needs it. Decoding and encoding
// differ only in the direction of the copy.
void convert_header(direction way, uint8_t* file, uint8_t* memory) {
    for (const header_field& field : HEADER_LAYOUT) {
        uint8_t* in_file = file + field.offset;
        uint8_t* in_memory = memory + field.memory;
        uint8_t* converted = way == direction::DECODE ? in_memory : in_file;
        if (way == direction::DECODE) {
            std::memcpy(in_memory, in_file, static_cast<std::size_t>(field.width));
        } else {
            std::memcpy(in_file, in_memory, static_cast<std::size_t>(field.width));
        }
        if (!reversed_on_this_host(field.kind)) continue;
        const int unit = unit_bytes(field.kind);
        for (int at = 0; at < field.width; at += unit) u_swap_bytes(converted + at, unit);
    }
}

// True when a field of the record from offset 838 on holds a nonzero byte.
// Padding between the record's members is not looked at.
bool has_long_header_content(const HeaderRecord& record) {
    const auto* record_bytes = reinterpret_cast<const uint8_t*>(&record);
    constexpr int FIRST_LONG_FORMAT_TEST_OFFSET = 838;
    for (const header_field& field : HEADER_LAYOUT) {
        if (field.offset < FIRST_LONG_FORMAT_TEST_OFFSET) continue;
        const uint8_t* held = record_bytes + (field.memory - offsetof(header_image, record));
        for (int i = 0; i < field.width; ++i) {
            if (held[i] != 0) return true;
        }
    }
    return false;
}

}  // namespace

int header_length(uint32_t magic) {
    switch (magic) {
        case MAGIC_FORMAT_1:
        case MAGIC_FORMAT_2:
            return SHORT_HEADER_BYTES;
        case MAGIC_FORMAT_3:
            return LONG_HEADER_BYTES;
        default:
            return 0;
    }
}

void decode_header(std::span<const uint8_t, LONG_HEADER_BYTES> bytes, header_image* image) {
    uint8_t file[LONG_HEADER_BYTES];
    std::memcpy(file, bytes.data(), sizeof file);
    convert_header(direction::DECODE, file, reinterpret_cast<uint8_t*>(image));
}

void encode_header(const header_image& image, std::span<uint8_t, LONG_HEADER_BYTES> bytes) {
    header_image copy = image;
    convert_header(direction::ENCODE, bytes.data(), reinterpret_cast<uint8_t*>(&copy));
}

int choose_header_format(const HeaderRecord* record, header_image* image) {
    constexpr int16_t LOWEST_FORMAT_2_PHASE_RES = 2;
    if (record != nullptr && has_long_header_content(*record)) {
        image->MagicNumber = MAGIC_FORMAT_3;
        image->HeaderFormat = 3;
    } else if (record != nullptr && record->PhaseRes >= LOWEST_FORMAT_2_PHASE_RES) {
        image->MagicNumber = MAGIC_FORMAT_2;
        image->HeaderFormat = 2;
    } else {
        image->MagicNumber = MAGIC_FORMAT_1;
        image->HeaderFormat = 1;
    }
    image->HeaderSize = header_length(image->MagicNumber);
    return image->HeaderSize;
}

}  // namespace spinmap
