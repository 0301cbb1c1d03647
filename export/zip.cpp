// Calendar times, and the ZIP container of stored members that the x3p
// format is.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "export/export.h"

namespace spinmap {

namespace {

constexpr uint32_t LOCAL_HEADER_SIGNATURE = 0x04034b50;
constexpr uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014b50;
constexpr uint32_t END_RECORD_SIGNATURE = 0x06054b50;
// Version 1.0 reads stored members; written by an MS-DOS-like system, so
// that no member carries permission bits.
constexpr uint16_t VERSION_NEEDED = 10;
constexpr uint16_t VERSION_MADE_BY = 20;
constexpr uint64_t ZIP_LIMIT = 0xFFFFFFFFu;

constexpr int64_t floor_divide(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Little-endian fields of a header, appended.
struct fields {
    std::vector<uint8_t> bytes;
    fields& u16(uint32_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
        return *this;
    }
    fields& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    fields& text(std::string_view s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
};

}  // namespace

utc_time utc_of(int64_t seconds) {
    // Days to the civil date, with eras of 400 years counted from 0000-03-01.
    const int64_t days = floor_divide(seconds, 86400) + 719468;
    const int64_t in_day = seconds - floor_divide(seconds, 86400) * 86400;
    const int64_t era = floor_divide(days, 146097);
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t shifted_month = (5 * day_of_year + 2) / 153;  // 0 is March
    const int day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    const int month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day, static_cast<int>(in_day / 3600), static_cast<int>(in_day % 3600 / 60),
            static_cast<int>(in_day % 60)};
}

std::string iso8601_text(const utc_time& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d+00:00", static_cast<long long>(t.year),
                  t.month, t.day, t.hour, t.minute, t.second);
    return text;
}

int byte_sink::put(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return 0;
    const std::size_t n = std::fwrite(bytes.data(), 1, bytes.size(), stream);
    written += n;
    return n == bytes.size() ? 0 : ERR_CANT_WRITE_FILE;
}

zip_writer::zip_writer(std::FILE* stream, const utc_time& modified) : sink_{stream} {
    // DOS times begin in 1980 and count seconds in twos.
    const bool representable = modified.year >= 1980 && modified.year <= 2107;
    const utc_time t = representable ? modified : utc_time{1980, 1, 1, 0, 0, 0};
    dos_time_ = static_cast<uint16_t>(t.hour << 11 | t.minute << 5 | t.second / 2);
    dos_date_ = static_cast<uint16_t>((t.year - 1980) << 9 | t.month << 5 | t.day);
}

int zip_writer::begin_member(std::string_view name, uint32_t crc, uint64_t size) {
    const uint64_t header_bytes = 30 + name.size();
    if (sink_.written + header_bytes + size > ZIP_LIMIT) return ERR_DATASET_DIM_TOO_LARGE;
    members_.push_back({std::string(name), crc, static_cast<uint32_t>(size), static_cast<uint32_t>(sink_.written)});
    fields h;
    h.u32(LOCAL_HEADER_SIGNATURE).u16(VERSION_NEEDED).u16(0).u16(0).u16(dos_time_).u16(dos_date_);
    h.u32(crc).u32(static_cast<uint32_t>(size)).u32(static_cast<uint32_t>(size));
    h.u16(static_cast<uint32_t>(name.size())).u16(0).text(name);
    return sink_.put(h.bytes);
}

int zip_writer::end_member() {
    const member& m = members_.back();
    const uint64_t expected = m.offset + 30 + m.name.size() + m.size;
    return sink_.written == expected ? 0 : ERR_INVALID_PARAM;
}

int zip_writer::finish() {
    const uint64_t directory_offset = sink_.written;
    fields d;
    for (const member& m : members_) {
        d.u32(CENTRAL_HEADER_SIGNATURE).u16(VERSION_MADE_BY).u16(VERSION_NEEDED).u16(0).u16(0);
        d.u16(dos_time_).u16(dos_date_).u32(m.crc).u32(m.size).u32(m.size);
        d.u16(static_cast<uint32_t>(m.name.size())).u16(0).u16(0).u16(0).u16(0).u32(0).u32(m.offset).text(m.name);
    }
    const uint64_t directory_size = d.bytes.size();
    if (directory_offset + directory_size + 22 > ZIP_LIMIT) return ERR_DATASET_DIM_TOO_LARGE;
    const auto count = static_cast<uint32_t>(members_.size());
    d.u32(END_RECORD_SIGNATURE).u16(0).u16(0).u16(count).u16(count);
    d.u32(static_cast<uint32_t>(directory_size)).u32(static_cast<uint32_t>(directory_offset)).u16(0);
    return sink_.put(d.bytes);
}

}  // namespace spinmap
