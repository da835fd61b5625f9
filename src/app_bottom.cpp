// The bottom pane: its header with the three tabs, the messages list, the
// program's output with its input row and the debug console with its
// command row. One scrolling list painter serves all three; it asks for
// the rows that show and no others.
#include "app.h"

#include "l10n.h"

#include <algorithm>
#include <cmath>

namespace {

struct Look {
    Rgba colour;
    bool bold;
};

Look line_look(const Palette& p, int kind)
{
    switch (kind) {
    case 1: return { p.err, false };
    case 2: return { p.warn, false };
    case 3: return { p.ok, false };
    case 4: return { p.accent, true };
    case 5: return { p.faint, false };
    case 6: return { p.s_string, false };
    case 7: return { p.s_label, false };
    default: return { p.text, false };
    }
}

// Console line kinds as pane colour classes.
int console_class(int kind)
{
    switch (kind) {
    case Console::kEcho: return 6;
    case Console::kError: return 1;
    case Console::kNotice: return 4;
    case Console::kProgram: return 7;
    default: return 0;
    }
}

size_t utf8_chars(const std::string& s)
{
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

// Byte offset of the character with index `chars`, or the size.
size_t utf8_offset(const std::string& s, size_t from, size_t chars)
{
    size_t i = from;
    while (i < s.size() && chars > 0) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80)
            ++i;
        --chars;
    }
    return i;
}

} // namespace

void App::paint_bottom(cairo_t* cr, double x, double y, double w, double h)
{
    gfx::fill_rect(cr, x, y, w, h, m_pal.panel);
    gfx::fill_rect(cr, x, y, w, 28, m_pal.panel2);
    gfx::hline(cr, x, y + 27, w, m_pal.border);

    gfx::Font tf{ 13, false, false };
    std::string labels[3] = { L10n::tr("tab.messages"), L10n::tr("tab.program"), L10n::tr("tab.console") };
    if (m_s->have_build) {
        int errors = int(std::count_if(m_s->build.diags.begin(), m_s->build.diags.end(),
                                       [](const tc::Diag& g) { return g.error; }));
        if (errors > 0)
            labels[0] += " (" + std::to_string(errors) + ")";
    }
    int tab = std::clamp(m_settings.bottom_tab, 0, 2);
    double tx = x + 6;
    double lh = gfx::line_height(cr, tf);
    for (int i = 0; i < 3; ++i) {
        double tw = gfx::text_width(cr, labels[i], tf) + 24;
        bool hovered = m_hover == "tab_bottom#" + std::to_string(i);
        if (i == tab) {
            gfx::fill_rect(cr, tx, y + 2, tw, 26, m_pal.panel);
            gfx::fill_rect(cr, tx, y + 2, tw, 2, m_pal.accent);
        } else if (hovered) {
            gfx::fill_rect(cr, tx, y + 2, tw, 25, m_pal.hover);
        }
        gfx::text(cr, labels[i], tx + 12, y + (28 - lh) / 2 + 1, i == tab ? m_pal.text : m_pal.dim, tf);
        hit(tx, y, tw, 28, "tab_bottom", i, "");
        tx += tw + 2;
    }

    double fsize = std::max(11.0, m_settings.font - 1);
    auto input_row = [&](TextField& field, bool focused, const std::string& prefix, const Rgba* colour,
                         const std::string& id) {
        gfx::hline(cr, x, y + h - 30, w, m_pal.border);
        gfx::fill_rect(cr, x, y + h - 29, w, 29, m_pal.panel2);
        field.paint(cr, x + 10, y + h - 29, w - 20, 28, m_pal, fsize, focused && m_modal == Modal::None, m_caret_on,
                    prefix, colour);
        hit(x, y + h - 30, w, 30, id, 0, "");
    };

    if (tab == 0) {
        PaneLines pl;
        pl.count = m_msgs.size();
        pl.text = [this](size_t i) -> const std::string& { return m_msgs[i].first; };
        pl.kind = [this](size_t i) { return m_msgs[i].second; };
        paint_lines(cr, x, y + 32, w, h - 34, pl, m_msgs_top, m_msgs_follow, "pane_msgs");
    } else if (tab == 1) {
        PaneLines pl;
        bool partial = !m_prog_partial.empty();
        pl.count = m_prog.size() + (partial ? 1 : 0);
        pl.text = [this](size_t i) -> const std::string& {
            return i < m_prog.size() ? m_prog[i].first : m_prog_partial;
        };
        pl.kind = [this](size_t i) { return i < m_prog.size() ? m_prog[i].second : 0; };
        pl.wrap = true;
        paint_lines(cr, x, y + 32, w, h - 64, pl, m_prog_top, m_prog_follow, "pane_prog");
        bool running = m_proc.alive();
        std::string prefix = running ? L10n::tr("prog.input") + " \xE2\x80\xBA " : L10n::tr("prog.not_running") + " ";
        input_row(m_prog_in, m_focus == Focus::ProgIn, prefix, nullptr, "prog_in");
    } else {
        const auto& lines = m_con.lines();
        if (m_con.generation() != m_con_seen) {
            m_con_seen = m_con.generation();
            m_con_follow = true;
        }
        PaneLines pl;
        pl.count = lines.size();
        pl.text = [&lines](size_t i) -> const std::string& { return lines[i].text; };
        pl.kind = [&lines](size_t i) { return console_class(lines[i].kind); };
        pl.spans = [&lines](size_t i) { return &lines[i].spans; };
        paint_lines(cr, x, y + 32, w, h - 64, pl, m_con_top, m_con_follow, "pane_con");
        input_row(m_con_in, m_focus == Focus::ConIn, m_con.prompt(), &m_pal.accent, "con_in");
    }
}

