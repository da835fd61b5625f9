// Window geometry of the editor: points to text positions, the mouse, the
// wheel and the hover word. Everything uses the rectangle, line height and
// gutter recorded by the last paint.
#include "editor.h"
#include "editor_chars.h"
#include "editor_measure.h"

#include <algorithm>
#include <cmath>

namespace {

using edchars::is_alnum;

bool hover_word_char(unsigned char c) { return is_alnum(c) || c == '$' || c == '.' || c == '_'; }

// The line selection from line a to line b, whole lines, in either order.
void whole_lines(int a, int b, int last_line, int last_len, Editor::Pos* anchor, Editor::Pos* caret)
{
    auto line_end = [&](int l) { return l < last_line ? Editor::Pos { l + 1, 0 } : Editor::Pos { l, last_len }; };
    if (b < a) {
        *anchor = line_end(a);
        *caret = { b, 0 };
    } else {
        *anchor = { a, 0 };
        *caret = line_end(b);
    }
}

} // namespace

Editor::Measure& Editor::measure()
{
    if (!m_meas)
        m_meas.reset(new Measure);
    return *m_meas;
}

int Editor::line_at_y(double y) const
{
    const double lh = m_lh > 0 ? m_lh : 1;
    const int l = int(std::floor((y - m_y) / lh)) + m_top;
    return l < 0 ? 0 : std::min(l, m_lines.size() - 1);
}

Editor::Pos Editor::pos_at(double x, double y)
{
    const int line = line_at_y(y);
    const double lx = x - m_x - m_gutter - 8 + m_left;
    return clamp({ line, lx > 0 ? index_at_x(line, lx) : 0 });
}

void Editor::wheel(double steps)
{
    const long t = long(m_top) - std::lround(steps * 3);
    m_top = int(std::clamp(t, 0L, long(std::max(m_lines.size() - 1, 0))));
}

bool Editor::selection_contains(double x, double y)
{
    if (m_block) {
        int lo = 0, hi = 0;
        block_rows(&lo, &hi);
        const int l = line_at_y(y);
        const double lx = x - m_x - m_gutter - 8 + m_left;
        return l >= lo && l <= hi && lx >= std::min(m_bx0, m_bx1) && lx <= std::max(m_bx0, m_bx1);
    }
    if (!has_selection())
        return false;
    const Pos p = pos_at(x, y);
    const Pos s = sel_start();
    const Pos e = sel_end();
    auto before = [](Pos a, Pos b) { return a.line < b.line || (a.line == b.line && a.col < b.col); };
    return !before(p, s) && before(p, e);
}

std::string Editor::word_at(double x, double y)
{
    if (x < m_x + m_gutter || y < m_y || y >= m_y + m_h)
        return {};
    const Pos p = pos_at(x, y);
    const std::string& s = m_lines[p.line];
    int a = p.col, b = p.col;
    while (a > 0 && hover_word_char((unsigned char)s[size_t(a) - 1]))
        --a;
    while (b < int(s.size()) && hover_word_char((unsigned char)s[size_t(b)]))
        ++b;
    if (a == b)
        return {};
    // Taken to lie in a comment (a ';' inside a string counts too).
    if (s.find(';') < size_t(a))
        return {};
    return s.substr(size_t(a), size_t(b - a));
}

int Editor::mouse_down(double x, double y, bool shift, int clicks, bool alt)
{
    m_block = false;
    if (x < m_x + 20)
        return line_at_y(y);
    if (x < m_x + m_gutter) {
        if (!(shift && has_selection()))
            m_line_anchor = line_at_y(y);
        m_line_drag = true;
        mouse_drag(x, y);
        return -1;
    }
    const Pos p = pos_at(x, y);
    m_want_x = -1;
    const std::string& s = m_lines[p.line];
    if (alt) {
        m_anchor = m_caret = p;
        m_block = true;
        m_bl0 = m_bl1 = p.line;
        m_bx0 = m_bx1 = std::max(x - m_x - m_gutter - 8 + m_left, 0.0);
        m_dragging = true;
    } else if (clicks == 2) {
        int a = p.col, b = p.col;
        while (a > 0 && edview::word_char((unsigned char)s[size_t(a) - 1]))
            --a;
        while (b < int(s.size()) && edview::word_char((unsigned char)s[size_t(b)]))
            ++b;
        m_anchor = { p.line, a };
        m_caret = { p.line, b };
    } else if (clicks >= 3) {
        whole_lines(p.line, p.line, m_lines.size() - 1, int(m_lines[m_lines.size() - 1].size()), &m_anchor,
                    &m_caret);
    } else {
        m_caret = p;
        if (!shift)
            m_anchor = p;
        m_dragging = true;
    }
    return -1;
}

void Editor::mouse_drag(double x, double y)
{
    if (m_line_drag) {
        const int last = m_lines.size() - 1;
        whole_lines(m_line_anchor, line_at_y(y), last, int(m_lines[last].size()), &m_anchor, &m_caret);
        // The anchor line may lie past the end after lines were deleted.
        m_anchor = clamp(m_anchor);
        return;
    }
    if (!m_dragging)
        return;
    if (y < m_y)
        m_top = std::max(m_top - 1, 0);
    else if (y > m_y + m_h)
        m_top = std::min(m_top + 1, m_lines.size() - 1);
    if (!m_block) {
        m_caret = pos_at(x, y);
        return;
    }
    m_bl1 = line_at_y(y);
    m_bx1 = std::max(x - m_x - m_gutter - 8 + m_left, 0.0);
    m_anchor = m_caret = { m_bl1, index_at_x(m_bl1, m_bx1) };
}

void Editor::mouse_up()
{
    m_dragging = false;
    m_line_drag = false;
}

std::string Editor::note_word_at(double x, double y, std::string* next) const
{
    for (const NoteWord& w : m_note_words) {
        if (w.x0 <= x && x < w.x1 + 4 && w.y0 <= y && y < w.y1) {
            if (next)
                *next = w.next;
            return w.w;
        }
    }
    return {};
}
