// Painting the editor into a rectangle: gutter, bands, marks, selection,
// coloured text, notes, caret and scroll bar. Only the rows on screen are
// laid out, so the cost does not depend on where in the file the view is.
#include "editor.h"
#include "editor_chars.h"
#include "editor_measure.h"
#include "palette.h"
#include "syntax.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

namespace {

Rgba with_alpha(Rgba c, double a)
{
    c.a *= a;
    return c;
}

void add_colour(PangoAttrList* list, const Rgba& c, int start, int end)
{
    auto ch = [](double v) { return guint16(std::clamp(v, 0.0, 1.0) * 65535); };
    PangoAttribute* a = pango_attr_foreground_new(ch(c.r), ch(c.g), ch(c.b));
    a->start_index = guint(start);
    a->end_index = guint(end);
    pango_attr_list_insert(list, a);
}

int decimal_digits(int n)
{
    int d = 1;
    while (n >= 10) {
        n /= 10;
        ++d;
    }
    return d;
}

// The first byte that is not a space or tab; 0 on a blank line.
int first_non_blank(const std::string& s)
{
    const int f = edchars::leading_blanks(s);
    return f < int(s.size()) ? f : 0;
}

} // namespace

struct Editor::PaintFrame {
    const Palette& pal;
    bool focus = false;
    gfx::Font font;
    double adv = 0;
    double x0 = 0;  // text origin: layout x 0 is drawn here
    double yo = 0;  // text top inside a row
    Rgba sel;
};

void Editor::paint(cairo_t* cr, double x, double y, double w, double h, const Palette& pal, double font,
                   bool focus, bool caret_on)
{
    if (!m_pango_metrics) {
        // From now on every horizontal position comes from the layouts the
        // text is drawn with.
        Measure* m = &measure();
        set_metrics({ [m](const std::string& s, int col, double f) { return m->x_of(s, col, f); },
                      [m](const std::string& s, double lx, double f) { return m->index_at_x(s, lx, f); } });
        m_pango_metrics = true;
    }
    m_x = x;
    m_y = y;
    m_w = w;
    m_h = h;
    m_font = font;
    m_note_words.clear();

    PaintFrame fr { pal, focus, {}, 0, 0, 0, {} };
    fr.font = gfx::Font { font, false, true };
    const double lh0 = gfx::line_height(cr, fr.font);
    m_lh = std::ceil(lh0 * 1.18);
    fr.adv = gfx::mono_advance(cr, font);
    const int n = m_lines.size();
    m_gutter = std::ceil((std::max(decimal_digits(n), 3) + 1) * fr.adv + 26);
    if (m_reveal && h > 0) {
        const bool center = m_reveal == 2;
        m_reveal = 0;
        const int v = visible_lines();
        if (center && (m_caret.line < m_top || m_caret.line >= m_top + v))
            m_top = std::max(m_caret.line - v / 3, 0);
        ensure_caret_visible();
    }

    // Clipped from the start: in a pane narrower than its gutter the gutter
    // must not spill out of the rectangle.
    cairo_save(cr);
    cairo_rectangle(cr, x, y, std::max(w, 0.0), std::max(h, 0.0));
    cairo_clip(cr);
    gfx::fill_rect(cr, x, y, w, h, pal.panel);
    gfx::fill_rect(cr, x, y, m_gutter, h, pal.panel2);
    gfx::vline(cr, x + m_gutter, y, h, pal.border);

    fr.x0 = x + m_gutter + 8 - m_left;
    // Whole pixels, so glyphs sit on the pixel grid.
    fr.yo = std::floor((m_lh - lh0) / 2);
    fr.sel = focus ? pal.select : pal.select_dim;
    const int v = visible_lines();
    for (int k = 0; k <= v && m_top + k < n; ++k)
        paint_row(cr, fr, m_top + k, y + k * m_lh, caret_on);

    gfx::fill_rect(cr, x, y, m_gutter, h, pal.panel2);
    gfx::vline(cr, x + m_gutter, y, h, pal.border);
    for (int k = 0; k <= v && m_top + k < n; ++k)
        paint_gutter_row(cr, fr, m_top + k, y + k * m_lh);

    if (n >= v + 1) {
        // In floating point: v / n in integers would always give the
        // minimum thumb.
        const double th = std::max(double(v) / n * h, 24.0);
        const double top = std::min(y + h - th, y + double(m_top) / (n - v) * (h - th));
        gfx::rounded(cr, x + w - 7, top, 5, th, 2.5);
        gfx::set(cr, with_alpha(pal.faint, 0.5));
        cairo_fill(cr);
    }
    cairo_restore(cr);
}

