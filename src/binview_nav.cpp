// Moving around the binary view: rows by address, selection and hex
// cursor, jumps with a back stack, following operands, and going to offsets.
#include "binview.h"

#include "l10n.h"

#include <algorithm>

namespace {

constexpr size_t kBackMax = 200;

} // namespace

int BinView::visible_rows() const
{
    if (m_h <= m_lh + m_head)
        return 30;
    int v = m_lh > 1 ? int((m_h - m_head) / m_lh) - 1 : 0;
    return std::max(v, 1);
}

BinView::Key BinView::row_of_addr(uint64_t a) const
{
    for (size_t p = 0; p < m_parts.size(); ++p) {
        const Part& part = m_parts[p];
        if (a < part.addr || a - part.addr >= part.size)
            continue;
        int pi = 0;
        uint64_t b = 0;
        size_t i = 0;
        if (!locate(Key { int(p), a - part.addr, Key::Insn }, &pi, &b, &i))
            continue;
        // Over label rows back to the nearest instruction row.
        Key k = key_of(pi, b, i);
        while (k.valid() && k.part == int(p) && k.kind == Key::Label)
            k = prev_row(k);
        if (!k.valid() || k.part != int(p) || k.kind != Key::Insn)
            continue;
        const Row* r = row(k);
        if (r && r->insn.addr <= a && a < r->insn.addr + r->insn.len)
            return k;
    }
    return Key();
}

uint64_t BinView::selected_addr() const
{
    if (!m_sel.valid() || !row(m_sel))
        return 0;
    return row_addr(m_sel);
}

const dis::Insn* BinView::selected_insn() const
{
    if (m_sel.kind != Key::Insn)
        return nullptr;
    const Row* r = row(m_sel);
    return r ? &r->insn : nullptr;
}

int BinView::row_at(double x, double y) const
{
    if (x < m_split || y < m_y + m_head || m_lh <= 0)
        return -1;
    size_t k = size_t((y - m_y - m_head) / m_lh);
    return k < m_vis.size() ? int(k) : -1;
}

void BinView::select_row(const Key& k, bool scroll)
{
    if (m_parts.empty())
        return;
    m_sel = fix_key(k);
    if (scroll)
        ensure_row_visible();
    if (m_sel.kind != Key::Insn)
        return;
    uint64_t a = row_addr(m_sel);
    if (live()) {
        if (a < m_dump_lo || a >= m_dump_hi)
            set_dump(a);
        m_cur = a;
    } else {
        uint64_t off = 0;
        if (m_img && m_img->addr_to_off(a, &off))
            m_cur = off;
    }
    m_nib = 0;
    ensure_hex_visible();
}

void BinView::ensure_row_visible()
{
    if (!m_sel.valid())
        return;
    int v = visible_rows();
    m_top = fix_key(m_top);
    if (m_sel < m_top) {
        m_top = step_rows(m_sel, -(v / 4));
        return;
    }
    Key k = m_top;
    for (int i = 0; i < v; ++i) {
        if (k == m_sel)
            return;
        Key n = next_row(k);
        if (!n.valid())
            return;
        k = n;
    }
    m_top = step_rows(m_sel, -(v - v / 4 - 1));
}

void BinView::ensure_hex_visible()
{
    int v = visible_rows();
    uint64_t bpr = uint64_t(m_bpr);
    uint64_t r = m_cur / bpr * bpr;
    if (r < m_hex_top || r >= m_hex_top + uint64_t(v) * bpr) {
        uint64_t back = bpr * uint64_t(v / 3);
        m_hex_top = r > back ? r - back : 0;
    }
    if (live()) {
        uint64_t lo = m_dump_lo / bpr * bpr;
        if (m_hex_top < lo)
            m_hex_top = lo;
    }
}

void BinView::show_hex_at_cursor()
{
    m_hex_focus = true;
    m_nib = 0;
    uint64_t bpr = uint64_t(m_bpr);
    uint64_t r = m_cur / bpr * bpr;
    m_hex_top = r > 4 * bpr ? r - 4 * bpr : 0;
    ensure_hex_visible();
}

// The hex cursor to the file byte of an address; an error status when
// the address has none.
void BinView::cursor_to_file_addr(uint64_t a)
{
    if (!m_img)
        return;
    uint64_t off = 0;
    if (m_img->addr_to_off(a, &off))
        m_cur = off;
    else
        say(true, "bin.not_mapped");
}

void BinView::goto_addr(uint64_t a)
{
    if (m_sel.valid() && m_sel.kind != Key::Header && row(m_sel)) {
        m_back.push_back(row_addr(m_sel));
        if (m_back.size() > kBackMax)
            m_back.erase(m_back.begin());
    }
    if (live()) {
        if (a < m_live_lo || a >= m_live_hi) {
            for (const dbg::Region& r : regions()) {
                if (r.x && a >= r.start && a < r.end)
                    m_live_lo = m_live_hi = 0;
            }
        }
        Key k = row_of_addr(a);
        if (k.valid()) {
            select_row(k, true);
            m_hex_focus = false;
            return;
        }
        set_dump(a);
        m_cur = a;
    } else {
        Key k = row_of_addr(a);
        if (k.valid()) {
            select_row(k, true);
            m_hex_focus = false;
            return;
        }
        cursor_to_file_addr(a);
    }
    show_hex_at_cursor();
}

void BinView::follow()
{
    const dis::Insn* in = selected_insn();
    if (!in)
        return;
    if (in->has_target)
        goto_addr(in->target);
    else if (in->has_mem)
        goto_addr(in->mem);
}

bool BinView::back()
{
    if (m_back.empty())
        return false;
    uint64_t a = m_back.back();
    m_back.pop_back();
    Key k = row_of_addr(a);
    if (k.valid())
        select_row(k, true);
    m_hex_focus = false;
    return true;
}

bool BinView::goto_offset(uint64_t off)
{
    if (live()) {
        goto_addr(off);
        return true;
    }
    if (!m_img || off >= m_img->m_data.size())
        return false;
    m_cur = off;
    m_nib = 0;
    m_hex_focus = true;
    ensure_hex_visible();
    uint64_t a = 0;
    if (m_img->off_to_addr(off, &a)) {
        Key k = row_of_addr(a);
        if (k.valid()) {
            m_sel = k;
            ensure_row_visible();
        }
    }
    return true;
}

void BinView::show_in_hex(uint64_t a)
{
    if (m_sel.valid() && row(m_sel))
        m_back.push_back(row_addr(m_sel));
    if (live()) {
        set_dump(a);
        m_cur = a;
    } else {
        cursor_to_file_addr(a);
    }
    show_hex_at_cursor();
}