void App::paint_lines(cairo_t* cr, double x, double y, double w, double h, const PaneLines& lines, int& top,
                      bool& follow, const std::string& id)
{
    gfx::Font f{ std::max(11.0, m_settings.font - 1), false, true };
    double lh = std::ceil(gfx::line_height(cr, f) * 1.15);
    double adv = gfx::mono_advance(cr, f.size);
    int vis = std::max(1, int(std::floor(h / lh)));
    int count = int(lines.count);
    size_t cols = std::max<size_t>(8, size_t(std::max(0.0, (w - 20) / std::max(1.0, adv))));
    // Rows a line takes: wrapped lists break long lines at the pane's
    // width; only lines that may show are measured.
    auto rows_of = [&](int i) -> int {
        if (!lines.wrap)
            return 1;
        size_t n = utf8_chars(lines.text(size_t(i)));
        return std::max<int>(1, int((n + cols - 1) / cols));
    };
    int max_top = std::max(0, count - vis);
    if (lines.wrap) {
        int rows = 0;
        max_top = count;
        while (max_top > 0 && rows + rows_of(max_top - 1) <= vis) {
            rows += rows_of(max_top - 1);
            --max_top;
        }
        if (max_top == count && count > 0)
            max_top = count - 1; // a last line taller than the pane shows from its start
    }
    top = follow ? max_top : std::clamp(top, 0, max_top);
    if (top >= max_top)
        follow = true;

    cairo_save(cr);
    cairo_rectangle(cr, x, y, w, h);
    cairo_clip(cr);
    double ry = y;
    for (int t = top; t < count && ry < y + h; ++t) {
        const std::string& text = lines.text(size_t(t));
        Look look = line_look(m_pal, lines.kind(size_t(t)));
        gfx::Font lf = f;
        lf.bold = look.bold;
        if (id == "pane_msgs") {
            int line = size_t(t) < m_msg_line_of.size() ? m_msg_line_of[size_t(t)] : 0;
            if (line > 0) {
                if (m_hover == "msg_line#" + std::to_string(line))
                    gfx::fill_rect(cr, x, ry, w, lh, m_pal.hover);
                hit(x, ry, w, lh, "msg_line", line, L10n::tr("msg.goto_line"));
            } else if (double(utf8_chars(text)) * adv > w - 20) {
                hit(x, ry, w, lh, "msg_full", t, text);
            }
        }
        const std::vector<Console::Span>* spans = lines.spans ? lines.spans(size_t(t)) : nullptr;
        if (lines.wrap && text.size() > cols) {
            for (size_t at = 0; at < text.size() && ry < y + h;) {
                size_t end = utf8_offset(text, at, cols);
                gfx::text(cr, text.substr(at, end - at), x + 10, ry + 1, look.colour, lf);
                at = end;
                ry += lh;
            }
            continue;
        }
        gfx::text(cr, text, x + 10, ry + 1, look.colour, lf);
        if (spans)
            for (const Console::Span& s : *spans) {
                if (s.style == Console::SNormal || s.a < 0 || s.b <= s.a || size_t(s.b) > text.size())
                    continue;
                Rgba c = m_pal.text;
                bool bold = false, tint = false;
                switch (s.style) {
                case Console::SChanged: c = m_pal.changed; bold = tint = true; break;
                case Console::SRegName: c = m_pal.s_register; break;
                case Console::SRegChanged: c = m_pal.changed; bold = true; break;
                case Console::SFlagOn: c = m_pal.accent; bold = true; break;
                case Console::SFlagOff: c = m_pal.faint; break;
                case Console::SFlagChanged: c = m_pal.changed; bold = tint = true; break;
                case Console::SDim: c = m_pal.dim; break;
                case Console::SAddr: c = m_pal.addr; break;
                default: break;
                }
                double sx = x + 10 + double(utf8_chars(text.substr(0, size_t(s.a)))) * adv;
                double sw = double(utf8_chars(text.substr(size_t(s.a), size_t(s.b - s.a)))) * adv;
                gfx::fill_rect(cr, sx, ry, sw, lh, m_pal.panel);
                if (tint) {
                    Rgba tc = m_pal.changed;
                    tc.a *= m_pal.dark ? 0.24 : 0.17;
                    gfx::rounded(cr, sx - 1, ry, sw + 2, lh - 1, 2);
                    gfx::set(cr, tc);
                    cairo_fill(cr);
                }
                gfx::Font sf = f;
                sf.bold = bold;
                gfx::text(cr, text.substr(size_t(s.a), size_t(s.b - s.a)), sx, ry + 1, c, sf);
            }
        ry += lh;
    }
    if (count > vis) {
        double g = std::max(18.0, vis * h / count);
        double ty = y + double(top) / std::max(1, max_top) * (h - g);
        Rgba c = m_pal.faint;
        c.a *= 0.5;
        gfx::rounded(cr, x + w - 7, ty, 5, g, 2.5);
        gfx::set(cr, c);
        cairo_fill(cr);
    }
    cairo_restore(cr);
    hit(x, y, w, h, id, 0, "");
    // Line hits win over the list's own background hit.
    std::stable_partition(m_hits.begin(), m_hits.end(), [](const Hit& hh) {
        return hh.id != "msg_line" && hh.id != "msg_full" && hh.id != "conflag";
    });
}
