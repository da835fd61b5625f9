#include "logger.h"

#include "files.h"
#include "l10n.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>

namespace logger {

namespace {

constexpr size_t kTailLines = 500;

std::mutex g_m;
FILE* g_f = nullptr;
std::string g_path;
std::deque<std::string> g_tail;

void write_line(const char* tag, const std::string& message)
{
    std::lock_guard lock(g_m);
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);

    // Translated messages carry isolate marks for the screen; the log is plain.
    std::string line = std::string(stamp) + " " + tag + " " + L10n::plain(message);
    if (g_f) {
        fputs(line.c_str(), g_f);
        fputc('\n', g_f);
        // Flushed per line: the crash handler reads the file's last bytes.
        fflush(g_f);
    }
    g_tail.push_back(std::move(line));
    if (g_tail.size() > kTailLines)
        g_tail.pop_front();
}

} // namespace

void init(const std::string& dir, const std::string& app)
{
    std::lock_guard lock(g_m);
    if (g_f)
        return;
    g_path = dir + "/" + app + ".log";
    // A link planted at the log's name is replaced, never written through.
    int fd = files::open_regular(g_path, O_WRONLY | O_TRUNC, 0600);
    if (fd < 0)
        return;
    g_f = fdopen(fd, "w");
    if (!g_f)
        close(fd);
}

void shutdown()
{
    std::lock_guard lock(g_m);
    if (g_f) {
        fclose(g_f);
        g_f = nullptr;
    }
}

std::string file_path()
{
    std::lock_guard lock(g_m);
    return g_path;
}

void info(const std::string& message) { write_line("INFO ", message); }
void warn(const std::string& message) { write_line("WARN ", message); }
void error(const std::string& message) { write_line("ERROR", message); }

std::vector<std::string> tail(size_t n)
{
    std::lock_guard lock(g_m);
    size_t count = std::min(n, g_tail.size());
    return std::vector<std::string>(g_tail.end() - long(count), g_tail.end());
}

} // namespace logger
