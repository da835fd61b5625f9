// Painting the Reference dialog: search field, category chips and the bit
// switch, the list of entries, the detail page with its coloured code, and
// the buttons. Everything is laid out anew on each paint.
#include "app.h"

#include "l10n.h"
#include "syntax.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

using L10n::tr;

namespace {

constexpr double kHeadRow = 28;
constexpr double kEntryRow = 44;
constexpr double kCodeSize = 12.5;

std::vector<std::string> lines_of(const std::string& s)
{
    std::vector<std::string> out;
    size_t at = 0;
    for (;;) {
        size_t nl = s.find('\n', at);
        out.push_back(s.substr(at, nl == std::string::npos ? std::string::npos : nl - at));
        if (nl == std::string::npos)
            return out;
        at = nl + 1;
    }
}

bool ascii(const std::string& s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A filled rounded box with an outline of the given width.
void framed(cairo_t* cr, double x, double y, double w, double h, double radius, const Rgba& fill, const Rgba& line,
            double line_w)
{
    gfx::rounded(cr, x, y, w, h, radius);
    gfx::set(cr, fill);
    cairo_fill_preserve(cr);
    gfx::set(cr, line);
    cairo_set_line_width(cr, line_w);
    cairo_stroke(cr);
}

guint16 channel(double v)
{
    return guint16(std::clamp(v, 0.0, 1.0) * 65535 + 0.5);
}

// Bytes [b, e) of a line in one font, each span in its colour; the width.
double code_piece(cairo_t* cr, const std::string& line, size_t b, size_t e, const std::vector<syntax::Span>& spans,
                  const Palette& pal, bool mono, bool measure_only, double x, double y)
{
    if (b >= e)
        return 0;
    PangoLayout* layout = gfx::make_layout(cr, line.substr(b, e - b), gfx::Font{ kCodeSize, false, mono });
    if (!measure_only) {
        PangoAttrList* attrs = pango_attr_list_new();
        for (const syntax::Span& s : spans) {
            size_t sb = std::max(size_t(s.start), b), se = std::min(size_t(s.end), e);
            if (sb >= se || s.kind == syntax::Kind::Plain)
                continue;
            const Rgba& c = pal.syntax_colour(s.kind);
            PangoAttribute* a = pango_attr_foreground_new(channel(c.r), channel(c.g), channel(c.b));
            a->start_index = guint(sb - b);
            a->end_index = guint(se - b);
            pango_attr_list_insert(attrs, a);
        }
        pango_layout_set_attributes(layout, attrs);
        pango_attr_list_unref(attrs);
        gfx::set(cr, pal.text);
        cairo_move_to(cr, x, y);
        pango_cairo_show_layout(cr, layout);
    }
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    g_object_unref(layout);
    return w;
}

// One NASM line with syntax colours; a line in another script keeps
// monospace for its code and lays its comment out proportionally.
double code_line(cairo_t* cr, const std::string& line, const Palette& pal, bool measure_only, double x, double y)
{
    std::vector<syntax::Span> spans = syntax::highlight(line);
    if (ref::mono_safe(line))
        return code_piece(cr, line, 0, line.size(), spans, pal, true, measure_only, x, y);
    size_t cut = line.size();
    for (const syntax::Span& s : spans)
        if (s.kind == syntax::Kind::Comment) {
            cut = size_t(s.start);
            break;
        }
    std::string head = line.substr(0, cut);
    double w = code_piece(cr, line, 0, cut, spans, pal, ref::mono_safe(head), measure_only, x, y);
    return w + code_piece(cr, line, cut, line.size(), spans, pal, false, measure_only, x + w, y);
}

} // namespace

void App::paint_reference(cairo_t* cr, double x, double y, double w, double h)
{
    gfx::text(cr, tr("ref.title"), x + 24, y + 18, m_pal.text, gfx::Font{ 16, true, false });

    // Search field.
    framed(cr, x + 24, y + 50, w - 48, 34, 7, m_pal.bg, m_pal.accent, 1.2);
    gfx::icon(cr, gfx::Icon::Search, x + 44, y + 67, 7, m_pal.dim);
    if (m_ref_q.text.empty())
        gfx::text(cr, tr("ref.search_hint"), x + 62, y + 58, m_pal.faint, gfx::Font{ 13, false, false },
                  gfx::Align::Left, w - 120);
    m_ref_q.paint(cr, x + 60, y + 50, w - 100, 34, m_pal, 13.5, true, m_caret_on, "", nullptr);
    hit(x + 24, y + 50, w - 48, 34, "ref_q", 0, "");

    // Chips: the results count while searching, the five categories.
    int entries = 0;
    for (const RefRow& r : m_ref_rows)
        entries += r.header ? 0 : 1;
    double cx = x + 24, cy = y + 96;
    bool searching = !m_ref_q.text.empty();
    if (searching)
        cx += chip(cr, cx, cy, tr("ref.cat.all") + "  " + std::to_string(entries), true, "ref_all", 0, false, "")
              + 6;
    for (int k = 0; k <= 4; ++k)
        cx += chip(cr, cx, cy, ref::kind_label(ref::Kind(k)), !searching && k == m_ref_cat, "ref_cat", k, false, "")
              + 6;
    gfx::Font bit_font{ 12, false, false };
    double w32 = gfx::text_width(cr, "32 Bit", bit_font) + 18;
    double w64 = gfx::text_width(cr, "64 Bit", bit_font) + 18;
    double bx = x + w - 24 - w32 - 6 - w64;
    if (bx > cx + 12) {
        bx += chip(cr, bx, cy, "64 Bit", m_ref_bits == 64, "ref_bits", 64, false, "") + 6;
        chip(cr, bx, cy, "32 Bit", m_ref_bits == 32, "ref_bits", 32, false, "");
    }

    // The list.
    double ly = y + 130, lh = y + h - 64 - ly;
    double lw = std::clamp(0.3 * w, 230.0, 360.0), lx = x + 20;
    m_ref_list_x = lx;
    m_ref_list_w = lw;
    gfx::rounded(cr, lx, ly, lw, lh, 8);
    gfx::set(cr, m_pal.panel2);
    cairo_fill(cr);

    std::vector<double> offset(m_ref_rows.size() + 1, 0);
    for (size_t i = 0; i < m_ref_rows.size(); ++i)
        offset[i + 1] = offset[i] + (m_ref_rows[i].header ? kHeadRow : kEntryRow);
    double total = offset.back();
    if (m_ref_center && m_ref_sel >= 0 && size_t(m_ref_sel) < m_ref_rows.size()) {
        size_t s = size_t(m_ref_sel);
        double top = s > 0 && m_ref_rows[s - 1].header ? offset[s - 1] : offset[s];
        double bottom = offset[s + 1];
        if (top < m_ref_top || bottom > m_ref_top + lh - 8)
            m_ref_top = int(top - lh / 3);
    }
    m_ref_center = false;
    m_ref_top = std::clamp(m_ref_top, 0, int(std::max(0.0, total - lh + 8)));

    cairo_save(cr);
    cairo_rectangle(cr, lx, ly + 4, lw, lh - 8);
    cairo_clip(cr);
    for (size_t i = 0; i < m_ref_rows.size(); ++i) {
        double rh = offset[i + 1] - offset[i];
        double top = ly + 4 + offset[i] - m_ref_top;
        if (top + rh < ly || top > ly + lh)
            continue;
        const RefRow& r = m_ref_rows[i];
        if (r.header) {
            gfx::text(cr, r.text, lx + 12, top + 9, m_pal.dim, gfx::Font{ 11.5, true, false }, gfx::Align::Left,
                      lw - 24);
            continue;
        }
        bool selected = int(i) == m_ref_sel;
        std::string key = "ref_row#" + std::to_string(i);
        if (selected || m_hover == key) {
            gfx::rounded(cr, lx + 4, top + 1, lw - 8, rh - 2, 6);
            gfx::set(cr, selected ? m_pal.select : m_pal.hover);
            cairo_fill(cr);
        }
        if (r.e.kind == ref::Kind::Topic) {
            gfx::text(cr, ref::title(r.e), lx + 14, top + 12, m_pal.text, gfx::Font{ 13.5, selected, false },
                      gfx::Align::Left, lw - 28);
        } else {
            double reserve = 0;
            std::string badge = ref::badge(r.e);
            if (!badge.empty())
                reserve = gfx::text(cr, badge, lx + lw - 14, top + 6, m_pal.faint, gfx::Font{ 11, false, true },
                                    gfx::Align::Right)
                          + 10;
            gfx::text(cr, ref::title(r.e), lx + 14, top + 5, m_pal.text, gfx::Font{ 13, true, true },
                      gfx::Align::Left, lw - 28 - reserve);
            gfx::text(cr, ref::summary(r.e), lx + 14, top + 24, m_pal.dim, gfx::Font{ 11.5, false, false },
                      gfx::Align::Left, lw - 28);
        }
        double vis_top = std::max(ly, top);
        hit(lx, vis_top, lw, std::min(ly + lh, top + rh) - vis_top, "ref_row", int(i), "");
    }
    cairo_restore(cr);
    if (m_ref_rows.empty())
        wrapped_text(cr, tr("ref.none"), lx + 14, ly + 14, lw - 28, m_pal.dim, gfx::Font{ 13, false, false });
    Rgba bar = m_pal.faint;
    bar.a *= 0.6;
    if (total > lh) {
        double thumb = std::max(lh * lh / total, 24.0);
        gfx::rounded(cr, lx + lw - 5, ly + (lh - thumb) * (m_ref_top / (total - lh + 8)), 3, thumb, 1.5);
        gfx::set(cr, bar);
        cairo_fill(cr);
    }

    // The detail page.
    double dx = lx + lw + 24, dw = x + w - 28 - dx;
    m_ref_view_h = lh;
    m_ref_scroll = std::clamp(m_ref_scroll, 0.0, std::max(0.0, m_ref_content - lh + 16));
    cairo_save(cr);
    cairo_rectangle(cr, dx - 4, ly, dw + 8, lh);
    cairo_clip(cr);
    m_ref_content = m_ref_cur.valid() ? paint_ref_detail(cr, dx, ly - m_ref_scroll, dw) : 0;
    cairo_restore(cr);
    if (m_ref_content > lh) {
        double thumb = std::max(lh * lh / m_ref_content, 24.0);
        gfx::rounded(cr, x + w - 16, ly + (lh - thumb) * (m_ref_scroll / (m_ref_content - lh + 16)), 4, thumb, 2);
        gfx::set(cr, bar);
        cairo_fill(cr);
    }

    // Buttons.
    double by = y + h - 50;
    button(cr, x + w - 124, by, 100, 32, tr("btn.close"), "dlg_cancel", true, true, nullptr, "");
    if (m_ref_cur.valid() && !ref::example(m_ref_cur, m_ref_bits).empty()) {
        std::string label = tr("ref.insert");
        double iw = gfx::text_width(cr, label, gfx::Font{ 13, false, false }) + 36;
        button(cr, x + w - 124 - 10 - iw, by, iw, 32, label, "ref_insert", true, false, nullptr,
               tr("key.ctrl") + "+Enter");
    }
}

double App::paint_ref_detail(cairo_t* cr, double x, double y0, double w)
{
    using Type = ref::Block::Type;
    const Palette& p = m_pal;
    auto wrapped = [&](const std::string& text, double at_x, double at_y, double width, const Rgba& c,
                       const gfx::Font& f) { return wrapped_text(cr, text, at_x, at_y, std::max(10.0, width), c, f); };

    std::string title = ref::title(m_ref_cur);
    bool topic = m_ref_cur.kind == ref::Kind::Topic;
    double y = y0 + wrapped(title, x, y0, w, p.text, gfx::Font{ 20, true, !topic && ascii(title) }) + 4;
    std::string sub;
    if (m_ref_cur.kind == ref::Kind::Insn)
        sub = ref::group_label(m_ref_cur);
    else if (!topic)
        sub = ref::kind_label(m_ref_cur.kind);
    if (!sub.empty()) {
        gfx::text(cr, sub, x, y, p.dim, gfx::Font{ 12, false, false });
        y += 22;
    }
    y += 6;

    for (const ref::Block& b : ref::detail(m_ref_cur, m_ref_bits)) {
        switch (b.type) {
        case Type::Heading:
            y += 12;
            y += wrapped(b.text, x, y, w, p.text, gfx::Font{ 14, true, false }) + 6;
            break;
        case Type::Text:
            y += wrapped(b.text, x, y, w, p.text, gfx::Font{ 13.5, false, false }) + 10;
            break;
        case Type::Small:
            y += wrapped(b.text, x, y, w, p.dim, gfx::Font{ 11.5, false, false }) + 10;
            break;
        case Type::Code: {
            std::vector<std::string> lines = lines_of(b.text);
            double lh = std::ceil(gfx::line_height(cr, gfx::Font{ kCodeSize, false, true }) * 1.15);
            double bh = double(lines.size()) * lh + 16;
            framed(cr, x + 0.5, y + 0.5, w - 1, bh - 1, 6, p.bg, p.border, 1);
            cairo_save(cr);
            cairo_rectangle(cr, x + 1, y + 1, w - 2, bh - 2);
            cairo_clip(cr);
            // Only the lines inside the pane are laid out; the box's height
            // does not depend on them.
            double top = 0, bottom = 0, unused = 0;
            cairo_clip_extents(cr, &unused, &top, &unused, &bottom);
            for (size_t i = 0; i < lines.size(); ++i) {
                double ly = y + 8 + double(i) * lh;
                if (ly + lh > top && ly < bottom)
                    code_line(cr, lines[i], p, false, x + 12, ly);
            }
            cairo_restore(cr);
            y += bh + 12;
            break;
        }
        case Type::Forms: {
            std::vector<std::vector<std::string>> groups(1);
            for (const std::string& l : lines_of(b.text)) {
                if (l.empty())
                    groups.emplace_back();
                else
                    groups.back().push_back(l);
            }
            if (groups.back().empty())
                groups.pop_back();
            double lh = std::ceil(gfx::line_height(cr, gfx::Font{ kCodeSize, false, true }) * 1.25);
            double col = x, row_h = 0;
            for (size_t g = 0; g < groups.size(); ++g) {
                double gw = 0;
                for (const std::string& l : groups[g])
                    gw = std::max(gw, code_line(cr, l, p, true, 0, 0));
                if (col > x && col + gw > x + w) {
                    y += row_h + 10;
                    col = x;
                    row_h = 0;
                }
                for (size_t i = 0; i < groups[g].size(); ++i)
                    code_line(cr, groups[g][i], p, false, col, y + double(i) * lh);
                row_h = std::max(row_h, double(groups[g].size()) * lh);
                col += gw + 30;
            }
            y += row_h + 8;
            break;
        }
        case Type::Pairs: {
            double widest = 0;
            for (const auto& [label, value] : b.pairs)
                widest = std::max(widest, gfx::text_width(cr, label, gfx::Font{ 12.5, true, ascii(label) }));
            double key = std::min(0.4 * w, 16 + widest);
            for (const auto& [label, value] : b.pairs) {
                gfx::text(cr, label, x, y + 1, p.s_register, gfx::Font{ 12.5, true, ascii(label) }, gfx::Align::Left,
                          key - 8);
                double vh = wrapped(value, x + key, y, w - key, p.text, gfx::Font{ 13, false, false });
                y += std::max(vh + 4, 24.0);
            }
            y += 8;
            break;
        }
        }
    }
    return y - y0 + 8;
}
