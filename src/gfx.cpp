#include "gfx.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

Rgba hex(const std::string& rrggbb, double alpha)
{
    const char* s = rrggbb.c_str();
    if (*s == '#')
        ++s;
    unsigned long v = strtoul(s, nullptr, 16);
    return { double((v >> 16) & 0xff) / 255.0, double((v >> 8) & 0xff) / 255.0, double(v & 0xff) / 255.0, alpha };
}

namespace gfx {

void set(cairo_t* cr, const Rgba& c)
{
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

void fill_rect(cairo_t* cr, double x, double y, double w, double h, const Rgba& c)
{
    set(cr, c);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

// Whole-pixel rows and columns: a line between two pixel rows would be
// smeared over both at half strength.
void hline(cairo_t* cr, double x, double y, double w, const Rgba& c)
{
    fill_rect(cr, x, std::floor(y), w, 1, c);
}

void vline(cairo_t* cr, double x, double y, double h, const Rgba& c)
{
    fill_rect(cr, std::floor(x), y, 1, h, c);
}

void rounded(cairo_t* cr, double x, double y, double w, double h, double radius)
{
    double r = std::max(0.0, std::min(std::min(w, h) / 2, radius));
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

} // namespace gfx
