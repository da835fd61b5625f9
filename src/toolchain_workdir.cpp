// The work directory: one per process inside the per-user one, so builds
// and conversions of processes running side by side never share a file.
#include "toolchain.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tc {

namespace {

constexpr const char* kRunPrefix = "run-";

// Removes everything below the open directory `dir_fd` (which it closes).
// Links are removed, never followed; the depth is bounded because nothing
// the program writes nests deeper.
void empty_dir(int dir_fd, int depth)
{
    DIR* d = fdopendir(dir_fd);
    if (!d) {
        close(dir_fd);
        return;
    }
    while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
            continue;
        if (unlinkat(dirfd(d), e->d_name, 0) == 0 || errno != EISDIR || depth <= 0)
            continue;
        int sub = openat(dirfd(d), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0)
            empty_dir(sub, depth - 1);
        unlinkat(dirfd(d), e->d_name, AT_REMOVEDIR);
    }
    closedir(d);
}

bool pid_alive(pid_t pid)
{
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// A process directory is stale when its owner is gone: its pid names no
// living process and nobody holds the lock on the directory. Both are asked,
// because a pid can look different from another pid namespace, and the lock
// is not yet taken in the moment after the directory was made.
bool is_stale(const std::string& path, pid_t pid)
{
    // Our own pid on a directory we have not made is an earlier process's.
    if (pid != getpid() && pid_alive(pid))
        return false;
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return !held;
}

void remove_stale(const std::string& user_dir)
{
    DIR* d = opendir(user_dir.c_str());
    if (!d)
        return;
    size_t prefix = strlen(kRunPrefix);
    while (dirent* e = readdir(d)) {
        if (strncmp(e->d_name, kRunPrefix, prefix) != 0)
            continue;
        char* end = nullptr;
        long pid = strtol(e->d_name + prefix, &end, 10);
        if (end == e->d_name + prefix || *end != '-' || pid <= 0 || pid > INT_MAX)
            continue;
        std::string path = user_dir + "/" + e->d_name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
            continue;
        if (is_stale(path, pid_t(pid)))
            remove_process_dir(path);
    }
    closedir(d);
}

// The directory removed when the process ends; fixed storage, because the
// exit handler runs after static strings have been destroyed.
char g_exit_dir[PATH_MAX];
pid_t g_exit_owner;

void remove_at_exit()
{
    // A forked child that exits must not take its parent's files along.
    if (g_exit_dir[0] && getpid() == g_exit_owner)
        remove_process_dir(g_exit_dir);
}

} // namespace

std::string choose_temp_dir(const std::string& runtime_dir)
{
    std::string base = runtime_dir.empty() ? "/tmp" : runtime_dir;
    std::string candidate = base + "/qxFerndockAssemblerIDE-" + std::to_string(getuid());
    mkdir(candidate.c_str(), 0700);
    struct stat st {};
    if (lstat(candidate.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid())
        return candidate;
    char tmpl[] = "/tmp/qxFerndockAssemblerIDE-XXXXXX";
    if (mkdtemp(tmpl))
        return tmpl;
    return ".";
}

std::string make_process_dir(const std::string& user_dir, int* lock_fd)
{
    *lock_fd = -1;
    remove_stale(user_dir);
    std::string tmpl = user_dir + "/" + kRunPrefix + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(tmpl.data()))
        return {};
    // The lock is taken on the directory itself: no file to create, which
    // on some file systems costs a noticeable part of a small build.
    int fd = open(tmpl.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (fd >= 0)
            close(fd);
        remove_process_dir(tmpl);
        return {};
    }
    *lock_fd = fd;
    return tmpl;
}

void remove_process_dir(const std::string& dir)
{
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    empty_dir(fd, 4);
    rmdir(dir.c_str());
}

std::string temp_dir()
{
    static const std::string dir = [] {
        const char* env = getenv("XDG_RUNTIME_DIR");
        std::string user = choose_temp_dir(env ? env : "");
        int lock_fd = -1;
        std::string mine = make_process_dir(user, &lock_fd);
        // Without a directory of its own the process falls back to the
        // shared one rather than not building at all.
        if (mine.empty() || mine.size() >= sizeof g_exit_dir)
            return user;
        // The lock stays held, and so the directory marked in use, until
        // the process ends.
        memcpy(g_exit_dir, mine.c_str(), mine.size() + 1);
        g_exit_owner = getpid();
        atexit(remove_at_exit);
        return mine;
    }();
    return dir;
}

} // namespace tc
