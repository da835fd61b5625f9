// Selection and editing commands in normal (stream) selection mode.
#include "editor.h"
#include "editor_chars.h"

#include <SDL.h>

#include <algorithm>

using edchars::leading_blanks;
using edchars::utf8_cont;

Editor::Pos Editor::sel_start() const
{
    const Pos& a = m_anchor;
    const Pos& c = m_caret;
    return (a.line < c.line || (a.line == c.line && a.col < c.col)) ? a : c;
}

Editor::Pos Editor::sel_end() const
{
    const Pos s = sel_start();
    return s == m_anchor ? m_caret : m_anchor;
}

std::string Editor::selected_text() const
{
    if (!has_selection())
        return {};
    const Pos s = sel_start();
    const Pos e = sel_end();
    if (s.line == e.line)
        return m_lines[s.line].substr(size_t(s.col), size_t(e.col - s.col));
    std::string out = m_lines[s.line].substr(size_t(s.col));
    out.push_back('\n');
    for (int i = s.line + 1; i < e.line; ++i) {
        out += m_lines[i];
        out.push_back('\n');
    }
    const std::string& last = m_lines[e.line];
    out.append(last, 0, std::min(size_t(e.col), last.size()));
    return out;
}

void Editor::select_all()
{
    m_anchor = { 0, 0 };
    const int last = m_lines.size() - 1;
    m_caret = { last, int(m_lines[last].size()) };
}

void Editor::move_caret(Pos p, bool select)
{
    m_caret = clamp(p);
    if (!select)
        m_anchor = m_caret;
    ensure_caret_visible();
}

void Editor::erase_selection()
{
    if (!has_selection())
        return;
    const Pos s = sel_start();
    const Pos e = sel_end();
    std::string merged = m_lines[s.line].substr(0, size_t(s.col)) + m_lines[e.line].substr(size_t(e.col));
    if (e.line > s.line) {
        const int n = e.line - s.line;
        if (s.col == 0 && e.col == 0) {
            // Whole lines: what remains on S is line E's text, so its
            // breakpoint stays with it, as when the lines are deleted.
            drop_breakpoints(s.line, e.line - 1);
            shift_breakpoints(e.line, -n);
        } else {
            drop_breakpoints(s.line + 1, e.line);
            shift_breakpoints(e.line + 1, -n);
        }
        m_lines.erase(s.line + 1, n);
    }
    m_lines.set(s.line, std::move(merged));
    m_caret = m_anchor = s;
}

void Editor::insert(const std::string& text)
{
    push_undo(text.size() == 1 && text[0] != '\n' ? 1 : 0);
    erase_selection();
    const int start = m_caret.line;
    const std::string& cur = m_lines[start];
    std::string tail = cur.substr(size_t(m_caret.col));
    std::string head = cur.substr(0, size_t(m_caret.col));
    std::vector<std::string> added;
    auto current = [&]() -> std::string& { return added.empty() ? head : added.back(); };
    for (size_t i = 0; i < text.size();) {
        size_t lf = text.find('\n', i);
        size_t end = lf == std::string::npos ? text.size() : lf;
        std::string& line = current();
        for (size_t j = i; j < end; ++j)
            if (text[j] != '\r')
                line.push_back(text[j]);
        if (lf == std::string::npos)
            break;
        added.emplace_back();
        i = lf + 1;
    }
    const int k = int(added.size());
    const int col = int(current().size());
    current() += tail;
    m_lines.set(start, std::move(head));
    if (k > 0) {
        m_lines.insert(start + 1, std::move(added));
        shift_breakpoints(start + 1, k);
    }
    m_caret = m_anchor = { start + k, col };
    changed();
}

void Editor::newline()
{
    const std::string& s = m_lines[m_caret.line];
    const int ind = std::min(leading_blanks(s), m_caret.col);
    insert("\n" + s.substr(0, size_t(ind)));
}

