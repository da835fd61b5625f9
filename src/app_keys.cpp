// Keys and typed text: every key press reaches exactly one receiver, in the
// order open dialog, open menu, command key, focused widget; typed text
// goes to the dialog's field or the focused widget. Also the completion
// list of the source editor.
#include "app.h"

#include "l10n.h"
#include "ref.h"
#include "refdata.h"
#include "syntax.h"
#include "textutil.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

bool shift_held(const SDL_Keysym& k)
{
    return (k.mod & KMOD_SHIFT) != 0;
}

bool ctrl_held(const SDL_Keysym& k)
{
    return (k.mod & KMOD_CTRL) != 0;
}

bool is_enter(SDL_Keycode s)
{
    return s == SDLK_RETURN || s == SDLK_KP_ENTER;
}

using textutil::lower;

// Instruction titles, register and directive names: built once, sorted by
// bytes, each once.
const std::vector<std::string>& fixed_words()
{
    static const std::vector<std::string> words = [] {
        std::vector<std::string> w;
        // Every spelling an instruction row explains is its own word: a
        // title such as "movaps, movups, ..." is neither one nor source.
        for (const ref::Entry& e : ref::list(ref::Kind::Insn)) {
            if (e.index < 0 || size_t(e.index) >= refdata::kInsnCount)
                continue;
            std::string names = refdata::kInsns[e.index].names;
            for (size_t at = 0; at < names.size();) {
                size_t comma = std::min(names.find(',', at), names.size());
                if (comma > at)
                    w.push_back(names.substr(at, comma - at));
                at = comma + 1;
            }
        }
        for (const std::string& r : syntax::register_names())
            w.push_back(r);
        for (const std::string& d : syntax::directive_names())
            w.push_back(d);
        std::sort(w.begin(), w.end());
        w.erase(std::unique(w.begin(), w.end()), w.end());
        return w;
    }();
    return words;
}

// Does word begin with the lower-cased prefix, ignoring case, and go on?
bool extends(const std::string& word, const std::string& low_prefix)
{
    if (word.size() <= low_prefix.size())
        return false;
    for (size_t i = 0; i < low_prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(word[i])) != low_prefix[i])
            return false;
    return true;
}

constexpr size_t kMaxCandidates = 8;

} // namespace

void App::key_down(const SDL_Keysym& k)
{
    m_caret_on = true;
    m_caret_t = SDL_GetTicks();
    m_dirty = true;
    if (m_modal != Modal::None)
        modal_key(k);
    else if (m_menu >= 0)
        menu_key(k);
    else if (bin_shown() && m_bin_ask != BinAsk::None)
        bin_key(k); // the question under the binary bar holds the keys until answered
    else if (!command_key(k))
        focus_key(k);
}

void App::modal_key(const SDL_Keysym& k)
{
    if (m_modal == Modal::Reference) {
        ref_modal_key(k); // Escape clears the search first, then closes
        return;
    }
    if (k.sym == SDLK_ESCAPE) {
        switch (m_modal) {
        case Modal::Language:
        case Modal::Reference:
        case Modal::License:
            // Each first empties its own field or steps back a page.
            dialog_escape();
            break;
        case Modal::Settings:
            apply_tool_paths();
            close_modal();
            break;
        default:
            close_modal();
            break;
        }
        return;
    }
    switch (m_modal) {
    case Modal::About:
    case Modal::Crash:
    case Modal::None:
        break;
    default:
        dialog_key(k);
        break;
    }
}

