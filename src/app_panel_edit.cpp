// The side panel's prompts and jumps: adding a watch expression, changing a
// register of the stopped program, and the rows that lead into the binary
// view (a variable, a stack slot, a breakpoint).
#include "app.h"

#include "l10n.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

void App::cmd_watch_add()
{
    show_prompt(L10n::tr("watch.add_title"), L10n::tr("watch.add_label"), "", [this](const std::string& typed) {
        std::string text = tc::trim(typed);
        if (text.empty())
            return;
        m_settings.watches.push_back("0" + text);
        if (panel_live())
            snapshot_watches();
        queue_save();
        m_dirty = true;
    });
}

void App::panel_goto(uint64_t run_addr)
{
    // The program's binary while one runs, else the binary in front.
    Doc* d = target_bin();
    if (!d || is_placeholder(d))
        return;
    activate(d);
    m_focus = Focus::Bin;
    // The live view speaks run-time addresses, an image its own.
    if (d->bv.live())
        d->bv.goto_addr(run_addr);
    else
        d->bv.goto_addr(to_file(run_addr));
    m_dirty = true;
}

void App::reg_edit(const std::string& name)
{
    uint64_t v = 0;
    if (!panel_live() || !m_proc.reg(name, &v))
        return;
    char hex[24];
    snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(v));
    std::string shown = name;
    std::transform(shown.begin(), shown.end(), shown.begin(), [](unsigned char c) { return char(toupper(c)); });
    show_prompt(L10n::tr("reg.edit_title", shown), L10n::tr("reg.edit_label"), hex,
                [this, name](const std::string& text) {
                    // The program may have moved on while the prompt was open.
                    if (!panel_live())
                        return;
                    uint64_t nv = 0;
                    std::string err;
                    if (!m_con.eval(text, &nv, &err)) {
                        status_tr(true, err);
                        return;
                    }
                    if (!m_proc.set_reg(name, nv)) {
                        status_tr(true, "con.err.value");
                        return;
                    }
                    changed();
                });
}

bool App::panel_value_click(const Hit& h)
{
    size_t n = size_t(h.n);
    bool valid = h.n >= 0;
    if (h.id == "var") {
        if (valid && n < m_var_addrs.size())
            panel_goto(m_var_addrs[n]);
    } else if (h.id == "stack") {
        if (valid && panel_live())
            panel_goto(m_proc.sp() + n);
    } else if (h.id == "bp_go") {
        if (valid && n < m_bp_addrs.size())
            panel_goto(m_bp_addrs[n]);
    } else if (h.id == "reg") {
        if (valid && n < m_reg_hit_names.size())
            reg_edit(m_reg_hit_names[n]);
    } else {
        return false;
    }
    m_dirty = true;
    return true;
}