bool Editor::delete_selected(bool before)
{
    if (m_block) {
        block_delete_char(before);
        return true;
    }
    if (!has_selection())
        return false;
    push_undo(0);
    erase_selection();
    changed();
    return true;
}

void Editor::backspace()
{
    if (delete_selected(true))
        return;
    if (m_caret.line == 0 && m_caret.col == 0)
        return;
    push_undo(2);
    const int L = m_caret.line;
    if (m_caret.col > 0) {
        std::string s = m_lines[L];
        int start = m_caret.col - 1;
        while (start > 0 && utf8_cont((unsigned char)s[size_t(start)]))
            --start;
        s.erase(size_t(start), size_t(m_caret.col - start));
        m_lines.set(L, std::move(s));
        m_caret.col = start;
    } else {
        const int col = int(m_lines[L - 1].size());
        m_lines.set(L - 1, m_lines[L - 1] + m_lines[L]);
        m_lines.erase(L, 1);
        shift_breakpoints(L, -1);
        m_caret = { L - 1, col };
    }
    m_anchor = m_caret;
    changed();
}

void Editor::del()
{
    if (delete_selected(false))
        return;
    const int L = m_caret.line;
    const std::string& s = m_lines[L];
    if (m_caret.col < int(s.size())) {
        push_undo(3);
        std::string t = s;
        size_t end = size_t(m_caret.col) + 1;
        while (end < t.size() && utf8_cont((unsigned char)t[end]))
            ++end;
        t.erase(size_t(m_caret.col), end - size_t(m_caret.col));
        m_lines.set(L, std::move(t));
    } else {
        if (L + 1 >= m_lines.size())
            return;
        push_undo(3);
        m_lines.set(L, s + m_lines[L + 1]);
        m_lines.erase(L + 1, 1);
        shift_breakpoints(L + 1, -1);
    }
    m_anchor = m_caret;
    changed();
}

void Editor::erase()
{
    if (m_block) {
        push_undo(0);
        erase_block();
        changed();
        return;
    }
    if (!has_selection())
        return;
    push_undo(0);
    erase_selection();
    changed();
}

void Editor::copy()
{
    std::string t;
    if (m_block)
        t = block_text();
    else if (!has_selection())
        t = m_lines[m_caret.line] + "\n";
    else
        t = selected_text();
    SDL_SetClipboardText(t.c_str());
}

void Editor::cut()
{
    if (m_block) {
        copy();
        push_undo(0);
        erase_block();
    } else {
        if (!has_selection()) {
            const int L = m_caret.line;
            m_anchor = { L, 0 };
            m_caret = L + 1 < m_lines.size() ? Pos { L + 1, 0 } : Pos { L, int(m_lines[L].size()) };
        }
        copy();
        push_undo(0);
        erase_selection();
    }
    changed();
}

void Editor::paste()
{
    char* clip = SDL_GetClipboardText();
    if (!clip)
        return;
    std::string t(clip);
    SDL_free(clip);
    if (t.empty())
        return;
    // A paste is always an undo step of its own, and so is what follows it.
    m_last_kind = 0;
    if (m_block) {
        block_insert(t);
    } else {
        insert(t);
        m_last_kind = 0;
    }
}

void Editor::text_input(const char* utf8)
{
    if (!utf8 || !*utf8)
        return;
    if (m_block)
        block_insert(utf8);
    else
        insert(utf8);
}

void Editor::indent(bool outdent)
{
    push_undo(0);
    int first = std::min(m_anchor.line, m_caret.line);
    int last = std::max(m_anchor.line, m_caret.line);
    if (last > first && sel_end().col == 0)
        --last;
    for (int i = first; i <= last; ++i) {
        std::string s = m_lines[i];
        int delta = 0;
        if (!outdent) {
            s.insert(0, "    ");
            delta = 4;
        } else {
            int sp = 0;
            while (sp < 4 && sp < int(s.size()) && s[size_t(sp)] == ' ')
                ++sp;
            if (sp > 0) {
                s.erase(0, size_t(sp));
                delta = -sp;
            } else if (!s.empty() && s[0] == '\t') {
                s.erase(0, 1);
                delta = -1;
            }
        }
        if (delta == 0)
            continue;
        m_lines.set(i, std::move(s));
        if (m_caret.line == i)
            m_caret.col += delta;
        if (m_anchor.line == i)
            m_anchor.col += delta;
    }
    m_caret = clamp(m_caret);
    m_anchor = clamp(m_anchor);
    changed();
}

