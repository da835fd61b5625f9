// The Reference dialog's behaviour: opening at a word or topic, the list of
// a category or of search results, selection, keys, clicks, the wheel,
// inserting an example into the source, and the editor's hover help.
#include "app.h"

#include "l10n.h"

#include <algorithm>
#include <cmath>

using L10n::tr;

namespace {

// Entry rows moved by Ctrl+Page Up / Down.
constexpr int kRefPage = 12;

bool ctrl_held(const SDL_Keysym& k)
{
    return (k.mod & KMOD_CTRL) != 0;
}

} // namespace

int App::ref_guess_bits()
{
    if (live())
        return m_proc.bits() == 32 ? 32 : 64;
    if (m_settings.format == "elf32")
        return 32;
    const Editor& ed = m_s->ed;
    return ref::bits_of_source([&](int i) { return ed.line(i); }, ed.line_count());
}

void App::cmd_reference(const std::string& word, const std::string& topic)
{
    m_menu = -1;
    m_menu_hover = -1;
    m_tip.clear(); // an editor tip from before would cover the dialog
    if (m_modal != Modal::Reference)
        show_modal(Modal::Reference); // waits when another dialog is open
    m_ref_q.set("");
    m_ref_q.mono = false;
    m_ref_bits = ref_guess_bits();

    ref::Opening o = ref::opening(word, topic);
    if (o.entry.valid()) {
        m_ref_cat = int(o.entry.kind);
        m_ref_cur = {};
        ref_refresh(false);
        ref_show(o.entry);
    } else if (!m_ref_cur.valid() || !o.query.empty()) {
        m_ref_q.set(o.query);
        m_ref_cur = {};
        ref_refresh(false);
    } else {
        // Opening without a word returns to the entry shown last.
        ref::Entry last = m_ref_cur;
        m_ref_cur = {};
        ref_refresh(false);
        ref_show(last);
    }
    m_dirty = true;
}

void App::ref_refresh(bool keep_selection)
{
    m_ref_rows = ref::rows(m_ref_q.text, m_ref_cat);
    m_ref_top = 0;
    int row = keep_selection && m_ref_cur.valid() ? ref::row_of(m_ref_rows, m_ref_cur) : -1;
    if (row < 0)
        row = ref::first_entry_row(m_ref_rows);
    if (row < 0) {
        m_ref_sel = -1;
        m_ref_cur = {};
    } else {
        ref_select(row, true);
    }
    m_dirty = true;
}

void App::ref_select(int row, bool center)
{
    if (row < 0 || size_t(row) >= m_ref_rows.size() || m_ref_rows[size_t(row)].header)
        return;
    const ref::Entry& e = m_ref_rows[size_t(row)].e;
    if (!(e == m_ref_cur))
        m_ref_scroll = 0;
    m_ref_sel = row;
    m_ref_cur = e;
    if (center)
        m_ref_center = true;
    m_dirty = true;
}

void App::ref_show(const ref::Entry& e)
{
    int row = ref::row_of(m_ref_rows, e);
    if (row < 0) {
        m_ref_q.set("");
        m_ref_cat = int(e.kind);
        ref_refresh(false);
        row = ref::row_of(m_ref_rows, e);
    }
    if (row >= 0)
        ref_select(row, true);
}

bool App::ref_key(const SDL_Keysym& k)
{
    bool ctrl = ctrl_held(k);
    switch (k.sym) {
    case SDLK_TAB:
        if (m_ref_q.text.empty()) {
            m_ref_cat = (k.mod & KMOD_SHIFT) ? (m_ref_cat + 4) % 5 : (m_ref_cat + 1) % 5;
            ref_refresh(false);
        }
        return true;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        if (ctrl)
            ref_insert();
        return true;
    case SDLK_UP:
    case SDLK_DOWN:
        ref_select(ref::step_row(m_ref_rows, m_ref_sel, k.sym == SDLK_UP ? -1 : 1), true);
        return true;
    case SDLK_PAGEUP:
    case SDLK_PAGEDOWN: {
        int dir = k.sym == SDLK_PAGEUP ? -1 : 1;
        if (ctrl) {
            ref_select(ref::step_row(m_ref_rows, m_ref_sel, dir * kRefPage), true);
        } else {
            double page = std::max(m_ref_view_h - 60, 60.0);
            m_ref_scroll = std::max(0.0, m_ref_scroll + dir * page);
            m_dirty = true;
        }
        return true;
    }
    default:
        break;
    }
    std::string before = m_ref_q.text;
    if (m_ref_q.key(k, false)) {
        m_caret_on = true;
        m_caret_t = SDL_GetTicks();
        m_dirty = true;
    }
    if (m_ref_q.text != before)
        ref_refresh(false);
    return true;
}

