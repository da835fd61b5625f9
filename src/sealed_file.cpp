#include "sealed_file.h"

#include "logger.h"
#include "save_crypt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace sealed {

namespace {

bool write_all(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
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

std::string parent_dir(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the rename itself durable; a failure here no longer endangers the
// old or the new content, so it is not reported.
void sync_dir(const std::string& dir)
{
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool write(const std::string& path, const std::string& plain)
{
    std::string tmp = path + ".tmp";
    std::string data = crypto::encrypt(plain);
    if (data.empty())
        return false;

    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    // Every step is checked: a short write, a failed sync or close on a full
    // disk must never let a truncated file replace the good one.
    bool ok = write_all(fd, data);
    ok = ok && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    sync_dir(parent_dir(path));
    return true;
}

Result read(const std::string& path, std::string* plain)
{
    plain->clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Result::Missing;
    std::string data;
    bool ok = read_all(fd, &data);
    ::close(fd);
    // A file that cannot be read (a directory, for one) counts as missing.
    if (!ok || data.empty())
        return Result::Missing;

    if (crypto::decrypt(data, plain) == crypto::ReadResult::Ok)
        return Result::Ok;

    std::string aside = path + ".manipuliert";
    rename(path.c_str(), aside.c_str());
    logger::warn("seal broken, moved aside: " + aside);
    plain->clear();
    return Result::Tampered;
}

} // namespace sealed
