// The data file header as one host-order image and its conversion to and
// from the packed big-endian file layout. Internal to the data file layer.
#pragma once

#include <cstdint>
#include <span>

#include <spinmap/datafile/datafile.h>

namespace spinmap {

// Header bytes 48 to 75: where the two data blocks lie and how long they are.
struct block_geometry {
    int16_t IntensWindowX;
    int16_t IntensWindowY;
    int16_t IntensWindowWidth;
    int16_t IntensWindowHeight;
    int16_t IntensBuckets;
    uint16_t IntensRange;
    int32_t IntensBytes;  // 0 or less: no intensity block
    int16_t PhaseWindowX;
    int16_t PhaseWindowY;
    int16_t PhaseWindowWidth;
    int16_t PhaseWindowHeight;
    int32_t PhaseBytes;  // 0 or less: no height block
};

// Every field of the 4096-byte layout, in file order and host byte order.
struct header_image {
    uint32_t MagicNumber;
    int16_t HeaderFormat;
    int32_t HeaderSize;
    InfoBlock info;
    block_geometry geometry;
    HeaderRecord record;
};

// The header length a magic number announces: 834, 4096, or 0 when the
// magic names no data file.
int header_length(uint32_t magic);

// Fills the image from header bytes (an 834-byte header zero-extended to
// 4096 bytes). Format3Mark is decoded as stored; the reader sets it.
void decode_header(std::span<const uint8_t, LONG_HEADER_BYTES> bytes, header_image* image);

// Produces the 4096 bytes of the image; an 834-byte header is the first 834.
void encode_header(const header_image& image, std::span<uint8_t, LONG_HEADER_BYTES> bytes);

// Chooses the format the record is written in (format 1 for no record) and
// sets MagicNumber, HeaderFormat and HeaderSize; returns the header length.
int choose_header_format(const HeaderRecord* record, header_image* image);

}  // namespace spinmap
