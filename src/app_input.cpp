// The hit list of the last painted frame and the one table from Hit id to
// the action of a press on it.
#include "app.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace {

bool inside(const Hit& h, double x, double y)
{
    return x >= h.x && x < h.x + h.w && y >= h.y && y < h.y + h.h;
}

} // namespace

const Hit* App::hit_at(double x, double y) const
{
    // The rectangle painted last wins.
    for (auto it = m_hits.rbegin(); it != m_hits.rend(); ++it)
        if (inside(*it, x, y))
            return &*it;
    return nullptr;
}

std::vector<const Hit*> App::hits_under(double x, double y) const
{
    std::vector<const Hit*> out;
    for (auto it = m_hits.rbegin(); it != m_hits.rend(); ++it)
        if (inside(*it, x, y))
            out.push_back(&*it);
    return out;
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
    if (m_modal != Modal::None || m_menu >= 0)
        return false;
    switch (m_focus) {
    case Focus::Editor: return typing_target() != nullptr;
    case Focus::Find: return m_find_open;
    case Focus::Replace: return m_find_open && m_replace_open;
    default: return false;
    }
}

bool App::source_view_editing() const
{
    return m_settings.main_tab == 0 && !is_placeholder(m_s) && !m_s->bin;
}

bool App::click_modal_bg()
{
    if (m_modal == Modal::License) {
        dialog_escape();
        return true;
    }
    if (m_modal == Modal::Settings)
        apply_tool_paths();
    switch (m_modal) {
    case Modal::Language:
    case Modal::About:
    case Modal::Reference:
    case Modal::Settings:
    case Modal::Convert:
    case Modal::Link:
        // Dialogs that only show or set things close; the ones waiting for
        // an answer stay.
        close_modal();
        break;
    default:
        break;
    }
    return true;
}

