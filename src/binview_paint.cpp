// Painting the binary view: the header band with its titles, the hex pane
// (addresses, digits, characters, cursor, search hit, changed bytes) and
// the list (headers, labels, instructions with bytes, notes and
// explanations), the splitters and the scrollbar.
#include "binview.h"

#include "l10n.h"
#include "palette.h"
#include "pseudo.h"

#include <algorithm>
#include <cmath>

namespace {

Rgba with_alpha(Rgba c, double f)
{
    c.a *= f;
    return c;
}

std::string last_path_part(const std::string& name)
{
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

} // namespace

void BinView::paint(cairo_t* cr, double x, double y, double w, double h, const Palette& pal, double font, bool focus,
                    bool caret_on)
{
    m_x = x;
    m_y = y;
    m_w = w;
    m_h = h;
    gfx::Font row_f { font, false, true };
    gfx::Font title_f { 0.92 * font, true, false };
    m_lh = std::ceil(gfx::line_height(cr, row_f) * 1.15);
    m_adv = gfx::mono_advance(cr, font);
    m_head = std::ceil(gfx::line_height(cr, title_f) + 10);

    uint64_t hi = 0;
    if (live()) {
        if (!m_rows_live)
            rebuild_live();
        hi = m_dump_hi;
    } else {
        if (m_rows_live)
            rebuild();
        hi = hex_limit_hi();
    }

    m_top = fix_key(m_top);
    m_sel = m_sel.valid() ? fix_key(m_sel) : m_sel;
    double a = double(addr_text(hi).size());
    m_hex0 = x + 10 + (a + 2) * m_adv;
    int wanted = 16;
    if (split_frac != 0)
        wanted = int((split_frac * w + x - m_hex0 - 24) / (4.125 * m_adv)) / 8 * 8;
    int room = std::min(int((x + w - 220 - m_hex0 - 24) / (4.125 * m_adv)) / 8 * 8, 64);
    m_bpr = std::max(8, std::min(wanted, room));
    m_s1 = m_hex0 + (3 * m_bpr + m_bpr / 8) * m_adv + 6;
    m_split = m_s1 + 8 + m_bpr * m_adv + 12;
    m_hex_x = m_hex0;
    m_asc_x = m_s1 + 8;
    m_dis_x = m_split + 24;
    int V = std::max(0, int((h - m_head) / m_lh));

    // Background, band and splitters.
    gfx::fill_rect(cr, x, y, w, h, pal.panel);
    gfx::fill_rect(cr, x, y, w, m_head, pal.panel2);
    gfx::hline(cr, x, y + m_head - 1, w, pal.border);
    if (m_split_hover || m_drag_which == 2)
        gfx::fill_rect(cr, m_split - 1, y, 3, h, with_alpha(pal.accent, 0.6));
    else
        gfx::vline(cr, m_split, y, h, pal.border);
    if (m_split1_hover || m_drag_which == 1)
        gfx::fill_rect(cr, m_s1 - 1, y + m_head, 3, h - m_head, with_alpha(pal.accent, 0.6));
    else
        gfx::vline(cr, m_s1, y + m_head, h - m_head, with_alpha(pal.border, 0.6));

    // Titles.
    std::string hex_title = L10n::tr("bin.file");
    if (live()) {
        hex_title = L10n::tr("bin.memory");
        for (const dbg::Region& r : regions()) {
            if (!r.name.empty() && m_cur >= r.start && m_cur < r.end) {
                hex_title += "  ·  " + last_path_part(r.name);
                break;
            }
        }
    }
    gfx::text(cr, hex_title, x + 10, y + 5, focus && m_hex_focus ? pal.accent : pal.dim, title_f, gfx::Align::Left,
              std::max(1.0, m_split - x - 20));
    std::string list_title = L10n::tr("bin.disasm");
    if (m_top.valid()) {
        for (int p = m_top.part; p >= 0; --p) {
            if (m_parts[size_t(p)].header) {
                if (!m_parts[size_t(p)].name.empty())
                    list_title += "  ·  " + m_parts[size_t(p)].name;
                break;
            }
        }
    }
    double lt_w = gfx::text(cr, list_title, m_split + 10, y + 5, focus && !m_hex_focus ? pal.accent : pal.dim,
                            title_f, gfx::Align::Left, std::max(1.0, x + w - m_split - 20));
    if (!live() && has_rows()) {
        double room_w = x + w - m_split - lt_w - 40;
        if (room_w > 0)
            gfx::text(cr, L10n::tr("bin.values_hint"), x + w - 12, y + 5 + 0.04 * font, pal.faint,
                      gfx::Font { 0.85 * font, false, false }, gfx::Align::Right, room_w);
    }

    paint_hex(cr, pal, font, focus, caret_on, hi, V);
    paint_list(cr, pal, font, focus, caret_on, V);
}

void BinView::paint_hex(cairo_t* cr, const Palette& pal, double font, bool focus, bool caret_on, uint64_t hi, int V)
{
    double x = m_x, y = m_y, h = m_h;
    gfx::Font row_f { font, false, true };
    gfx::Font bold_f { font, true, true };
    double ty = (m_lh - gfx::line_height(cr, row_f)) / 2;
    cairo_save(cr);
    cairo_rectangle(cr, x, y + m_head, m_split - x, h - m_head);
    cairo_clip(cr);
    if (hi == 0) {
        bool none = !m_img || (m_img->m_data.empty() && m_img->m_path.empty());
        gfx::text(cr, L10n::tr(none ? "bin.none" : "bin.empty"), x + 12, y + m_head + 10, pal.faint,
                  gfx::Font { font, false, false }, gfx::Align::Left, std::max(1.0, m_split - x - 24));
        cairo_restore(cr);
        return;
    }
    bool lv = live();
    bool marks = m_changed_live == lv;
    bool hit_ok = m_hit_len && m_hit_live == lv;
    uint64_t bpr = uint64_t(m_bpr);
    // The visible bytes in one go (one process read per mapped stretch).
    uint64_t first = m_hex_top;
    uint64_t count = std::min<uint64_t>(uint64_t(V + 1) * bpr, hi > first ? hi - first : 0);
    std::vector<uint8_t> bytes(static_cast<size_t>(count)), ok(static_cast<size_t>(count));
    if (count)
        hex_read_range(first, size_t(count), bytes.data(), ok.data());
    // Text goes out in runs of one colour, one layout each: a frame of
    // single bytes would cost over a thousand layouts.
    struct Run {
        std::string s;
        double x = 0;
        const Rgba* c = nullptr;
        bool bold = false;
    };
    auto flush = [&](Run& r, double ry) {
        if (!r.s.empty())
            gfx::text(cr, r.s, r.x, ry + ty, *r.c, r.bold ? bold_f : row_f);
        r.s.clear();
    };
    for (int k = 0; k <= V; ++k) {
        uint64_t p = first + uint64_t(k) * bpr;
        if (p >= hi)
            break;
        double ry = y + m_head + k * m_lh;
        gfx::text(cr, addr_text(p), x + 10, ry + ty, pal.addr, row_f);
        // Backgrounds first: search hit, cursor, caret.
        for (int i = 0; i < m_bpr && p + uint64_t(i) < hi; ++i) {
            uint64_t q = p + uint64_t(i);
            double hx = m_hex_x + (3 * i + i / 8) * m_adv;
            double ax = m_asc_x + i * m_adv;
            if (hit_ok && q >= m_hit && q < m_hit + m_hit_len) {
                Rgba c = with_alpha(pal.warn, 0.35);
                gfx::fill_rect(cr, hx - 1, ry, 2 * m_adv + 2, m_lh, c);
                gfx::fill_rect(cr, ax, ry, m_adv, m_lh, c);
            }
            if (q == m_cur) {
                Rgba c = focus && m_hex_focus ? pal.select : pal.select_dim;
                gfx::fill_rect(cr, hx - 1, ry, 2 * m_adv + 2, m_lh, m_ascii ? with_alpha(c, 0.45) : c);
                gfx::fill_rect(cr, ax, ry, m_adv, m_lh, m_ascii ? c : with_alpha(c, 0.45));
                if (focus && m_hex_focus && caret_on && !m_ascii)
                    gfx::fill_rect(cr, hx + m_nib * m_adv, ry + m_lh - 3, m_adv, 2, pal.caret);
            }
        }
        Run hex_run, asc_run;
        for (int i = 0; i < m_bpr && p + uint64_t(i) < hi; ++i) {
            uint64_t q = p + uint64_t(i);
            size_t idx = size_t(q - first);
            const Rgba* hc = &pal.faint;
            const Rgba* ac = &pal.faint;
            bool bold = false;
            char hx_s[4] = "??";
            char ch = ' ';
            if (idx < ok.size() && ok[idx]) {
                uint8_t b = bytes[idx];
                bool changed = (marks && m_changed.count(q)) || (lv && live_changed && live_changed(q));
                snprintf(hx_s, sizeof hx_s, "%02X", b);
                bool shown = b >= 0x20 && b <= 0x7E;
                ch = shown ? char(b) : '.';
                hc = changed ? &pal.changed : (b ? &pal.text : &pal.zero);
                ac = changed ? &pal.changed : (shown ? &pal.dim : &pal.faint);
                bold = changed;
            }
            if (hex_run.c != hc || hex_run.bold != bold) {
                flush(hex_run, ry);
                hex_run.c = hc;
                hex_run.bold = bold;
            }
            if (hex_run.s.empty())
                hex_run.x = m_hex_x + (3 * i + i / 8) * m_adv;
            else
                hex_run.s += i % 8 == 0 ? "  " : " ";
            hex_run.s += hx_s;
            if (ch != ' ') {
                if (asc_run.c != ac) {
                    flush(asc_run, ry);
                    asc_run.c = ac;
                }
                if (asc_run.s.empty())
                    asc_run.x = m_asc_x + i * m_adv;
                asc_run.s += ch;
            } else {
                flush(asc_run, ry);
            }
        }
        flush(hex_run, ry);
        flush(asc_run, ry);
    }
    cairo_restore(cr);
}

void BinView::paint_list(cairo_t* cr, const Palette& pal, double font, bool focus, bool caret_on, int V)
{
    double x = m_x, y = m_y, w = m_w, h = m_h;
    gfx::Font row_f { font, false, true };
    gfx::Font bold_f { font, true, true };
    double ty = (m_lh - gfx::line_height(cr, row_f)) / 2;
    cairo_save(cr);
    cairo_rectangle(cr, m_split + 1, y + m_head, x + w - m_split - 1, h - m_head);
    cairo_clip(cr);
    m_vis.clear();
    bool lv = live();
    uint64_t pc = lv ? m_proc->pc() : 0;
    if (!has_rows()) {
        gfx::text(cr, L10n::tr("bin.no_code"), m_dis_x, y + m_head + 10, pal.faint, gfx::Font { font, false, false },
                  gfx::Align::Left, std::max(1.0, x + w - m_dis_x - 12));
        cairo_restore(cr);
        return;
    }
    std::function<std::string(uint64_t)> names;
    if (symbol_at)
        names = symbol_at;
    else if (m_img)
        names = [this](uint64_t a) { return m_img->symbol_at(a, false); };
    m_top = fix_key(m_top);
    Key k = m_top;
    bool more = false;
    uint64_t shown_bytes = 0;
    for (int i = 0; i <= V && k.valid(); ++i) {
        double ry = y + m_head + i * m_lh;
        const Row* rp = row(k);
        if (!rp)
            break;
        Row r = *rp;
        double band_w = x + w - m_split;
        if (r.header) {
            gfx::fill_rect(cr, m_split + 1, ry, band_w, m_lh, pal.header);
            std::string t = (r.label.empty() ? L10n::tr("bin.code") : r.label) + "   " + addr_text(r.insn.addr);
            gfx::text(cr, t, m_dis_x, ry + ty, pal.dim, bold_f, gfx::Align::Left, std::max(1.0, x + w - m_dis_x - 12));
            if (k == m_sel)
                gfx::fill_rect(cr, m_split + 1, ry, band_w, m_lh,
                               with_alpha(focus && !m_hex_focus ? pal.select : pal.select_dim, 0.5));
        } else if (r.insn.len == 0) {
            if (k == m_sel)
                gfx::fill_rect(cr, m_split + 1, ry, band_w, m_lh, focus && !m_hex_focus ? pal.select : pal.select_dim);
            gfx::text(cr, r.label + ":", m_dis_x, ry + ty, pal.s_label, bold_f, gfx::Align::Left,
                      std::max(1.0, x + w - m_dis_x - 12));
        } else {
            const dis::Insn& in = r.insn;
            shown_bytes += in.len;
            if (lv && in.addr == pc)
                gfx::fill_rect(cr, m_split + 1, ry, band_w, m_lh, pal.pc_bg);
            if (k == m_sel)
                gfx::fill_rect(cr, m_split + 1, ry, band_w, m_lh, focus && !m_hex_focus ? pal.select : pal.select_dim);
            if (has_bp && has_bp(in.addr))
                gfx::icon(cr, gfx::Icon::Breakpoint, m_split + 11, ry + m_lh / 2, std::min(0.28 * m_lh, 5.5), pal.bp);
            if (lv && in.addr == pc)
                gfx::icon(cr, gfx::Icon::Arrow, m_split + 12, ry + m_lh / 2, std::min(0.33 * m_lh, 6.5), pal.warn);
            std::string at = addr_text(in.addr);
            gfx::text(cr, at, m_dis_x, ry + ty, pal.addr, row_f);
            double bx = m_dis_x + (double(at.size()) + 2) * m_adv;
            bool changed = false;
            if (!lv && m_img && m_changed_live == lv && !m_changed.empty()) {
                for (int j = 0; j < in.len && !changed; ++j) {
                    uint64_t off = 0;
                    changed = m_img->addr_to_off(in.addr + uint64_t(j), &off) && m_changed.count(off);
                }
            }
            gfx::text(cr, dis::hex_bytes(in, 8), bx, ry + ty, changed ? pal.changed : pal.faint, row_f);
            double text_x = bx + 18 * m_adv;
            m_vis.push_back(VisRow { ry, k, text_x });
            if (m_edit_active && in.addr == m_edit_addr) {
                gfx::fill_rect(cr, text_x - 4, ry, x + w - text_x, m_lh, pal.panel);
                cairo_rectangle(cr, text_x - 3.5, ry + 0.75, x + w - text_x - 8, m_lh - 1.5);
                gfx::set(cr, pal.accent);
                cairo_set_line_width(cr, 1.5);
                cairo_stroke(cr);
                m_edit.paint(cr, text_x, ry, x + w - text_x - 12, m_lh, pal, font, true, caret_on, "", nullptr);
            } else {
                size_t blank = in.text.find(' ');
                std::string mn = in.text.substr(0, blank);
                double room = x + w - text_x - 8;
                double tw = gfx::text(cr, mn, text_x, ry + ty, in.valid ? pal.s_mnemonic : pal.s_directive, row_f,
                                      gfx::Align::Left, std::max(1.0, room));
                if (blank != std::string::npos && room - tw > m_adv)
                    tw += gfx::text(cr, in.text.substr(blank), text_x + tw, ry + ty, pal.text, row_f,
                                    gfx::Align::Left, room - tw);
                double cx = 0;
                bool noted = false;
                if (lv && note) {
                    int kind = 0;
                    std::string n = note(in.addr, &kind);
                    cx = text_x + tw + 3 * m_adv;
                    if (!n.empty() && cx < x + w - 16) {
                        gfx::Font nf { 0.9 * font, kind == 1, true };
                        Rgba nc = kind == 1 ? pal.accent : pal.changed;
                        double nw = gfx::text_width(cr, n, nf);
                        gfx::rounded(cr, cx - 5, ry + 2, std::min(x + w - cx - 4, nw + 10), m_lh - 4, 4);
                        gfx::set(cr, with_alpha(nc, pal.dark ? 0.16 : 0.1));
                        cairo_fill(cr);
                        double drawn = gfx::text(cr, n, cx, ry + ty + 1, nc, nf, gfx::Align::Left,
                                                 std::max(1.0, x + w - cx - 12));
                        cx += drawn + 3 * m_adv;
                        noted = true;
                    }
                }
                if (!r.data && !(noted && cx >= x + w - 10 * m_adv)) {
                    std::string c = pseudo::comment(in, names);
                    if (!c.empty()) {
                        if (!noted)
                            cx = text_x + std::max(std::clamp((x + w - text_x) * 0.42, 0.0, 30 * m_adv), tw + 2 * m_adv);
                        // Too little room for a readable start: better none at all.
                        if (x + w - cx - 10 > 8 * m_adv)
                            gfx::text(cr, "; " + c, cx, ry + ty, pal.s_comment, row_f, gfx::Align::Left,
                                      x + w - cx - 10);
                    }
                }
            }
        }
        Key nk = next_row(k);
        if (i == V && nk.valid())
            more = true;
        k = nk;
    }
    // Scrollbar, by bytes: the whole list rarely exists as rows.
    if (more || m_top != first_row()) {
        uint64_t total = 0;
        for (const Part& p : m_parts)
            total += p.size;
        double avail = h - m_head;
        double t = std::max(total ? double(shown_bytes) / double(total) * avail : avail, 24.0);
        t = std::min(t, avail);
        double top = std::min(y + h - t, y + m_head + (avail - t) * row_fraction(m_top));
        gfx::rounded(cr, x + w - 7, top, 5, t, 2.5);
        gfx::set(cr, with_alpha(pal.faint, 0.5));
        cairo_fill(cr);
    }
    cairo_restore(cr);
}
