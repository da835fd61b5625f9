// The overlays above the panes: the open drop-down or context menu and the
// editor's completion list. A menu taller than the window scrolls inside
// it, so that every row stays within reach.
#include "app.h"

#include "l10n.h"
#include "syntax.h"
#include "textutil.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

constexpr double kRowH = 28;
constexpr double kSepH = 9;
constexpr double kArrowH = 16; // the scroll strips above and below the rows
const gfx::Font kMenuFont{ 13, false, false };

double row_h(const App::MenuItem& m)
{
    return m.separator ? kSepH : kRowH;
}

using textutil::lower;

void chevron(cairo_t* cr, double cx, double cy, bool up, const Rgba& c)
{
    double d = up ? -1 : 1;
    cairo_move_to(cr, cx - 5, cy - 2.5 * d);
    cairo_line_to(cr, cx, cy + 2.5 * d);
    cairo_line_to(cr, cx + 5, cy - 2.5 * d);
    gfx::set(cr, c);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
}

} // namespace

App::MenuBox App::menu_box(double w) const
{
    MenuBox b;
    b.w = w;
    for (const MenuItem& m : m_menu_list)
        b.content += row_h(m);
    const double h = b.content + 8;
    if (m_menu == 100) {
        b.x = std::max(4.0, std::min(m_ww - w - 4, m_ctx_x));
        // Near the bottom the menu moves up, but never above the window.
        b.top = std::max(4.0, std::min(m_wh - h - 4, m_ctx_y));
    } else {
        b.x = m_menu_x;
        b.top = 26;
    }
    const double room = m_wh - b.top - 4;
    b.scrolls = h > room;
    if (!b.scrolls) {
        b.h = h;
        b.view_y = b.top + 4;
        b.view_h = b.content;
        return b;
    }
    b.h = std::max(room, 8 + 2 * kArrowH + kRowH);
    b.view_y = b.top + 4 + kArrowH;
    b.view_h = b.h - 8 - 2 * kArrowH;
    return b;
}

bool App::menu_scroll_by(double dy)
{
    MenuBox b = menu_box(m_menu_w);
    if (!b.scrolls)
        return false;
    double before = m_menu_scroll;
    m_menu_scroll = std::clamp(m_menu_scroll + dy, 0.0, b.content - b.view_h);
    m_dirty = true;
    return m_menu_scroll != before;
}

void App::menu_reveal(int row)
{
    if (row < 0 || size_t(row) >= m_menu_list.size())
        return;
    MenuBox b = menu_box(m_menu_w);
    if (!b.scrolls)
        return;
    double off = 0;
    for (int i = 0; i < row; ++i)
        off += row_h(m_menu_list[size_t(i)]);
    if (off < m_menu_scroll)
        m_menu_scroll = off;
    else if (off + kRowH > m_menu_scroll + b.view_h)
        m_menu_scroll = off + kRowH - b.view_h;
    m_menu_scroll = std::clamp(m_menu_scroll, 0.0, b.content - b.view_h);
    m_dirty = true;
}