void Editor::paint_row(cairo_t* cr, const PaintFrame& fr, int i, double Y, bool caret_on)
{
    const Palette& pal = fr.pal;
    const bool focus = fr.focus;
    const double bx = m_x + m_gutter + 1;
    const double bw = m_w - m_gutter - 1;
    if (i == pc_line)
        gfx::fill_rect(cr, bx, Y, bw, m_lh, pal.pc_bg);
    else if (i == m_caret.line && focus)
        gfx::fill_rect(cr, bx, Y, bw, m_lh, pal.line_hl);
    const auto mark = marks.find(i);
    const Mark* mk = mark == marks.end() ? nullptr : &mark->second;
    if (mk) {
        const Rgba& c = mk->error ? pal.err : pal.warn;
        gfx::fill_rect(cr, bx, Y, bw, m_lh, with_alpha(c, 0.12));
    }

    const std::string& s = m_lines[i];
    // A long line is laid out only where it shows, from byte `from` on,
    // and measured on the grid like the caret and the mouse do.
    const bool long_line = s.size() > edmeasure::kLongLine;
    int from = 0, to = int(s.size());
    if (long_line) {
        const double margin = 16 * fr.adv;
        from = index_at_x(i, m_left - margin);
        to = index_at_x(i, m_left + m_w + margin);
    }
    const double sx = fr.x0 + (long_line ? x_of({ i, from }) : 0);
    PangoLayout* layout = gfx::make_layout(cr, long_line ? s.substr(size_t(from), size_t(to - from)) : s, fr.font);
    auto lx = [&](int col) { return long_line ? x_of({ i, col }) : edmeasure::layout_x(layout, col); };

    if (!m_block && has_selection()) {
        const Pos a = sel_start();
        const Pos b = sel_end();
        if (i >= a.line && i <= b.line) {
            const double left = fr.x0 + (i == a.line ? lx(a.col) : 0);
            const double right = i == b.line ? fr.x0 + lx(std::min(b.col, int(s.size())))
                                             : fr.x0 + lx(int(s.size())) + 0.6 * fr.adv;
            gfx::fill_rect(cr, left, Y, std::max(right - left, 1.0), m_lh, fr.sel);
        }
    }
    if (m_block) {
        int lo = 0, hi = 0;
        block_rows(&lo, &hi);
        if (i >= lo && i <= hi) {
            const double l = std::min(m_bx0, m_bx1);
            const double r = std::max(m_bx0, m_bx1);
            gfx::fill_rect(cr, fr.x0 + l, Y, std::max(r - l, 2.0), m_lh, fr.sel);
        }
    }

    PangoAttrList* attrs = pango_attr_list_new();
    add_colour(attrs, pal.text, 0, to - from);
    for (const syntax::Span& sp : syntax::highlight(s, size_t(from), size_t(to)))
        add_colour(attrs, pal.syntax_colour(sp.kind), std::max(sp.start - from, 0), std::min(sp.end, to) - from);
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
    cairo_move_to(cr, sx, Y + fr.yo);
    pango_cairo_show_layout(cr, layout);
    int lw = 0, lhp = 0;
    pango_layout_get_pixel_size(layout, &lw, &lhp);
    if (long_line)
        lw = int(std::ceil(x_of({ i, int(s.size()) })));

    if (note)
        paint_note(cr, fr, i, Y, lw);

    if (i == m_caret.line) {
        const double cx = fr.x0 + lx(std::min(m_caret.col, int(s.size())));
        m_caret_px = cx;
        m_caret_py = Y;
        m_lh_px = m_lh;
        if (focus && caret_on)
            gfx::fill_rect(cr, cx, Y + 1, 2, m_lh - 2, pal.caret);
    }

    if (mk && !s.empty()) {
        // From the caret geometry of the first non-blank byte, so tabs count
        // at their drawn width.
        const double xs = fr.x0 + lx(first_non_blank(s));
        const double xe = std::min(fr.x0 + lw, m_x + m_w);
        gfx::set(cr, mk->error ? pal.err : pal.warn);
        cairo_set_line_width(cr, 1.2);
        cairo_move_to(cr, xs, Y + m_lh - 2);
        for (double X = xs; X < xe; X += 4) {
            const double e = (long(std::floor((X - xs) / 4)) % 2) ? 2 : 4;
            cairo_line_to(cr, X + 2, Y + m_lh - e);
        }
        cairo_stroke(cr);
    }
    g_object_unref(layout);
}

