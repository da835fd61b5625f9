#include "links.h"

#include "toolchain.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

extern char** environ;

namespace links {
namespace {

struct Failed {
    std::mutex mutex;
    std::vector<std::string> urls;
    std::atomic<uint64_t> generation { 0 };
};

// Never destroyed: a reaper thread may still wait when the program ends.
Failed& failed()
{
    static Failed* f = new Failed;
    return *f;
}

bool starts_with(const std::string& s, const char* prefix)
{
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Waits for the opener off the main thread; the opener may wait for the
// browser it started.
void reap(pid_t pid, std::string url)
{
    int status = 0;
    pid_t r;
    do
        r = waitpid(pid, &status, 0);
    while (r < 0 && errno == EINTR);
    Failed& f = failed();
    if (r == pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        std::lock_guard<std::mutex> lock(f.mutex);
        f.urls.push_back(std::move(url));
    }
    f.generation.fetch_add(1);
}

} // namespace

bool acceptable(const std::string& url)
{
    if (!starts_with(url, "http://") && !starts_with(url, "https://") && !starts_with(url, "mailto:"))
        return false;
    size_t rest = url.find(':') + 1;
    while (rest < url.size() && url[rest] == '/')
        ++rest;
    if (rest >= url.size())
        return false;
    for (unsigned char c : url)
        if (c <= ' ' || c == 0x7F)
            return false;
    return true;
}

Opened open(const std::string& url)
{
    if (!acceptable(url))
        return Opened::Refused;
    std::string opener = tc::find_tool_auto("xdg-open");
    if (opener.empty())
        return Opened::NoOpener;

    posix_spawn_file_actions_t fa;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&fa);
    posix_spawnattr_init(&attr);
    // Nothing of the window (its X connection, the log, the lock) is handed
    // on to the browser; input comes from nowhere.
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::string name = "xdg-open", arg = url;
    char* argv[] = { name.data(), arg.data(), nullptr };
    pid_t pid = -1;
    // posix_spawn reports a failed exec (a broken opener) as an error.
    int err = posix_spawn(&pid, opener.c_str(), &fa, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (err != 0)
        return Opened::NoOpener;
    try {
        std::thread(reap, pid, url).detach();
    } catch (const std::system_error&) {
        // No thread to wait: the opener's answer is lost, not the link.
        return Opened::Started;
    }
    return Opened::Started;
}

std::vector<std::string> take_failed()
{
    Failed& f = failed();
    std::lock_guard<std::mutex> lock(f.mutex);
    std::vector<std::string> out;
    out.swap(f.urls);
    return out;
}

uint64_t generation()
{
    return failed().generation.load();
}

} // namespace links
