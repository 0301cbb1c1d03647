// The loader every program reads measurements through: open, read, check,
// each step with its own failure.
#include <spinmap/run/run.h>

namespace spinmap {

namespace {

int stop(load_failure* failure, load_step step, int code, std::string reason = {}) {
    if (failure != nullptr) *failure = {step, code, std::move(reason)};
    return code;
}

}  // namespace

int load_measurement(std::string_view path, const load_request& request, loaded_measurement* m,
                     load_failure* failure) {
    if (failure != nullptr) *failure = {};
    if (!u_is_regular_file(path)) return stop(failure, load_step::opening, ERR_CANT_OPEN_FILE);
    m->input.reset(u_open_file(path, false));
    if (m->input == nullptr) return stop(failure, load_step::opening, ERR_CANT_OPEN_FILE);
    m->input_state = u_file_state(m->input.get());
    height_matrix* const height = request.heights ? &m->height : nullptr;
    intensity_matrix* const frames = request.intensity == intensity_use::load ? &m->intensity.frames : nullptr;
    const bool carry = request.intensity == intensity_use::carry;
    int code = carry ? read_data_carrying_intensity(m->input.get(), &m->info, &m->header, &m->intensity, height)
                     : read_data_stream(m->input.get(), &m->info, &m->header, frames, height);
    if (!carry) m->input.reset();
    if (code != 0) return stop(failure, load_step::reading, code);
    std::string reason;
    code = carry ? check_data_attributes(&m->header, m->intensity, height, true, &reason)
                 : check_data_attributes(&m->header, frames, height, true, &reason);
    if (code != 0) return stop(failure, load_step::attributes, code, std::move(reason));
    if (request.require_heights && m->height.matrix == nullptr) return stop(failure, load_step::heights, ERR_ALL_BAD_DATA);
    return 0;
}

}  // namespace spinmap
