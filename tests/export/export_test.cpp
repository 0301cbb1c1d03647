// The exporter's own checksums and calendar against known values: the MD5
// test suite of its definition, the CRC-32 check value, and dates around the
// ends of the header's 32-bit time; and the formats output names ask for.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "export/export.h"
#include "support.h"

namespace spinmap {
namespace {

std::span<const uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string md5_of(std::string_view text, std::size_t piece) {
    md5_hash hash;
    for (std::size_t at = 0; at < text.size(); at += piece) hash.update(bytes_of(text.substr(at, piece)));
    return hex_text(hash.finish());
}

TEST(Checksums, Md5OfTheTestSuiteWholeAndInPieces) {
    const struct {
        std::string_view text;
        const char* md5;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(md5_of(c.text, 1000), c.md5) << c.text;
        // Pieces that straddle the 64-byte blocks.
        EXPECT_EQ(md5_of(c.text, 7), c.md5) << c.text;
    }
}

TEST(Checksums, Crc32CheckValueWholeAndContinued) {
    EXPECT_EQ(crc32_update(0, bytes_of("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32_update(crc32_update(0, bytes_of("1234")), bytes_of("56789")), 0xCBF43926u);
    EXPECT_EQ(crc32_update(0, bytes_of("")), 0u);
}

TEST(Calendar, UtcTimesAcrossTheHeadersRange) {
    const struct {
        int64_t seconds;
        const char* text;
    } cases[] = {
        {0, "1970-01-01T00:00:00+00:00"},
        {-1, "1969-12-31T23:59:59+00:00"},
        {951782400, "2000-02-29T00:00:00+00:00"},       // a leap day of a century year
        {4107542399, "2100-02-28T23:59:59+00:00"},      // and no leap day
        {1700000000, "2023-11-14T22:13:20+00:00"},
        {-2147483648LL, "1901-12-13T20:45:52+00:00"},  // the ends of TimeStamp
        {2147483647, "2038-01-19T03:14:07+00:00"},
    };
    for (const auto& c : cases) EXPECT_EQ(iso8601_text(utc_of(c.seconds)), c.text) << c.seconds;
}

TEST(OutputName, TheExtensionInAnyCaseNamesTheFormat) {
    const struct {
        std::string path;
        bool known;
        export_format format;
    } cases[] = {
        {"part.x3p", true, export_format::x3p},
        {"C:\\data\\PART.TIF", true, export_format::tiff},
        {"part.Tiff", true, export_format::tiff},
        {"part.xyz", true, export_format::xyz},
        {"part.CSV", true, export_format::csv},
        {test::wide_path(u"d\u00e9p\u00f4t.csv"), true, export_format::csv},
        {"part.png", false, {}},
        {"part", false, {}},
        {"folder.x3p/part", false, {}},
        {"part.x3p.dat", false, {}},
    };
    for (const auto& c : cases) {
        export_format format{};
        EXPECT_EQ(format_of_name(c.path, &format), c.known) << c.path;
        if (c.known) {
            EXPECT_EQ(format, c.format) << c.path;
        }
    }
}

}  // namespace
}  // namespace spinmap