void Editor::paint_note(cairo_t* cr, const PaintFrame& fr, int i, double Y, double lw)
{
    const Palette& pal = fr.pal;
    int kind = 0;
    const std::string s = note(i, &kind);
    if (s.empty())
        return;
    const double nx = std::max(fr.x0 + 44 * fr.adv, fr.x0 + lw + 3 * fr.adv);
    const double room = m_x + m_w - nx;
    // A note that starts right of the pane shows nothing; a pill of
    // negative width would be drawn mirrored over the text.
    if (room <= 0)
        return;
    const gfx::Font N { 0.9 * m_font, kind == 1, true };
    const double nw = gfx::text_width(cr, s, N);
    const Rgba& c = kind == 1 ? pal.accent : pal.changed;
    gfx::rounded(cr, nx - 5, Y + 2, std::min(room, nw + 10), m_lh - 4, 4);
    gfx::set(cr, with_alpha(c, pal.dark ? 0.16 : 0.10));
    cairo_fill(cr);
    gfx::text(cr, s, nx, Y + fr.yo + 1, c, N, gfx::Align::Left, std::max(room - 10, 10.0));

    const size_t len = s.size();
    size_t a = 0;
    while (a < len) {
        while (a < len && s[a] == ' ')
            ++a;
        if (a >= len)
            break;
        size_t b = s.find(' ', a);
        if (b == std::string::npos)
            b = len;
        NoteWord nw_ { nx + gfx::text_width(cr, s.substr(0, a), N), nx + gfx::text_width(cr, s.substr(0, b), N), Y,
                       Y + m_lh, s.substr(a, b - a), {} };
        if (!m_note_words.empty() && m_note_words.back().y0 == Y && m_note_words.back().next.empty())
            m_note_words.back().next = nw_.w;
        m_note_words.push_back(std::move(nw_));
        a = b;
    }
}

void Editor::paint_gutter_row(cairo_t* cr, const PaintFrame& fr, int i, double Y)
{
    const Palette& pal = fr.pal;
    const double cy = Y + m_lh / 2;
    gfx::text(cr, std::to_string(i + 1), m_x + m_gutter - 8, Y + fr.yo, i == m_caret.line ? pal.text : pal.faint,
              fr.font, gfx::Align::Right);
    const bool bp = breakpoints.count(i) > 0;
    if (bp)
        gfx::icon(cr, gfx::Icon::Breakpoint, m_x + 9, cy, std::min(0.3 * m_lh, 6.0), pal.bp);
    const auto mark = marks.find(i);
    if (mark != marks.end() && !bp) {
        gfx::set(cr, mark->second.error ? pal.err : pal.warn);
        cairo_new_path(cr);
        cairo_arc(cr, m_x + 9, cy, 3, 0, 2 * M_PI);
        cairo_fill(cr);
    }
    if (i == pc_line)
        gfx::icon(cr, gfx::Icon::Arrow, m_x + 10, cy, std::min(0.35 * m_lh, 7.0), pal.warn);
}
