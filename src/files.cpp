#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

} // namespace

int open_regular(const std::string& path, int flags, mode_t mode)
{
    // Whatever is there is looked at before it is opened: opening a FIFO or
    // a device can block or act on the device.
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            if (unlink(path.c_str()) != 0)
                return -1;
        } else if (!S_ISREG(st.st_mode)) {
            errno = EINVAL;
            return -1;
        }
    }
    int base = flags | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path.c_str(), base, mode);
    if (fd < 0 && errno == ELOOP) {
        // A link planted since the look: replace it.
        if (unlink(path.c_str()) != 0)
            return -1;
        fd = ::open(path.c_str(), base | O_EXCL, mode);
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
    std::string tmpl = path + ".tmp-XXXXXX";
    int fd = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd >= 0)
        *name = tmpl;
    return fd;
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
    if (rename(from.c_str(), to.c_str()) == 0)
        return true;
    return errno == EXDEV && copy_over(from, to);
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
