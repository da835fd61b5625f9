// "--render-icon <size> <file.png>": the logo as an RGBA picture.
#include "cli.h"
#include "con.h"
#include "disjob.h"
#include "gfx.h"

#include <malloc.h>

#include <string>

namespace {

// Address space the text drawing takes besides the picture: fontconfig's
// caches and the stacks of Pango's font threads.
constexpr uint64_t kIconFixedBytes = uint64_t(48) << 20;

} // namespace

int render_icon(int size, const char* path)
{
    // Beyond this the surface alone would take hundreds of megabytes; no
    // desktop asks for an icon that large.
    if (size < 1 || size > kMaxIconSize) {
        con::printf("icon size must be 1 to %d, not %d\n", kMaxIconSize, size);
        return 1;
    }
    // GLib ends the process when it cannot allocate or start a font
    // thread, so the room is looked at before: the picture, its PNG copy and
    // what the text drawing takes. Pango's threads share the one heap: an
    // own heap each would reserve 64 MiB of address space apiece.
    mallopt(M_ARENA_MAX, 1);
    const uint64_t need = uint64_t(size) * uint64_t(size) * 4 * 2 + kIconFixedBytes;
    const uint64_t free = DisJob::memory_available();
    cairo_surface_t* surface =
        free && need > free ? nullptr : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    if (!surface || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        if (surface)
            cairo_surface_destroy(surface);
        con::printf("cannot write %s (memory)\n", con::printable(path).c_str());
        return 1;
    }
    cairo_t* cr = cairo_create(surface);
    gfx::app_logo(cr, size * 0.5, size * 0.5, size * 0.46);
    cairo_destroy(cr);
    std::string why;
    bool ok = gfx::write_png(surface, path, &why);
    cairo_surface_destroy(surface);
    if (!ok) {
        con::printf("cannot write %s (%s)\n", con::printable(path).c_str(), why.c_str());
        return 1;
    }
    return 0;
}
