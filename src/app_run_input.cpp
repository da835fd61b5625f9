// Keys, typed text, clicks and the wheel of the build and debug commands,
// the bottom pane's tabs and lists, and its two input rows.
#include "app.h"

#include <algorithm>
#include <cmath>

bool App::debug_key(const SDL_Keysym& k)
{
    bool shift = k.mod & KMOD_SHIFT;
    bool ctrl = k.mod & KMOD_CTRL;
    bool alt = k.mod & KMOD_ALT;
    if (alt)
        return false;
    switch (k.sym) {
    case SDLK_F7: cmd_build({}); return true;
    case SDLK_b:
        if (!ctrl || shift)
            break;
        cmd_build({});
        return true;
    case SDLK_F5:
        if (shift)
            cmd_stop();
        else if (ctrl)
            cmd_run();
        else
            cmd_debug();
        return true;
    case SDLK_F9: cmd_toggle_bp(); return true;
    case SDLK_F10: cmd_step(1); return true;
    case SDLK_F11: cmd_step(shift ? 2 : 0); return true;
    case SDLK_F4: cmd_run_to_cursor(); return true;
    default: break;
    }
    if (m_focus != Focus::ProgIn && m_focus != Focus::ConIn)
        return false;
    TextField& field = m_focus == Focus::ProgIn ? m_prog_in : m_con_in;
    if (k.sym == SDLK_RETURN || k.sym == SDLK_KP_ENTER) {
        std::string text = field.text;
        field.push_history();
        field.set("");
        if (m_focus == Focus::ProgIn) {
            if (m_proc.alive())
                m_proc.send_input(text + "\n");
        } else {
            m_con.exec(text);
            m_con_follow = true;
        }
    } else if (k.sym == SDLK_ESCAPE) {
        m_focus = m_settings.main_tab == 1 ? Focus::Bin : Focus::Editor;
    } else if (!field.key(k, true)) {
        return false;
    }
    m_caret_on = true;
    m_dirty = true;
    return true;
}

bool App::debug_text(const char* utf8)
{
    if (m_focus == Focus::ProgIn)
        m_prog_in.input(utf8);
    else if (m_focus == Focus::ConIn)
        m_con_in.input(utf8);
    else
        return false;
    m_dirty = true;
    return true;
}

bool App::debug_click(const Hit& h, double x)
{
    const std::string& id = h.id;
    if (id == "tb_build")
        cmd_build({});
    else if (id == "tb_run")
        cmd_run();
    else if (id == "tb_debug")
        cmd_debug();
    else if (id == "tb_into")
        cmd_step(0);
    else if (id == "tb_over")
        cmd_step(1);
    else if (id == "tb_out")
        cmd_step(2);
    else if (id == "tb_stop")
        cmd_stop();
    else if (id == "tab_bottom")
        m_settings.bottom_tab = std::clamp(h.n, 0, 2);
    else if (id == "prog_in") {
        m_focus = Focus::ProgIn;
        m_prog_in.click(x, "");
    } else if (id == "con_in") {
        m_focus = Focus::ConIn;
        m_con_in.click(x, "");
    } else if (id == "msg_line" && !is_placeholder(m_s) && h.n > 0) {
        m_settings.main_tab = 0;
        m_focus = Focus::Editor;
        m_s->ed.goto_line(h.n - 1, true);
    } else
        return false;
    m_dirty = true;
    return true;
}

bool App::debug_wheel(const Hit& h, double dy)
{
    int step = int(std::lround(dy * 3));
    if (step == 0)
        step = dy > 0 ? 1 : -1;
    if (h.id == "pane_msgs" || h.id == "msg_line" || h.id == "msg_full") {
        m_msgs_top = std::max(0, m_msgs_top - step);
        m_msgs_follow = false;
    } else if (h.id == "pane_prog") {
        m_prog_top = std::max(0, m_prog_top - step);
        m_prog_follow = false;
    } else if (h.id == "pane_con" || h.id == "conflag") {
        m_con_top = std::max(0, m_con_top - step);
        m_con_follow = false;
    } else {
        return false;
    }
    m_dirty = true;
    return true;
}

int App::debug_wait_ms(int normal) const
{
    // Steps that go on and builds under way are looked at often; a long
    // step does not sleep between its batches.
    if (m_restep)
        return 0;
    if (stepping())
        return 1;
    if (m_build_job || m_proc.state() == dbg::State::Running)
        return std::min(normal, 15);
    return normal;
}
