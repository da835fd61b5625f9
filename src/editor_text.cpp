// Text model, undo history and how breakpoints follow line edits.
#include "editor.h"
#include "editor_chars.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr size_t kUndoLimit = 400;
constexpr uint32_t kGroupPauseMs = 1199;

// Monospace cells until the window installs its own measuring.
double cell_width(double font) { return font * 0.6; }

double mono_x_of(const std::string& s, int col, double font)
{
    int cells = 0;
    for (int i = 0; i < col && i < int(s.size()); ++i) {
        unsigned char c = (unsigned char)s[size_t(i)];
        if (c == '\t')
            cells = (cells / 8 + 1) * 8;
        else if (!edchars::utf8_cont(c))
            ++cells;
    }
    return cells * cell_width(font);
}

int mono_index_at_x(const std::string& s, double x, double font)
{
    // The character boundary nearest to x, as a click would pick it.
    int i = 0;
    double at = 0;
    const int n = int(s.size());
    while (i < n) {
        int j = i + 1;
        while (j < n && edchars::utf8_cont((unsigned char)s[size_t(j)]))
            ++j;
        double next = mono_x_of(s, j, font);
        if (x < (at + next) / 2)
            return i;
        at = next;
        i = j;
    }
    return n;
}

template <class Map>
void keep_lines_below(Map& m, int n)
{
    m.erase(m.lower_bound(n), m.end());
}

} // namespace

Editor::Editor()
    : m_clock([] { return uint32_t(SDL_GetTicks()); })
    , m_metrics { mono_x_of, mono_index_at_x }
{
}

Editor::~Editor() = default;

void Editor::set_clock(Clock c) { m_clock = std::move(c); }

void Editor::set_metrics(Metrics m) { m_metrics = std::move(m); }

void Editor::set_text(const std::string& text)
{
    m_lines.assign(text);
    m_caret = m_anchor = {};
    m_top = 0;
    m_left = 0;
    m_undo.clear();
    m_redo.clear();
    m_modified = false;
    // A restored copy of an open document keeps the decorations of lines
    // that still exist; only those past the new end go.
    const int n = m_lines.size();
    keep_lines_below(breakpoints, n);
    keep_lines_below(marks, n);
    keep_lines_below(code_lines, n);
    ++m_gen;
    pc_line = -1;
    // A block whose rows lie past the new end must not index lines.
    m_block = false;
}

std::string Editor::text() const
{
    const int n = m_lines.size();
    size_t total = 0;
    for (int i = 0; i < n; ++i)
        total += m_lines[i].size() + 1;
    std::string out;
    out.reserve(total);
    for (int i = 0; i < n; ++i) {
        if (i)
            out.push_back('\n');
        out += m_lines[i];
    }
    if (!out.empty() && out.back() != '\n')
        out.push_back('\n');
    return out;
}

Editor::Pos Editor::clamp(Pos p) const
{
    Pos r;
    r.line = p.line < 0 ? 0 : std::min(p.line, m_lines.size() - 1);
    r.col = p.col < 0 ? 0 : std::min(p.col, int(m_lines[r.line].size()));
    return r;
}

void Editor::changed()
{
    ++m_gen;
    m_modified = true;
    m_want_x = -1;
    ensure_caret_visible();
}

void Editor::push_undo(int kind)
{
    const uint32_t now = m_clock();
    if (kind == 0 || kind != m_last_kind || uint32_t(now - m_last_time) > kGroupPauseMs
        || m_undo.empty()) {
        m_undo.push_back(snapshot());
        if (m_undo.size() > kUndoLimit)
            m_undo.erase(m_undo.begin());
        m_redo.clear();
        m_last_kind = kind;
    }
    m_last_time = now;
}

void Editor::replace_lines(std::vector<std::pair<int, std::string>> changes)
{
    push_undo(0);
    for (auto& [i, s] : changes)
        m_lines.set(i, std::move(s));
    m_caret = m_anchor = clamp(m_caret);
    changed();
}

void Editor::restore(Snapshot s)
{
    m_lines.thaw(std::move(s.lines));
    m_caret = clamp(s.caret);
    m_anchor = clamp(s.anchor);
    ++m_gen;
    m_last_kind = 0;
    m_modified = true;
    m_want_x = -1;
    ensure_caret_visible();
}

void Editor::undo()
{
    m_block = false;
    if (m_undo.empty())
        return;
    m_redo.push_back(snapshot());
    Snapshot s = std::move(m_undo.back());
    m_undo.pop_back();
    restore(std::move(s));
}

void Editor::redo()
{
    if (m_redo.empty())
        return;
    m_undo.push_back(snapshot());
    Snapshot s = std::move(m_redo.back());
    m_redo.pop_back();
    restore(std::move(s));
    // Block mode survives a redo, but the restored text may be shorter.
    clamp_block();
}

void Editor::clamp_block()
{
    if (!m_block)
        return;
    const int last = m_lines.size() - 1;
    m_bl0 = std::clamp(m_bl0, 0, last);
    m_bl1 = std::clamp(m_bl1, 0, last);
    m_caret = m_anchor = clamp({ m_bl1, index_at_x(m_bl1, m_bx1) });
}

void Editor::shift_breakpoints(int from, int delta)
{
    if (delta == 0)
        return;
    std::set<int> out;
    for (int b : breakpoints)
        out.insert(b >= from ? b + delta : b);
    breakpoints = std::move(out);
}

void Editor::drop_breakpoints(int first, int last)
{
    breakpoints.erase(breakpoints.lower_bound(first), breakpoints.upper_bound(last));
}

int Editor::visible_lines() const
{
    int v = int(m_lh > 1 ? m_h / m_lh : m_h);
    return std::max(v, 1);
}

double Editor::x_of(Pos p) const
{
    p = clamp(p);
    return m_metrics.x_of(m_lines[p.line], p.col, m_font);
}

int Editor::index_at_x(int line, double x) const
{
    line = std::clamp(line, 0, m_lines.size() - 1);
    const std::string& s = m_lines[line];
    int i = m_metrics.index_at_x(s, x > 0 ? x : 0, m_font);
    return std::clamp(i, 0, int(s.size()));
}

void Editor::ensure_caret_visible()
{
    if (m_h <= 0) {
        // Without a height every line but the caret's would count as out of
        // view; the first paint scrolls instead.
        m_reveal = std::max(m_reveal, 1);
        m_top = std::clamp(m_top, 0, std::max(m_lines.size() - 1, 0));
        return;
    }
    const int v = visible_lines();
    m_top = std::min(m_top, m_caret.line);
    if (m_caret.line >= m_top + v)
        m_top = m_caret.line - v + 1;
    m_top = std::clamp(m_top, 0, std::max(m_lines.size() - 1, 0));
    if (m_w <= 0)
        return;
    const double cx = x_of(m_caret);
    if (cx < m_left)
        m_left = std::max(cx - 40, 0.0);
    const double room = m_w - m_gutter - 16;
    if (cx > m_left + room)
        m_left = cx - room + 40;
}

void Editor::set_view(int line, int col, int top)
{
    m_caret = m_anchor = clamp({ line, col });
    m_top = top < 0 ? 0 : std::min(top, std::max(m_lines.size() - 1, 0));
    m_block = false;
}
