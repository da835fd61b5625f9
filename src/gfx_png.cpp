// PNG output of a drawn surface (the icon, later the window's picture).
#include "gfx.h"

#include "files.h"

#include <cerrno>
#include <cstring>

namespace gfx {

namespace {

cairo_status_t append(void* closure, const unsigned char* bytes, unsigned int n)
{
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(bytes), n);
    return CAIRO_STATUS_SUCCESS;
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

    // A fresh temporary file renamed over the name: a link there is
    // replaced, never written through, and a device or FIFO is left alone.
    files::Fail f = files::write_file(path, data, files::created_mode());
    if (f == files::Fail::None)
        return true;
    return fail(f == files::Fail::NotRegular ? files::kNotRegular : strerror(errno));
}

} // namespace gfx
