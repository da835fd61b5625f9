// The generic dialogs (message, prompt, confirmation) with their queue,
// their keys and clicks, the messages pane's list and the clipboard copy.
#include "app.h"

#include "l10n.h"
#include "logger.h"
#include "qxcrash.h"

#include <algorithm>
#include <utility>

void App::show_message(const std::string& title, const std::string& text)
{
    PendingDlg p;
    p.kind = Modal::Message;
    p.title = title;
    p.text = text;
    p.buttons.push_back(DlgButton{ L10n::tr("btn.ok"), nullptr, true });
    open_dialog(std::move(p));
}

void App::show_prompt(const std::string& title, const std::string& label, const std::string& initial,
                      std::function<void(const std::string&)> ok)
{
    PendingDlg p;
    p.kind = Modal::Prompt;
    p.title = title;
    p.label = label;
    p.initial = initial;
    p.ok = std::move(ok);
    open_dialog(std::move(p));
}

void App::show_confirm(const std::string& title, const std::string& text, std::vector<DlgButton> buttons)
{
    PendingDlg p;
    p.kind = Modal::Confirm;
    p.title = title;
    p.text = text;
    p.buttons = std::move(buttons);
    open_dialog(std::move(p));
}

void App::open_dialog(PendingDlg p)
{
    // Replacing an open dialog would drop its answer: the new one waits.
    if (m_modal != Modal::None) {
        m_dlg_queue.push_back(std::move(p));
        return;
    }
    m_modal = p.kind;
    switch (p.kind) {
    case Modal::Message:
    case Modal::Confirm:
        m_dlg_title = std::move(p.title);
        m_dlg_text = std::move(p.text);
        m_dlg_buttons = std::move(p.buttons);
        break;
    case Modal::Prompt:
        m_dlg_title = std::move(p.title);
        m_dlg_label = std::move(p.label);
        m_dlg_field.set(p.initial);
        m_dlg_field.anchor = 0;
        m_dlg_ok = std::move(p.ok);
        m_path_prompt = p.path;
        break;
    case Modal::Crash:
        if (m_crash_text.empty())
            qxcrash::pending(&m_crash_text);
        break;
    case Modal::About:
        m_about_scroll = 0;
        break;
    case Modal::Settings:
        settings_opened();
        break;
    case Modal::Language:
        lang_opened();
        break;
    default:
        break;
    }
    m_dirty = true;
}

void App::next_dialog()
{
    if (m_modal != Modal::None || m_dlg_queue.empty())
        return;
    PendingDlg p = std::move(m_dlg_queue.front());
    m_dlg_queue.erase(m_dlg_queue.begin());
    open_dialog(std::move(p));
}

void App::run_button(size_t n)
{
    if (m_modal != Modal::Message && m_modal != Modal::Confirm)
        return;
    if (n >= m_dlg_buttons.size())
        return;
    // The action is taken out first: it runs after the dialog has closed
    // and may open the next one, which replaces the buttons.
    std::function<void()> act = std::move(m_dlg_buttons[n].act);
    m_lang_back = false;
    m_modal = Modal::None;
    m_dlg_ok = nullptr;
    m_dirty = true;
    if (act)
        act();
    next_dialog();
}

void App::prompt_ok()
{
    if (m_modal != Modal::Prompt)
        return;
    std::function<void(const std::string&)> ok = std::move(m_dlg_ok);
    m_dlg_ok = nullptr;
    std::string text = m_dlg_field.text;
    m_lang_back = false;
    m_modal = Modal::None;
    m_dirty = true;
    if (ok)
        ok(text);
    next_dialog();
}

