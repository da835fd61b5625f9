#pragma once
// Internals of the crash-report library, shared by its source files and
// reachable from its tests.
#include "qxcrash.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <sys/types.h>
#include <string>
#include <vector>

namespace qxcrash::detail {

// State read by the signal handler. Everything is written before a crash, in
// fixed zero-terminated buffers, so the handler never allocates.
constexpr size_t k_tail_bytes = 2500;
constexpr size_t k_ctx_bytes = 2048;
constexpr int k_ctx_slots = 3;

extern char g_name[128];
extern char g_version[64];
extern char g_build[32];
extern char g_package[512];
extern char g_report[1024];
extern char g_crash_log[1024];
extern char g_log[1024];
// Environment facts for the report, taken at install() because getenv() is
// not safe to call from a signal handler.
extern char g_snap_revision[64];
extern char g_desktop[128];
extern char g_session[64];
extern time_t g_started;
extern char g_tail[k_tail_bytes + 1];
extern char g_ctx[k_ctx_slots][2][k_ctx_bytes];
extern std::atomic<int> g_ctx_live[k_ctx_slots];
extern std::string g_prev_log;
extern std::atomic<void (*)()> g_fatal_hook;

// The folder of the early report when XDG_RUNTIME_DIR is not set: `base`
// plus "/" + name + "-" + the real user id, made with mode 0700 and used only
// while it is a directory of this user that nobody else may enter.
// Returns "" when it cannot be had.
std::string private_dir(const std::string& base, const char* name);

// Copies `text` into a fixed buffer, cut at its size less one; null is "".
void copy_text(char* buffer, size_t size, const char* text);
// Copies a path that must fit whole: a cut path would name some other file,
// so one that does not fit leaves the buffer empty. Returns whether it fit.
bool copy_path(char* buffer, size_t size, const std::string& path);

void set_app(const App& app);
const App* app();
// Sends one line to the identity's log callback when there is one.
void log(const char* level, const std::string& message);
// The report's "Package:" line.
void set_header_package(const std::string& line);

// Whether a file may be put at `path`: nothing there, a regular file or a
// link. A device, FIFO, socket or folder is never removed or replaced.
// Safe in the crash handler.
bool file_replaceable(const char* path);
// A new file at `path` (mode 0600) in place of a regular file or a link
// there, never written through a link; -1 when the name holds anything else
// or the create fails. Safe in the crash handler.
int open_fresh(const char* path);
bool file_exists(const std::string& path);
bool file_rename(const std::string& from, const std::string& to);
bool file_remove(const std::string& path);
bool file_copy(const std::string& from, const std::string& to);
// Reads at most about `limit` bytes (whole 4096-byte blocks) of the file.
bool file_read(const std::string& path, std::string* out, size_t limit);
// Moves an early report to `report`; when a report waits there already, the
// file keeps both, the newer first.
bool keep_both_reports(const std::string& early, const std::string& report);
// Whether the crash log exists and is not older than the report.
bool crash_log_current(const std::string& crash_log, const std::string& report);
// Starts `argv` (searched in PATH) with SIGPIPE at its default, which the
// program ignores for itself, and standard output on `out` unless it is -1.
// The arguments are ready before the fork. The child, or -1.
pid_t spawn(const std::vector<std::string>& argv, int out = -1);

// Every line followed by "\n".
std::string join(const std::vector<std::string>& lines);
// Writes the number in decimal with a single write() and no allocation.
void put_num(int fd, int64_t value);
// The fatal-signal handler; writes the report and re-raises `sig`.
void on_crash(int sig);
// The text the report gives for a signal number.
const char* signal_text(int sig);

// System facts. `root` prefixes every absolute file the facts are read from;
// it is "" in the program and a scratch directory in tests.
const char* package_kind();
std::string env(const char* name);
std::string trim(const std::string& text);
bool read_file(const std::string& path, std::string* out);
std::string os_value(const std::string& os_release, const std::string& key);
bool list_has(const std::string& list_file, const std::string& path);
std::string os_line(const std::string& root = "");
std::string cpu_line(const std::string& root = "");
std::string ram_line(const std::string& root = "");
std::vector<std::string> sound_lines(const std::string& root = "");
std::vector<std::string> gpu_lines_in(const std::string& drm_dir);
// The owner of `exe` in the Debian, RPM or pacman databases below `root`,
// e.g. "deb name 1.0"; "" when no database claims it.
std::string package_owner(const std::string& root, const std::string& exe);
std::string plain_package_line(const std::string& root, const std::string& exe);

} // namespace qxcrash::detail
