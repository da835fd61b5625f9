// Key bindings of the editor: caret moves, selections, the keyboard block
// selection and the Ctrl commands.
#include "editor.h"
#include "editor_chars.h"
#include "editor_measure.h"

#include <SDL.h>

#include <algorithm>

namespace {

using edchars::utf8_cont;


bool is_modifier_key(SDL_Keycode k)
{
    return k == SDLK_LCTRL || k == SDLK_RCTRL || k == SDLK_LSHIFT || k == SDLK_RSHIFT || k == SDLK_LALT
           || k == SDLK_RALT;
}

// Ctrl commands that keep a block selection (its clipboard and undo).
bool block_ctrl_key(SDL_Keycode k)
{
    return k == SDLK_c || k == SDLK_v || k == SDLK_x || k == SDLK_y || k == SDLK_z;
}

} // namespace

bool edview::word_char(unsigned char c) { return edchars::is_alnum(c) || c == '_' || c == '.' || c >= 0x80; }

using edview::word_char;

bool Editor::is_delete_lines_key(const SDL_Keysym& k)
{
    return k.sym == SDLK_k && (k.mod & KMOD_CTRL) && (k.mod & KMOD_SHIFT);
}

void Editor::jump_to(Pos p, bool shift)
{
    m_want_x = -1;
    m_caret = clamp(p);
    if (!shift)
        m_anchor = m_caret;
    ensure_caret_visible();
}

void Editor::vertical_move(int n, bool shift)
{
    if (m_want_x < 0)
        m_want_x = x_of(m_caret);
    const int target = std::clamp(m_caret.line + n, 0, m_lines.size() - 1);
    m_caret = clamp({ target, index_at_x(target, m_want_x) });
    if (!shift)
        m_anchor = m_caret;
    ensure_caret_visible();
}

void Editor::block_key(int dx, int dy)
{
    if (!m_block) {
        m_block = true;
        m_bl0 = m_bl1 = m_caret.line;
        m_bx0 = m_bx1 = x_of(m_caret);
    }
    const double adv = gfx::mono_advance(measure().cr(), m_font);
    m_bl1 = std::clamp(m_bl1 + dy, 0, m_lines.size() - 1);
    if (dx < 0)
        m_bx1 = std::max(m_bx1 - adv, 0.0);
    else if (dx > 0)
        m_bx1 += adv;
    m_anchor = m_caret = { m_bl1, index_at_x(m_bl1, m_bx1) };
    ensure_caret_visible();
}

Editor::Pos Editor::word_right(Pos p) const
{
    const std::string& s = m_lines[p.line];
    const int n = int(s.size());
    if (p.col >= n)
        return p.line + 1 < m_lines.size() ? Pos { p.line + 1, 0 } : p;
    int i = p.col;
    while (i < n && word_char((unsigned char)s[size_t(i)]))
        ++i;
    while (i < n && !word_char((unsigned char)s[size_t(i)]))
        ++i;
    return { p.line, i };
}

Editor::Pos Editor::word_left(Pos p) const
{
    if (p.col <= 0)
        return p.line > 0 ? Pos { p.line - 1, int(m_lines[p.line - 1].size()) } : p;
    const std::string& s = m_lines[p.line];
    int i = p.col;
    while (i > 0 && !word_char((unsigned char)s[size_t(i) - 1]))
        --i;
    while (i > 0 && word_char((unsigned char)s[size_t(i) - 1]))
        --i;
    return { p.line, i };
}

void Editor::tab_key(bool shift)
{
    if (m_anchor.line != m_caret.line) {
        indent(shift);
        return;
    }
    if (shift) {
        indent(true);
        return;
    }
    const std::string& s = m_lines[m_caret.line];
    int v = 0;
    for (int i = 0; i < m_caret.col && i < int(s.size()); ++i)
        v = s[size_t(i)] == '\t' ? (v / 8 + 1) * 8 : v + 1;
    insert(std::string(size_t(4 - v % 4), ' '));
}

