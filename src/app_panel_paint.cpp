// The side panel beside the document: registers, flags, variables and the
// stack of the stopped program (or the start button and hints), then
// breakpoints, watches and the labels of the source, each under a foldable
// title. It paints from the values taken at the stop and records its hits.
#include "app.h"

#include "l10n.h"
#include "numfmt.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace {

struct RegNames {
    const char* name;
    const char* n32;
    const char* n16;
    const char* n8;
};

const RegNames kRegNames[] = {
    { "rax", "eax", "ax", "al" },  { "rbx", "ebx", "bx", "bl" },  { "rcx", "ecx", "cx", "cl" },
    { "rdx", "edx", "dx", "dl" },  { "rsi", "esi", "si", "sil" }, { "rdi", "edi", "di", "dil" },
    { "rbp", "ebp", "bp", "bpl" }, { "rsp", "esp", "sp", "spl" }, { "rip", "eip", "ip", "ip" },
    { "eax", "eax", "ax", "al" },  { "ebx", "ebx", "bx", "bl" },  { "ecx", "ecx", "cx", "cl" },
    { "edx", "edx", "dx", "dl" },  { "esi", "esi", "si", "si" },  { "edi", "edi", "di", "di" },
    { "ebp", "ebp", "bp", "bp" },  { "esp", "esp", "sp", "sp" },  { "eip", "eip", "ip", "ip" },
};

struct FlagBit {
    const char* name;
    int bit;
};

const FlagBit kFlagBits[] = { { "CF", 0 }, { "PF", 2 }, { "AF", 4 }, { "ZF", 6 }, { "SF", 7 },
                              { "TF", 8 }, { "IF", 9 }, { "DF", 10 }, { "OF", 11 } };

// The register's name at a width below 64 bits.
std::string width_name(const std::string& name, int width)
{
    std::string s = name;
    if (width < 64) {
        bool found = false;
        for (const RegNames& r : kRegNames)
            if (name == r.name) {
                s = width == 32 ? r.n32 : width == 16 ? r.n16 : r.n8;
                found = true;
                break;
            }
        if (!found && name.size() >= 2 && name[0] == 'r' && name[1] >= '0' && name[1] <= '9')
            s += width == 32 ? "d" : width == 16 ? "w" : "b";
    }
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

Rgba with_alpha(Rgba c, double k)
{
    c.a *= k;
    return c;
}

std::string hex_digits(uint64_t v, int digits)
{
    char b[24];
    snprintf(b, sizeof b, "%0*" PRIX64, digits, v);
    return b;
}

// The decimal and character note of a register that points nowhere.
std::string plain_note(uint64_t v, int width)
{
    std::string dec = v >= 10 && v <= 999999 ? std::to_string(v) : std::string();
    std::string chars = width >= 8 && (v & 0xFF) != 0 && v > 31 ? numfmt::chars(v, width / 8) : std::string();
    if (!chars.empty())
        chars = "'" + chars + "'";
    if (!dec.empty() && !chars.empty())
        return dec + "  " + chars;
    return dec.empty() ? chars : dec;
}

} // namespace