void Editor::toggle_comment()
{
    push_undo(0);
    const int first = std::min(m_anchor.line, m_caret.line);
    const int last = std::max(m_anchor.line, m_caret.line);
    bool commented = true;
    for (int i = first; i <= last; ++i) {
        const std::string& s = m_lines[i];
        const size_t f = size_t(leading_blanks(s));
        if (f < s.size() && s[f] != ';')
            commented = false;
    }
    for (int i = first; i <= last; ++i) {
        std::string s = m_lines[i];
        const size_t f = size_t(leading_blanks(s));
        if (f >= s.size())
            continue;
        if (commented)
            s.erase(f, f + 1 < s.size() && s[f + 1] == ' ' ? 2 : 1);
        else
            s.insert(f, "; ");
        m_lines.set(i, std::move(s));
    }
    m_caret = clamp(m_caret);
    m_anchor = clamp(m_anchor);
    changed();
}

void Editor::lines_of_selection(int* first, int* last) const
{
    if (m_block) {
        block_rows(first, last);
        return;
    }
    const Pos s = sel_start();
    const Pos e = sel_end();
    *first = s.line;
    *last = e.line;
    if (e.line > s.line && e.col == 0)
        --*last;
}

void Editor::duplicate_lines()
{
    int first = 0, last = 0;
    lines_of_selection(&first, &last);
    push_undo(0);
    const int n = last - first + 1;
    std::vector<std::string> copies;
    copies.reserve(size_t(n));
    for (int i = first; i <= last; ++i)
        copies.push_back(m_lines[i]);
    m_lines.insert(last + 1, std::move(copies));
    shift_breakpoints(last + 1, n);
    m_block = false;
    m_anchor = { last + 1, 0 };
    m_caret = last + n + 1 < m_lines.size() ? Pos { last + n + 1, 0 }
                                            : Pos { last + n, int(m_lines[last + n].size()) };
    changed();
}

void Editor::delete_lines()
{
    int first = 0, last = 0;
    lines_of_selection(&first, &last);
    push_undo(0);
    const int n = last - first + 1;
    m_lines.erase(first, n);
    if (m_lines.size() == 0)
        m_lines.insert(0, std::string());
    drop_breakpoints(first, last);
    shift_breakpoints(last + 1, -n);
    m_block = false;
    m_caret = m_anchor = clamp({ first, 0 });
    changed();
}

void Editor::move_lines(int dir)
{
    int first = 0, last = 0;
    lines_of_selection(&first, &last);
    std::set<int> moved;
    if (dir < 0) {
        if (first == 0)
            return;
        push_undo(0);
        std::string above = m_lines[first - 1];
        m_lines.erase(first - 1, 1);
        m_lines.insert(last, std::move(above));
        for (int b : breakpoints)
            moved.insert(b == first - 1 ? last : (b >= first && b <= last ? b - 1 : b));
    } else {
        if (last + 1 >= m_lines.size())
            return;
        push_undo(0);
        std::string below = m_lines[last + 1];
        m_lines.erase(last + 1, 1);
        m_lines.insert(first, std::move(below));
        for (int b : breakpoints)
            moved.insert(b == last + 1 ? first : (b >= first && b <= last ? b + 1 : b));
    }
    breakpoints = std::move(moved);
    const int d = dir < 0 ? -1 : 1;
    m_caret.line += d;
    m_anchor.line += d;
    if (m_block) {
        m_bl0 += d;
        m_bl1 += d;
    }
    changed();
}
