#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace files {

namespace {

// Across file systems: the bytes go into a fresh file beside `to`, which
// then replaces it in one rename.
bool copy_over(const std::string& from, const std::string& to)
{
    int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st {};
    std::string tmp;
    int out = fstat(in, &st) == 0 && S_ISREG(st.st_mode) ? create_temp(to, &tmp) : -1;
    bool ok = out >= 0 && fchmod(out, st.st_mode & 07777) == 0;
    // Block by block: a program may be far larger than the memory a copy
    // should take.
    char block[65536];
    while (ok) {
        ssize_t n = ::read(in, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = write_all(out, block, size_t(n));
    }
    ::close(in);
    if (out >= 0)
        ok = (::close(out) == 0) && ok;
    if (ok && rename(tmp.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (!tmp.empty())
        unlink(tmp.c_str());
    return false;
}

// The process id in a name create_temp made ("….tmp-<pid>-XXXXXX"), or 0.
pid_t temp_writer(const char* name)
{
    const char* tag = strstr(name, ".tmp-");
    if (!tag)
        return 0;
    // The last ".tmp-" is the one create_temp added.
    for (const char* next; (next = strstr(tag + 1, ".tmp-"));)
        tag = next;
    const char* digits = tag + 5;
    const char* end = digits;
    while (*end >= '0' && *end <= '9')
        ++end;
    if (end == digits || end - digits > 9 || *end != '-' || strlen(end + 1) != 6)
        return 0;
    for (const char* c = end + 1; *c; ++c)
        if (!isalnum(static_cast<unsigned char>(*c)))
            return 0;
    return pid_t(atol(digits));
}

} // namespace

bool may_replace(const char* path)
{
    // Nothing found: the create itself then says why it fails, if it does.
    struct stat st {};
    if (lstat(path, &st) != 0)
        return true;
    return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
}

bool remove(const char* path)
{
    struct stat st {};
    if (lstat(path, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
        return false;
    return unlink(path) == 0;
}

int open_regular(const char* path, int flags, mode_t mode)
{
    // Whatever is there is looked at before it is opened: opening a FIFO or
    // a device can block or act on the device.
    struct stat st {};
    if (lstat(path, &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            if (unlink(path) != 0)
                return -1;
        } else if (!S_ISREG(st.st_mode)) {
            errno = EINVAL;
            return -1;
        }
    }
    int base = flags | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path, base, mode);
    if (fd < 0 && errno == ELOOP) {
        // A link planted since the look: replace it.
        if (unlink(path) != 0)
            return -1;
        fd = ::open(path, base | O_EXCL, mode);
    }
    if (fd < 0)
        return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int create_temp(const std::string& path, std::string* name)
{
    std::string tmpl = path + ".tmp-" + std::to_string(getpid()) + "-XXXXXX";
    int fd = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0)
        return -1;
    // The lock tells a later cleaner that the writer still works on it.
    flock(fd, LOCK_EX | LOCK_NB);
    *name = tmpl;
    return fd;
}

int remove_stale_temps(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return 0;
    DIR* dp = fdopendir(dir);
    if (!dp) {
        ::close(dir);
        return 0;
    }
    int removed = 0;
    while (dirent* e = readdir(dp)) {
        pid_t pid = temp_writer(e->d_name);
        if (pid <= 0 || pid == getpid() || kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        int fd = openat(dir, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        // Removed while holding its lock, so a writer that is alive after
        // all (another machine's, on a shared folder) keeps its file.
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && flock(fd, LOCK_EX | LOCK_NB) == 0
            && unlinkat(dir, e->d_name, 0) == 0)
            ++removed;
        ::close(fd);
    }
    closedir(dp);
    return removed;
}

int open_read(const std::string& path, uint64_t* size)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    *size = uint64_t(st.st_size);
    return fd;
}

bool read_all(int fd, std::string* out)
{
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out->append(buf, size_t(n));
    }
}

bool read_blocks(const std::string& path, const std::function<void(std::string_view)>& fn, uint64_t* size)
{
    uint64_t ignored = 0;
    int fd = open_read(path, size ? size : &ignored);
    if (fd < 0)
        return false;
    // Not cleared first: a short file touches only the pages it fills.
    const size_t block_size = size_t(1) << 20;
    std::unique_ptr<char[]> block(new char[block_size]);
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, block.get(), block_size);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n >= 0;
        if (n <= 0)
            break;
        fn(std::string_view(block.get(), size_t(n)));
    }
    close(fd);
    return ok;
}

bool write_all(int fd, const char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool replace(const std::string& from, const std::string& to)
{
    if (!may_replace(to)) {
        errno = EEXIST;
        return false;
    }
    if (rename(from.c_str(), to.c_str()) == 0)
        return true;
    return errno == EXDEV && copy_over(from, to);
}

Fail write_file(const std::string& path, std::string_view data, mode_t mode)
{
    if (!may_replace(path)) {
        errno = EEXIST;
        return Fail::NotRegular;
    }
    std::string tmp;
    int fd = create_temp(path, &tmp);
    if (fd < 0)
        return Fail::Open;
    bool ok = fchmod(fd, mode) == 0 && write_all(fd, data.data(), data.size());
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    Fail result = Fail::None;
    if (!ok)
        result = Fail::Write;
    else if (!replace(tmp, path)) {
        err = errno;
        result = may_replace(path) ? Fail::Rename : Fail::NotRegular;
    }
    if (result != Fail::None) {
        unlink(tmp.c_str());
        errno = err;
    }
    return result;
}

Stamp stamp_of(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return {};
    return { true, st.st_dev, st.st_ino, st.st_size, int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec };
}

mode_t created_mode()
{
    // Read, not set: umask() would change it for every thread meanwhile.
    mode_t mask = 022;
    if (FILE* f = fopen("/proc/self/status", "re")) {
        char line[128];
        unsigned value = 0;
        while (fgets(line, sizeof line, f))
            if (sscanf(line, "Umask: %o", &value) == 1) {
                mask = mode_t(value);
                break;
            }
        fclose(f);
    }
    return 0666 & ~mask;
}

bool move_new(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without the flag: a hard link cannot replace anything
    // either.
    if (link(from.c_str(), to.c_str()) != 0)
        return false;
    unlink(from.c_str());
    return true;
}

} // namespace files