void App::menu_key(const SDL_Keysym& k)
{
    const int n = int(m_menu_list.size());
    auto selectable = [&](int i) {
        return i >= 0 && i < n && m_menu_list[size_t(i)].enabled && !m_menu_list[size_t(i)].separator;
    };
    switch (k.sym) {
    case SDLK_ESCAPE:
        open_menu(-1);
        break;
    case SDLK_LEFT:
    case SDLK_RIGHT:
        if (m_menu != 100)
            open_menu(k.sym == SDLK_LEFT ? (m_menu + 6) % 7 : (m_menu + 1) % 7);
        break;
    case SDLK_UP:
    case SDLK_DOWN: {
        if (n == 0)
            break;
        bool down = k.sym == SDLK_DOWN;
        int at = m_menu_hover;
        for (int step = 0; step < n; ++step) {
            if (at < 0)
                at = down ? 0 : n - 1;
            else
                at = down ? (at + 1) % n : (at + n - 1) % n;
            if (selectable(at))
                break;
        }
        m_menu_hover = at;
        menu_reveal(at);
        break;
    }
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        if (selectable(m_menu_hover)) {
            // The action may open the next menu or dialog: it runs last.
            std::function<void()> action = m_menu_list[size_t(m_menu_hover)].act;
            open_menu(-1);
            if (action)
                action();
        }
        break;
    default:
        break;
    }
}

bool App::command_key(const SDL_Keysym& k)
{
    const bool shift = shift_held(k);
    const bool source_editor = m_settings.main_tab == 0 && m_focus == Focus::Editor;
    Editor& ed = m_s->ed;
    switch (k.sym) {
    case SDLK_F1:
        cmd_reference(source_editor ? ed.word_at_caret() : std::string(), "");
        return true;
    case SDLK_F2:
        if (source_editor && !m_s->bin) {
            std::string word = ed.word_at_caret();
            int line = ed.caret().line;
            if (!is_placeholder(m_s) && ed.is_label(word, line))
                cmd_rename(word, line);
            else
                status_tr(true, "ed.rename_none");
        }
        return true;
    case SDLK_F3:
        find_step(!shift, true);
        return true;
    case SDLK_F4:
        cmd_run_to_cursor();
        return true;
    case SDLK_F5:
        if (ctrl_held(k))
            cmd_run();
        else if (shift)
            cmd_stop();
        else
            cmd_debug();
        return true;
    case SDLK_F7:
        cmd_build({});
        return true;
    case SDLK_F9:
        cmd_toggle_bp();
        return true;
    case SDLK_F10:
        cmd_step(1);
        return true;
    case SDLK_F11:
        cmd_step(shift ? 2 : 0);
        return true;
    case SDLK_F12:
        if (m_settings.main_tab == 0 && !is_placeholder(m_s)) {
            std::string word = ed.word_at_caret();
            int line = ed.caret().line;
            if (!word.empty() && ed.is_label(word, line)) {
                if (shift)
                    cmd_references(word, line);
                else
                    cmd_goto_definition(word, line);
            } else {
                status_tr(true, "ed.no_def", word);
            }
        }
        return true;
    default:
        break;
    }
    return ctrl_held(k) && ctrl_key(k);
}

bool App::ctrl_key(const SDL_Keysym& k)
{
    const bool shift = shift_held(k);
    // The editor's own Ctrl+Shift+K (delete lines) is not the converter.
    if (Editor::is_delete_lines_key(k))
        return false;
    switch (k.sym) {
    case SDLK_TAB: next_doc(shift); return true;
    case SDLK_PLUS:
    case SDLK_EQUALS:
    case SDLK_KP_PLUS: cmd_font(+1); return true;
    case SDLK_MINUS:
    case SDLK_KP_MINUS: cmd_font(-1); return true;
    case SDLK_0:
    case SDLK_KP_0: cmd_font(0); return true;
    case SDLK_COMMA: cmd_settings(); return true;
    case SDLK_1:
        m_settings.main_tab = 0;
        m_focus = Focus::Editor;
        return true;
    case SDLK_2:
        m_settings.main_tab = 1;
        m_focus = Focus::Bin;
        return true;
    case SDLK_3:
        m_settings.bottom_tab = 2;
        m_focus = Focus::ConIn;
        return true;
    case SDLK_b: cmd_build({}); return true;
    case SDLK_f: cmd_find(true); return true;
    case SDLK_g: cmd_goto(); return true;
    case SDLK_h:
        if (m_settings.main_tab == 0 && !is_placeholder(m_s) && !m_s->bin) {
            cmd_find(true);
            m_replace_open = true;
        }
        return true;
    case SDLK_k: cmd_converter(); return true;
    case SDLK_n: cmd_new(); return true;
    case SDLK_o:
        if (shift)
            cmd_open_binary();
        else
            cmd_open();
        return true;
    case SDLK_q: cmd_quit(); return true;
    case SDLK_s:
        if (m_settings.main_tab == 1 && m_focus == Focus::Bin)
            cmd_save_binary(shift, false);
        else if (shift)
            cmd_save_as(nullptr);
        else
            cmd_save(nullptr);
        return true;
    case SDLK_w: close_current(); return true;
    default: return false;
    }
}

