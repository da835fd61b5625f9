// The toolbar's build and debug buttons, and the wheel over the bottom
// pane's lists.
#include "app.h"

#include <algorithm>
#include <cmath>

bool App::debug_click(const Hit& h)
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
    else
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
    if (stepping() || m_proc.busy())
        return 1;
    if (m_build_job || m_proc.state() == dbg::State::Running || attach_pending())
        return std::min(normal, 15);
    return normal;
}
