// The fixed bands of the window: menu bar, toolbar, document tabs, the find
// and replace bar and the status line.
#include "app.h"

#include <chrono>

#include "l10n.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>

namespace {

const char* const kMenus[] = { "menu.file",       "menu.edit", "menu.build_menu", "menu.debug_menu",
                                  "menu.view",       "menu.tools", "menu.help" };

const gfx::Font kUi{ 13, false, false };

} // namespace

void App::paint_menubar(cairo_t* cr, double W)
{
    gfx::fill_rect(cr, 0, 0, W, 28, m_pal.panel);
    gfx::hline(cr, 0, 27, W, m_pal.border);
    gfx::app_logo(cr, 16, 14, 9);
    double lh = gfx::line_height(cr, kUi);
    double x = 32;
    for (int i = 0; i < 7; ++i) {
        std::string title = L10n::tr(kMenus[i]);
        double w = gfx::text_width(cr, title, kUi) + 20;
        bool open = i == m_menu;
        if (open || m_hover == "menubar#" + std::to_string(i)) {
            gfx::rounded(cr, x, 3, w, 22, 5);
            gfx::set(cr, open ? m_pal.select : m_pal.hover);
            cairo_fill(cr);
        }
        gfx::text(cr, title, x + 10, (28 - lh) / 2, m_pal.text, kUi);
        hit(x, 0, w, 28, "menubar", i, "");
        if (open)
            m_menu_x = x;
        x += w;
    }
    Doc* d = shown_doc();
    if (!is_placeholder(d))
        gfx::text(cr, display_name(d, false), W - 12, (28 - lh) / 2, m_pal.dim, kUi, gfx::Align::Right,
                  std::max(0.0, W - 12 - x - 16));
}

void App::paint_toolbar(cairo_t* cr, double y, double W)
{
    gfx::fill_rect(cr, 0, y, W, 42, m_pal.panel);
    gfx::hline(cr, 0, y + 41, W, m_pal.border);
    Doc* d = shown_doc();
    bool debugged = d == m_dsrc || d == m_dbin;
    dbg::State st = m_proc.state();
    bool busy = debugged && (st == dbg::State::Running || st == dbg::State::Stopped);
    bool paused = debugged && m_proc.traced() && st == dbg::State::Stopped;
    bool narrow = W < 1150;

    enum class Compact { Always, Narrow, Never };
    struct Tool {
        const char* id;
        gfx::Icon icon;
        const char* label;
        const char* tip;
        const char* keys;
        bool enabled;
        bool primary;
        Compact compact;
    };
    const Tool tools[] = {
        { "tb_new", gfx::Icon::New, "tb.new", "menu.new", "Ctrl+N", true, false, Compact::Always },
        { "tb_open", gfx::Icon::Open, "tb.open", "menu.open", "Ctrl+O", true, false, Compact::Always },
        { "tb_save", gfx::Icon::Save, "tb.save", "menu.save", "Ctrl+S", true, false, Compact::Always },
        { "tb_bin", gfx::Icon::Binary, "tb.binary", "menu.open_binary", "Ctrl+Shift+O", true, false, Compact::Always },
        { nullptr, gfx::Icon::New, nullptr, nullptr, nullptr, false, false, Compact::Always },
        { "tb_build", gfx::Icon::Build, "tb.build", "menu.build", "F7", !busy, false, Compact::Narrow },
        { "tb_run", gfx::Icon::Run, "tb.run", "menu.run", "Ctrl+F5", !busy || m_proc.traced(), false,
          Compact::Narrow },
        { nullptr, gfx::Icon::New, nullptr, nullptr, nullptr, false, false, Compact::Always },
        { "tb_debug", paused ? gfx::Icon::Continue : gfx::Icon::Debug, paused ? "tb.continue" : "tb.debug",
          paused ? "menu.continue" : "menu.debug", "F5", !busy || paused, true, Compact::Never },
        { "tb_into", gfx::Icon::StepInto, "tb.step_into", "menu.step_into", "F11", !busy || paused, false,
          Compact::Narrow },
        { "tb_over", gfx::Icon::StepOver, "tb.step_over", "menu.step_over", "F10", !busy || paused, false,
          Compact::Narrow },
        { "tb_out", gfx::Icon::StepOut, "tb.step_out", "menu.step_out", "Shift+F11", paused, false, Compact::Always },
        { "tb_stop", gfx::Icon::Stop, "tb.stop", "menu.stop", "Shift+F5", busy, false, Compact::Always },
        { nullptr, gfx::Icon::New, nullptr, nullptr, nullptr, false, false, Compact::Always },
        { "tb_settings", gfx::Icon::Gear, "menu.settings", "menu.settings", "Ctrl+,", true, false, Compact::Always },
    };
    double x = 8;
    for (const Tool& t : tools) {
        if (!t.id) {
            gfx::vline(cr, x + 4, y + 10, 22, m_pal.border);
            x += 12;
            continue;
        }
        bool compact = t.compact == Compact::Always || (t.compact == Compact::Narrow && narrow);
        std::string label = compact ? std::string() : L10n::tr(t.label);
        double w = compact ? 34 : gfx::text_width(cr, label, kUi) + 42;
        std::string tip = L10n::tr(t.tip) + "  (" + t.keys + ")";
        button(cr, x, y + 6, w, 30, label, t.id, t.enabled, t.primary, &t.icon, tip);
        x += w + 4;
    }

    std::string state;
    Rgba colour = m_pal.ok;
    if (st == dbg::State::Running) {
        state = L10n::tr(m_proc.traced() ? "state.running_dbg" : "state.running");
    } else if (paused) {
        state = L10n::tr("state.stopped");
        colour = m_pal.warn;
    }
    if (state.empty())
        return;
    gfx::Font bold{ 13, true, false };
    double tw = gfx::text_width(cr, state, bold);
    if (W <= tw + x + 40)
        return;
    cairo_arc(cr, W - tw - 24, y + 21, 4.5, 0, 2 * M_PI);
    gfx::set(cr, colour);
    cairo_fill(cr);
    gfx::text(cr, state, W - 12, y + (42 - gfx::line_height(cr, bold)) / 2, colour, bold, gfx::Align::Right);
}

