// Block (column) selection: every row between two rows, between two
// horizontal edges measured in layout pixels.
#include "editor.h"
#include "editor_chars.h"

#include <algorithm>
#include <cmath>

using edchars::utf8_cont;

namespace {

// Two edges closer than this are one zero-width column: a caret on many rows.
bool same_edge(double a, double b) { return std::fabs(a - b) <= 0.5; }

} // namespace

void Editor::block_rows(int* lo, int* hi) const
{
    *lo = std::min(m_bl0, m_bl1);
    *hi = std::max(m_bl0, m_bl1);
}

void Editor::select_block(int row0, double x0, int row1, double x1)
{
    const int last = m_lines.size() - 1;
    m_block = true;
    m_bl0 = std::clamp(row0, 0, last);
    m_bl1 = std::clamp(row1, 0, last);
    m_bx0 = std::max(x0, 0.0);
    m_bx1 = std::max(x1, 0.0);
    m_caret = m_anchor = { m_bl1, index_at_x(m_bl1, m_bx1) };
    m_want_x = -1;
    ensure_caret_visible();
}

std::string Editor::block_text() const
{
    int lo = 0, hi = 0;
    block_rows(&lo, &hi);
    const double xl = std::min(m_bx0, m_bx1);
    const double xr = std::max(m_bx0, m_bx1);
    std::string out;
    for (int r = lo; r <= hi; ++r) {
        if (r > lo)
            out.push_back('\n');
        const int a = index_at_x(r, xl);
        const int b = index_at_x(r, xr);
        if (b > a)
            out.append(m_lines[r], size_t(a), size_t(b - a));
    }
    return out;
}

void Editor::erase_block()
{
    int lo = 0, hi = 0;
    block_rows(&lo, &hi);
    const double xl = std::min(m_bx0, m_bx1);
    const double xr = std::max(m_bx0, m_bx1);
    for (int r = lo; r <= hi; ++r) {
        const int a = index_at_x(r, xl);
        const int b = index_at_x(r, xr);
        if (b > a) {
            std::string s = m_lines[r];
            s.erase(size_t(a), size_t(b - a));
            m_lines.set(r, std::move(s));
        }
    }
    m_bx0 = m_bx1 = xl;
    m_caret = m_anchor = { m_bl1, index_at_x(m_bl1, xl) };
}

void Editor::block_insert(const std::string& text)
{
    push_undo(text.size() == 1 ? 1 : 0);
    if (!same_edge(m_bx0, m_bx1))
        erase_block();
    const double x = std::min(m_bx0, m_bx1);
    std::vector<std::string> pieces(1);
    for (char c : text) {
        if (c == '\r')
            continue;
        if (c == '\n')
            pieces.emplace_back();
        else
            pieces.back().push_back(c);
    }
    int lo = 0, hi = 0;
    block_rows(&lo, &hi);
    int lo_end = 0;
    for (int r = lo; r <= hi; ++r) {
        const std::string& piece = pieces[size_t(std::min(r - lo, int(pieces.size()) - 1))];
        const int at = index_at_x(r, x);
        std::string s = m_lines[r];
        s.insert(size_t(at), piece);
        m_lines.set(r, std::move(s));
        if (r == lo)
            lo_end = at + int(piece.size());
    }
    const double edge = x_of({ lo, lo_end });
    m_bx0 = m_bx1 = edge;
    m_caret = m_anchor = { m_bl1, index_at_x(m_bl1, edge) };
    changed();
}

void Editor::block_delete_char(bool before)
{
    push_undo(before ? 2 : 3);
    if (!same_edge(m_bx0, m_bx1)) {
        erase_block();
        changed();
        return;
    }
    int lo = 0, hi = 0;
    block_rows(&lo, &hi);
    double edge = m_bx0;
    for (int r = lo; r <= hi; ++r) {
        std::string s = m_lines[r];
        const int p = index_at_x(r, m_bx0);
        if (before) {
            if (p <= 0)
                continue;
            int start = p - 1;
            while (start > 0 && utf8_cont((unsigned char)s[size_t(start)]))
                --start;
            if (r == lo)
                edge = x_of({ r, start });
            s.erase(size_t(start), size_t(p - start));
        } else {
            if (p >= int(s.size()))
                continue;
            size_t end = size_t(p) + 1;
            while (end < s.size() && utf8_cont((unsigned char)s[end]))
                ++end;
            s.erase(size_t(p), end - size_t(p));
        }
        m_lines.set(r, std::move(s));
    }
    m_bx0 = m_bx1 = edge;
    m_caret = m_anchor = { m_bl1, index_at_x(m_bl1, edge) };
    changed();
}
