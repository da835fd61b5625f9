#pragma once
// An opaque ARGB32 image to paint widgets into, with pixel reads and the
// colour a translucent fill leaves over a known background.
#include "gfx.h"

#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace testpaint {

struct Canvas {
    cairo_surface_t* surface;
    cairo_t* cr;
    int w, h;

    Canvas(int width, int height)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height))
        , cr(cairo_create(surface))
        , w(width)
        , h(height)
    {
    }
    ~Canvas()
    {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // The pixel as an opaque colour (painted widgets cover their rectangle).
    Rgba at(int x, int y) const
    {
        cairo_surface_flush(surface);
        const auto* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        const uint32_t p = reinterpret_cast<const uint32_t*>(row)[x];
        const double a = double(p >> 24) / 255;
        if (a == 0)
            return { 0, 0, 0, 0 };
        return { double((p >> 16) & 0xff) / 255 / a, double((p >> 8) & 0xff) / 255 / a, double(p & 0xff) / 255 / a,
                 a };
    }
    // Whether the pixel is colour c within tol / 255 per channel.
    bool near(int x, int y, const Rgba& c, int tol = 4) const
    {
        const Rgba p = at(x, y);
        auto d = [](double u, double v) { return std::abs(std::lround(u * 255) - std::lround(v * 255)); };
        return p.a > 0.99 && d(p.r, c.r) <= tol && d(p.g, c.g) <= tol && d(p.b, c.b) <= tol;
    }
    std::string describe(int x, int y) const
    {
        const Rgba p = at(x, y);
        char buf[64];
        snprintf(buf, sizeof buf, "(%d,%d)=%ld,%ld,%ld a%.2f", x, y, std::lround(p.r * 255), std::lround(p.g * 255),
                 std::lround(p.b * 255), p.a);
        return buf;
    }
};

// The colour a fill of c (with its alpha) leaves over an opaque background.
inline Rgba over(const Rgba& c, const Rgba& bg)
{
    return { c.r * c.a + bg.r * (1 - c.a), c.g * c.a + bg.g * (1 - c.a), c.b * c.a + bg.b * (1 - c.a), 1 };
}

} // namespace testpaint