void App::next_doc(bool back)
{
    const int n = int(m_docs.size());
    if (n == 0)
        return;
    const Doc* cur = shown_doc();
    int at = -1;
    for (int i = 0; i < n; ++i)
        if (m_docs[size_t(i)].get() == cur)
            at = i;
    for (int step = 1; step <= n; ++step) {
        int i = at < 0 ? (back ? n - step : step - 1) : ((at + (back ? -step : step)) % n + n) % n;
        Doc* d = m_docs[size_t(i)].get();
        if (!d->hidden) {
            activate(d);
            return;
        }
    }
}

void App::close_current()
{
    Doc* d = m_settings.main_tab == 1 && !m_b->hidden ? m_b : m_s;
    if (!is_placeholder(d))
        close_doc(d, false);
}

void App::focus_main_view()
{
    m_focus = m_settings.main_tab == 1 ? Focus::Bin : Focus::Editor;
}

void App::focus_key(const SDL_Keysym& k)
{
    const bool enter = is_enter(k.sym);
    const bool esc = k.sym == SDLK_ESCAPE;
    switch (m_focus) {
    case Focus::Editor: {
        if (ac_key(k))
            return;
        if (esc) {
            if (m_find_open)
                cmd_find(false);
            return;
        }
        Editor* ed = typing_target();
        if (!ed)
            return;
        ed->key(k);
        if (k.sym == SDLK_BACKSPACE && !m_ac.empty())
            ac_update();
        else
            m_ac.clear();
        return;
    }
    case Focus::Bin:
        bin_key(k);
        return;
    case Focus::ProgIn:
        if (enter)
            prog_in_enter();
        else if (ctrl_held(k) && k.sym == SDLK_d) {
            m_proc.close_input();
            m_prog.emplace_back("^D", 6);
        } else if (esc)
            focus_main_view();
        else
            m_prog_in.key(k, true);
        return;
    case Focus::ConIn:
        if (enter)
            con_in_enter();
        else if (esc)
            focus_main_view();
        else
            m_con_in.key(k, true);
        return;
    case Focus::Find:
        if (bin_shown())
            bin_key(k); // the binary view searches its bytes in slices
        else if (k.sym == SDLK_TAB && m_replace_open)
            m_focus = Focus::Replace;
        else if (enter)
            find_step(!shift_held(k), true);
        else if (esc)
            cmd_find(false);
        else if (m_find.key(k, false))
            find_typed();
        return;
    case Focus::Replace:
        if (k.sym == SDLK_TAB)
            m_focus = Focus::Find;
        else if (enter)
            cmd_replace(ctrl_held(k));
        else if (esc)
            cmd_find(false);
        else
            m_replace.key(k, false);
        return;
    }
}

void App::prog_in_enter()
{
    dbg::State st = m_proc.state();
    if (st == dbg::State::Running || st == dbg::State::Stopped) {
        // Queued when the program does not read: the window never waits.
        m_proc.send_input(m_prog_in.text + "\n");
        m_prog.emplace_back(m_prog_in.text, 6);
    }
    m_prog_in.push_history();
    m_prog_in.set("");
    m_prog_follow = true;
}

