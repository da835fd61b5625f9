// The input the window handles so far: hovering and tooltips, the tab strip
// (choose, close, scroll), the find fields, and keys, typed text, clicks and
// the wheel for the shown source.
#include "app.h"

#include <algorithm>

const Hit* App::hit_at(double x, double y) const
{
    // The rectangle painted last wins.
    for (auto it = m_hits.rbegin(); it != m_hits.rend(); ++it)
        if (x >= it->x && x < it->x + it->w && y >= it->y && y < it->y + it->h)
            return &*it;
    return nullptr;
}

Editor* App::typing_target()
{
    // Text goes only where the user can see it land: never into a
    // placeholder behind the welcome page, never past an open dialog.
    if (m_modal != Modal::None || m_menu >= 0 || m_focus != Focus::Editor)
        return nullptr;
    Doc* d = shown_doc();
    if (is_placeholder(d) || d->bin)
        return nullptr;
    return &d->ed;
}

bool App::caret_shown()
{
    if (m_modal == Modal::Reference)
        return true;
    if (m_modal != Modal::None || m_menu >= 0)
        return false;
    switch (m_focus) {
    case Focus::Editor: return typing_target() != nullptr;
    case Focus::Bin: return bin_shown();
    case Focus::Find: return m_find_open;
    case Focus::Replace: return m_find_open && m_replace_open;
    default: return false;
    }
}

void App::key_down(const SDL_Keysym& k)
{
    // The window's command keys arrive with the menus; what exists is
    // Escape for a dialog and the find bar, and the focused widget's keys.
    if (m_modal == Modal::Reference && ref_modal_key(k))
        return;
    if (dialog_key(k))
        return;
    if (k.sym == SDLK_F1)
        return ref_f1();
    if (bin_key(k))
        return;
    if (k.sym == SDLK_ESCAPE && m_find_open) {
        m_find_open = false;
        m_focus = Focus::Editor;
        m_dirty = true;
        return;
    }
    if (debug_key(k))
        return;
    bool used = false;
    if (m_focus == Focus::Find && m_find_open)
        used = m_find.key(k, false);
    else if (m_focus == Focus::Replace && m_find_open && m_replace_open)
        used = m_replace.key(k, false);
    else if (Editor* ed = typing_target())
        used = ed->key(k);
    if (used) {
        m_caret_on = true;
        m_caret_t = SDL_GetTicks();
        m_dirty = true;
    }
}

void App::text_input(const char* utf8)
{
    if (m_modal == Modal::Reference)
        return ref_text(utf8);
    if (dialog_text(utf8))
        return;
    if (m_modal != Modal::None || m_menu >= 0)
        return;
    if (debug_text(utf8))
        return;
    if (bin_text(utf8))
        return;
    if (m_focus == Focus::Find && m_find_open)
        m_find.input(utf8);
    else if (m_focus == Focus::Replace && m_find_open && m_replace_open)
        m_replace.input(utf8);
    else if (Editor* ed = typing_target())
        ed->text_input(utf8);
    else
        return;
    m_caret_on = true;
    m_caret_t = SDL_GetTicks();
    m_dirty = true;
}

void App::mouse_move(double x, double y)
{
    if (bin_mouse_move(x, y))
        return;
    if (m_drag == Drag::Editor) {
        if (Editor* ed = typing_target())
            ed->mouse_drag(x, y);
        m_dirty = true;
        return;
    }
    bool had_tip = !m_tip.empty();
    m_mx = x;
    m_my = y;
    const Hit* h = hit_at(x, y);
    std::string hover = h ? h->id + "#" + std::to_string(h->n) : std::string();
    std::string tip = h ? bin_tip(*h, x, y) : std::string();
    if (h && h->id == "editor" && m_modal == Modal::None && m_menu < 0 && tip.empty())
        ref_hover(x, y, &hover, &tip);
    // A move that changes nothing paints nothing; a shown tooltip follows.
    if (hover != m_hover || tip != m_tip || had_tip) {
        m_hover = hover;
        m_tip = tip;
        m_dirty = true;
    }
}

void App::mouse_down(double x, double y, int button, int clicks)
{
    m_tip.clear();
    const Hit* h = hit_at(x, y);
    if (h && bin_mouse_down(*h, x, y, button, clicks))
        return;
    if (!h || button != SDL_BUTTON_LEFT)
        return;
    if (m_modal == Modal::Reference && ref_mouse_down(*h, x, y))
        return;
    if (dialog_click(*h, x))
        return;
    if (debug_click(*h, x))
        return;
    if (panel_click(*h))
        return;
    int n = h->n;
    bool in_docs = n >= 0 && size_t(n) < m_docs.size();
    if (h->id == "tab_main" && in_docs) {
        activate(m_docs[size_t(n)].get());
    } else if (h->id == "tab_close" && in_docs) {
        close_doc(m_docs[size_t(n)].get(), false);
    } else if (h->id == "find_close") {
        m_find_open = false;
        m_focus = Focus::Editor;
    } else if (h->id == "find_replace_toggle") {
        m_replace_open = !m_replace_open;
    } else if (h->id == "find_in") {
        m_focus = Focus::Find;
        m_find.click(x, "");
    } else if (h->id == "replace_in") {
        m_focus = Focus::Replace;
        m_replace.click(x, "");
    } else if (h->id == "editor" && m_modal == Modal::None) {
        m_focus = Focus::Editor;
        if (Editor* ed = typing_target()) {
            SDL_Keymod mod = SDL_GetModState();
            ed->mouse_down(x, y, mod & KMOD_SHIFT, clicks, mod & KMOD_ALT);
            m_drag = Drag::Editor;
        }
    }
    m_dirty = true;
}

void App::mouse_up(double x, double y)
{
    (void)x;
    (void)y;
    if (bin_mouse_up())
        return;
    if (m_drag == Drag::Editor)
        if (Editor* ed = typing_target())
            ed->mouse_up();
    m_drag = Drag::None;
}

void App::wheel(double mx, double my, double dy)
{
    if (m_modal == Modal::Reference)
        return ref_wheel(mx, my, dy);
    // Over the tab strip the wheel scrolls tabs that do not fit.
    if (my >= m_main_y && my < m_main_y + 32 && mx >= m_main_x && mx < m_main_x + m_main_w && m_tab_overflow > 0) {
        m_tab_scroll = std::clamp(m_tab_scroll - dy * 60, 0.0, m_tab_overflow);
        m_dirty = true;
        return;
    }
    if (bin_wheel(mx, my, dy))
        return;
    if (panel_wheel(mx, my, dy))
        return;
    const Hit* h = hit_at(mx, my);
    if (h && debug_wheel(*h, dy))
        return;
    if (h && h->id == "editor")
        if (Editor* ed = typing_target()) {
            ed->wheel(dy);
            m_dirty = true;
        }
}
