// Keys, mouse, wheel, hover tips and the status text of the binary view.
// Positions are clamped in signed arithmetic, so nothing wraps past 0.
#include "binview.h"

#include "l10n.h"
#include "numfmt.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace {

// v + d kept inside [lo, hi], without wrapping past either end.
uint64_t clamp_move(uint64_t v, int64_t d, uint64_t lo, uint64_t hi)
{
    if (hi < lo)
        return lo;
    if (d < 0) {
        uint64_t back = uint64_t(-(d + 1)) + 1;
        return v < lo + back ? lo : std::min(v - back, hi);
    }
    uint64_t fwd = uint64_t(d);
    return v > hi || hi - v < fwd ? hi : std::max(v + fwd, lo);
}

} // namespace

bool BinView::key(const SDL_Keysym& k)
{
    bool ctrl = (k.mod & KMOD_CTRL) != 0;
    bool alt = (k.mod & KMOD_ALT) != 0;
    bool shift = (k.mod & KMOD_SHIFT) != 0;
    int page = m_lh > 1 ? int((m_h - m_head) / m_lh) - 1 : 0;
    page = std::max(page, 1);

    if (m_edit_active) {
        if (m_overwrite_pending)
            return true; // waiting for the answer to the overwrite question
        if (k.sym == SDLK_RETURN || k.sym == SDLK_KP_ENTER)
            commit_edit();
        else if (k.sym == SDLK_ESCAPE)
            cancel_edit();
        else
            m_edit.key(k, false);
        return true;
    }
    if (ctrl && k.sym == SDLK_z)
        return shift ? redo() : undo();
    if (ctrl && k.sym == SDLK_y)
        return redo();
    if (k.sym == SDLK_TAB) {
        if (!m_hex_focus) {
            m_hex_focus = true;
            m_ascii = false;
        } else if (!m_ascii) {
            m_ascii = true;
        } else {
            m_hex_focus = false;
            m_ascii = false;
        }
        m_nib = 0;
        return true;
    }
    if (m_hex_focus) {
        uint64_t lo = hex_limit_lo(), hi = hex_limit_hi();
        if (hi <= lo)
            return false;
        uint64_t last = hi - 1, bpr = uint64_t(m_bpr);
        uint64_t cur = m_cur;
        switch (k.sym) {
        case SDLK_LEFT: cur = clamp_move(cur, -1, lo, last); break;
        case SDLK_RIGHT: cur = clamp_move(cur, 1, lo, last); break;
        case SDLK_UP: cur = clamp_move(cur, -int64_t(bpr), lo, last); break;
        case SDLK_DOWN: cur = clamp_move(cur, int64_t(bpr), lo, last); break;
        case SDLK_PAGEUP: cur = clamp_move(cur, -int64_t(page) * int64_t(bpr), lo, last); break;
        case SDLK_PAGEDOWN: cur = clamp_move(cur, int64_t(page) * int64_t(bpr), lo, last); break;
        case SDLK_HOME: cur = ctrl ? lo : std::max(lo, cur / bpr * bpr); break;
        case SDLK_END: cur = ctrl ? last : std::min(last, cur / bpr * bpr + bpr - 1); break;
        default: return false;
        }
        m_cur = std::clamp(cur, lo, last);
        m_nib = 0;
        ensure_hex_visible();
        return true;
    }
    switch (k.sym) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER: start_edit(); return true;
    case SDLK_UP: select_row(step_rows(m_sel, -1), true); return true;
    case SDLK_DOWN: select_row(step_rows(m_sel, 1), true); return true;
    case SDLK_PAGEUP: select_row(step_rows(m_sel, -page), true); return true;
    case SDLK_PAGEDOWN: select_row(step_rows(m_sel, page), true); return true;
    case SDLK_HOME:
        if (ctrl)
            select_row(first_row(), true);
        return true;
    case SDLK_END:
        if (ctrl)
            select_row(last_row(), true);
        return true;
    case SDLK_RIGHT: {
        const dis::Insn* in = selected_insn();
        if (!in || !(in->has_target || in->has_mem))
            return false;
        follow();
        return true;
    }
    case SDLK_LEFT:
        if (!alt)
            return false;
        [[fallthrough]];
    case SDLK_BACKSPACE:
        if (!back())
            return false;
        return true;
    default: return false;
    }
}

