// The pointer: presses on what the last frame painted, drags of tabs,
// splitters and text, hover keys, tooltips, cursor shapes and the wheel.
#include "app.h"

#include "l10n.h"
#include "numfmt.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <unistd.h>

namespace {

constexpr double kTabDragStart = 6; // pixels before a pressed tab moves
constexpr double kStatusH = 24;

} // namespace

void App::mouse_down(double x, double y, int button, int clicks)
{
    m_dirty = true;
    m_mx = x;
    m_my = y;
    m_tip.clear();
    if (button == SDL_BUTTON_MIDDLE && m_modal == Modal::None) {
        // A middle press closes the tab under it even through a hit on top.
        for (const Hit* h : hits_under(x, y))
            if (h->id == "tab_main") {
                if (h->n >= 0 && size_t(h->n) < m_docs.size())
                    close_doc(m_docs[size_t(h->n)].get(), false);
                return;
            }
        if (m_hits.empty() && m_menu >= 0)
            open_menu(-1);
    }
    const Hit* top = hit_at(x, y);
    if (!top) {
        if (m_menu >= 0)
            open_menu(-1);
        return;
    }
    // The painter's list may be rebuilt by what the action does.
    const Hit h = *top;
    // The binary view, its bar, its question strip and its find bar.
    if (h.id != "tab_main" && bin_mouse_down(h, x, y, button, clicks))
        return;
    if (h.id == "editor") {
        editor_down(x, y, button, clicks);
    } else if (h.id == "tab_main" && button == SDL_BUTTON_LEFT) {
        if (h.n < 0 || size_t(h.n) >= m_docs.size())
            return;
        Doc* d = m_docs[size_t(h.n)].get();
        activate(d);
        bool elf = d->img.m_kind == BinImage::Elf32 || d->img.m_kind == BinImage::Elf64;
        if (d->bin && elf && m_settings.auto_debug && access(d->img.m_path.c_str(), X_OK) == 0) {
            // Another document's program under the debugger is not ended
            // by a click on a tab: the user stops it first.
            dbg::State st = m_proc.state();
            bool running = st == dbg::State::Running || st == dbg::State::Stopped;
            if (!running)
                switch_debug_to_current();
            else if (m_dbin != d)
                status_tr(false, "run.other_live", m_dbin ? display_name(m_dbin, true) : std::string());
        }
        m_drag_tab = h.n;
        m_drag = Drag::Tab;
        m_drag_moved = false;
        m_drag_x0 = x;
        // The tab order and widths now; a drag places tabs by them, moved
        // as the order changes, not by the frame painted before.
        m_drag_geo.clear();
        m_drag_geo_x = x;
        for (const Hit& t : m_hits)
            if (t.id == "tab_main" && t.n >= 0 && size_t(t.n) < m_docs.size()) {
                if (m_drag_geo.empty())
                    m_drag_geo_x = t.x;
                m_drag_geo.emplace_back(m_docs[size_t(t.n)].get(), t.w);
            }
    } else if (h.id == "split_bottom") {
        m_drag = Drag::Bottom;
    } else if (h.id == "split_right") {
        m_drag = Drag::Right;
    } else if (h.id == "con_in") {
        m_focus = Focus::ConIn;
        m_con_in.click(x, "");
    } else if (h.id == "prog_in") {
        m_focus = Focus::ProgIn;
        m_prog_in.click(x, "");
    } else if (h.id == "find_in") {
        m_focus = Focus::Find;
        m_find.click(x, "");
    } else if (h.id == "replace_in") {
        m_focus = Focus::Replace;
        m_replace.click(x, "");
    } else if (h.id == "dlg_field") {
        dialog_click(h, x);
    } else {
        click(h);
    }
}

void App::editor_down(double x, double y, int button, int clicks)
{
    m_ac.clear();
    m_focus = Focus::Editor;
    Editor* ed = typing_target();
    if (!ed)
        return;
    if (button == SDL_BUTTON_RIGHT) {
        if (!ed->selection_contains(x, y))
            ed->mouse_down(x, y, false, 1, false);
        ed->mouse_up();
        ed_context(x, y);
        return;
    }
    SDL_Keymod mod = SDL_GetModState();
    bool alt = button == SDL_BUTTON_MIDDLE || (mod & KMOD_ALT);
    bool shift = !alt && (mod & KMOD_SHIFT);
    int bp_line = ed->mouse_down(x, y, shift, clicks, alt);
    if (bp_line >= 0) {
        if (!ed->breakpoints.erase(bp_line))
            ed->breakpoints.insert(bp_line);
        sync_bps();
        m_save_at = SDL_GetTicks() + 600;
        return;
    }
    if ((mod & KMOD_CTRL) && !alt) {
        ed->mouse_up();
        std::string word = ed->word_at(x, y);
        int line = ed->caret().line;
        if (!word.empty() && ed->is_label(word, line))
            cmd_goto_definition(word, line);
        return;
    }
    m_drag = Drag::Editor;
}

