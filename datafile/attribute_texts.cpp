// The header attributes in words and units, for the programs' reports.
#include <cstdarg>
#include <cstdio>

#include <spinmap/datafile/datafile.h>

namespace spinmap {

namespace {

__attribute__((format(printf, 1, 2))) std::string formatted(const char* format, ...) {
    char text[64];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace

std::vector<attribute_text> header_attribute_texts(const HeaderRecord& h) {
    return {
        {"CameraWidth", formatted("%d", h.CameraWidth)},
        {"CameraHeight", formatted("%d", h.CameraHeight)},
        {"PixelWidth", formatted("%g um", static_cast<double>(h.PixelWidth) * 1e6)},
        {"PixelHeight", formatted("%g um", static_cast<double>(h.PixelHeight) * 1e6)},
        {"CameraRes", formatted("%g um", static_cast<double>(h.CameraRes) * 1e6)},
        {"IntfScaleFactor", formatted("%g", static_cast<double>(h.IntfScaleFactor))},
        {"WavelengthIn", formatted("%g nm", static_cast<double>(h.WavelengthIn) * 1e9)},
        {"ObliquityFactor", formatted("%g", static_cast<double>(h.ObliquityFactor))},
        {"PhaseRes", phase_resolution_word(h.PhaseRes)},
        {"PryxRes", formatted("1/%g fr", phase_counts_per_fringe(h.PhaseRes))},
    };
}

}  // namespace spinmap
