// The x3p container: main.xml, the point data and the checksum file in a ZIP
// of stored members. The point data is converted twice, once for its
// checksums (which main.xml and the ZIP headers need first) and once to be
// written, so that nothing larger than a row is held and the stream need not
// seek.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "export/export.h"

#include <spinmap/run/run.h>

namespace spinmap {

namespace {

constexpr const char* POINT_DATA_NAME = "bindata/data.bin";

// Row r of the height window as little-endian doubles.
void encode_row(const export_surface& s, int r, std::vector<uint8_t>* row) {
    const window& w = s.height.window;
    const int32_t* values = s.height.matrix + static_cast<std::size_t>(r) * static_cast<std::size_t>(w.width);
    for (int c = 0; c < w.width; ++c) {
        const double z = height_in_metres(values[c], s.nm_per_count);
        uint64_t bits = 0;
        std::memcpy(&bits, &z, sizeof bits);
        for (int b = 0; b < 8; ++b) (*row)[8 * static_cast<std::size_t>(c) + b] = static_cast<uint8_t>(bits >> (8 * b));
    }
}

std::span<const uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A header field as the shortest decimal its single precision holds
// (632.8e-9, not 6.3279998e-07).
std::string float_text(float v) {
    char text[NUMBER_TEXT_ROOM];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

std::string md5_hex(std::string_view text) {
    md5_hash hash;
    hash.update(bytes_of(text));
    return hex_text(hash.finish());
}

// One element per line, indented two spaces a level.
struct xml_text {
    std::string text;
    int depth = 0;
    void open(const char* tag) {
        text.append(2 * static_cast<std::size_t>(depth++), ' ').append("<").append(tag).append(">\n");
    }
    void close(const char* tag) {
        text.append(2 * static_cast<std::size_t>(--depth), ' ').append("</").append(tag).append(">\n");
    }
    void leaf(const char* tag, std::string_view value) {
        text.append(2 * static_cast<std::size_t>(depth), ' ').append("<").append(tag).append(">");
        text.append(value).append("</").append(tag).append(">\n");
    }
};

void axis(xml_text* x, const char* name, const char* type, double increment, double offset) {
    x->open(name);
    x->leaf("AxisType", type);
    x->leaf("DataType", "D");
    x->leaf("Increment", shortest_number_text(increment));
    x->leaf("Offset", shortest_number_text(offset));
    x->close(name);
}

// How the heights were made, for the reader of the file.
std::string comment_text(const HeaderRecord& h) {
    return "Exported by spinmap-export from a Lumatrix data file. Z in metres: file units x IntfScaleFactor (" +
           float_text(h.IntfScaleFactor) + ") x ObliquityFactor (" + float_text(h.ObliquityFactor) +
           ") x WavelengthIn (" + float_text(h.WavelengthIn) + " m) / " +
           shortest_number_text(phase_counts_per_fringe(h.PhaseRes)) +
           " counts per fringe; NaN where the data file holds no valid height. X and Y in the camera frame from "
           "the centre of camera pixel (0, 0), Y growing with the rows. The data file records no calibration "
           "date: CalibrationDate repeats the measurement time.";
}

void checksum_point_data(const export_surface& s, std::vector<uint8_t>* row, uint32_t* crc, std::string* md5) {
    md5_hash hash;
    uint32_t c = 0;
    for (int r = 0; r < s.height.window.height; ++r) {
        encode_row(s, r, row);
        c = crc32_update(c, *row);
        hash.update(*row);
    }
    *crc = c;
    *md5 = hex_text(hash.finish());
}

int write_archive(std::FILE* stream, const export_surface& s) {
    const window& w = s.height.window;
    const uint64_t data_bytes = uint64_t{8} * static_cast<uint64_t>(w.width) * static_cast<uint64_t>(w.height);
    if (data_bytes > 0xFFFFFFFFu) return ERR_DATASET_DIM_TOO_LARGE;
    std::vector<uint8_t> row(8 * static_cast<std::size_t>(w.width));
    uint32_t data_crc = 0;
    std::string data_md5;
    checksum_point_data(s, &row, &data_crc, &data_md5);
    const std::string xml = x3p_main_xml(s, data_md5);
    const std::string checksum_file = md5_hex(xml) + " *main.xml\n";

    const auto put_text = [](std::string_view text) {
        return [text](byte_sink& sink) { return sink.put(bytes_of(text)); };
    };
    zip_writer zip(stream, utc_of(s.header.TimeStamp));
    int code = zip.add("main.xml", crc32_update(0, bytes_of(xml)), xml.size(), put_text(xml));
    if (code != 0) return code;
    code = zip.add(POINT_DATA_NAME, data_crc, data_bytes, [&](byte_sink& sink) {
        for (int r = 0; r < w.height; ++r) {
            encode_row(s, r, &row);
            if (const int c = sink.put(row); c != 0) return c;
        }
        return 0;
    });
    if (code != 0) return code;
    code = zip.add("md5checksum.hex", crc32_update(0, bytes_of(checksum_file)), checksum_file.size(),
                   put_text(checksum_file));
    return code != 0 ? code : zip.finish();
}

}  // namespace

std::string x3p_main_xml(const export_surface& s, std::string_view data_md5) {
    const HeaderRecord& h = s.header;
    const window& w = s.height.window;
    const std::string date = iso8601_text(utc_of(h.TimeStamp));
    xml_text x;
    x.text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    x.text += std::string("<p:ISO5436_2 xmlns:p=\"") + X3P_NAMESPACE + "\">\n";
    x.depth = 1;
    x.open("Record1");
    x.leaf("Revision", "ISO5436 - 2000");
    x.leaf("FeatureType", "SUR");
    x.open("Axes");
    axis(&x, "CX", "I", s.spacing, lateral_position(w.x, s.spacing));
    axis(&x, "CY", "I", s.spacing, lateral_position(w.y, s.spacing));
    axis(&x, "CZ", "A", 1, 0);
    x.close("Axes");
    x.close("Record1");
    x.open("Record2");
    x.leaf("Date", date);
    x.leaf("Creator", "spinmap-export (Spinmap " SPINMAP_VERSION ")");
    x.open("Instrument");
    x.leaf("Manufacturer", "unknown");
    x.leaf("Model", "interferometer");
    x.leaf("Serial", "unknown");
    x.leaf("Version", "unknown");
    x.close("Instrument");
    x.leaf("CalibrationDate", date);
    x.open("ProbingSystem");
    x.leaf("Type", "NonContacting");
    x.leaf("Identification", "optical interferometer, wavelength " + float_text(h.WavelengthIn) + " m");
    x.close("ProbingSystem");
    x.leaf("Comment", comment_text(h));
    x.close("Record2");
    x.open("Record3");
    x.open("MatrixDimension");
    x.leaf("SizeX", std::to_string(w.width));
    x.leaf("SizeY", std::to_string(w.height));
    x.leaf("SizeZ", "1");
    x.close("MatrixDimension");
    x.open("DataLink");
    x.leaf("PointDataLink", POINT_DATA_NAME);
    x.leaf("MD5ChecksumPointData", data_md5);
    x.close("DataLink");
    x.close("Record3");
    x.open("Record4");
    x.leaf("ChecksumFile", "md5checksum.hex");
    x.close("Record4");
    x.text += "</p:ISO5436_2>\n";
    return x.text;
}

int write_x3p(std::FILE* stream, const export_surface& s) { return write_archive(stream, s); }

}  // namespace spinmap