bool App::ref_modal_key(const SDL_Keysym& k)
{
    if (k.sym != SDLK_ESCAPE)
        return ref_key(k);
    if (!m_ref_q.text.empty()) {
        m_ref_q.set("");
        ref_refresh(true);
    } else {
        close_modal();
    }
    return true;
}

void App::ref_text(const char* utf8)
{
    m_ref_q.input(utf8);
    m_caret_on = true;
    m_caret_t = SDL_GetTicks();
    ref_refresh(false);
}

bool App::ref_click(const Hit& h)
{
    if (h.id == "ref_cat") {
        m_ref_q.set("");
        m_ref_cat = std::clamp(h.n, 0, 4);
        ref_refresh(false);
    } else if (h.id == "ref_row") {
        ref_select(h.n, false);
    } else if (h.id == "ref_bits") {
        if (h.n == 32 || h.n == 64)
            m_ref_bits = h.n;
        m_dirty = true;
    } else if (h.id == "ref_insert") {
        ref_insert();
    } else if (h.id == "ref_q") {
        m_ref_q.click(m_mx, "");
        m_caret_on = true;
        m_dirty = true;
    } else if (h.id != "ref_all" && h.id != "dlg_box") {
        return false;
    }
    return true;
}

bool App::ref_mouse_down(const Hit& h, double x, double y)
{
    m_mx = x;
    m_my = y;
    if (ref_click(h))
        return true;
    if (h.id == "dlg_cancel" || h.id == "modal_bg")
        close_modal();
    // Nothing beneath the dialog takes a click while it is open.
    return true;
}

void App::ref_wheel(double x, double y, double dy)
{
    (void)y;
    if (x >= m_ref_list_x && x < m_ref_list_x + m_ref_list_w)
        m_ref_top = std::max(0, m_ref_top - int(std::lround(dy * 3 * 44)));
    else
        m_ref_scroll = std::max(0.0, m_ref_scroll - 60 * dy);
    m_dirty = true;
}

void App::ref_insert()
{
    std::string text = ref::insert_text(m_ref_cur, m_ref_bits);
    if (text.empty())
        return;
    close_modal();
    if (is_placeholder(m_s))
        activate(new_doc(false));
    m_settings.main_tab = 0;
    m_focus = Focus::Editor;

    // The range is chosen here and selected directly: keys sent to the
    // editor would select nothing on an empty line and leave the blanks
    // of an indented one in front of the example's own indentation.
    Editor& ed = m_s->ed;
    Editor::Pos c = ed.caret(), a = ed.anchor();
    bool a_first = a.line < c.line || (a.line == c.line && a.col < c.col);
    ref::Pos from{ (a_first ? a : c).line, (a_first ? a : c).col };
    ref::Pos to{ (a_first ? c : a).line, (a_first ? c : a).col };
    bool sel = ed.has_selection();
    ref::Insertion ins = ref::insertion(text, ed.line(c.line), c.line, sel ? &from : nullptr, sel ? &to : nullptr);
    ed.move_caret({ ins.from.line, ins.from.col }, false);
    ed.move_caret({ ins.to.line, ins.to.col }, true);
    ed.insert(ins.text);
    ed.ensure_caret_visible();
    status_tr(false, "ref.inserted");
    m_dirty = true;
}

std::string App::editor_tip(const std::string& word, double x, double y)
{
    (void)x;
    int bits = live() ? (m_proc.bits() == 32 ? 32 : 64) : m_settings.format == "elf32" ? 32 : 64;
    const Editor& ed = m_s->ed;
    return ref::editor_hover(word, [&](int i) { return ed.line(i); }, ed.line_count(), ed.line_at_y(y), bits);
}

void App::ref_hover(double x, double y, std::string* hover, std::string* tip)
{
    Doc* d = shown_doc();
    if (is_placeholder(d) || d->bin || d != m_s)
        return;
    std::string word = d->ed.word_at(x, y);
    if (word.empty())
        return;
    std::string text = editor_tip(word, x, y);
    if (text.empty())
        return;
    *tip = text;
    *hover += ":" + word;
}

void App::ref_f1()
{
    std::string word;
    if (m_settings.main_tab == 0 && m_focus == Focus::Editor && !is_placeholder(m_s))
        word = m_s->ed.word_at_caret();
    cmd_reference(word, "");
}
