// "--render-icon <size> <file.png>": the logo as an RGBA picture.
#include "cli.h"
#include "con.h"
#include "gfx.h"

#include <string>

int render_icon(int size, const char* path)
{
    // Beyond this the surface alone would take hundreds of megabytes; no
    // desktop asks for an icon that large.
    if (size < 1 || size > kMaxIconSize) {
        con::printf("icon size must be 1 to %d, not %d\n", kMaxIconSize, size);
        return 1;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(surface);
    gfx::app_logo(cr, size * 0.5, size * 0.5, size * 0.46);
    cairo_destroy(cr);
    std::string why;
    bool ok = gfx::write_png(surface, path, &why);
    cairo_surface_destroy(surface);
    if (!ok) {
        con::printf("cannot write %s (%s)\n", path, why.c_str());
        return 1;
    }
    return 0;
}
