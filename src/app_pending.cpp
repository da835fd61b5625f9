// Commands and handlers the keys, the pointer and the click table call
// that other parts of the window provide. Until each arrives it only notes
// that it was asked for (m_pending_log) and leaves the status line empty;
// the real command replaces its definition here, one for one.
#include "app.h"

#include <algorithm>

void App::pending(const std::string& name)
{
    m_pending_log.emplace_back(name);
    m_status.clear();
    m_status_err = false;
    m_dirty = true;
}

void App::cmd_rename(const std::string&, int) { pending("cmd_rename"); }
void App::find_step(bool forward, bool) { pending(forward ? "find_step+" : "find_step-"); }
void App::cmd_goto_definition(const std::string&, int) { pending("cmd_goto_definition"); }
void App::cmd_references(const std::string&, int) { pending("cmd_references"); }
void App::cmd_font(int step) { pending(step > 0 ? "cmd_font+" : "cmd_font-"); }
void App::cmd_settings() { pending("cmd_settings"); }
void App::cmd_language() { pending("cmd_language"); }
void App::cmd_replace(bool all) { pending(all ? "cmd_replace(all)" : "cmd_replace"); }
void App::cmd_goto() { pending("cmd_goto"); }
void App::cmd_watch_add() { pending("cmd_watch_add"); }
void App::cmd_args() { pending("cmd_args"); }
void App::cmd_attach() { pending("cmd_attach"); }
void App::apply_tool_paths() { pending("apply_tool_paths"); }
// Escape in the Language, Reference and License dialogs: each first clears
// its own field or goes back a page.
void App::dialog_escape()
{
    switch (m_modal) {
    case Modal::License:
        // The licence viewer always returns to the About dialog.
        m_modal = Modal::About;
        m_about_scroll = 0;
        m_dirty = true;
        break;
    default:
        pending("dialog_escape");
        break;
    }
}
void App::dialog_wheel(double x, double y, double dy)
{
    switch (m_modal) {
    case Modal::Reference: ref_wheel(x, y, dy); break;
    case Modal::About:
        m_about_scroll = std::clamp(m_about_scroll - 40 * dy, 0.0, std::max(0.0, m_about_content_h - m_about_view_h));
        break;
    case Modal::License: license_wheel(dy); break;
    case Modal::Language:
    case Modal::Settings: pending("dialog_wheel"); break;
    default: break; // the other dialogs do not scroll
    }
}
// The link opener comes with the sandbox hints; until then links open nowhere.
void open_url(const char*) {}

// Until the editing commands arrive the find bar opens and closes here,
// so Ctrl+F and Escape keep working.
void App::cmd_find(bool open)
{
    if (open) {
        m_find_open = true;
        m_focus = Focus::Find;
        m_find.select_all();
    } else {
        m_find_open = false;
        m_replace_open = false;
        focus_main_view();
    }
    m_dirty = true;
}