void App::paint_tabs(cairo_t* cr, double x, double y, double w)
{
    gfx::fill_rect(cr, x, y, w, 32, m_pal.panel2);
    gfx::hline(cr, x, y + 31, w, m_pal.border);
    const Doc* active = m_settings.main_tab == 1 ? m_b : m_s;
    if (active->hidden)
        active = m_s;

    std::vector<std::string> labels(m_docs.size());
    std::vector<double> widths(m_docs.size(), 0);
    double sum = 0;
    for (size_t i = 0; i < m_docs.size(); ++i) {
        if (m_docs[i]->hidden)
            continue;
        labels[i] = display_name(m_docs[i].get(), true);
        widths[i] = std::min(280.0, gfx::text_width(cr, labels[i], kUi) + 62);
        sum += widths[i];
    }
    double room = w - 12;
    double total = 0;
    for (size_t i = 0; i < m_docs.size(); ++i) {
        if (m_docs[i]->hidden)
            continue;
        if (sum > room && sum > 0)
            widths[i] = std::max(70.0, widths[i] * room / sum);
        total += widths[i] + 2;
    }

    // Tabs at their minimum that still do not fit scroll; the active tab is
    // brought into view whenever it changes.
    m_tab_overflow = std::max(0.0, total - 2 - room);
    if (active != m_tab_fitted) {
        m_tab_fitted = active;
        double tx = 0;
        for (size_t i = 0; i < m_docs.size(); ++i) {
            if (m_docs[i]->hidden)
                continue;
            if (m_docs[i].get() == active) {
                if (tx < m_tab_scroll)
                    m_tab_scroll = tx;
                else if (tx + widths[i] > m_tab_scroll + room)
                    m_tab_scroll = tx + widths[i] - room;
                break;
            }
            tx += widths[i] + 2;
        }
    }
    m_tab_scroll = std::clamp(m_tab_scroll, 0.0, m_tab_overflow);

    cairo_save(cr);
    cairo_rectangle(cr, x, y, w, 32);
    cairo_clip(cr);
    double left = x, right = x + w;
    double tx = x + 6 - m_tab_scroll;
    double lh = gfx::line_height(cr, kUi);
    for (size_t i = 0; i < m_docs.size(); ++i) {
        const Doc* d = m_docs[i].get();
        if (d->hidden)
            continue;
        double tw = widths[i];
        int n = int(i);
        std::string key = std::to_string(n);
        bool hovered = m_hover == "tab_main#" + key || m_hover == "tab_close#" + key;
        bool is_active = d == active;
        if (tx + tw > left && tx < right) {
            if (is_active) {
                gfx::fill_rect(cr, tx, y + 3, tw, 29, m_pal.panel);
                gfx::fill_rect(cr, tx, y + 3, tw, 2, m_pal.accent);
                gfx::vline(cr, tx, y + 3, 29, m_pal.border);
                gfx::vline(cr, tx + tw, y + 3, 29, m_pal.border);
            } else if (hovered) {
                gfx::fill_rect(cr, tx, y + 3, tw, 28, m_pal.hover);
            }
            // Hits only for the part of the tab inside the strip.
            double hx = std::max(tx, left), hr = std::min(tx + tw, right);
            std::string tip = d->bin ? d->img.m_path : !d->path.empty() ? d->path : L10n::tr("file.untitled");
            hit(hx, y, hr - hx, 32, "tab_main", n, tip);
            gfx::icon(cr, d->bin ? gfx::Icon::Binary : gfx::Icon::New, tx + 14, y + 17, 6,
                      is_active ? m_pal.accent : m_pal.faint);
            gfx::text(cr, labels[i], tx + 26, y + (32 - lh) / 2 + 1, is_active ? m_pal.text : m_pal.dim, kUi,
                      gfx::Align::Left, tw - 52);
            if (is_active || hovered) {
                double cx = tx + tw - 15, cy = y + 17;
                if (m_hover == "tab_close#" + key) {
                    gfx::rounded(cr, cx - 9, cy - 9, 18, 18, 4);
                    gfx::set(cr, m_pal.hover);
                    cairo_fill(cr);
                }
                gfx::icon(cr, gfx::Icon::Close, cx, cy, 5.5, is_active ? m_pal.dim : m_pal.faint);
                if (cx - 10 >= left && cx + 10 <= right)
                    hit(cx - 10, y + 4, 20, 26, "tab_close", n, "");
            }
        }
        tx += tw + 2;
    }
    cairo_restore(cr);
    // Where tabs lie beyond an edge, a shade says there is more.
    if (m_tab_overflow > 0) {
        Rgba shade = m_pal.accent;
        shade.a *= 0.5;
        if (m_tab_scroll > 0)
            gfx::fill_rect(cr, x, y + 3, 3, 28, shade);
        if (m_tab_scroll < m_tab_overflow)
            gfx::fill_rect(cr, x + w - 3, y + 3, 3, 28, shade);
    }
}

