// One frame: the surface and texture, the layout of the window, the hit
// list, the tooltip and the small drawing routines every painter shares.
#include "app.h"

#include "l10n.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

namespace {

const gfx::Font kButtonFont{ 13, false, false };

// Languages with a proportional interface family draw non-ASCII text in it
// even where monospace was asked for.
gfx::Font text_font(const std::string& s, gfx::Font f)
{
    if (std::string(L10n::uiFontFamily()) != "monospace")
        for (unsigned char c : s)
            if (c >= 0x80) {
                f.mono = false;
                break;
            }
    return f;
}

void replace_all(std::string& s, const std::string& from, const std::string& to)
{
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

// Key names in the user's language, for tooltips and menu shortcuts.
std::string keys(std::string s)
{
    replace_all(s, "Ctrl+", L10n::tr("key.ctrl") + "+");
    replace_all(s, "Shift+", L10n::tr("key.shift") + "+");
    return s;
}

} // namespace

std::string key_names(std::string s)
{
    return keys(std::move(s));
}

double button_width(cairo_t* cr, const std::string& label)
{
    return gfx::text_width(cr, label, kButtonFont) + 16;
}

void App::hit(double x, double y, double w, double h, const std::string& id, int n, const std::string& tip)
{
    m_hits.push_back(Hit{ x, y, w, h, id, n, tip });
}

void App::paint()
{
    m_dirty = false;
    m_blink = false;
    if (!paint_surface())
        return;
    ++m_frames;
    if (m_tex) {
        SDL_UpdateTexture(m_tex, nullptr, cairo_image_surface_get_data(m_surf), cairo_image_surface_get_stride(m_surf));
        SDL_RenderClear(m_ren);
        SDL_RenderCopy(m_ren, m_tex, nullptr, nullptr);
        SDL_RenderPresent(m_ren);
    }
}

bool App::paint_surface()
{
    int pw = 0, ph = 0;
    if (m_ren)
        SDL_GetRendererOutputSize(m_ren, &pw, &ph);
    else {
        // Without a renderer (tests, benchmarks) the surface is the window.
        pw = int(std::lround(m_ww * m_k));
        ph = int(std::lround(m_wh * m_k));
    }
    if (pw < 1 || ph < 1)
        return false;
    if (!m_surf || pw != m_pw || ph != m_ph) {
        if (m_tex)
            SDL_DestroyTexture(m_tex);
        m_tex = nullptr;
        if (m_surf)
            cairo_surface_destroy(m_surf);
        m_surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
        m_pw = pw;
        m_ph = ph;
    }
    // A texture that failed before is asked for again on every frame.
    if (!m_tex && m_ren) {
        m_tex = SDL_CreateTexture(m_ren, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, pw, ph);
        if (m_tex)
            SDL_SetTextureBlendMode(m_tex, SDL_BLENDMODE_NONE);
    }
    cairo_surface_set_device_scale(m_surf, m_k, m_k);
    cairo_t* cr = cairo_create(m_surf);
    paint_all(cr, m_ww, m_wh);
    cairo_destroy(cr);
    cairo_surface_flush(m_surf);
    return true;
}

void App::paint_all(cairo_t* cr, double W, double H)
{
    m_hits.clear();
    gfx::fill_rect(cr, 0, 0, W, H, m_pal.bg);
    paint_menubar(cr, W);
    paint_toolbar(cr, 28, W);

    double sy = H - 24;
    if (m_settings.show_bottom) {
        double bh = std::clamp(std::round(H * m_settings.bottom_frac), 90.0, std::max(90.0, H - 254));
        m_bottom_h = bh;
        m_bottom_y = sy - bh;
    } else {
        m_bottom_h = 0;
        m_bottom_y = sy;
    }
    if (m_settings.right_frac <= 0)
        m_settings.right_frac = std::clamp(W > 1 ? m_settings.right_w / W : m_settings.right_w, 0.12, 0.4);
    double sw = 0;
    if (m_settings.show_side)
        sw = std::clamp(std::round(m_settings.right_frac * W), 220.0, std::max(220.0, 0.6 * W));
    double dx = 0, dw = W;
    if (sw > 0) {
        dw = W - sw - 1;
        if (m_settings.side_left) {
            m_right_x = 0;
            dx = sw + 1;
        } else {
            m_right_x = W - sw;
        }
    } else {
        m_right_x = m_settings.side_left ? 0 : W;
    }

    m_main_x = dx;
    m_main_w = dw;
    m_main_y = 70;
    m_main_h = m_bottom_y - 70 - 1;
    paint_tabs(cr, dx, 70, dw);
    double cy = 102, ch = m_main_h - 32;
    Doc* d = shown_doc();
    if (is_placeholder(d)) {
        paint_welcome(cr, dx, cy, dw, std::max(0.0, ch));
    } else if (!d->bin) {
        if (m_find_open) {
            double fh = paint_find(cr, dx, cy, dw);
            cy += fh;
            ch -= fh;
        }
        bool focus = m_focus == Focus::Editor && m_modal == Modal::None;
        d->ed.paint(cr, dx, cy, dw, std::max(0.0, ch), m_pal, m_settings.font, focus, m_caret_on);
        hit(dx, cy, dw, std::max(0.0, ch), "editor", 0, "");
    } else {
        paint_binary(cr, d, dx, cy, dw, std::max(0.0, ch));
    }

    if (sw > 0) {
        double sx = m_settings.side_left ? sw : m_right_x - 1;
        if (m_hover == "split_right#0" || m_drag == Drag::Right) {
            Rgba a = m_pal.accent;
            a.a *= 0.6;
            gfx::fill_rect(cr, sx - 1, 70, 3, m_bottom_y - 70, a);
        } else {
            gfx::vline(cr, sx, 70, m_bottom_y - 70, m_pal.border);
        }
        gfx::fill_rect(cr, m_settings.side_left ? 0 : m_right_x, 70, sw, m_bottom_y - 70, m_pal.panel);
        paint_right(cr, m_settings.side_left ? 0 : m_right_x, 70, sw, m_bottom_y - 70);
        hit(sx - 5, 70, 10, m_bottom_y - 70, "split_right", 0, "");
    }
    if (m_bottom_h > 0) {
        if (m_hover == "split_bottom#0" || m_drag == Drag::Bottom) {
            Rgba a = m_pal.accent;
            a.a *= 0.6;
            gfx::fill_rect(cr, 0, m_bottom_y - 2, W, 3, a);
        } else {
            gfx::hline(cr, 0, m_bottom_y - 1, W, m_pal.border);
        }
        paint_bottom(cr, 0, m_bottom_y, W, m_bottom_h);
        hit(0, m_bottom_y - 5, W, 10, "split_bottom", 0, "");
    }
    paint_status(cr, sy, W);
    if (!m_ac.empty() && m_modal == Modal::None && m_menu < 0 && m_settings.main_tab == 0)
        paint_completion(cr);
    if (m_menu >= 0)
        paint_menu(cr);
    paint_modal(cr, W, H);
    // A tip belongs to the hit it was taken from: once a dialog covers it,
    // or the pane under a resting pointer has scrolled, it goes. Last, above
    // a dialog's frame too, so the tips of a dialog's own hits show.
    if (!m_tip.empty() && !tip_target_under_pointer()) {
        m_tip.clear();
        m_hover.clear();
    }
    if (!m_tip.empty() && m_menu < 0)
        paint_tooltip(cr, W, H);
}

bool App::tip_target_under_pointer() const
{
    const Hit* h = hit_at(m_mx, m_my);
    if (!h)
        return false;
    // The hover key is the hit's id and index, and for the editor and the
    // binary view the word or row it tells about.
    std::string key = h->id + "#" + std::to_string(h->n);
    return m_hover.compare(0, key.size(), key) == 0 && (m_hover.size() == key.size() || m_hover[key.size()] == ':');
}

void App::paint_tooltip(cairo_t* cr, double W, double H)
{
    std::vector<std::string> raw;
    std::string tip = keys(m_tip);
    for (size_t at = 0;;) {
        size_t nl = tip.find('\n', at);
        raw.push_back(tip.substr(at, nl == std::string::npos ? std::string::npos : nl - at));
        if (nl == std::string::npos)
            break;
        at = nl + 1;
    }
    gfx::Font f{ 12, false, raw.size() > 1 };
    double mw = std::clamp(W - 24, 120.0, 760.0);
    std::vector<std::string> lines;
    double widest = 0;
    auto emit = [&](const std::string& s) {
        lines.push_back(s);
        widest = std::max(widest, gfx::text_width(cr, s, text_font(s, f)));
    };
    for (const std::string& line : raw) {
        if (gfx::text_width(cr, line, text_font(line, f)) <= mw) {
            emit(line);
            continue;
        }
        size_t indent = line.find_first_not_of(' ');
        if (indent == std::string::npos)
            indent = line.size();
        std::vector<std::string> words;
        for (size_t i = indent; i < line.size();) {
            size_t next = line.find(' ', i + 1);
            words.push_back(line.substr(i, next == std::string::npos ? std::string::npos : next - i));
            i = next == std::string::npos ? line.size() : next;
        }
        std::string cur = line.substr(0, indent);
        bool empty = true;
        for (const std::string& word : words) {
            std::string tried = cur + word;
            if (empty || gfx::text_width(cr, tried, text_font(tried, f)) <= mw) {
                cur = tried;
                empty = false;
                continue;
            }
            emit(cur);
            cur = std::string(indent, ' ') + (word[0] == ' ' ? word.substr(1) : word);
        }
        if (!empty)
            emit(cur);
    }
    double bw = std::min(mw, widest) + 16;
    double lh = std::ceil(gfx::line_height(cr, f) * 1.15);
    double bh = double(lines.size()) * lh + 8;
    double x = std::max(4.0, std::min(W - bw - 4, m_mx + 12));
    double y = m_my + 20 + bh + 2 > H ? m_my - bh - 6 : m_my + 20;
    gfx::rounded(cr, x, y, bw, bh, 5);
    gfx::set(cr, m_pal.dark ? hex("0b0c0f", 0.95) : hex("1f2329", 0.92));
    cairo_fill(cr);
    for (size_t i = 0; i < lines.size(); ++i)
        gfx::text(cr, lines[i], x + 8, y + 4 + double(i) * lh, hex("f2f3f5"), text_font(lines[i], f), gfx::Align::Left,
                  mw);
}

void App::button(cairo_t* cr, double x, double y, double w, double h, const std::string& label, const std::string& id,
                 bool enabled, bool primary, const gfx::Icon* icon, const std::string& tip, int n)
{
    bool hovered = enabled && m_hover == id + "#" + std::to_string(n);
    bool text_only = !icon && !label.empty();
    Rgba fg = m_pal.text;
    if (enabled && primary) {
        Rgba a = m_pal.accent;
        if (hovered)
            a.a *= 0.85;
        gfx::rounded(cr, x, y, w, h, 6);
        gfx::set(cr, a);
        cairo_fill(cr);
        fg = m_pal.accent_text;
    } else if (enabled) {
        if (hovered) {
            gfx::rounded(cr, x, y, w, h, 6);
            gfx::set(cr, m_pal.hover);
            cairo_fill(cr);
        }
    } else {
        fg = m_pal.faint;
    }
    if (text_only && !primary) {
        gfx::rounded(cr, x + 0.5, y + 0.5, w - 1, h - 1, 6);
        gfx::set(cr, m_pal.border);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
    const gfx::Font& f = kButtonFont;
    double lh = gfx::line_height(cr, f);
    double ty = y + (h - lh) / 2;
    if (!icon) {
        gfx::text(cr, label, x + w / 2, ty, fg, f, gfx::Align::Center, w - 4);
    } else {
        double lw = label.empty() ? 0 : gfx::text_width(cr, label, f);
        double content = 16 + (label.empty() ? 0 : 6 + lw);
        double left = x + (w - content) / 2;
        gfx::icon(cr, *icon, left + 8, y + h / 2, 7, fg);
        if (!label.empty())
            gfx::text(cr, label, left + 22, ty, fg, f);
    }
    if (enabled)
        hit(x, y, w, h, id, n, tip);
}

double App::chip(cairo_t* cr, double x, double y, const std::string& label, bool on, const std::string& id, int n,
                 bool changed, const std::string& tip)
{
    gfx::Font f{ 12, on, false };
    double w = gfx::text_width(cr, label, f) + 18;
    gfx::rounded(cr, x, y, w, 22, 11);
    Rgba fill = on ? m_pal.accent : m_hover == id + "#" + std::to_string(n) ? m_pal.hover : m_pal.panel2;
    gfx::set(cr, fill);
    cairo_fill_preserve(cr);
    if (changed) {
        gfx::set(cr, m_pal.changed);
        cairo_set_line_width(cr, 2.5);
    } else {
        gfx::set(cr, on ? m_pal.accent : m_pal.border);
        cairo_set_line_width(cr, 1);
    }
    cairo_stroke(cr);
    gfx::text(cr, label, x + w / 2, y + (22 - gfx::line_height(cr, f)) / 2, on ? m_pal.accent_text : m_pal.text, f,
              gfx::Align::Center);
    hit(x, y, w, 22, id, n, tip);
    return w;
}

double App::wrapped_text(cairo_t* cr, const std::string& text, double x, double y, double w, const Rgba& c,
                         const gfx::Font& f)
{
    PangoLayout* layout = gfx::make_layout(cr, text, f);
    pango_layout_set_width(layout, int(w * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    gfx::set(cr, c);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    int pw = 0, ph = 0;
    pango_layout_get_pixel_size(layout, &pw, &ph);
    g_object_unref(layout);
    return ph;
}
