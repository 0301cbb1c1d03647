// The text forms: one line per valid point, x, y and z in metres.
#include <string>

#include "export/export.h"

namespace spinmap {

namespace {

// Lines are gathered into chunks of about this many bytes before a write.
constexpr std::size_t CHUNK_BYTES = 1 << 16;

int write_lines(std::FILE* stream, const export_surface& s, bool csv) {
    byte_sink sink{stream};
    std::string chunk;
    chunk.reserve(CHUNK_BYTES + 4 * NUMBER_TEXT_ROOM);
    const auto flush = [&] {
        const int code = sink.put({reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size()});
        chunk.clear();
        return code;
    };
    if (csv) chunk += "x_m,y_m,z_m\n";
    const char separator = csv ? ',' : ' ';
    const window& w = s.height.window;
    char line[3 * NUMBER_TEXT_ROOM + 3];
    for (int r = 0; r < w.height; ++r) {
        const int32_t* values = s.height.matrix + static_cast<std::size_t>(r) * static_cast<std::size_t>(w.width);
        const double y = lateral_position(int32_t{w.y} + r, s.spacing);
        for (int c = 0; c < w.width; ++c) {
            if (!is_valid_height(values[c])) continue;
            char* end = put_number(line, lateral_position(int32_t{w.x} + c, s.spacing));
            *end++ = separator;
            end = put_number(end, y);
            *end++ = separator;
            end = put_number(end, height_in_metres(values[c], s.nm_per_count));
            *end++ = '\n';
            chunk.append(line, end);
            if (chunk.size() >= CHUNK_BYTES) {
                if (const int code = flush(); code != 0) return code;
            }
        }
    }
    return flush();
}

}  // namespace

int write_points(std::FILE* stream, const export_surface& s, bool csv) { return write_lines(stream, s, csv); }

}  // namespace spinmap
