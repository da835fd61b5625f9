// The caret's blink without a whole frame on screen. An idle window only
// blinks, and with a software OpenGL (Xvfb, virtual machines) drawing the
// frame's texture over the whole window costs several times what painting
// the frame does. So the frame is painted whole into the image surface as
// always (the pixels are those of any full paint; a clip would round the
// edges of shapes it cuts differently), but only the caret's box goes up
// into the texture, and only that box is drawn over the renderer's back
// buffer when that buffer still holds the last frame.
#include "app.h"

#include <algorithm>
#include <cmath>

bool App::blink_rect(SDL_Rect* r) const
{
    // Only the source editor's caret has a box known from the last paint;
    // the find fields blink with whole frames.
    if (m_focus != Focus::Editor || is_placeholder(m_s) || m_s->bin || m_settings.main_tab != 0)
        return false;
    const Editor& ed = m_s->ed;
    // The caret is 2 pixels wide at its x; a margin on both sides covers
    // the antialiased edges of a fractional position.
    double x0 = (ed.caret_x() - 2) * m_k, y0 = ed.caret_y() * m_k;
    double x1 = (ed.caret_x() + 4) * m_k, y1 = (ed.caret_y() + ed.line_h()) * m_k;
    int ax = std::max(0, int(std::floor(x0))), ay = std::max(0, int(std::floor(y0)));
    int bx = std::min(m_pw, int(std::ceil(x1))), by = std::min(m_ph, int(std::ceil(y1)));
    if (bx <= ax || by <= ay)
        return false;
    *r = SDL_Rect{ ax, ay, bx - ax, by - ay };
    return true;
}

bool App::back_buffer_holds(const SDL_Rect& r, const std::vector<uint32_t>& shown)
{
    // The renderer promises nothing about its back buffer after a present.
    // Where it still holds the last frame the caret's box reads back as the
    // frame showed it; a buffer of an earlier frame differs there, since
    // every blink turned the caret.
    std::vector<uint32_t> back(size_t(r.w) * size_t(r.h));
    if (SDL_RenderReadPixels(m_ren, &r, SDL_PIXELFORMAT_ARGB8888, back.data(), r.w * 4) != 0)
        return false;
    for (size_t i = 0; i < back.size(); ++i)
        if ((back[i] ^ shown[i]) & 0x00FFFFFF)
            return false;
    return true;
}

void App::paint_blink()
{
    m_blink = false;
    int pw = m_pw, ph = m_ph;
    if (m_ren)
        SDL_GetRendererOutputSize(m_ren, &pw, &ph);
    SDL_Rect r{};
    if (!m_surf || pw != m_pw || ph != m_ph || (m_ren && !m_tex) || !blink_rect(&r)) {
        paint();
        return;
    }
    // What the last frame shows in the box, to know the back buffer by.
    const uint8_t* data = cairo_image_surface_get_data(m_surf);
    int stride = cairo_image_surface_get_stride(m_surf);
    std::vector<uint32_t> shown(size_t(r.w) * size_t(r.h));
    if (m_ren) {
        for (int y = 0; y < r.h; ++y)
            std::copy_n(reinterpret_cast<const uint32_t*>(data + size_t(r.y + y) * size_t(stride)) + r.x, r.w,
                        shown.data() + size_t(y) * size_t(r.w));
    }
    if (!paint_surface() || !m_tex)
        return;
    data = cairo_image_surface_get_data(m_surf);
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
