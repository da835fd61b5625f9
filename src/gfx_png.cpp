// PNG output of a drawn surface (the icon, later the window's picture).
#include "gfx.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace gfx {

namespace {

cairo_status_t append(void* closure, const unsigned char* bytes, unsigned int n)
{
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(bytes), n);
    return CAIRO_STATUS_SUCCESS;
}

bool write_all(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t w = ::write(fd, data.data() + done, data.size() - done);
        if (w <= 0)
            return false;
        done += size_t(w);
    }
    return true;
}

} // namespace

bool write_png(cairo_surface_t* surface, const std::string& path, std::string* why)
{
    auto fail = [why](const char* reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        return fail(cairo_status_to_string(cairo_surface_status(surface)));
    std::string data;
    cairo_status_t st = cairo_surface_write_to_png_stream(surface, append, &data);
    if (st != CAIRO_STATUS_SUCCESS)
        return fail(cairo_status_to_string(st));

    // A stale file or a link planted under the temporary name is removed,
    // never written through; O_EXCL refuses one that reappears meanwhile.
    std::string tmp = path + ".tmp";
    ::unlink(tmp.c_str());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(strerror(errno));
    bool ok = write_all(fd, data);
    int err = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) == 0)
        return true;
    err = ok ? errno : err;
    ::unlink(tmp.c_str());
    return fail(err ? strerror(err) : "short write");
}

} // namespace gfx
