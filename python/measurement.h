// The Python module spinmap: data files as NumPy arrays.
//
// The module sits on the data library as the programs do. This header is its
// C++ half, which knows nothing of Python: a measurement held in the records
// the reader hands over and the writer takes back, reading and writing one
// under the tools' rules, and the arrays derived from its heights. The
// bindings (module.cpp) turn these into Python objects, NumPy arrays that
// view the matrices, and exceptions, and let go of the interpreter's lock
// around every call here, so that threads read and write files in parallel.
// The Python side of the contract is spinmap/__init__.pyi.
//
// Nothing here prints or throws; outcomes carry the tools' messages.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <spinmap/datafile/datafile.h>
#include <spinmap/run/run.h>

namespace spinmap::python {

// One data file in memory: the InfoBlock and HeaderRecord exactly as read and
// the two matrices, so that writing it back gives the file's bytes. The
// matrices are shared with the arrays that view them, so an array stays valid
// after its measurement is gone. A matrix without an array is a block the
// file does not have.
struct measurement {
    InfoBlock info{};
    HeaderRecord header{};
    std::shared_ptr<owned_height> height = std::make_shared<owned_height>();
    std::shared_ptr<owned_intensity> intensity = std::make_shared<owned_intensity>();
    std::string source;  // the path it was read from; empty when it was made otherwise
};

enum class outcome_kind {
    done,
    library_error,    // `code` and `message`
    missing_file,     // the input does not exist
    existing_output,  // the output exists and may not be replaced
};

// How a read or a write ended. The message is in the tools' words and names
// the file; `path` is the file's name as given.
struct outcome {
    outcome_kind kind = outcome_kind::done;
    int code = 0;
    std::string message;
    std::string path;
};

// The name of an error code, as error_name() gives it but without its
// shared buffer, which threads reading and writing at once would overwrite.
std::string code_name(int code);

// Reads a whole data file into m, as spinmap-info reads one: a path that is
// no regular file is refused before it is opened. The attributes are not
// checked: a file the tool would refuse can still be looked at.
outcome read_measurement(std::string_view path, measurement* m);

// Writes m through a temporary beside the target that replaces it only when
// complete (platform.h), so a failed write leaves no file and never damages an
// existing one. Without overwrite an existing regular file is refused. A
// target that is the file m was read from is its only copy: its replacement
// is flushed to stable storage, as the tool flushes an output that is its
// input.
outcome write_measurement(std::string_view path, const measurement& m, bool overwrite);

// Turns a copy of m as the spinmap tool turns a file (rotate_measurement):
// *turned gets m's InfoBlock, its header with the fiducials turned, new
// heights on the camera frame trimmed to their valid points, and m's
// intensity block itself (shared: the tool carries it unchanged). m is left
// as it is; so is *turned on failure, which carries the tool's message.
outcome rotate_copy(const measurement& m, double angle, double pivot_x, double pivot_y, bool no_interp,
                    measurement* turned);

// The tool's run on files (rotate_data_file) with its verbose report, which
// *report receives whole. Refuses first as the tool's entry does, but
// without asking: a missing input (missing_file), one that is no regular
// file, and an existing output without overwrite (existing_output). On
// success *run holds what the run did.
outcome rotate_data(std::string_view input, std::string_view output, double angle, double pivot_x, double pivot_y,
                    bool no_interp, bool overwrite, std::string* report, rotation_run_result* run);

// The rows x columns elements of the height window, from the matrix's array
// (which holds at least that many): `valid` true where the height is valid;
// `nanometres` each valid height in file units times nm_per_count, NaN where
// invalid.
void mark_valid(const height_matrix& height, bool* valid);
void heights_in_nanometres(const height_matrix& height, double nm_per_count, double* nanometres);

}  // namespace spinmap::python