// Column of the hex pane under window x: ASCII column or hex digits.
bool BinView::hex_column(double x, int* col) const
{
    if (x >= m_asc_x) {
        *col = std::min(int((x - m_asc_x) / m_adv), m_bpr - 1);
        return true;
    }
    if (x < m_hex_x)
        return false;
    int c = 0;
    for (int i = 0; i < m_bpr; ++i) {
        if (m_hex_x + (3 * i + i / 8) * m_adv <= x)
            c = i;
    }
    *col = c;
    return true;
}

void BinView::mouse_down(double x, double y, int clicks, bool right)
{
    if (y < m_y + m_head)
        return;
    if (m_edit_active) {
        if (m_overwrite_pending)
            return;
        for (const VisRow& v : m_vis) {
            if (row_addr(v.key) == m_edit_addr && v.key.kind == Key::Insn && y >= v.y && y < v.y + m_lh
                && x >= v.text_x - 4) {
                m_edit.click(x, "");
                return;
            }
        }
        // A press elsewhere closes the line without writing.
        Key top = m_top;
        finish_edit();
        m_top = top;
    }
    if (std::fabs(x - m_split) <= 5) {
        m_drag_split = true;
        m_drag_which = 2;
        return;
    }
    if (std::fabs(x - m_s1) <= 5) {
        m_drag_split = true;
        m_drag_which = 1;
        return;
    }
    double r = (y - m_y - m_head) / m_lh;
    if (x < m_split) {
        uint64_t hi = hex_limit_hi();
        int col = 0;
        uint64_t pos = m_cur;
        if (hex_column(x, &col)) {
            m_ascii = x >= m_asc_x;
            pos = m_hex_top + uint64_t(m_bpr) * uint64_t(std::max(0, int(r))) + uint64_t(col);
        }
        m_hex_focus = true;
        m_nib = 0;
        if (hi == 0)
            return; // nothing to point at: no clamp below 0
        m_cur = std::max(std::min(pos, hi - 1), hex_limit_lo());
        if (!live()) {
            uint64_t a = 0;
            if (!m_img || !m_img->off_to_addr(m_cur, &a)) {
                say(false, "bin.not_loaded");
                return;
            }
            Key k = row_of_addr(a);
            if (k.valid()) {
                m_sel = k;
                ensure_row_visible();
            }
        } else {
            Key k = row_of_addr(m_cur);
            if (k.valid()) {
                m_sel = k;
                ensure_row_visible();
            }
        }
        return;
    }
    m_hex_focus = false;
    // The painted rows are the rows from m_top on; below the last there is none.
    Key k = fix_key(m_top);
    for (int i = 0; i < int(r) && k.valid(); ++i)
        k = next_row(k);
    if (r < 0 || !k.valid())
        return;
    if (x < m_split + 22 && k.kind == Key::Insn) {
        if (on_toggle_bp)
            on_toggle_bp(row_addr(k));
        return;
    }
    select_row(k, false);
    if (clicks > 1 && !right)
        start_edit();
}

void BinView::mouse_drag(double x, double /*y*/)
{
    if (!m_drag_split || m_w <= 0)
        return;
    int b = m_drag_which == 1 ? int((x - m_hex0 - 6) / (3.125 * m_adv)) : int((x - m_hex0 - 24) / (4.125 * m_adv));
    b = std::clamp(b / 8 * 8, 8, 64);
    split_frac = std::clamp((m_hex0 + 24 + b * 4.125 * m_adv + 1 - m_x) / m_w, 0.05, 0.95);
}

void BinView::mouse_up()
{
    m_drag_split = false;
    m_drag_which = 0;
}