void App::con_in_enter()
{
    std::string line = m_con_in.text;
    m_con_in.push_history();
    m_con_in.set("");
    m_con_follow = true;
    m_con.exec(line);
}

void App::text_input(const char* utf8)
{
    if (m_modal != Modal::None) {
        switch (m_modal) {
        case Modal::Message:
        case Modal::Confirm:
        case Modal::About:
        case Modal::Crash:
        case Modal::License:
            return;
        case Modal::Reference:
            ref_text(utf8);
            m_dirty = true;
            return;
        default:
            dialog_text(utf8);
            m_dirty = true;
            return;
        }
    }
    // A Ctrl shortcut never types.
    if (m_menu >= 0 || (SDL_GetModState() & KMOD_CTRL))
        return;
    if (bin_shown() && m_bin_ask != BinAsk::None) {
        bin_text(utf8);
        return;
    }
    switch (m_focus) {
    case Focus::Editor: {
        Editor* ed = typing_target();
        if (!ed)
            return;
        ed->text_input(utf8);
        ac_update();
        break;
    }
    case Focus::Bin: bin_text(utf8); break;
    case Focus::ProgIn: m_prog_in.input(utf8); break;
    case Focus::ConIn: m_con_in.input(utf8); break;
    case Focus::Replace: m_replace.input(utf8); break;
    case Focus::Find:
        if (bin_shown()) {
            bin_text(utf8);
            break;
        }
        m_find.input(utf8);
        find_typed();
        break;
    }
    m_caret_on = true;
    m_caret_t = SDL_GetTicks();
    m_dirty = true;
}

void App::find_typed()
{
    // Keys that move the caret in the field change no text: searching the
    // whole document again for them would only cost time.
    if (m_find.text == m_find_searched)
        return;
    m_find_searched = m_find.text;
    find_step(true, false);
}

bool App::ac_key(const SDL_Keysym& k)
{
    const int n = int(m_ac.size());
    if (n == 0)
        return false;
    m_ac_sel = std::clamp(m_ac_sel, 0, n - 1);
    switch (k.sym) {
    case SDLK_TAB:
        if (shift_held(k) || ctrl_held(k))
            return false;
        if (Editor* ed = typing_target())
            ed->complete(m_ac[size_t(m_ac_sel)]);
        m_ac.clear();
        break;
    case SDLK_ESCAPE: m_ac.clear(); break;
    case SDLK_DOWN: m_ac_sel = (m_ac_sel + 1) % n; break;
    case SDLK_UP: m_ac_sel = (m_ac_sel + n - 1) % n; break;
    default: return false;
    }
    m_dirty = true;
    return true;
}

void App::ac_update()
{
    m_ac.clear();
    m_ac_sel = 0;
    if (m_focus != Focus::Editor || is_placeholder(m_s) || m_s->bin)
        return;
    const Editor& ed = m_s->ed;
    if (ed.has_selection())
        return;
    const std::string prefix = ed.prefix_at_caret();
    if (prefix.size() < 2 || std::isdigit(static_cast<unsigned char>(prefix[0])))
        return;
    const std::string low = lower(prefix);
    const bool local = prefix[0] == '.';
    auto offer = [&](const std::string& w) {
        if (m_ac.size() < kMaxCandidates && extends(w, low) && std::find(m_ac.begin(), m_ac.end(), w) == m_ac.end())
            m_ac.push_back(w);
    };
    // The labels are kept by the editor until the text changes, so a key
    // costs one pass over them, not a scan of the text.
    for (const auto& [name, line] : ed.labels()) {
        if (m_ac.size() >= kMaxCandidates)
            return;
        size_t dot = local ? name.find('.', 1) : std::string::npos;
        offer(dot != std::string::npos ? name.substr(dot) : name);
    }
    for (const std::string& w : fixed_words()) {
        if (m_ac.size() >= kMaxCandidates)
            return;
        offer(w);
    }
}