void App::paint_right(cairo_t* cr, double x, double y, double w, double h)
{
    size_t first_hit = m_hits.size();
    gfx::fill_rect(cr, x, y, w, h, m_pal.panel);
    cairo_save(cr);
    cairo_rectangle(cr, x, y, w, h);
    cairo_clip(cr);
    m_right_scroll = std::clamp(m_right_scroll, 0.0, std::max(0.0, m_right_content - h));
    double cur = y + 8 - m_right_scroll;
    double bottom = y + h;

    Doc* active = m_settings.main_tab == 1 ? m_b : m_s;
    bool debugged = active && (active == m_dsrc || active == m_dbin);
    bool stopped = debugged && m_proc.traced() && m_proc.state() == dbg::State::Stopped;
    bool dark = m_pal.dark;

    double F = std::max(m_settings.font - 1.5, 11.0);
    gfx::Font mono{ F, false, true };
    gfx::Font mono_b{ F, true, true };
    gfx::Font small_mono{ F - 1, false, true };
    gfx::Font title_f{ 12, true, false };
    gfx::Font ui12{ 12, false, false };
    double rh = std::ceil(gfx::line_height(cr, mono) * 1.2);
    double adv = gfx::mono_advance(cr, F);
    double title_lh = gfx::line_height(cr, title_f);
    // Rows outside the view take their room but are not drawn.
    auto visible = [&](double row, double height) { return row + height >= y && row < bottom; };

    // Folding: the content of a folded section goes into an empty clip and
    // its room and hits are taken back when the next title comes.
    int open_fold = -1;
    double fold_cursor = 0;
    size_t fold_hits = 0;
    auto close_fold = [&]() {
        if (open_fold < 0)
            return;
        cairo_restore(cr);
        cur = fold_cursor;
        m_hits.resize(fold_hits);
        open_fold = -1;
    };
    auto title = [&](int index, const std::string& text) {
        close_fold();
        bool folded = m_settings.folded.find("," + std::to_string(index) + ",") != std::string::npos;
        cairo_save(cr);
        cairo_translate(cr, x + 14, cur + title_lh / 2);
        if (folded)
            cairo_rotate(cr, -M_PI / 2);
        gfx::icon(cr, gfx::Icon::Chevron, 0, 0, 5, m_pal.faint);
        cairo_restore(cr);
        bool hot = m_hover == "fold#" + std::to_string(index);
        double tw = gfx::text(cr, text, x + 24, cur, hot ? m_pal.text : m_pal.dim, title_f);
        hit(x, cur - 2, std::min(40 + tw, w), title_lh + 4, "fold", index, "");
        cur += title_lh + 6;
        if (folded) {
            open_fold = index;
            fold_cursor = cur;
            fold_hits = m_hits.size();
            cairo_save(cr);
            cairo_rectangle(cr, 0, 0, 0, 0);
            cairo_clip(cr);
        }
    };
    auto close_button = [&](double bx, double row, const std::string& id, int n, const std::string& tip) {
        if (m_hover == id + "#" + std::to_string(n)) {
            gfx::rounded(cr, bx, row - 1, 20, rh - 1, 4);
            gfx::set(cr, m_pal.hover);
            cairo_fill(cr);
        }
        gfx::icon(cr, gfx::Icon::Close, bx + 10, row + rh / 2 - 1, 5, m_pal.faint);
        hit(bx, row - 1, 20, rh - 1, id, n, tip);
    };

    // ---- registers
    title(0, L10n::tr("panel.registers"));
    m_reg_hit_names.clear();
    m_var_addrs.clear();
    if (stopped) {
        int full = m_proc.bits() == 64 ? 64 : 32;
        int width = std::min(int(m_settings.reg_width), full);
        if (width != 8 && width != 16 && width != 32 && width != 64)
            width = full;
        std::vector<int> widths = { 8, 16, 32 };
        if (full == 64)
            widths.push_back(64);
        double span = 0;
        for (int wd : widths)
            span += gfx::text_width(cr, std::to_string(wd), ui12) + 18;
        // The gaps between the chips, so the last one ends clear of the edge.
        span += 4.0 * double(widths.size() - 1);
        double cx = x + w - 12 - span;
        for (int wd : widths)
            cx += chip(cr, cx, cur - 26, std::to_string(wd), wd == width, "reg_width", wd, false, "") + 4;

        uint64_t mask = width == 64 ? ~uint64_t(0) : (uint64_t(1) << width) - 1;
        int digits = width / 4;
        double vx = x + 12 + 5 * adv;
        std::string seg_line;
        int row_i = 0;
        for (const auto& r : m_proc.reg_list()) {
            std::string name = r.name;
            if (name == "eflags" || name == "fs_base" || name == "gs_base")
                continue;
            uint64_t full_v = 0;
            if (!m_proc.reg(name, &full_v))
                continue;
            if (r.size == 2) {
                std::string up = width_name(name, 64);
                seg_line += up + "=" + hex_digits(full_v & 0xFFFF, 4) + "  ";
                continue;
            }
            uint64_t v = full_v & mask;
            double row = cur + row_i * rh;
            auto prev_it = m_snap.prev_regs.find(name);
            bool changed = prev_it != m_snap.prev_regs.end() && (prev_it->second & mask) != v;
            bool used = m_used_regs.count(name) != 0;
            if (changed || used) {
                gfx::rounded(cr, x + 8, row - 1, w - 16, rh - 1, 3);
                gfx::set(cr, with_alpha(changed ? m_pal.changed : m_pal.accent, dark ? 0.2 : 0.13));
                cairo_fill(cr);
            }
            Rgba name_c = changed ? m_pal.changed : used ? m_pal.accent : m_pal.s_register;
            gfx::text(cr, width_name(name, width), x + 12, row, name_c, mono_b);
            int n = int(m_reg_hit_names.size());
            if (m_hover == "reg#" + std::to_string(n))
                gfx::fill_rect(cr, vx - 2, row - 1, digits * adv + 4, rh - 2, m_pal.hover);
            std::string hx = hex_digits(v, digits);
            if (changed) {
                std::string old = hex_digits(prev_it->second & mask, digits);
                for (int i = 0; i < digits; ++i) {
                    bool same = old[size_t(i)] == hx[size_t(i)];
                    gfx::text(cr, hx.substr(size_t(i), 1), vx + i * adv, row, same ? m_pal.text : m_pal.changed,
                              same ? mono : mono_b);
                }
            } else {
                gfx::text(cr, hx, vx, row, m_pal.text, mono);
            }
            std::string note;
            auto pt = m_snap.pointees.find(name);
            bool pointer_reg = name == "rip" || name == "eip" || name == "rsp" || name == "esp";
            if (pt != m_snap.pointees.end() && v == full_v)
                note = "\u2192 " + pt->second;
            else if (v >= m_stack_lo && v < m_stack_hi && name != "rsp" && name != "esp")
                note = "\u2192 " + L10n::tr("panel.stack");
            else if (!pointer_reg)
                note = plain_note(v, width);
            double nx = vx + (digits + 2) * adv;
            if (!note.empty() && x + w - 10 - nx > 0)
                gfx::text(cr, note, nx, row, m_pal.faint, mono, gfx::Align::Left, x + w - 10 - nx);
            hit(vx - 2, row - 1, digits * adv + 4, rh, "reg", n, reg_tip(name, full_v));
            m_reg_hit_names.push_back(name);
            ++row_i;
        }
        cur += row_i * rh + 4;
        if (!seg_line.empty()) {
            gfx::text(cr, seg_line, x + 12, cur, m_pal.dim, small_mono, gfx::Align::Left, w - 24);
            cur += rh;
        }
        uint64_t fl = m_proc.flags();
        auto pf = m_snap.prev_regs.find("eflags");
        uint64_t prev_fl = pf != m_snap.prev_regs.end() ? pf->second : fl;
        double fx = x + 12, fy = cur + 2;
        for (const FlagBit& f : kFlagBits) {
            double cw = gfx::text_width(cr, f.name, ui12) + 18;
            if (fx + cw > x + w - 8 && fx > x + 12) {
                fx = x + 12;
                fy += 26;
            }
            int now = int((fl >> f.bit) & 1), before = int((prev_fl >> f.bit) & 1);
            fx += chip(cr, fx, fy, f.name, now, "flag", f.bit, now != before,
                       flag_tip(f.name, now, now != before ? before : -1, true))
                + 4;
        }
        cur = fy - 2 + 34;
    } else {
        bool exists = m_proc.state() == dbg::State::Running || m_proc.state() == dbg::State::Stopped;
        auto start_button = [&]() {
            button(cr, x + 12, cur, w - 24, 34, L10n::tr("menu.debug") + "  (F5)", "tb_debug",
                   active && !is_placeholder(active), true, nullptr, "");
        };
        bool hints = true;
        if (exists && !debugged) {
            start_button();
            cur += 42;
            const Doc* dd = m_dbin ? m_dbin : m_dsrc;
            std::string name;
            if (dd && dd->bin && !dd->img.m_path.empty())
                name = base_name(dd->img.m_path);
            else if (dd && !dd->path.empty())
                name = base_name(dd->path);
            else if (dd && !dd->name_hint.empty())
                name = dd->name_hint;
            else
                name = L10n::tr("file.untitled");
            cur += wrapped_text(cr, L10n::tr("panel.other_running", name), x + 12, cur, w - 24, m_pal.dim, ui12) + 8;
            button(cr, x + 12, cur, w - 24, 30, L10n::tr("panel.goto_running"), "goto_running", true, false, nullptr,
                   "");
            cur += 42;
        } else if (exists && debugged) {
            gfx::text(cr, L10n::tr("panel.running"), x + 12, cur, m_pal.faint, gfx::Font{ 13, false, false });
            cur += 24;
        } else {
            start_button();
            cur += 46;
            if (m_proc.state() == dbg::State::Exited && !m_snap.regs_now.empty() && debugged) {
                hints = false;
                gfx::text(cr, L10n::tr("panel.last_state"), x + 12, cur, m_pal.dim, title_f);
                cur += 20;
                int digits = m_proc.bits() == 64 ? 16 : 8;
                for (const auto& r : m_proc.reg_list()) {
                    std::string name = r.name;
                    auto it = m_snap.regs_now.find(name);
                    if (r.size == 2 || name == "eflags" || name == "fs_base" || name == "gs_base"
                        || it == m_snap.regs_now.end())
                        continue;
                    gfx::text(cr, width_name(name, 64), x + 12, cur, m_pal.faint, mono_b);
                    gfx::text(cr, hex_digits(it->second, digits), x + 12 + 4 * adv, cur, m_pal.faint, mono);
                    cur += rh;
                }
                cur += 8;
            }
        }
        if (hints)
            for (const char* k : { "panel.hint2", "panel.hint3", "panel.hint4" }) {
                gfx::text(cr, L10n::tr(k), x + 12, cur, m_pal.dim, ui12, gfx::Align::Left, w - 24);
                cur += 20;
            }
    }

    if (stopped) {
        // ---- variables
        title(1, L10n::tr("panel.variables"));
        int per_row = std::clamp(int((w - 24 - 12 * adv) / (3.4 * adv)), 4, 16);
        for (size_t vi = 0; vi < m_snap.vars.size(); ++vi) {
            const stepfx::Variable& v = m_snap.vars[vi];
            gfx::text(cr, v.name, x + 12, cur, m_pal.s_label, mono_b, gfx::Align::Left, 10 * adv);
            size_t count = std::min(v.bytes.size(), size_t(per_row));
            for (size_t i = 0; i < count; ++i) {
                double bx = x + 12 + 11 * adv + double(i) * 3 * adv;
                uint8_t b = v.bytes[i];
                bool ch = m_snap.mem_changed.count(v.addr + i) != 0;
                if (ch) {
                    gfx::rounded(cr, bx - 1, cur - 1, 2 * adv + 2, rh - 1, 2);
                    gfx::set(cr, with_alpha(m_pal.changed, dark ? 0.25 : 0.18));
                    cairo_fill(cr);
                }
                gfx::text(cr, hex_digits(b, 2), bx, cur, ch ? m_pal.changed : b ? m_pal.text : m_pal.zero,
                          ch ? mono_b : mono);
            }
            hit(x, cur, w, rh, "var", int(m_var_addrs.size()), vi < m_var_tips.size() ? m_var_tips[vi] : std::string());
            m_var_addrs.push_back(v.addr);
            cur += rh;
        }
        if (m_snap.vars.empty()) {
            gfx::text(cr, L10n::tr("panel.no_vars"), x + 12, cur, m_pal.faint, ui12, gfx::Align::Left, w - 24);
            cur += rh;
        }
        cur += 10;

        // ---- stack
        title(2, L10n::tr("panel.stack"));
        bool b64 = m_proc.bits() == 64;
        int slot = b64 ? 8 : 4;
        for (size_t i = 0; i < m_stack_slots.size(); ++i) {
            const StackSlot& s = m_stack_slots[i];
            double row = cur + double(i) * rh;
            if (s.changed) {
                gfx::rounded(cr, x + 8, row - 1, w - 16, rh - 1, 3);
                gfx::set(cr, with_alpha(m_pal.changed, dark ? 0.22 : 0.16));
                cairo_fill(cr);
            }
            if (i == 0)
                gfx::text(cr, b64 ? "rsp" : "esp", x + 12, row, m_pal.s_register, mono);
            else
                gfx::text(cr, "+" + hex_digits(i * slot, 2), x + 12, row, m_pal.faint, mono);
            std::string val = hex_digits(s.v, b64 ? 16 : 8);
            gfx::text(cr, val, x + 12 + 5 * adv, row, s.changed ? m_pal.changed : m_pal.text,
                      s.changed ? mono_b : mono);
            if (!s.sym.empty())
                gfx::text(cr, s.sym, x + 12 + (b64 ? 22 : 14) * adv, row, m_pal.s_label, mono, gfx::Align::Left,
                          std::max(1.0, x + w - 10 - (x + 12 + (b64 ? 22 : 14) * adv)));
            hit(x, row - 1, w, rh, "stack", int(i) * slot, val);
        }
        cur += 10 * rh + 10;
    }

    // ---- breakpoints: the whole list is laid out; the panel scrolls to it.
    std::vector<uint64_t> bp_list = bps();
    m_bp_addrs = bp_list;
    title(3, L10n::tr("panel.breakpoints")
                 + (bp_list.empty() ? std::string() : "  (" + std::to_string(bp_list.size()) + ")"));
    if (bp_list.empty()) {
        cur += wrapped_text(cr, L10n::tr("panel.no_bps"), x + 12, cur, w - 24, m_pal.faint, ui12) + 8;
    } else {
        for (size_t i = 0; i < bp_list.size(); ++i, cur += rh) {
            uint64_t a = bp_list[i];
            char tip[24];
            snprintf(tip, sizeof tip, "%" PRIX64, a);
            hit(x, cur - 1, w - 30, rh, "bp_go", int(i), tip);
            close_button(x + w - 28, cur, "bp_del", int(i), tip);
            if (!visible(cur, rh))
                continue;
            gfx::icon(cr, gfx::Icon::Breakpoint, x + 17, cur + rh / 2 - 1, 4.5, m_pal.bp);
            std::string text = hex_digits(a, a < (uint64_t(1) << 32) ? 8 : 12);
            std::string sym = symbol_at(a);
            if (!sym.empty())
                text += "  " + sym;
            gfx::text(cr, text, x + 28, cur, m_pal.text, mono, gfx::Align::Left, w - 60);
        }
        cur += 6;
    }

    // ---- watches
    size_t watch_count = 0;
    for (const std::string& wt : m_settings.watches)
        watch_count += wt.size() > 1;
    title(5, L10n::tr("panel.watch") + (watch_count ? "  (" + std::to_string(watch_count) + ")" : std::string()));
    for (size_t i = 0; i < m_settings.watches.size(); ++i) {
        const std::string& wt = m_settings.watches[i];
        if (wt.size() < 2)
            continue;
        double mid = cur + rh / 2 - 1;
        if (wt[0] == '1' || wt[0] == '2') {
            gfx::icon(cr, gfx::Icon::Breakpoint, x + 16, mid, 4.5, wt[0] == '1' ? m_pal.bp : m_pal.warn);
        } else {
            cairo_new_path(cr);
            cairo_arc(cr, x + 16, mid, 4.5, 0, 2 * M_PI);
            gfx::set(cr, m_pal.faint);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
        }
        const char* mode_tip = wt[0] == '1' ? "watch.stop_write" : wt[0] == '2' ? "watch.stop_any" : "watch.stop_tip";
        hit(x + 6, cur - 1, 20, rh, "watch_stop", int(i), L10n::tr(mode_tip));
        gfx::text(cr, wt.substr(1), x + 28, cur, m_pal.text, mono, gfx::Align::Left, 0.45 * w);
        bool ok = stopped && i < m_watch_ok_now.size() && m_watch_ok_now[i];
        if (!ok) {
            gfx::text(cr, "\u2013", x + w - 34, cur, m_pal.faint, mono, gfx::Align::Right);
        } else {
            uint64_t v = m_watch_now[i];
            bool ch = i < m_watch_ok_prev.size() && m_watch_ok_prev[i] && m_watch_prev[i] != v;
            gfx::text(cr, watch_value_text(i), x + w - 34, cur,
                      ch ? m_pal.changed : m_pal.text, ch ? mono_b : mono, gfx::Align::Right);
        }
        close_button(x + w - 28, cur, "watch_del", int(i), L10n::tr("watch.remove"));
        cur += rh;
    }
    std::string add = "+ " + L10n::tr("watch.add");
    button(cr, x + 12, cur + 2, std::min(button_width(cr, add), w - 24), 24, add, "watch_add", true, false, nullptr, "");
    cur += 34;

    // ---- labels
    if (m_settings.main_tab == 0 && m_s && !is_placeholder(m_s)) {
        const auto& labels = m_s->ed.labels();
        title(4, L10n::tr("panel.labels")
                     + (labels.empty() ? std::string() : "  (" + std::to_string(labels.size()) + ")"));
        if (labels.empty()) {
            cur += wrapped_text(cr, L10n::tr("panel.no_labels"), x + 12, cur, w - 24, m_pal.faint, ui12) + 8;
        } else {
            int caret = m_s->ed.caret().line;
            int current = -1;
            for (size_t i = 0; i < labels.size() && labels[i].second <= caret; ++i)
                current = int(i);
            size_t shown = std::min<size_t>(labels.size(), 2000);
            for (size_t i = 0; i < shown; ++i, cur += rh) {
                // A long source has thousands: only the rows in view are
                // hits and painted.
                if (!visible(cur, rh))
                    continue;
                const auto& [name, line] = labels[i];
                hit(x, cur - 1, w, rh, "lbl_goto", line, name);
                if (int(i) == current || m_hover == "lbl_goto#" + std::to_string(line)) {
                    gfx::rounded(cr, x + 4, cur - 1, w - 8, rh, 3);
                    gfx::set(cr, int(i) == current ? m_pal.select_dim : m_pal.hover);
                    cairo_fill(cr);
                }
                size_t dot = name.find('.');
                if (dot != std::string::npos && dot > 0)
                    gfx::text(cr, name.substr(dot), x + 28, cur, m_pal.dim, mono, gfx::Align::Left, w - 80);
                else
                    gfx::text(cr, name, x + 14, cur, m_pal.s_label, mono_b, gfx::Align::Left, w - 80);
                gfx::text(cr, std::to_string(line + 1), x + w - 12, cur, m_pal.faint, mono, gfx::Align::Right);
            }
        }
        cur += 6;
    }

    close_fold();
    m_right_content = m_right_scroll + cur - y + 12;
    m_hits.erase(std::remove_if(m_hits.begin() + long(first_hit), m_hits.end(),
                                [&](const Hit& hh) { return hh.y + hh.h <= y || hh.y >= bottom; }),
                 m_hits.end());
    if (m_right_content > h) {
        double t = std::max(h * h / m_right_content, 24.0);
        double top = y;
        if (m_right_content - h > 1)
            top = y + (h - t) * m_right_scroll / (m_right_content - h);
        gfx::rounded(cr, x + w - 7, top, 5, t, 2.5);
        gfx::set(cr, with_alpha(m_pal.faint, 0.5));
        cairo_fill(cr);
    }
    cairo_restore(cr);
    hit(x, y, w, h, "pane_right", 0, "");
    std::stable_partition(m_hits.begin() + long(first_hit), m_hits.end(),
                          [](const Hit& hh) { return hh.id == "pane_right"; });
}
