// The caret's blink without a whole frame on screen. An idle window only
// blinks, and with a software OpenGL (Xvfb, virtual machines) drawing the
// frame's texture over the whole window costs several times what painting
// the frame does. So the frame is painted whole, as always, into the other
// of two image surfaces (a clip would round the edges of the shapes it cuts
// differently); the box of the pixels that differ from the frame on screen
// is all that goes up into the texture, and all that is drawn over the
// renderer's back buffer when that buffer still holds the last frame.
#include "app.h"

#include <algorithm>
#include <cstring>

namespace {

// The box of the pixels in which two surfaces of one size differ; false
// when they are the same.
bool changed_box(cairo_surface_t* a, cairo_surface_t* b, SDL_Rect* r)
{
    int w = cairo_image_surface_get_width(a), h = cairo_image_surface_get_height(a);
    int stride = cairo_image_surface_get_stride(a);
    const uint8_t* pa = cairo_image_surface_get_data(a);
    const uint8_t* pb = cairo_image_surface_get_data(b);
    int top = -1, bottom = -1, left = w, right = -1;
    for (int y = 0; y < h; ++y) {
        const auto* ra = reinterpret_cast<const uint32_t*>(pa + size_t(y) * size_t(stride));
        const auto* rb = reinterpret_cast<const uint32_t*>(pb + size_t(y) * size_t(stride));
        if (memcmp(ra, rb, size_t(w) * 4) == 0)
            continue;
        if (top < 0)
            top = y;
        bottom = y;
        int x0 = 0;
        while (ra[x0] == rb[x0])
            ++x0;
        int x1 = w - 1;
        while (ra[x1] == rb[x1])
            --x1;
        left = std::min(left, x0);
        right = std::max(right, x1);
    }
    if (top < 0)
        return false;
    *r = SDL_Rect{ left, top, right - left + 1, bottom - top + 1 };
    return true;
}

} // namespace

bool App::back_buffer_holds(const SDL_Rect& r, cairo_surface_t* shown)
{
    // The renderer promises nothing about its back buffer after a present.
    // Where it still holds the last frame the changed box reads back as that
    // frame showed it; a buffer of an earlier frame differs there, since
    // each blink turned the caret.
    std::vector<uint32_t> back(size_t(r.w) * size_t(r.h));
    if (SDL_RenderReadPixels(m_ren, &r, SDL_PIXELFORMAT_ARGB8888, back.data(), r.w * 4) != 0)
        return false;
    const uint8_t* data = cairo_image_surface_get_data(shown);
    int stride = cairo_image_surface_get_stride(shown);
    for (int y = 0; y < r.h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + size_t(r.y + y) * size_t(stride)) + r.x;
        for (int x = 0; x < r.w; ++x)
            if ((back[size_t(y) * size_t(r.w) + size_t(x)] ^ row[x]) & 0x00FFFFFF)
                return false;
    }
    return true;
}

void App::paint_blink()
{
    m_blink = false;
    int pw = m_pw, ph = m_ph;
    if (m_ren)
        SDL_GetRendererOutputSize(m_ren, &pw, &ph);
    if (!m_surf || pw != m_pw || ph != m_ph || (m_ren && !m_tex)) {
        paint();
        return;
    }
    cairo_surface_t* spare = m_spare.get();
    if (!spare || cairo_image_surface_get_width(spare) != pw || cairo_image_surface_get_height(spare) != ph) {
        m_spare.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph));
        spare = m_spare.get();
        if (cairo_surface_status(spare) != CAIRO_STATUS_SUCCESS) {
            m_spare.reset();
            paint();
            return;
        }
    }
    // The frame on screen becomes the spare; the new one is painted into
    // the other surface.
    cairo_surface_t* shown = m_surf;
    m_surf = m_spare.release();
    m_spare.reset(shown);
    if (!paint_surface())
        return;
    SDL_Rect r{};
    bool changed = changed_box(m_surf, shown, &r);
    m_blink_box = changed ? r : SDL_Rect{};
    if (!m_tex || !changed)
        return;
    const uint8_t* data = cairo_image_surface_get_data(m_surf);
    int stride = cairo_image_surface_get_stride(m_surf);
    SDL_UpdateTexture(m_tex, &r, data + size_t(r.y) * size_t(stride) + size_t(r.x) * 4, stride);
    if (back_buffer_holds(r, shown)) {
        SDL_RenderCopy(m_ren, m_tex, &r, &r);
        ++m_blink_frames[0];
    } else {
        SDL_RenderClear(m_ren);
        SDL_RenderCopy(m_ren, m_tex, nullptr, nullptr);
        ++m_blink_frames[1];
    }
    SDL_RenderPresent(m_ren);
}