double App::paint_find(cairo_t* cr, double x, double y, double w)
{
    bool source = m_settings.main_tab != 1;
    bool replace_row = m_replace_open && source;
    double h = replace_row ? 64 : 34;
    gfx::fill_rect(cr, x, y, w, h, m_pal.panel2);
    gfx::hline(cr, x, y + h - 1, w, m_pal.border);
    gfx::icon(cr, gfx::Icon::Search, x + 18, y + 17, 7, m_pal.dim);
    double fw = std::min(w - 200, 360.0);

    auto field_box = [&](double by, bool focused) {
        gfx::rounded(cr, x + 34, by, fw, 24, 5);
        gfx::set(cr, m_pal.panel);
        cairo_fill_preserve(cr);
        gfx::set(cr, focused ? m_pal.accent : m_pal.border);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    };
    bool find_focus = m_focus == Focus::Find;
    field_box(y + 5, find_focus);
    m_find.paint(cr, x + 42, y + 5, fw - 16, 24, m_pal, 13, find_focus, m_caret_on, "", nullptr);
    hit(x + 34, y + 5, fw, 24, "find_in", 0, "");

    double bx = x + 34 + fw + 8;
    button(cr, bx, y + 5, 28, 24, "", "find_prev", true, false, nullptr, L10n::tr("find.prev") + "  (Shift+F3)");
    gfx::icon(cr, gfx::Icon::Chevron, bx + 14, y + 18, 7, m_pal.text);
    button(cr, bx + 32, y + 5, 28, 24, "", "find_next", true, false, nullptr, L10n::tr("find.next") + "  (F3)");
    cairo_save(cr);
    cairo_translate(cr, bx + 32 + 14, y + 16);
    cairo_rotate(cr, M_PI);
    cairo_translate(cr, -(bx + 32 + 14), -(y + 16));
    gfx::icon(cr, gfx::Icon::Chevron, bx + 32 + 14, y + 18, 7, m_pal.text);
    cairo_restore(cr);
    if (source) {
        std::string label = m_replace_open ? "\xE2\x96\xB4" : "\xE2\x96\xBE";
        double tw = gfx::text_width(cr, label, kUi) + 16;
        button(cr, bx + 68, y + 5, tw, 24, label, "find_replace_toggle", true, false, nullptr,
               L10n::tr("menu.replace") + "  (Ctrl+H)");
    }
    if (replace_row) {
        bool rep_focus = m_focus == Focus::Replace;
        field_box(y + 36, rep_focus);
        if (m_replace.text.empty() && !rep_focus)
            gfx::text(cr, L10n::tr("find.replace_hint"), x + 42, y + 40, m_pal.faint, kUi, gfx::Align::Left, fw - 16);
        m_replace.paint(cr, x + 42, y + 36, fw - 16, 24, m_pal, 13, rep_focus, m_caret_on, "", nullptr);
        hit(x + 34, y + 36, fw, 24, "replace_in", 0, "");
        gfx::Font small{ 12, false, false };
        std::string one = L10n::tr("find.replace"), all = L10n::tr("find.replace_all");
        double w1 = gfx::text_width(cr, one, small) + 20, w2 = gfx::text_width(cr, all, small) + 20;
        bool can = !m_find.text.empty();
        button(cr, bx, y + 36, w1, 24, one, "replace_one", can, false, nullptr, one + "  (Enter)");
        button(cr, bx + w1 + 6, y + 36, w2, 24, all, "replace_all", can, false, nullptr, all + "  (Ctrl+Enter)");
    }
    button(cr, x + w - 34, y + 5, 26, 24, "", "find_close", true, false, nullptr, L10n::tr("btn.close") + "  (Esc)");
    gfx::icon(cr, gfx::Icon::Close, x + w - 21, y + 17, 7, m_pal.dim);
    return h;
}