bool App::dialog_key(const SDL_Keysym& k)
{
    if (m_modal == Modal::None)
        return false;
    bool enter = k.sym == SDLK_RETURN || k.sym == SDLK_KP_ENTER;
    if (k.sym == SDLK_ESCAPE) {
        close_modal();
        return true;
    }
    switch (m_modal) {
    case Modal::Message:
    case Modal::Confirm:
        if (enter)
            for (size_t i = 0; i < m_dlg_buttons.size(); ++i)
                if (m_dlg_buttons[i].primary) {
                    run_button(i);
                    break;
                }
        break;
    case Modal::Settings:
        return settings_key(k);
    case Modal::Language:
        return lang_key(k);
    case Modal::Prompt:
        if (enter)
            prompt_ok();
        else if (m_dlg_field.key(k, false)) {
            m_caret_on = true;
            m_caret_t = SDL_GetTicks();
        }
        break;
    case Modal::Convert: conv_key(k); break;
    case Modal::Link: link_key(k); break;
    case Modal::License: license_key(k); break;
    default:
        break;
    }
    m_dirty = true;
    return true;
}

bool App::dialog_text(const char* utf8)
{
    if (m_modal == Modal::Settings)
        return settings_text(utf8);
    if (m_modal == Modal::Language)
        return lang_text(utf8);
    TextField* field = m_modal == Modal::Prompt    ? &m_dlg_field
                       : m_modal == Modal::Convert ? &m_conv
                       : m_modal == Modal::Link    ? &m_link_field[std::clamp(m_link_focus, 0, 4)]
                                                   : nullptr;
    if (!field)
        return m_modal != Modal::None;
    field->input(utf8);
    m_caret_on = true;
    m_caret_t = SDL_GetTicks();
    m_dirty = true;
    return true;
}

bool App::dialog_click(const Hit& h, double x)
{
    const std::string& id = h.id;
    if (m_modal == Modal::None) {
        // The welcome page's buttons; the first three share the toolbar's ids.
        if (id == "tb_new")
            cmd_new();
        else if (id == "tb_open")
            cmd_open();
        else if (id == "tb_bin")
            cmd_open_binary();
        else if (id == "welcome_example")
            cmd_open_example();
        else
            return false;
        return true;
    }
    if (m_modal == Modal::Settings && settings_click(h, x))
        return true;
    if (m_modal == Modal::Language && lang_click(h)) {
        m_dirty = true;
        return true;
    }
    if (id == "dlg_button" && h.n >= 0) {
        run_button(size_t(h.n));
    } else if (id == "dlg_ok") {
        prompt_ok();
    } else if (id == "dlg_cancel") {
        close_modal();
    } else if (id == "dlg_field" && m_modal == Modal::Prompt) {
        m_dlg_field.click(x, "");
    } else if (id == "crash_send" && m_modal == Modal::Crash) {
        // Composes a mail in the user's mail program; nothing is sent from here.
        qxcrash::send(logger::file_path());
        m_crash_text.clear();
        close_modal();
    } else if (id == "crash_discard" && m_modal == Modal::Crash) {
        qxcrash::discard();
        m_crash_text.clear();
        close_modal();
    } else if (about_click(h) || conv_click(h) || link_click(h, x)) {
        // The About, licence, converter and link dialogs' own hits.
    } else if (id == "modal_bg" || id == "dlg_box") {
        // Nothing beneath a dialog reacts.
    } else {
        return false;
    }
    m_dirty = true;
    return true;
}

void App::msg(const std::string& text, int kind, int line)
{
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        size_t end = nl == std::string::npos ? text.size() : nl;
        m_msgs.emplace_back(text.substr(at, end - at), kind);
        // Lines added without a source line keep the two lists parallel.
        m_msg_line_of.resize(m_msgs.size() - 1, 0);
        m_msg_line_of.push_back(line);
        at = end + 1;
    }
    if (m_msgs.size() > 5000) {
        m_msgs.erase(m_msgs.begin(), m_msgs.begin() + 1000);
        m_msg_line_of.erase(m_msg_line_of.begin(), m_msg_line_of.begin() + 1000);
    }
    m_msgs_follow = true;
    m_dirty = true;
}

void App::copy(const std::string& text)
{
    SDL_SetClipboardText(L10n::plain(text).c_str());
    status([text] { return L10n::tr("conv.copied") + ": " + text; }, false);
}