void App::paint_menu(cairo_t* cr)
{
    // Any press outside the menu lands on "menu_bg" and closes it; the
    // titles stay reachable above it, so moving along them switches menus.
    std::vector<Hit> bar;
    for (const Hit& h : m_hits)
        if (h.id == "menubar")
            bar.push_back(h);
    hit(0, 0, m_ww, m_wh, "menu_bg", 0, "");
    m_hits.insert(m_hits.end(), bar.begin(), bar.end());

    std::vector<std::string> shortcuts(m_menu_list.size());
    double mw = 220;
    for (size_t i = 0; i < m_menu_list.size(); ++i) {
        const MenuItem& m = m_menu_list[i];
        if (m.separator)
            continue;
        shortcuts[i] = key_names(m.shortcut);
        mw = std::max(mw, gfx::text_width(cr, m.label, kMenuFont) + gfx::text_width(cr, shortcuts[i], kMenuFont) + 80);
    }
    mw = std::min(mw, 620.0);
    // A drop-down near the right edge narrows; a context menu moves left.
    mw = std::min(mw, m_menu == 100 ? m_ww - 8 : m_ww - m_menu_x - 4);
    m_menu_w = mw;
    const MenuBox b = menu_box(mw);
    m_menu_scroll = b.scrolls ? std::clamp(m_menu_scroll, 0.0, b.content - b.view_h) : 0;

    const double x = b.x;
    paint_raised_box(cr, x, b.top, mw, b.h, 8, 2, 4, m_pal.dark ? 0.5 : 0.18);
    hit(x, b.top, mw, b.h, "menu_box", 0, "");

    cairo_save(cr);
    cairo_rectangle(cr, x, b.view_y, mw, b.view_h);
    cairo_clip(cr);
    const double lh = gfx::line_height(cr, kMenuFont);
    const double band_end = b.view_y + b.view_h;
    double y = b.view_y - m_menu_scroll;
    for (size_t i = 0; i < m_menu_list.size(); ++i) {
        const MenuItem& m = m_menu_list[i];
        const double rh = row_h(m);
        if (y + rh <= b.view_y || y >= band_end) {
            y += rh;
            continue;
        }
        if (m.separator) {
            gfx::hline(cr, x + 8, y + 4, mw - 16, m_pal.border);
            y += rh;
            continue;
        }
        if (int(i) == m_menu_hover && m.enabled) {
            gfx::rounded(cr, x + 4, y, mw - 8, kRowH, 5);
            gfx::set(cr, m_pal.select);
            cairo_fill(cr);
        }
        if (m.checked && m.radio) {
            cairo_arc(cr, x + 16, y + 14, 3.5, 0, 2 * M_PI);
            gfx::set(cr, m_pal.accent);
            cairo_fill(cr);
        } else if (m.checked) {
            cairo_move_to(cr, x + 11, y + 14);
            cairo_line_to(cr, x + 15, y + 18);
            cairo_line_to(cr, x + 22, y + 10);
            gfx::set(cr, m_pal.accent);
            cairo_set_line_width(cr, 2);
            cairo_stroke(cr);
        }
        const double ty = y + (kRowH - lh) / 2;
        double sw = 0;
        if (!shortcuts[i].empty())
            sw = gfx::text(cr, shortcuts[i], x + mw - 12, ty, m_pal.faint, kMenuFont, gfx::Align::Right);
        gfx::text(cr, m.label, x + 30, ty, m.enabled ? m_pal.text : m_pal.faint, kMenuFont, gfx::Align::Left,
                  std::max(1.0, mw - 50 - sw));
        // Only the part inside the band can be pressed.
        const double top = std::max(y, b.view_y), bottom = std::min(y + kRowH, band_end);
        hit(x, top, mw, bottom - top, "menu_item", int(i), "");
        y += rh;
    }
    cairo_restore(cr);

    if (b.scrolls) {
        const double max = b.content - b.view_h;
        const double up_y = b.top + 4, down_y = band_end;
        chevron(cr, x + mw / 2, up_y + kArrowH / 2, true, m_menu_scroll > 0 ? m_pal.text : m_pal.faint);
        chevron(cr, x + mw / 2, down_y + kArrowH / 2, false, m_menu_scroll < max ? m_pal.text : m_pal.faint);
        hit(x, up_y, mw, kArrowH, "menu_up", 0, "");
        hit(x, down_y, mw, kArrowH, "menu_down", 0, "");
    }
}

void App::paint_completion(cairo_t* cr)
{
    if (is_placeholder(m_s) || m_s->bin)
        return;
    const Editor& ed = m_s->ed;
    const gfx::Font word_font{ std::max(11.0, m_settings.font - 1), false, true };
    const gfx::Font kind_font{ 11, false, false };
    const double rh = std::ceil(gfx::line_height(cr, word_font) * 1.25);
    double w = 120;
    for (const std::string& c : m_ac)
        w = std::max(w, gfx::text_width(cr, c, word_font) + 110);
    const double bh = double(m_ac.size()) * rh + 8;
    // Beside the caret, but inside the window at the right edge.
    double x = std::max(4.0, std::min(ed.caret_x(), m_ww - w - 4));
    double y = ed.caret_y() + ed.line_h() + 2;
    if (y + bh > m_main_y + m_main_h)
        y = ed.caret_y() - bh - 2;
    m_ac_x = x;
    m_ac_y = y;
    m_ac_w = w;
    m_ac_h = bh;

    paint_raised_box(cr, x, y, w, bh, 6, 2, 3, 0.18);

    const auto& labels = ed.labels();
    const double wlh = gfx::line_height(cr, word_font), klh = gfx::line_height(cr, kind_font);
    for (size_t i = 0; i < m_ac.size(); ++i) {
        const std::string& c = m_ac[i];
        const double ry = y + 4 + double(i) * rh;
        if (int(i) == m_ac_sel)
            gfx::fill_rect(cr, x + 3, ry, w - 6, rh, m_pal.select);
        bool label = std::any_of(labels.begin(), labels.end(), [&](const auto& l) {
            const std::string& n = l.first;
            return n == c || (n.size() > c.size() && n.compare(n.size() - c.size(), c.size(), c) == 0);
        });
        const std::string low = lower(c);
        const char* kind = label                                  ? "ac.label"
                           : syntax::is_register(low)             ? "ac.register"
                           : syntax::directive_names().count(low) ? "ac.directive"
                                                                  : "ac.insn";
        gfx::text(cr, c, x + 10, ry + (rh - wlh) / 2, label ? m_pal.s_label : m_pal.text, word_font);
        gfx::text(cr, L10n::tr(kind), x + w - 10, ry + (rh - klh) / 2, m_pal.faint, kind_font, gfx::Align::Right);
    }
}
