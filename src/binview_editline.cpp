// The assembler field of the binary view: a caret, a selection and plain
// editing keys over one line of text.
#include "binview_editline.h"

#include "palette.h"

#include <pango/pangocairo.h>

#include <algorithm>

namespace {

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

int step_left(const std::string& s, int i)
{
    if (i <= 0)
        return 0;
    --i;
    while (i > 0 && continuation(static_cast<unsigned char>(s[size_t(i)])))
        --i;
    return i;
}

int step_right(const std::string& s, int i)
{
    int n = int(s.size());
    if (i >= n)
        return n;
    ++i;
    while (i < n && continuation(static_cast<unsigned char>(s[size_t(i)])))
        ++i;
    return i;
}

// Pixel x of byte offset i in the text, measured with the field's font.
double offset_x(cairo_t* cr, const std::string& s, int i, const gfx::Font& f)
{
    return gfx::text_width(cr, s.substr(0, size_t(i)), f);
}

} // namespace

void EditLine::set(const std::string& s)
{
    text = s;
    caret = anchor = int(text.size());
    m_scroll = 0;
}

void EditLine::erase_selection()
{
    int a = std::min(caret, anchor), b = std::max(caret, anchor);
    text.erase(size_t(a), size_t(b - a));
    caret = anchor = a;
}

void EditLine::input(const std::string& utf8)
{
    erase_selection();
    text.insert(size_t(caret), utf8);
    caret += int(utf8.size());
    anchor = caret;
}

bool EditLine::key(const SDL_Keysym& k, bool /*use_history*/)
{
    bool shift = (k.mod & KMOD_SHIFT) != 0;
    bool ctrl = (k.mod & KMOD_CTRL) != 0;
    int n = int(text.size());
    auto move = [&](int to) {
        caret = std::clamp(to, 0, n);
        if (!shift)
            anchor = caret;
    };
    switch (k.sym) {
    case SDLK_LEFT:
        if (!shift && caret != anchor)
            move(std::min(caret, anchor));
        else
            move(step_left(text, caret));
        return true;
    case SDLK_RIGHT:
        if (!shift && caret != anchor)
            move(std::max(caret, anchor));
        else
            move(step_right(text, caret));
        return true;
    case SDLK_HOME:
        move(0);
        return true;
    case SDLK_END:
        move(n);
        return true;
    case SDLK_BACKSPACE:
        if (caret == anchor)
            anchor = step_left(text, caret);
        erase_selection();
        return true;
    case SDLK_DELETE:
        if (caret == anchor)
            anchor = step_right(text, caret);
        erase_selection();
        return true;
    case SDLK_a:
        if (!ctrl)
            return false;
        anchor = 0;
        caret = n;
        return true;
    default:
        return false;
    }
}

void EditLine::click(double x, const std::string& /*placeholder*/)
{
    // Measured without a drawing surface: a small scratch one is enough.
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(s);
    gfx::Font f { m_size, false, mono };
    double want = x - m_x + m_scroll;
    int best = 0;
    double best_d = 1e300;
    for (int i = 0;; i = step_right(text, i)) {
        double d = std::abs(offset_x(cr, text, i, f) - want);
        if (d < best_d) {
            best_d = d;
            best = i;
        }
        if (i >= int(text.size()))
            break;
    }
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    caret = anchor = best;
}

void EditLine::paint(cairo_t* cr, double x, double y, double w, double h, const Palette& pal, double font_size,
                     bool focused, bool caret_on, const std::string& placeholder, const Rgba* colour)
{
    gfx::Font f { font_size, false, mono };
    m_size = font_size;
    m_x = x;
    double lh = gfx::line_height(cr, f);
    double ty = y + (h - lh) / 2;
    double cx = offset_x(cr, text, caret, f);
    // Keep the caret inside the box.
    if (cx - m_scroll > w - 2)
        m_scroll = cx - w + 2;
    if (cx - m_scroll < 0)
        m_scroll = cx;
    cairo_save(cr);
    cairo_rectangle(cr, x, y, w, h);
    cairo_clip(cr);
    if (caret != anchor) {
        double a = offset_x(cr, text, std::min(caret, anchor), f) - m_scroll;
        double b = offset_x(cr, text, std::max(caret, anchor), f) - m_scroll;
        gfx::fill_rect(cr, x + a, ty, b - a, lh, focused ? pal.select : pal.select_dim);
    }
    if (text.empty() && !placeholder.empty())
        gfx::text(cr, placeholder, x, ty, pal.faint, f);
    else
        gfx::text(cr, text, x - m_scroll, ty, colour ? *colour : pal.text, f);
    if (focused && caret_on)
        gfx::fill_rect(cr, x + cx - m_scroll, ty, 1.5, lh, pal.caret);
    cairo_restore(cr);
}
