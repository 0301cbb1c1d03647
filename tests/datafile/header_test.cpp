#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <span>

#include <spinmap/datafile/header_layout.h>
#include "support.h"

namespace spinmap {
namespace {

using test::bytes;
using test::put16;
using test::put32;
using test::put_float;

header_image decoded(const bytes& header) {
    bytes full(LONG_HEADER_BYTES, 0);
    std::copy(header.begin(), header.end(), full.begin());
    header_image image{};
    decode_header(std::span<const uint8_t, LONG_HEADER_BYTES>(full.data(), LONG_HEADER_BYTES), &image);
    return image;
}

bytes encoded(const header_image& image) {
    bytes out(LONG_HEADER_BYTES, 0);
    encode_header(image, std::span<uint8_t, LONG_HEADER_BYTES>(out.data(), LONG_HEADER_BYTES));
    return out;
}

TEST(HeaderLength, FollowsTheMagicNumberAlone) {
    EXPECT_EQ(header_length(0x881B036F), 834);
    EXPECT_EQ(header_length(0x881B0370), 834);
    EXPECT_EQ(header_length(0x881B0371), 4096);
    EXPECT_EQ(header_length(0x6F031B88), 0);  // format 1's magic in little-endian order
    EXPECT_EQ(header_length(0x881B0372), 0);
}

// Each field is written big-endian at its offset; the decoded value must
// come out in host order.
TEST(DecodeHeader, ReadsEachFieldAtItsOffset) {
    bytes b(LONG_HEADER_BYTES, 0);
    put32(b, 0, 0x881B0371);
    put16(b, 4, 3);
    put32(b, 6, 4096);
    put16(b, 10, 0xA1B2);
    b[12] = 0x12;
    b[41] = 0x34;
    put16(b, 46, 0xC3D4);
    put16(b, 48, static_cast<uint16_t>(-5));
    put16(b, 54, 480);
    put16(b, 56, 7);
    put16(b, 58, 0xFFF0);
    put32(b, 60, 0x01020304);
    put16(b, 64, 10);
    put16(b, 70, 300);
    put32(b, 72, 0x7FFFFFFF);
    put32(b, 76, 0xFFFFFFFF);
    put_float(b, 164, 0.5f);
    put_float(b, 168, 6.328e-7f);
    put_float(b, 176, 1.25f);
    put_float(b, 184, -2.5e-6f);
    put16(b, 218, 2);
    put16(b, 234, 640);
    put16(b, 236, 480);
    put16(b, 428, 9);
    put_float(b, 430, 1.5f);
    put_float(b, 482, -3.0f);
    put_float(b, 486, 7.4e-6f);
    put_float(b, 490, 7.5e-6f);
    put32(b, 842, 0x0A0B0C0D);
    b[834] = 0x77;
    put16(b, 1264, 2);
    put_float(b, 1266, 100.0f);
    put16(b, 1384, static_cast<uint16_t>(-1));
    put_float(b, 1438, 42.0f);
    b[4095] = 0x99;

    const header_image image = decoded(b);
    EXPECT_EQ(image.MagicNumber, 0x881B0371u);
    EXPECT_EQ(image.HeaderFormat, 3);
    EXPECT_EQ(image.HeaderSize, 4096);
    EXPECT_EQ(image.info.word_10, 0xA1B2);
    EXPECT_EQ(image.info.bytes_12[0], 0x12);
    EXPECT_EQ(image.info.bytes_12[29], 0x34);
    EXPECT_EQ(image.info.words_42[2], 0xC3D4);
    EXPECT_EQ(image.geometry.IntensWindowX, -5);
    EXPECT_EQ(image.geometry.IntensWindowHeight, 480);
    EXPECT_EQ(image.geometry.IntensBuckets, 7);
    EXPECT_EQ(image.geometry.IntensRange, 0xFFF0);
    EXPECT_EQ(image.geometry.IntensBytes, 0x01020304);
    EXPECT_EQ(image.geometry.PhaseWindowX, 10);
    EXPECT_EQ(image.geometry.PhaseWindowHeight, 300);
    EXPECT_EQ(image.geometry.PhaseBytes, 0x7FFFFFFF);
    const HeaderRecord& r = image.record;
    EXPECT_EQ(r.TimeStamp, -1);  // signed: FF FF FF FF
    EXPECT_EQ(r.IntfScaleFactor, 0.5f);
    EXPECT_EQ(r.WavelengthIn, 6.328e-7f);
    EXPECT_EQ(r.ObliquityFactor, 1.25f);
    EXPECT_EQ(r.CameraRes, -2.5e-6f);
    EXPECT_EQ(r.PhaseRes, 2);
    EXPECT_EQ(r.CameraWidth, 640);
    EXPECT_EQ(r.CameraHeight, 480);
    EXPECT_EQ(r.FiducialCountA, 9);  // above the room of 7, kept as stored
    EXPECT_EQ(r.FiducialCoordsA[0], 1.5f);
    EXPECT_EQ(r.FiducialCoordsA[13], -3.0f);
    EXPECT_EQ(r.PixelWidth, 7.4e-6f);
    EXPECT_EQ(r.PixelHeight, 7.5e-6f);
    EXPECT_EQ(r.bytes_834[0], 0x77);
    EXPECT_EQ(r.words_842[0], 0x0A0B0C0Du);
    EXPECT_EQ(r.FiducialCountB, 2);
    EXPECT_EQ(r.FiducialCoordsB[0], 100.0f);
    EXPECT_EQ(r.FiducialCountD, -1);
    EXPECT_EQ(r.FiducialCoordsD[13], 42.0f);
    EXPECT_EQ(r.bytes_1454[2641], 0x99);
}

TEST(DecodeHeader, ShortHeaderLeavesTheExtensionZero) {
    bytes b = test::header_bytes(MAGIC_FORMAT_1);
    b[833] = 0x5A;
    const header_image image = decoded(b);
    EXPECT_EQ(image.record.bytes_818[15], 0x5A);
    EXPECT_EQ(image.record.FiducialCountB, 0);
    EXPECT_EQ(image.record.Format3Mark, 0);
}

TEST(Format3Mark, IsStoredLeastSignificantByteFirst) {
    bytes b(LONG_HEADER_BYTES, 0);
    b[898] = 0x03;
    EXPECT_EQ(decoded(b).record.Format3Mark, 3);

    header_image image{};
    image.record.Format3Mark = 3;
    const bytes out = encoded(image);
    EXPECT_EQ(out[898], 0x03);
    EXPECT_EQ(out[899], 0x00);
}

TEST(EncodeHeader, WritesEachFieldBigEndianAtItsOffset) {
    header_image image{};
    image.MagicNumber = MAGIC_FORMAT_2;
    image.HeaderSize = 834;
    image.info.words_42[0] = 0x1122;
    image.geometry.PhaseWindowWidth = 3;
    image.geometry.PhaseBytes = 24;
    image.record.TimeStamp = 0x12345678;
    image.record.WavelengthIn = 1.0f;  // 0x3F800000
    image.record.CameraHeight = -2;
    image.record.words_1446[1] = 0xCAFEF00D;
    image.record.bytes_80[0] = 0xEE;

    const bytes out = encoded(image);
    EXPECT_EQ(test::get32(out, 0), 0x881B0370u);
    EXPECT_EQ(test::get32(out, 6), 834u);
    EXPECT_EQ(test::get16(out, 42), 0x1122);
    EXPECT_EQ(test::get16(out, 68), 3);
    EXPECT_EQ(test::get32(out, 72), 24u);
    EXPECT_EQ(test::get32(out, 76), 0x12345678u);
    EXPECT_EQ(test::get32(out, 168), 0x3F800000u);
    EXPECT_EQ(test::get16(out, 236), 0xFFFE);
    EXPECT_EQ(test::get32(out, 1450), 0xCAFEF00Du);
    EXPECT_EQ(out[80], 0xEE);
}

// Arbitrary bytes everywhere, stretches as stored included, survive a decode
// and an encode byte for byte.
TEST(EncodeHeader, ReproducesEveryByteItDecoded) {
    std::mt19937 random(20240611);
    bytes b(LONG_HEADER_BYTES);
    for (uint8_t& byte : b) byte = static_cast<uint8_t>(random());
    EXPECT_EQ(encoded(decoded(b)), b);
}

TEST(ChooseHeaderFormat, FollowsTheExtensionContentThenPhaseRes) {
    struct format_case {
        const char* name;
        std::function<void(HeaderRecord&)> change;
        uint32_t magic;
        int format;
        int length;
    };
    const format_case cases[] = {
        {"all zero", [](HeaderRecord&) {}, MAGIC_FORMAT_1, 1, 834},
        {"PhaseRes 1", [](HeaderRecord& r) { r.PhaseRes = 1; }, MAGIC_FORMAT_1, 1, 834},
        {"PhaseRes 2", [](HeaderRecord& r) { r.PhaseRes = 2; }, MAGIC_FORMAT_2, 2, 834},
        {"PhaseRes negative", [](HeaderRecord& r) { r.PhaseRes = -3; }, MAGIC_FORMAT_1, 1, 834},
        {"only bytes 834-837", [](HeaderRecord& r) { r.bytes_834[3] = 1; }, MAGIC_FORMAT_1, 1, 834},
        {"first word at 838", [](HeaderRecord& r) { r.words_838[0] = 1; }, MAGIC_FORMAT_3, 3, 4096},
        {"Format3Mark", [](HeaderRecord& r) { r.Format3Mark = 3; }, MAGIC_FORMAT_3, 3, 4096},
        {"a group B count", [](HeaderRecord& r) { r.FiducialCountB = 1; }, MAGIC_FORMAT_3, 3, 4096},
        {"last byte", [](HeaderRecord& r) { r.bytes_1454[2641] = 1; }, MAGIC_FORMAT_3, 3, 4096},
    };
    for (const format_case& c : cases) {
        HeaderRecord record{};
        c.change(record);
        header_image image{};
        EXPECT_EQ(choose_header_format(&record, &image), c.length) << c.name;
        EXPECT_EQ(image.MagicNumber, c.magic) << c.name;
        EXPECT_EQ(image.HeaderFormat, c.format) << c.name;
        EXPECT_EQ(image.HeaderSize, c.length) << c.name;
    }
    header_image image{};
    EXPECT_EQ(choose_header_format(nullptr, &image), 834);
    EXPECT_EQ(image.MagicNumber, MAGIC_FORMAT_1);
}

}  // namespace
}  // namespace spinmap