void BinView::wheel(double x, double /*y*/, double dy)
{
    long step = std::lround(3 * dy);
    if (x < m_split) {
        uint64_t bpr = uint64_t(m_bpr);
        uint64_t lo = live() ? m_dump_lo / bpr * bpr : 0;
        uint64_t hi = hex_limit_hi();
        uint64_t top_max = std::max(lo, hi > bpr ? hi - bpr : 0);
        uint64_t t = clamp_move(m_hex_top, -int64_t(step) * int64_t(bpr), lo, top_max);
        m_hex_top = t / bpr * bpr;
        return;
    }
    m_top = step_rows(fix_key(m_top), int(-step));
}

std::string BinView::hover_tip(double x, double y) const
{
    if (y < m_y + m_head || y >= m_y + m_h || m_lh <= 0)
        return {};
    if (x >= m_split) {
        for (const VisRow& v : m_vis) {
            if (y < v.y || y >= v.y + m_lh || x < v.text_x)
                continue;
            const Row* r = row(v.key);
            if (!r)
                return {};
            const std::string& t = r->insn.text;
            size_t i = size_t((x - v.text_x) / m_adv);
            if (i >= t.size())
                return {};
            auto word = [](char c) { return std::isalnum(uint8_t(c)) || c == '_'; };
            if (!word(t[i]))
                return {};
            size_t s = i, e = i;
            while (s > 0 && word(t[s - 1]))
                --s;
            while (e < t.size() && word(t[e]))
                ++e;
            std::string w = t.substr(s, e - s);
            uint64_t val = 0;
            int size = 0;
            if (w.size() < 2 || !std::isdigit(uint8_t(w[0])) || !numfmt::parse(w, &val, &size))
                return {};
            std::string tip = numfmt::tip(val, size);
            if (symbol_at) {
                std::string n = symbol_at(val);
                if (!n.empty())
                    tip += "  ·  " + n;
            }
            return tip;
        }
        return {};
    }
    int col = 0;
    if (!hex_column(x, &col))
        return {};
    uint64_t pos = m_hex_top + uint64_t(m_bpr) * uint64_t((y - m_y - m_head) / m_lh) + uint64_t(col);
    uint8_t b[8];
    int n = 0;
    if (pos < hex_limit_hi()) {
        uint8_t ok[8];
        hex_read_range(pos, size_t(std::min<uint64_t>(8, hex_limit_hi() - pos)), b, ok);
        while (n < 8 && pos + uint64_t(n) < hex_limit_hi() && ok[n])
            ++n;
    }
    if (n == 0)
        return {};
    std::string tip = numfmt::tip(b[0], 1);
    for (int width : { 2, 4, 8 }) {
        if (n < width)
            break;
        uint64_t v = 0;
        for (int i = width - 1; i >= 0; --i)
            v = (v << 8) | b[i];
        char line[96];
        snprintf(line, sizeof line, "\n%d Bit:  %s = %llu", width * 8, numfmt::hex(v, width).c_str(),
                 static_cast<unsigned long long>(v));
        tip += line;
        int64_t sv = numfmt::sign(v, width);
        if (sv < 0)
            tip += " (" + std::to_string(sv) + ")";
    }
    return tip;
}

std::string BinView::status_line() const
{
    char buf[160];
    if (!m_hex_focus) {
        if (!m_sel.valid() || !row(m_sel))
            return {};
        snprintf(buf, sizeof buf, "%s %s", L10n::tr("bin.address").c_str(), addr_text(row_addr(m_sel)).c_str());
        return buf;
    }
    if (live() || !m_img) {
        snprintf(buf, sizeof buf, "%s %s", L10n::tr("bin.address").c_str(), addr_text(m_cur).c_str());
        return buf;
    }
    uint64_t a = 0;
    if (m_img->off_to_addr(m_cur, &a))
        snprintf(buf, sizeof buf, "%s %08llX  ·  %s %s", L10n::tr("bin.offset").c_str(),
                 static_cast<unsigned long long>(m_cur), L10n::tr("bin.address").c_str(), addr_text(a).c_str());
    else
        snprintf(buf, sizeof buf, "%s %08llX", L10n::tr("bin.offset").c_str(), static_cast<unsigned long long>(m_cur));
    return buf;
}
