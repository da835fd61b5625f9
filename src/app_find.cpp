// The find bar with its replace row, and the editor's font size: the
// commands choose the document (the binary view when it is in front, else
// the current source), the editor and the binary view do the searching.
#include "app.h"

#include "l10n.h"

#include <algorithm>
#include <cctype>

namespace {

// The editor's search ignores the case of ASCII letters.
bool same_ignoring_case(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

void App::cmd_find(bool open)
{
    m_find_open = open;
    if (open && bin_shown()) {
        bin_open_find();
    } else if (open) {
        const Editor& ed = m_s->ed;
        if (ed.has_selection()) {
            std::string sel = ed.selected_text();
            if (sel.find('\n') == std::string::npos)
                m_find.set(sel);
        }
        m_find.select_all();
        m_focus = Focus::Find;
        m_settings.main_tab = 0;
    } else {
        m_replace_open = false;
        if (m_bin_search && m_bin_search == m_b) {
            m_b->bv.find_cancel();
            m_bin_search = nullptr;
        }
        if (!is_placeholder(m_b))
            m_b->bv.m_hit_len = 0;
        if (m_focus == Focus::Find || m_focus == Focus::Replace)
            m_focus = bin_shown() ? Focus::Bin : Focus::Editor;
    }
    m_dirty = true;
}

bool App::find_step(bool forward, bool from_caret)
{
    if (m_find.text.empty())
        return false;
    if (bin_shown()) {
        // The bytes are searched in slices over the next loop turns; the
        // answer is known here only when the first slice settled it.
        bin_find(forward, from_caret);
        return m_bin_search == nullptr && m_b->bv.m_hit_len > 0;
    }
    if (is_placeholder(m_s) || m_s->bin)
        return false;
    bool found = m_s->ed.find(m_find.text, forward, from_caret);
    if (found)
        status("", false);
    else
        status_tr(true, "find.none");
    m_dirty = true;
    return found;
}

void App::cmd_replace(bool all)
{
    if (m_find.text.empty() || is_placeholder(m_s) || m_s->bin)
        return;
    m_settings.main_tab = 0;
    Editor& ed = m_s->ed;
    int n = all ? ed.replace_all(m_find.text, m_replace.text) : ed.replace_next(m_find.text, m_replace.text);
    if (n > 0)
        status_tr(false, "find.replaced", n);
    else if (!all && same_ignoring_case(ed.selected_text(), m_find.text))
        status("", false); // the first press only selects the next match
    else
        status_tr(true, "find.none");
    m_dirty = true;
}

void App::cmd_font(double step)
{
    double size = step == 0 ? 14.0 : m_settings.font + step;
    m_settings.font = std::clamp(size, 9.0, 32.0);
    m_dirty = true;
    queue_save();
}
