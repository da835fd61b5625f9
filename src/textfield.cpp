// Single-line text field: editing keys, history, clipboard, clicks, paint.
#include "textfield.h"

#include "editor_chars.h"
#include "editor_measure.h"
#include "gfx.h"
#include "palette.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr size_t kHistoryLimit = 200;

using edchars::utf8_cont;

int char_right(const std::string& s, int c)
{
    const int n = int(s.size());
    if (c >= n)
        return n;
    ++c;
    while (c < n && utf8_cont((unsigned char)s[size_t(c)]))
        ++c;
    return c;
}

int char_left(const std::string& s, int c)
{
    if (c <= 0)
        return 0;
    --c;
    while (c > 0 && utf8_cont((unsigned char)s[size_t(c)]))
        --c;
    return c;
}

void erase_selection(TextField& f)
{
    const int a = std::min(f.caret, f.anchor);
    const int b = std::max(f.caret, f.anchor);
    f.text.erase(size_t(a), size_t(b - a));
    f.caret = f.anchor = a;
}

void recall(TextField& f, const std::string& s)
{
    f.text = s;
    f.caret = f.anchor = int(s.size());
    f.scroll = 0;
}

void copy_selection(const TextField& f)
{
    const int a = std::min(f.caret, f.anchor);
    const int b = std::max(f.caret, f.anchor);
    SDL_SetClipboardText(f.text.substr(size_t(a), size_t(b - a)).c_str());
}

double x_in(PangoLayout* l, int index) { return edmeasure::layout_x(l, index); }

} // namespace

void TextField::set(const std::string& s)
{
    text = s;
    caret = anchor = int(s.size());
    scroll = 0;
}

void TextField::select_all()
{
    anchor = 0;
    caret = int(text.size());
}

void TextField::input(const char* utf8)
{
    if (!utf8)
        return;
    if (has_sel())
        erase_selection(*this);
    const std::string add(utf8);
    text.insert(size_t(caret), add);
    caret = anchor = caret + int(add.size());
}

bool TextField::key(const SDL_Keysym& k, bool use_history)
{
    const bool shift = k.mod & KMOD_SHIFT;
    const bool ctrl = k.mod & KMOD_CTRL;
    const int n = int(text.size());
    switch (k.sym) {
    case SDLK_BACKSPACE:
        if (has_sel()) {
            erase_selection(*this);
        } else if (caret > 0) {
            const int a = char_left(text, caret);
            text.erase(size_t(a), size_t(caret - a));
            caret = anchor = a;
        }
        return true;
    case SDLK_DELETE:
        if (has_sel()) {
            erase_selection(*this);
        } else if (caret < n) {
            text.erase(size_t(caret), size_t(char_right(text, caret) - caret));
            anchor = caret;
        }
        return true;
    case SDLK_HOME:
    case SDLK_END:
        caret = k.sym == SDLK_HOME ? 0 : n;
        if (!shift)
            anchor = caret;
        return true;
    case SDLK_RIGHT:
        caret = ctrl ? n : char_right(text, caret);
        if (!shift)
            anchor = caret;
        return true;
    case SDLK_LEFT:
        caret = ctrl ? 0 : char_left(text, caret);
        if (!shift)
            anchor = caret;
        return true;
    case SDLK_DOWN:
        if (!use_history || hist_pos < 0)
            return false;
        if (hist_pos + 1 < int(history.size())) {
            ++hist_pos;
            recall(*this, history[size_t(hist_pos)]);
        } else {
            hist_pos = -1;
            recall(*this, {});
        }
        return true;
    case SDLK_UP:
        if (!use_history || history.empty())
            return false;
        hist_pos = hist_pos < 0 ? int(history.size()) - 1 : std::max(hist_pos - 1, 0);
        recall(*this, history[size_t(hist_pos)]);
        return true;
    default: break;
    }
    if (!ctrl)
        return false;
    switch (k.sym) {
    case SDLK_a: select_all(); return true;
    case SDLK_c:
        if (has_sel())
            copy_selection(*this);
        return true;
    case SDLK_x:
        if (has_sel()) {
            copy_selection(*this);
            erase_selection(*this);
        }
        return true;
    case SDLK_v: {
        char* clip = SDL_GetClipboardText();
        std::string t = clip ? clip : "";
        SDL_free(clip);
        if (t.empty())
            return true;
        t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return c == '\r' || c == '\n'; }), t.end());
        input(t.c_str());
        return true;
    }
    default: return false;
    }
}

void TextField::push_history()
{
    if (!text.empty() && (history.empty() || history.back() != text)) {
        history.push_back(text);
        if (history.size() > kHistoryLimit)
            history.erase(history.begin());
    }
    hist_pos = -1;
}

void TextField::click(double x, const std::string&)
{
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 2, 2);
    cairo_t* cr = cairo_create(s);
    PangoLayout* l = gfx::make_layout(cr, text, gfx::Font { m_font, false, mono });
    caret = anchor = edmeasure::layout_index(l, text, std::max(x - m_tx, 0.0));
    g_object_unref(l);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
}

void TextField::paint(cairo_t* cr, double x, double y, double w, double h, const Palette& p, double font,
                      bool focus, bool caret_on, const std::string& prefix, const Rgba* prefix_color)
{
    m_font = font;
    const gfx::Font f { font, false, mono };
    const double lh = gfx::line_height(cr, f);
    // Whole pixels, so the text, the selection and the caret stay crisp.
    const double ty = std::round(y + (h - lh) / 2);
    // Nothing leaves the rectangle, not even a prefix wider than the field.
    cairo_save(cr);
    cairo_rectangle(cr, x, y, std::max(w, 0.0), std::max(h, 0.0));
    cairo_clip(cr);
    double ax = x;
    if (!prefix.empty())
        ax += gfx::text(cr, prefix, x, ty, prefix_color ? *prefix_color : p.dim, f);
    cairo_rectangle(cr, ax, y, std::max(x + w - ax, 0.0), h);
    cairo_clip(cr);

    PangoLayout* l = gfx::make_layout(cr, text, f);
    const double cx = x_in(l, caret);
    const double aw = x + w - ax;
    if (cx - scroll > aw - 4)
        scroll = cx - (aw - 4);
    if (cx < scroll)
        scroll = std::max(cx - 20, 0.0);
    m_tx = ax - scroll;
    if (has_sel()) {
        const double a = x_in(l, anchor);
        gfx::fill_rect(cr, m_tx + std::min(a, cx), ty, std::fabs(a - cx), lh, focus ? p.select : p.select_dim);
    }
    gfx::set(cr, p.text);
    cairo_move_to(cr, m_tx, ty);
    pango_cairo_show_layout(cr, l);
    g_object_unref(l);
    if (focus && caret_on)
        gfx::fill_rect(cr, m_tx + cx, ty, 1.6, lh, p.caret);
    cairo_restore(cr);
}