void App::click(const Hit& h)
{
    m_dirty = true;
    if (h.id == "modal_bg") {
        click_modal_bg();
        return;
    }
    if (m_modal == Modal::Reference && ref_mouse_down(h, m_mx, m_my))
        return;

    using Action = void (*)(App&, const Hit&);
    static const std::unordered_map<std::string_view, Action> table = {
        { "menu_bg", [](App& a, const Hit&) { a.open_menu(-1); } },
        { "menubar", [](App& a, const Hit& h) { a.open_menu(h.n == a.m_menu ? -1 : h.n); } },
        { "menu_up", [](App& a, const Hit&) { a.menu_scroll_by(-3 * 28); } },
        { "menu_down", [](App& a, const Hit&) { a.menu_scroll_by(3 * 28); } },
        { "menu_item",
          [](App& a, const Hit& h) {
              if (h.n < 0 || size_t(h.n) >= a.m_menu_list.size())
                  return;
              const MenuItem& it = a.m_menu_list[size_t(h.n)];
              if (!it.enabled || it.separator)
                  return;
              std::function<void()> action = it.act;
              a.open_menu(-1);
              if (action)
                  action();
          } },
        { "set_autodebug",
          [](App& a, const Hit&) {
              a.m_settings.auto_debug = !a.m_settings.auto_debug;
              a.m_save_at = SDL_GetTicks() + 600;
          } },
        { "set_fmt",
          [](App& a, const Hit& h) {
              static const char* const names[] = { "auto", "elf64", "elf32", "bin" };
              a.m_settings.format = names[std::clamp(h.n, 0, 3)];
              a.m_s->have_build = false;
              a.m_save_at = SDL_GetTicks() + 600;
          } },
        { "set_theme",
          [](App& a, const Hit& h) {
              static const char* const names[] = { "auto", "light", "dark" };
              a.choose_theme(names[std::clamp(h.n, 0, 2)]);
              a.m_save_at = SDL_GetTicks() + 600;
          } },
        { "set_font", [](App& a, const Hit& h) { a.cmd_font(h.n); } },
        { "set_close",
          [](App& a, const Hit&) {
              a.apply_tool_paths();
              a.close_modal();
          } },
        { "tb_new", [](App& a, const Hit&) { a.cmd_new(); } },
        { "tb_open", [](App& a, const Hit&) { a.cmd_open(); } },
        { "tb_bin", [](App& a, const Hit&) { a.cmd_open_binary(); } },
        { "tb_settings", [](App& a, const Hit&) { a.cmd_settings(); } },
        { "tb_save",
          [](App& a, const Hit&) {
              if (a.m_settings.main_tab == 1)
                  a.cmd_save_binary(false, false);
              else
                  a.cmd_save(nullptr);
          } },
        { "tab_main",
          [](App& a, const Hit& h) {
              if (h.n >= 0 && size_t(h.n) < a.m_docs.size())
                  a.activate(a.m_docs[size_t(h.n)].get());
          } },
        { "tab_close",
          [](App& a, const Hit& h) {
              if (h.n >= 0 && size_t(h.n) < a.m_docs.size())
                  a.close_doc(a.m_docs[size_t(h.n)].get(), false);
          } },
        { "welcome_example", [](App& a, const Hit&) { a.cmd_open_example(); } },
        { "welcome_intro", [](App& a, const Hit&) { a.cmd_reference("", "intro"); } },
        { "tab_bottom",
          [](App& a, const Hit& h) {
              a.m_settings.bottom_tab = h.n;
              if (h.n == 2)
                  a.m_focus = Focus::ConIn;
              else if (h.n == 1)
                  a.m_focus = Focus::ProgIn;
              a.m_save_at = SDL_GetTicks() + 600;
          } },
        { "msg_line",
          [](App& a, const Hit& h) {
              if (h.n <= 0 || a.is_placeholder(a.m_s))
                  return;
              a.m_settings.main_tab = 0;
              a.m_focus = Focus::Editor;
              a.m_s->ed.goto_line(h.n - 1, true);
          } },
        { "watch_add", [](App& a, const Hit&) { a.cmd_watch_add(); } },
        { "find_close", [](App& a, const Hit&) { a.cmd_find(false); } },
        { "replace_one", [](App& a, const Hit&) { a.cmd_replace(false); } },
        { "replace_all", [](App& a, const Hit&) { a.cmd_replace(true); } },
        { "find_replace_toggle",
          [](App& a, const Hit&) {
              if (a.m_replace_open)
                  a.m_replace_open = false;
              else if (a.m_settings.main_tab == 0)
                  a.m_replace_open = true;
          } },
        { "find_next", [](App& a, const Hit&) { a.find_step(true, true); } },
        { "find_prev", [](App& a, const Hit&) { a.find_step(false, true); } },
    };
    // Ids of the dialogs and of the side panel go to their owners.
    static const std::unordered_map<std::string_view, Action> owned = {
        { "dlg_button", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "dlg_ok", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "dlg_cancel", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "lang", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "link_field", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "link_crt", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "link_ok", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "set_field", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "set_browse", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "set_auto", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "set_copy", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "set_lang", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "crash_send", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "crash_discard", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "conv_copy", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "comp_license", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "snap_sources", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "comp_url", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "lic_url", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "lic_back", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "url", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "mail", [](App& a, const Hit& h) { a.dialog_click(h, a.m_mx); } },
        { "tb_build", [](App& a, const Hit& h) { a.debug_click(h); } },
        { "tb_run", [](App& a, const Hit& h) { a.debug_click(h); } },
        { "tb_debug", [](App& a, const Hit& h) { a.debug_click(h); } },
        { "tb_stop", [](App& a, const Hit& h) { a.debug_click(h); } },
        { "tb_into", [](App& a, const Hit& h) { a.debug_click(h); } },
        { "tb_over", [](App& a, const Hit& h) { a.debug_click(h); } },
        { "tb_out", [](App& a, const Hit& h) { a.debug_click(h); } },
        { "goto_running", [](App& a, const Hit& h) { a.panel_click(h); } },
        { "lbl_goto", [](App& a, const Hit& h) { a.panel_click(h); } },
        { "fold", [](App& a, const Hit& h) { a.panel_click(h); } },
        { "reg_width", [](App& a, const Hit& h) { a.panel_click(h); } },
        { "var", [](App& a, const Hit& h) { a.panel_click(h); } },
        { "reg", [](App& a, const Hit& h) { a.panel_click(h); } },
        { "flag", [](App& a, const Hit& h) { a.panel_click(h); } },
        { "stack", [](App& a, const Hit& h) { a.panel_click(h); } },
        { "bp_go", [](App& a, const Hit& h) { a.panel_click(h); } },
        { "bp_del", [](App& a, const Hit& h) { a.panel_click(h); } },
        { "watch_del", [](App& a, const Hit& h) { a.panel_click(h); } },
        { "watch_stop", [](App& a, const Hit& h) { a.panel_click(h); } },
    };
    if (auto it = table.find(h.id); it != table.end())
        it->second(*this, h);
    else if (auto ot = owned.find(h.id); ot != owned.end())
        ot->second(*this, h);
}