std::string App::format_text()
{
    tc::Format fmt = tc::format_from_key(m_settings.format);
    if (fmt != tc::Format::Auto)
        return tc::format_key(fmt);
    // Detection reads the whole source, so it runs again only when the text
    // (or the document) changed. A long source is read off the main thread
    // once the typing paused: the line shows the last answer until the next
    // one comes (poll_format).
    const Doc* s = m_s;
    int gen = s->ed.generation();
    Uint32 now = SDL_GetTicks();
    bool long_text = s->ed.line_count() > 5000;
    if (s == m_fmt_doc && !m_fmt_text.empty() && long_text) {
        if (gen != m_fmt_seen_gen) {
            m_fmt_seen_gen = gen;
            m_fmt_at = now;
        }
        return m_fmt_text;
    }
    if (s != m_fmt_doc || gen != m_fmt_gen || m_fmt_text.empty()) {
        m_fmt_doc = s;
        m_fmt_gen = m_fmt_seen_gen = gen;
        m_fmt_at = now;
        m_fmt_text = std::string(tc::format_key(tc::detect_format(s->ed.text()))) + " (auto)";
        ++m_fmt_runs;
    }
    return m_fmt_text;
}

void App::poll_format()
{
    if (!m_fmt_job.valid()) {
        // A long source that changed is read again once the typing has
        // paused: even the copy for the worker is not made between keys.
        const Doc* s = m_fmt_doc;
        if (s != m_s || m_fmt_seen_gen == m_fmt_gen || SDL_GetTicks() - m_fmt_at < 400)
            return;
        m_fmt_job_doc = s;
        m_fmt_job_gen = m_fmt_seen_gen;
        m_fmt_job = std::async(std::launch::async, [text = s->ed.text()] { return tc::detect_format(text); });
        return;
    }
    if (m_fmt_job.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    tc::Format f = m_fmt_job.get();
    // An answer for a document no longer in front is dropped; the next
    // frame asks again.
    if (m_fmt_job_doc != m_fmt_doc || m_fmt_doc != m_s)
        return;
    m_fmt_gen = m_fmt_job_gen;
    m_fmt_text = std::string(tc::format_key(f)) + " (auto)";
    ++m_fmt_runs;
    m_dirty = true;
}

void App::paint_status(cairo_t* cr, double y, double W)
{
    gfx::fill_rect(cr, 0, y, W, 24, m_pal.panel2);
    gfx::hline(cr, 0, y, W, m_pal.border);
    gfx::Font f{ 12, false, false };
    double ty = y + (24 - gfx::line_height(cr, f)) / 2;

    std::string right;
    if (m_settings.main_tab != 1) {
        Editor::Pos c = m_s->ed.caret();
        right = L10n::tr("status.pos", std::to_string(c.line + 1), std::to_string(c.col + 1));
    } else {
        right = m_b->bv.status_line();
    }
    right += (right.empty() ? "" : "   \xC2\xB7   ") + format_text();
    if (!m_s->bin && !is_placeholder(m_s)) {
        const tc::LinkOpts* lo = &m_s->link;
        tc::LinkOpts none;
        if (!m_s->path.empty()) {
            auto it = m_settings.links.find(m_s->path);
            lo = it != m_settings.links.end() ? &it->second : &none;
        }
        if (!lo->empty()) {
            std::istringstream libs(lo->libs);
            std::vector<std::string> names;
            for (std::string word; libs >> word;)
                names.push_back(word);
            std::string part = "   \xC2\xB7   ";
            if (lo->crt)
                part += names.empty() ? "C" : "C + ";
            for (size_t i = 0; i < names.size() && i < 4; ++i)
                part += (i ? " " : "") + names[i];
            if (names.size() > 4)
                part += " \xE2\x80\xA6 (+" + std::to_string(names.size() - 4) + ")";
            right += part;
        }
    }
    double rw = gfx::text(cr, right, W - 12, ty, m_pal.dim, f, gfx::Align::Right, 0.55 * W);
    if (!m_status.empty())
        gfx::text(cr, m_status, 12, ty, m_status_err ? m_pal.err : m_pal.dim, f, gfx::Align::Left,
                  std::max(0.0, W - rw - 40));
}