void App::drag_tab(double x)
{
    if (!m_drag_moved) {
        if (std::fabs(x - m_drag_x0) < kTabDragStart)
            return;
        m_drag_moved = true;
    }
    m_dirty = true;
    // Slots of the measured tabs in today's order. The dragged tab moves
    // past a neighbour only when the pointer would then lie inside its
    // new slot, so a narrow tab next to a wide one does not swing back.
    for (size_t guard = 0; guard <= m_docs.size(); ++guard) {
        if (m_drag_tab < 0 || size_t(m_drag_tab) >= m_docs.size())
            return;
        struct Slot {
            int index;
            double x, w;
        };
        std::vector<Slot> slots;
        double at = m_drag_geo_x;
        int mine = -1;
        for (size_t i = 0; i < m_docs.size(); ++i)
            for (const auto& [doc, w] : m_drag_geo)
                if (doc == m_docs[i].get()) {
                    if (int(i) == m_drag_tab)
                        mine = int(slots.size());
                    slots.push_back({ int(i), at, w });
                    at += w + 2;
                }
        if (mine < 0)
            return;
        const Slot& s = slots[size_t(mine)];
        int target = -1;
        if (x >= s.x + s.w && size_t(mine + 1) < slots.size() && x >= s.x + slots[size_t(mine + 1)].w + 2)
            target = slots[size_t(mine + 1)].index;
        else if (x < s.x && mine > 0 && x < s.x - slots[size_t(mine - 1)].w - 2 + s.w)
            target = slots[size_t(mine - 1)].index;
        if (target < 0)
            return;
        auto moved = std::move(m_docs[size_t(m_drag_tab)]);
        m_docs.erase(m_docs.begin() + m_drag_tab);
        m_docs.insert(m_docs.begin() + target, std::move(moved));
        m_drag_tab = target;
    }
}

void App::mouse_move(double x, double y)
{
    m_mx = x;
    m_my = y;
    switch (m_drag) {
    case Drag::Bottom: {
        double h = m_wh - kStatusH - y;
        if (h < 80)
            h = 80;
        else
            h = std::min(h, m_wh - (m_main_y + 60) - kStatusH - 80);
        m_settings.bottom_frac = m_wh > 1 ? std::clamp(h / m_wh, 0.1, 0.8) : 0.8;
        m_dirty = true;
        return;
    }
    case Drag::Right: {
        double w = m_settings.side_left ? x : m_ww - x;
        if (m_ww > 0)
            m_settings.right_frac = std::clamp(w / m_ww, std::min(220 / m_ww, 0.6), 0.6);
        m_dirty = true;
        return;
    }
    case Drag::Editor:
        if (Editor* ed = typing_target())
            ed->mouse_drag(x, y);
        m_dirty = true;
        return;
    case Drag::Bin:
        bin_mouse_move(x, y);
        return;
    case Drag::Tab:
        drag_tab(x);
        return;
    case Drag::None:
        break;
    }
    hover_at(x, y);
}

std::string App::editor_hover(double x, double y, std::string* key_add)
{
    Editor& ed = m_s->ed;
    std::string next;
    std::string note = ed.note_word_at(x, y, &next);
    if (!note.empty() && note.size() == 2) {
        // A flag's change in a step note reads "0→1".
        bool form = next.size() == 5 && (next[0] == '0' || next[0] == '1') && next.compare(1, 3, "→") == 0 &&
                    (next[4] == '0' || next[4] == '1');
        int now = form ? next[4] - '0' : -1, old = form ? next[0] - '0' : -1;
        *key_add = ":" + note;
        return flag_tip(note, now, old, false);
    }
    std::string word = ed.word_at(x, y);
    for (char& c : word)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    std::string tip;
    uint64_t v = 0;
    int bytes = 0;
    if (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0])) && numfmt::parse(word, &v, &bytes))
        tip = numfmt::tip(v, bytes);
    else if (live() && reg(word, &v))
        tip = reg_tip(word, v);
    else if (live())
        tip = symbol_tip(word);
    if (tip.empty() && !word.empty())
        tip = editor_tip(word, x, y);
    if (!tip.empty())
        *key_add = ":" + word;
    return tip;
}

