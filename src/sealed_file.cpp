#include "sealed_file.h"

#include "files.h"
#include "logger.h"
#include "save_crypt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace sealed {

namespace {

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

// Every broken file is kept: the first under the plain ".manipuliert" name,
// later ones numbered, so a second break never overwrites the first copy.
std::string move_aside(const std::string& path)
{
    constexpr int kMaxCopies = 100;
    std::string base = path + ".manipuliert";
    for (int n = 1; n < kMaxCopies; ++n) {
        std::string aside = n == 1 ? base : base + "." + std::to_string(n);
        if (files::move_new(path, aside))
            return aside;
        if (errno != EEXIST)
            break;
    }
    // Out of numbers (or a file system that cannot say): the last one goes.
    std::string last = base + "." + std::to_string(kMaxCopies);
    files::replace(path, last);
    return last;
}

} // namespace

bool write(const std::string& path, const std::string& plain)
{
    std::string data = crypto::encrypt(plain);
    if (data.empty())
        return false;

    // A fresh name for every write: two writers never share a temporary
    // file, and a link planted at a fixed name is never written through.
    std::string tmp;
    int fd = files::create_temp(path, &tmp);
    if (fd < 0)
        return false;
    // Every step is checked: a short write, a failed sync or close on a full
    // disk must never let a truncated file replace the good one.
    bool ok = files::write_all(fd, data.data(), data.size());
    ok = ok && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || !files::replace(tmp, path)) {
        unlink(tmp.c_str());
        return false;
    }
    sync_dir(parent_dir(path));
    return true;
}

Result read(const std::string& path, std::string* plain)
{
    plain->clear();
    // Only a regular file is read: a FIFO planted at the name would block.
    uint64_t size = 0;
    int fd = files::open_read(path, &size);
    if (fd < 0)
        return Result::Missing;
    std::string data;
    bool ok = files::read_all(fd, &data);
    ::close(fd);
    // A file that cannot be read (a directory, for one) counts as missing.
    if (!ok || data.empty())
        return Result::Missing;

    if (crypto::decrypt(data, plain) == crypto::ReadResult::Ok)
        return Result::Ok;

    std::string aside = move_aside(path);
    logger::warn("seal broken, moved aside: " + aside);
    plain->clear();
    return Result::Tampered;
}

} // namespace sealed
