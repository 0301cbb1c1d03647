// The few calls that differ between Windows and POSIX: opening files by path,
// testing for a regular file, 64-bit stream positions, file identity, the
// last system error number, and the calendar text of a time.
//
// Paths are byte strings (they may hold any bytes). A path whose first two
// bytes, read as a little-endian 16-bit value, are 0xFEFF or 0xFFFE (a UTF-16
// byte-order mark) is a wide path: the bytes after the mark are UTF-16LE code
// units. Windows opens every path with the wide-character calls (a narrow one
// converted from the ANSI code page, or from UTF-8 when the program asks);
// POSIX converts a wide path to UTF-8 first, and a malformed one names no
// file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <spinmap/errors/errors.h>

namespace spinmap {

// True when the path begins with a UTF-16 byte-order mark.
bool is_wide_path(std::string_view path);

// The UTF-8 form of UTF-16LE code units (an odd byte count, or an unpaired
// surrogate, is malformed: nullopt). A zero code unit ends nothing here: it
// becomes a zero byte, which no file name may hold.
std::optional<std::string> utf16le_to_utf8(std::string_view units);

// The program's arguments after its name. On Windows they come from the wide
// (UTF-16) command line as UTF-8, and from then on the process's narrow paths
// are UTF-8 (u_take_names_as_utf8), so that every name the file system allows
// can be given; elsewhere they are argv's bytes.
std::vector<std::string> u_program_arguments(int argc, char** argv);

#ifdef _WIN32
// From here on, every narrow path of this process is UTF-8 (a program that
// takes its names from the wide command line asks for this before it names
// any file); before, narrow paths are in the ANSI code page. Wide paths are
// not affected.
void u_take_names_as_utf8();

// UTF-8 and UTF-16 both ways; an unpaired surrogate keeps its three-byte
// form, so that every name the file system allows goes both ways unchanged.
// nullopt for bytes that are no such form.
std::optional<std::wstring> u_wide_of_utf8(std::string_view text);
std::string u_utf8_of_wide(std::wstring_view text);
#endif

// Writes text to a stream as its bytes; on Windows, text for a console is
// taken as UTF-8 and shown through the console's wide output, so that every
// character shows as typed.
void u_write_text(std::FILE* stream, std::string_view text);

// Opens a file in binary mode ("rb" when write is false, "wb" when true),
// narrow or wide as the path says. Null when it cannot be opened.
std::FILE* u_open_file(std::string_view path, bool write);

// An open file closed when its owner goes.
struct file_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using owned_file = std::unique_ptr<std::FILE, file_closer>;

// What a path names, by the file type bits of its status mode (0xF000):
// a regular file (0x8000), a folder (0x4000), another kind of entry (a
// device, a pipe), or nothing that can be queried (missing, a malformed
// wide path, a folder on the way that cannot be searched).
enum class path_kind { missing, regular_file, folder, other };
path_kind u_path_kind(std::string_view path);

// True when the path names an existing regular file; false for anything
// missing, any other kind of entry, and a malformed wide path.
bool u_is_regular_file(std::string_view path);

// An output file written whole or not at all. A regular file (or a name
// where none exists yet) is written to a temporary in its folder, which takes
// the target's name only when the whole output was written and committed, so
// a failed write leaves every existing file as it was. The temporary's name
// is .NAME.spinmap-XXXXXX (POSIX) or NAME.spinmap-PROCESS-N (Windows), the
// NAME part shortened where the whole would exceed the folder's longest
// name. On Linux the temporary is anonymous (O_TMPFILE) and is linked under
// that name only at the commit (where the system refuses the link, a named
// copy is made then), so that nothing of a run that dies before the commit
// is left in the folder; where the file system cannot make an anonymous file
// (and on Windows) the temporary has its name from the start. Anything else
// that is not a folder (a device, a FIFO, a pipe reached through
// /dev/stdout) is opened and written in place.
//
// An existing regular target that the user could not open for writing (by
// the effective permissions on POSIX, so root may; the read-only attribute on
// Windows) is refused as if it could not be opened.
//
// While the output is open, a write past the file size limit fails as any
// failed write does instead of ending the program (SIGXFSZ, unless the
// program set its own action). While a named temporary exists, an
// interruption (SIGINT, SIGTERM or SIGHUP on POSIX, each unless ignored;
// Ctrl-C, Ctrl-Break or closing the console on Windows) removes it, and the
// program then ends as the interruption ends it.
//
// The commit is the point of no return: from just before the rename until
// the folder is flushed the interruptions are held, and one that would have
// ended the program is dropped, so that a run that reached the commit
// finishes it and goes on as a successful one.
//
// A durable output survives a power loss or a system crash right after the
// commit as either the old target or the whole new one: its contents are
// flushed to stable storage before the rename (and the rename written through
// on Windows), and on POSIX the folder holding it is flushed after the rename.
struct output_file {
    std::FILE* stream = nullptr;  // where the output is written
    std::string target;           // the file finally written, links followed
    std::string temporary;        // the named temporary; empty while there is none
    bool in_place = false;        // the target itself is written
    unsigned mode = 0;            // permission bits the result receives
    bool replaces = false;        // the target existed before
    bool durable = false;         // the commit flushes, as above
    int interruption_place = -1;  // the temporary's registration for removal on an interruption
    bool file_size_signal_ignored = false;  // SIGXFSZ is to be restored to its default
};

// Opens the output for a path (narrow or wide); false when it cannot be
// created or may not be written, out then empty.
bool u_output_open(std::string_view path, output_file* out, bool durable = false);

// Flushes and closes the stream and moves the temporary over the target;
// false (the temporary removed) when any step before the rename, or the
// rename, fails. A folder that cannot be flushed after the rename leaves the
// complete result in place and counts as success. out is empty afterwards.
bool u_output_commit(output_file* out);

// Closes the stream and removes the temporary; the target is not touched.
void u_output_discard(output_file* out);

// The steps of an output that a test may watch or fail: making an anonymous
// temporary (POSIX), writing the contents, and the commit's flush, rename
// and folder flush.
enum class output_step { make_anonymous, write_contents, flush_contents, rename, flush_folder };

// A test seam, null unless a test program sets it: called just before each
// step; returning false makes the step fail as its system call would (a
// temporary with a name is made instead of an anonymous one; a failed
// write_contents is ERR_CANT_WRITE_FILE).
using output_step_hook = bool (*)(output_step step);
extern output_step_hook u_output_step_hook;

// Writes an output whole or not at all: write(stream) fills it and returns an
// error code; on 0 the output is committed, otherwise discarded. Returns
// ERR_CANT_CREATE_FILE when the output cannot be opened, write's code when it
// fails, and ERR_CANT_WRITE_FILE when the commit fails.
template <typename Write>
int u_write_output(std::string_view path, bool durable, Write&& write) {
    output_file out;
    if (!u_output_open(path, &out, durable)) return ERR_CANT_CREATE_FILE;
    const bool allowed = u_output_step_hook == nullptr || u_output_step_hook(output_step::write_contents);
    const int code = allowed ? write(out.stream) : ERR_CANT_WRITE_FILE;
    if (code != 0) {
        u_output_discard(&out);
        return code;
    }
    return u_output_commit(&out) ? 0 : ERR_CANT_WRITE_FILE;
}

// How a file stands: its identity (device and inode on POSIX, volume serial
// number and file index on Windows), its size, and the times of its last
// modification and status change in nanoseconds since 1970, as finely as the
// file system keeps them. A file written, truncated or touched since, or
// another file under the name, gives another state.
struct file_state {
    uint64_t volume = 0;
    uint64_t index = 0;
    int64_t size = 0;
    int64_t modified_ns = 0;
    int64_t changed_ns = 0;
    bool operator==(const file_state&) const = default;
};

// The state of the open file, or of the file the path names now (links
// followed); nullopt when it cannot be queried (a missing file, say).
std::optional<file_state> u_file_state(std::FILE* stream);
std::optional<file_state> u_file_state(std::string_view path);

// True when the path names the file that the open stream reads or writes
// (the same file reached by any name); false when either cannot be queried.
bool u_is_same_file(std::FILE* stream, std::string_view path);

// True when both paths name one existing file, by any names or links: the
// same device and inode (POSIX) or volume serial number and file index
// (Windows). False when either cannot be queried.
bool u_names_same_file(std::string_view a, std::string_view b);

// Moves a stream's position by a 64-bit offset from SEEK_SET, SEEK_CUR or
// SEEK_END; false when the stream cannot seek there.
bool u_seek(std::FILE* stream, int64_t offset, int origin);

// The stream's position in bytes; -1 when it has none (a pipe, say).
int64_t u_tell(std::FILE* stream);

// Bytes from the stream's position to its end, the position left as it was;
// nullopt for a stream that cannot seek.
std::optional<int64_t> u_bytes_left(std::FILE* stream);

// Copies `bytes` bytes of the file open as `from`, starting at its byte
// `offset`, to the position of `to`, and leaves `to` at the end of the copy
// (`from`'s position is not kept). On Linux the kernel copies between the
// files without passing the bytes through this process; elsewhere, and
// where the kernel cannot (a pipe, another file system), they pass through
// one 64 KiB buffer on the stack. 0; ERR_CORRUPT_DATA_FILE when `from` ends
// before the range does; ERR_CANT_WRITE_FILE when `to` refuses them.
int u_copy_range(std::FILE* from, int64_t offset, int64_t bytes, std::FILE* to);

// The number of the last failed system call of this thread (errno, or the
// Windows error code), never 0: an unknown cause gives EIO.
int u_last_system_error();

// A block of bytes from std::malloc (release it with std::free). On Linux
// the whole huge pages inside a block of 4 MiB or more are advised to be
// backed by huge pages, so that the first touches of a 64 MiB frame fault
// a few dozen times instead of some 16000. The advice changes no contents
// and a refusal changes nothing.
void* u_allocate_large(std::size_t bytes);

// Seconds since 1970-01-01 00:00 UTC, now.
int64_t u_time_now();

// The 24-character local calendar form of a time followed by a line end, as
// ctime gives it (English day and month names whatever the locale); nullopt
// for a negative time or one the platform cannot convert.
std::optional<std::string> u_calendar_text(int64_t seconds);

// ---- Threads within one operation --------------------------------------
// The kernels of a large frame split its rows into bands that threads work
// on at once; every band writes its own rows only, so the result is the
// same for every thread count.

// The most threads an operation uses: beyond this many the frames the tool
// meets stop getting faster. The scans that keep a result for each band
// split a frame into this many bands, whatever the thread count.
constexpr int MOST_THREADS = 16;

// The processors this process may run on: its affinity mask on Linux, its
// processor group's mask on Windows. At least 1.
int u_processors_available();

// The threads an operation on a large frame uses: the count set by
// u_set_thread_count, else the environment variable SPINMAP_THREADS (a
// whole number from 1; above 16 counts as 16; anything else is ignored),
// else the processors available, at most 16. Read once per process.
int u_thread_count();

// Forces the thread count from now on, for operations of every size (tests
// compare the counts on small frames); 0 goes back to the default.
void u_set_thread_count(int count);

// Work below this many elements per thread is done on fewer threads: a
// thread's start and join cost about what this many elements take.
constexpr int64_t BAND_WORK_MIN = 1 << 17;

// One band: items lo .. hi-1.
using band_work = void (*)(void* context, int lo, int hi);

// Calls work(context, lo, hi) over bands that together cover items 0 ..
// items-1 exactly once, on up to u_thread_count() threads (fewer when
// items x work_per_item is small), and returns when all are done. A thread
// that cannot be started leaves its bands to the calling thread. `work`
// must not throw.
void u_run_in_bands(int items, int64_t work_per_item, band_work work, void* context);

// The same with any callable f(lo, hi).
template <typename Band>
void run_in_bands(int items, int64_t work_per_item, Band&& band) {
    // The context goes back to its own type, const or not, before the call.
    using callable = std::remove_reference_t<Band>;
    u_run_in_bands(
        items, work_per_item, [](void* context, int lo, int hi) { (*static_cast<callable*>(context))(lo, hi); },
        const_cast<void*>(static_cast<const void*>(&band)));
}

}  // namespace spinmap