void App::hover_at(double x, double y)
{
    const Hit* h = hit_at(x, y);
    if (!h) {
        set_cursor(nullptr);
        if (!m_hover.empty() || !m_tip.empty()) {
            m_hover.clear();
            m_tip.clear();
            m_dirty = true;
        }
        return;
    }
    std::string hover = h->id + "#" + std::to_string(h->n);
    std::string tip = h->tip;
    const bool quiet = m_modal == Modal::None && m_menu < 0;
    if (h->id == "editor" && quiet && !is_placeholder(m_s) && !m_s->bin) {
        std::string add;
        std::string t = editor_hover(x, y, &add);
        if (!t.empty()) {
            tip = t;
            hover += add;
        }
    } else if (h->id == "binview" && quiet) {
        std::string t = bin_tip(*h, x, y);
        if (!t.empty()) {
            tip = t;
            hover += ":" + t;
        }
    }
    if (m_menu >= 0 && m_menu != 100 && h->id == "menubar" && h->n != m_menu)
        open_menu(h->n);
    else if (m_menu >= 0 && h->id == "menu_item" && m_menu_hover != h->n) {
        m_menu_hover = h->n;
        m_dirty = true;
    }
    set_cursor(h);
    if (hover == m_hover && tip == m_tip)
        return;
    m_hover = hover;
    m_tip = tip;
    m_dirty = true;
}

void App::set_cursor(const Hit* h)
{
    int kind = 0;
    if (h) {
        const std::string& id = h->id;
        if ((id == "editor" && m_mx > m_s->ed.gutter_width() + m_main_x) || id == "con_in" || id == "prog_in" ||
            id == "find_in" || id == "dlg_field")
            kind = 1;
        else if (id == "split_bottom")
            kind = 2;
        else if (id == "split_right" || id == "binsplit" || id == "binsplit1")
            kind = 3;
    }
    m_cursor_kind = kind;
    SDL_Cursor* const cursors[] = { m_cur_arrow, m_cur_ibeam, m_cur_ns, m_cur_we };
    SDL_Cursor* c = cursors[kind];
    if (c && c != m_cur_set) {
        SDL_SetCursor(c);
        m_cur_set = c;
    }
}

void App::mouse_up(double x, double y)
{
    (void)x;
    (void)y;
    switch (m_drag) {
    case Drag::Editor:
        if (Editor* ed = typing_target())
            ed->mouse_up();
        break;
    case Drag::Bin: bin_mouse_up(); break;
    case Drag::Bottom:
    case Drag::Right: m_save_at = SDL_GetTicks() + 600; break;
    case Drag::Tab:
        if (m_drag_moved)
            remember_tabs();
        break;
    case Drag::None: break;
    }
    m_drag = Drag::None;
    m_drag_geo.clear();
    m_dirty = true;
}

void App::wheel(double mx, double my, double dy)
{
    if (m_modal != Modal::None) {
        dialog_wheel(mx, my, dy);
        m_dirty = true;
        return;
    }
    // The pane under an open menu is not what the user looks at: the
    // menu closes and nothing scrolls, unless the wheel turns over a
    // menu too tall for the window.
    if (m_menu >= 0) {
        for (const Hit* h : hits_under(mx, my))
            if (h->id == "menu_box") {
                menu_scroll_by(-dy * 3 * 28);
                return;
            }
        open_menu(-1);
        m_dirty = true;
        return;
    }
    // Over the tab strip the wheel scrolls tabs that do not fit.
    if (my >= m_main_y && my < m_main_y + 32 && mx >= m_main_x && mx < m_main_x + m_main_w && m_tab_overflow > 0) {
        m_tab_scroll = std::clamp(m_tab_scroll - dy * 60, 0.0, m_tab_overflow);
        m_dirty = true;
        return;
    }
    for (const Hit* h : hits_under(mx, my)) {
        const std::string& id = h->id;
        if (id == "editor") {
            if (Editor* ed = typing_target())
                ed->wheel(dy);
            else if (!is_placeholder(m_s) && !m_s->bin)
                m_s->ed.wheel(dy);
            m_dirty = true;
            return;
        }
        if (id == "binview") {
            bin_wheel(mx, my, dy);
            m_dirty = true;
            return;
        }
        // The bottom pane's lists and the side panel scroll themselves; a
        // hit on top of a scrollable area passes the wheel on.
        if (debug_wheel(*h, dy) || (id == "pane_right" && panel_wheel(mx, my, dy)))
            return;
    }
}