bool Editor::ctrl_key(int sym, bool shift)
{
    switch (sym) {
    case SDLK_SLASH: toggle_comment(); return true;
    case SDLK_a: select_all(); return true;
    case SDLK_c: copy(); return true;
    case SDLK_d: duplicate_lines(); return true;
    case SDLK_v: paste(); return true;
    case SDLK_x: cut(); return true;
    case SDLK_z:
        if (shift)
            redo();
        else
            undo();
        return true;
    case SDLK_y: redo(); return true;
    default: return false;
    }
}

bool Editor::key(const SDL_Keysym& k)
{
    const SDL_Keycode sym = k.sym;
    const bool shift = k.mod & KMOD_SHIFT;
    const bool ctrl = k.mod & KMOD_CTRL;
    const bool alt = k.mod & KMOD_ALT;

    if (alt && shift) {
        switch (sym) {
        case SDLK_UP: block_key(0, -1); return true;
        case SDLK_DOWN: block_key(0, 1); return true;
        case SDLK_LEFT: block_key(-1, 0); return true;
        case SDLK_RIGHT: block_key(1, 0); return true;
        default: break;
        }
    } else if (alt) {
        if (sym == SDLK_UP || sym == SDLK_DOWN) {
            move_lines(sym == SDLK_UP ? -1 : 1);
            return true;
        }
    }
    if (is_delete_lines_key(k)) {
        delete_lines();
        return true;
    }

    if (m_block && sym != SDLK_BACKSPACE && sym != SDLK_DELETE) {
        if (ctrl && block_ctrl_key(sym))
            return ctrl_key(sym, shift);
        const bool keep = is_modifier_key(sym) || (sym >= 32 && sym <= 126 && !ctrl && !alt);
        if (!keep)
            m_block = false;
    }

    const Pos c = m_caret;
    const std::string& s = m_lines[c.line];
    const int last = m_lines.size() - 1;
    switch (sym) {
    case SDLK_TAB: tab_key(shift); return true;
    case SDLK_BACKSPACE: backspace(); return true;
    case SDLK_DELETE: del(); return true;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: newline(); return true;
    case SDLK_HOME:
        if (ctrl) {
            jump_to({ 0, 0 }, shift);
        } else {
            const int f = edchars::leading_blanks(s);
            jump_to({ c.line, c.col == f ? 0 : f }, shift);
        }
        return true;
    case SDLK_END:
        jump_to(ctrl ? Pos { last, int(m_lines[last].size()) } : Pos { c.line, int(s.size()) }, shift);
        return true;
    case SDLK_PAGEUP: vertical_move(-(visible_lines() - 1), shift); return true;
    case SDLK_PAGEDOWN: vertical_move(visible_lines() - 1, shift); return true;
    case SDLK_UP:
        if (ctrl)
            wheel(1);
        else
            vertical_move(-1, shift);
        return true;
    case SDLK_DOWN:
        if (ctrl)
            wheel(-1);
        else
            vertical_move(1, shift);
        return true;
    case SDLK_RIGHT:
        if (!shift && has_selection()) {
            jump_to(sel_end(), false);
        } else if (ctrl) {
            jump_to(word_right(c), shift);
        } else if (c.col < int(s.size())) {
            int i = c.col + 1;
            while (i < int(s.size()) && utf8_cont((unsigned char)s[size_t(i)]))
                ++i;
            jump_to({ c.line, i }, shift);
        } else {
            jump_to(c.line < last ? Pos { c.line + 1, 0 } : c, shift);
        }
        return true;
    case SDLK_LEFT:
        if (!shift && has_selection()) {
            jump_to(sel_start(), false);
        } else if (ctrl) {
            jump_to(word_left(c), shift);
        } else if (c.col > 0) {
            int i = c.col - 1;
            while (i > 0 && utf8_cont((unsigned char)s[size_t(i)]))
                --i;
            jump_to({ c.line, i }, shift);
        } else {
            jump_to(c.line > 0 ? Pos { c.line - 1, int(m_lines[c.line - 1].size()) } : c, shift);
        }
        return true;
    default: break;
    }
    return ctrl && ctrl_key(sym, shift);
}
