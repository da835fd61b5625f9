// Report files, the previous run's log and the context slots: everything of
// the crash library that runs outside the signal handler.
#include "qxcrash_detail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

namespace qxcrash::detail {

char g_name[128] = "App";
char g_version[64] = "?";
char g_build[32] = "?";
char g_package[512];
char g_report[1024];
char g_crash_log[1024];
char g_log[1024];
char g_snap_revision[64];
char g_desktop[128];
char g_session[64];
time_t g_started;
char g_tail[k_tail_bytes + 1];
char g_ctx[k_ctx_slots][2][k_ctx_bytes];
std::atomic<int> g_ctx_live[k_ctx_slots];
std::string g_prev_log;
std::atomic<void (*)()> g_fatal_hook;

static App& app_copy()
{
    static App copy;
    return copy;
}

void set_app(const App& app)
{
    App& copy = app_copy();
    copy = app;
    // Later readers may hand these straight to string constructors.
    for (const char** text : { &copy.name, &copy.version, &copy.build, &copy.contact, &copy.package }) {
        if (!*text)
            *text = "";
    }
}

const App* app()
{
    return &app_copy();
}

void log(const char* level, const std::string& message)
{
    if (auto callback = app_copy().log)
        callback(level, message);
}

void copy_text(char* buffer, size_t size, const char* text)
{
    snprintf(buffer, size, "%s", text ? text : "");
}

bool copy_path(char* buffer, size_t size, const std::string& path)
{
    if (path.size() >= size || path.find('\0') != std::string::npos) {
        buffer[0] = '\0';
        return false;
    }
    memcpy(buffer, path.c_str(), path.size() + 1);
    return true;
}

std::string private_dir(const std::string& base, const char* name)
{
    std::string dir = base + "/" + name + "-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    // Checked on the opened folder itself, so nothing can be swapped in
    // between the look and the repair of its mode.
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st;
    bool mine = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
    if (mine && (st.st_mode & 077) != 0)
        mine = fchmod(fd, 0700) == 0;
    close(fd);
    return mine ? dir : std::string();
}

void set_header_package(const std::string& line)
{
    copy_text(g_package, sizeof g_package, line.c_str());
}

namespace {

// Only regular files are read: opening a FIFO would block.
bool regular(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

bool file_replaceable(const char* path)
{
    struct stat st;
    if (lstat(path, &st) != 0)
        return true;
    return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
}

int open_fresh(const char* path)
{
    // The exclusive create never writes into a file or through a link that
    // someone put back at the name meanwhile.
    if (!file_replaceable(path))
        return -1;
    unlink(path);
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

bool file_exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool file_rename(const std::string& from, const std::string& to)
{
    // Only report and log files move, and only over what may be replaced.
    struct stat st;
    if (lstat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !file_replaceable(to.c_str()))
        return false;
    return rename(from.c_str(), to.c_str()) == 0;
}

bool file_remove(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
        return false;
    return unlink(path.c_str()) == 0;
}

bool file_copy(const std::string& from, const std::string& to)
{
    if (!regular(from))
        return false;
    std::ifstream in(from, std::ios::binary);
    if (!in)
        return false;
    // The copy is a new file: whatever had the name goes first.
    int fd = open_fresh(to.c_str());
    if (fd < 0)
        return false;
    char block[4096];
    bool ok = true;
    while (ok && in) {
        in.read(block, sizeof block);
        std::streamsize got = in.gcount();
        for (std::streamsize done = 0; ok && done < got;) {
            ssize_t n = write(fd, block + done, static_cast<size_t>(got - done));
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            done += n > 0 ? n : 0;
        }
    }
    ok = (close(fd) == 0) && ok && !in.bad();
    return ok;
}

bool file_read(const std::string& path, std::string* out, size_t limit)
{
    if (!regular(path))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out->clear();
    char block[4096];
    while (out->size() < limit) {
        in.read(block, sizeof block);
        std::streamsize got = in.gcount();
        if (got <= 0)
            break;
        out->append(block, static_cast<size_t>(got));
    }
    return true;
}

std::string join(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

} // namespace qxcrash::detail

namespace qxcrash {

using namespace detail;

std::string rotate_log(const std::string& path)
{
    g_prev_log.clear();
    std::string previous = path + ".1";
    if (file_exists(path) && file_rename(path, previous))
        g_prev_log = previous;
    return g_prev_log;
}

void set_log_file(const std::string& path)
{
    copy_path(g_log, sizeof g_log, path);
}

void set_report_dir(const std::string& dir)
{
    std::string early = g_report;
    // A directory whose names do not fit leaves no usable path; keeping the
    // early location then is better than writing to a cut-off name.
    char report[sizeof g_report];
    char crash_log[sizeof g_crash_log];
    if (!copy_path(report, sizeof report, dir + "/crash_report.txt")
        || !copy_path(crash_log, sizeof crash_log, dir + "/crash_log.txt")) {
        log("WARN", "crash report directory path too long: " + dir);
        return;
    }
    memcpy(g_report, report, sizeof g_report);
    memcpy(g_crash_log, crash_log, sizeof g_crash_log);
    if (early == g_report || early.empty())
        return;
    if (file_exists(early))
        keep_both_reports(early, g_report);
}

std::string report_path()
{
    return g_report;
}

std::string crash_log_path()
{
    if (g_crash_log[0])
        return g_crash_log;
    std::string report = g_report;
    if (report.empty())
        return {};
    size_t slash = report.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : report.substr(0, slash);
    return dir + "/crash_log.txt";
}

bool pending(std::string* text)
{
    std::string report;
    if (!file_read(report_path(), &report, 262144) || report.empty())
        return false;
    // The log rotated at this start belongs to the run that crashed.
    std::string crash_log = crash_log_path();
    if (!g_prev_log.empty() && !crash_log_current(crash_log, report_path()))
        file_copy(g_prev_log, crash_log);
    if (text)
        *text = std::move(report);
    return true;
}

void discard()
{
    file_remove(report_path());
    file_remove(crash_log_path());
}

void set_context(Context slot, const std::string& text)
{
    int index = static_cast<int>(slot);
    if (index < 0 || index >= k_ctx_slots)
        return;
    // Fill the half the handler is not reading, then publish it at once.
    int other = 1 - g_ctx_live[index].load();
    copy_text(g_ctx[index][other], k_ctx_bytes, text.c_str());
    g_ctx_live[index].exchange(other);
}

void record_system()
{
    set_header_package(package_line());
    std::vector<std::string> lines = system_lines();
    for (const std::string& line : lines)
        log("INFO", "System: " + line);
    set_context(Context::System, join(lines));
}

void record_graphics(const std::vector<std::string>& lines)
{
    std::vector<std::string> all = gpu_lines();
    all.insert(all.end(), lines.begin(), lines.end());
    for (const std::string& line : all)
        log("INFO", "Graphics: " + line);
    set_context(Context::Graphics, join(all));
}

void record_audio(const std::vector<std::string>& lines)
{
    static std::mutex m;
    static std::string last;
    std::lock_guard<std::mutex> lock(m);
    std::string joined = join(lines);
    if (joined == last)
        return;
    last = joined;
    for (const std::string& line : lines)
        log("INFO", "Audio: " + line);
    set_context(Context::Audio, joined);
}

} // namespace qxcrash
