// Commands and handlers the keys, the pointer and the click table call
// that other parts of the window provide. Until each arrives it only notes
// that it was asked for (m_pending_log) and leaves the status line empty;
// the real command replaces its definition here, one for one.
#include "app.h"

void App::pending(const std::string& name)
{
    m_pending_log.emplace_back(name);
    m_status.clear();
    m_status_err = false;
    m_dirty = true;
}

void App::cmd_converter() { pending("cmd_converter"); }
void App::cmd_about() { pending("cmd_about"); }
void App::cmd_link() { pending("cmd_link"); }
// Escape in the Language, Reference and License dialogs: each first clears
// its own field or goes back a page.
void App::dialog_escape()
{
    switch (m_modal) {
    case Modal::Language: lang_escape(); break;
    default: pending("dialog_escape"); break;
    }
}
void App::dialog_wheel(double x, double y, double dy)
{
    switch (m_modal) {
    case Modal::Reference: ref_wheel(x, y, dy); break;
    case Modal::Settings: settings_wheel(dy); break;
    case Modal::Language: lang_wheel(dy); break;
    default: pending("dialog_wheel"); break;
    }
}

