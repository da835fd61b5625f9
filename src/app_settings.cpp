// The Settings dialog's state and input: opening, taking the typed tool
// paths over, keys, clicks and the install advice. Tool versions come from
// the background probe, so nothing here waits for a tool.
#include "app.h"

#include "filedialog_portal.h"
#include "l10n.h"
#include "toolprobe.h"
#include "textutil.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

const char* const kToolNames[3] = { "nasm", "ld", "cc" };

using textutil::trim;

} // namespace

void App::cmd_settings()
{
    if (m_modal == Modal::Settings)
        return;
    show_modal(Modal::Settings);
}

void App::settings_opened()
{
    m_set_scroll = 0;
    m_set_field[0].set(m_settings.nasm_path);
    m_set_field[1].set(m_settings.ld_path);
    m_set_field[2].set(m_settings.args);
    for (TextField& f : m_set_field)
        f.mono = true;
    m_set_focus = -1;
    apply_tool_paths();
}

void App::apply_tool_paths()
{
    bool paths_changed = false, changed = false;
    if (m_modal == Modal::Settings) {
        std::string nasm = trim(m_set_field[0].text), ld = trim(m_set_field[1].text);
        paths_changed = nasm != m_settings.nasm_path || ld != m_settings.ld_path;
        changed = paths_changed || m_set_field[2].text != m_settings.args;
        m_settings.nasm_path = nasm;
        m_settings.ld_path = ld;
        m_settings.args = m_set_field[2].text;
    }
    tc::set_tool_path("nasm", m_settings.nasm_path);
    tc::set_tool_path("ld", m_settings.ld_path);
    // Looking a tool up is a few file checks; asking its version runs it and
    // belongs to the probe's thread.
    for (int i = 0; i < 3; ++i)
        m_tool_found[i] = tc::find_tool(kToolNames[i]);
    for (int i = 0; i < 2; ++i)
        m_tool_auto[i] = tc::find_tool_auto(kToolNames[i]);
    settings_take_answers();
    // Only another tool makes the last build stale, not a look at the dialog.
    if (paths_changed && !is_placeholder(m_s))
        m_s->have_build = false;
    if (changed)
        queue_save();
    m_dirty = true;
}

void App::settings_take_answers()
{
    for (int i = 0; i < 3; ++i) {
        std::optional<std::string> v;
        if (!m_tool_found[i].empty())
            v = toolprobe::version(m_tool_found[i]);
        else
            v = std::string();
        m_tool_waiting[i] = !v;
        m_tool_ver[i] = v ? *v : std::string();
    }
    std::optional<bool> crt = m_tool_found[2].empty() ? std::optional<bool>(false) : toolprobe::crt32(m_tool_found[2]);
    m_crt32_waiting = !crt;
    m_crt32 = crt.value_or(false);
}

std::string App::tools_install_command() const
{
    std::vector<std::string> packages;
    if (m_tool_found[0].empty())
        packages.push_back("nasm");
    if (m_tool_found[1].empty())
        packages.push_back("binutils");
    if (m_tool_found[2].empty())
        packages.push_back("gcc");
    // While the runtime is still being looked for, nothing is claimed missing.
    if (!m_crt32 && !m_crt32_waiting)
        for (const std::string& p : tc::packages_for("crt32"))
            packages.push_back(p);
    return packages.empty() ? std::string() : tc::install_command(packages);
}

bool App::settings_key(const SDL_Keysym& k)
{
    if (k.sym == SDLK_TAB) {
        m_set_focus = (k.mod & KMOD_SHIFT) ? (m_set_focus + 2) % 3 : (m_set_focus + 1) % 3;
        apply_tool_paths();
        return true;
    }
    if (k.sym == SDLK_RETURN || k.sym == SDLK_KP_ENTER) {
        apply_tool_paths();
        m_set_focus = -1;
        return true;
    }
    if (m_set_focus < 0 || m_set_focus > 2)
        return false;
    return m_set_field[m_set_focus].key(k, false);
}

bool App::settings_text(const char* utf8)
{
    if (m_set_focus < 0 || m_set_focus > 2)
        return false;
    m_set_field[m_set_focus].input(utf8);
    return true;
}

bool App::settings_click(const Hit& h, double x)
{
    const std::string& id = h.id;
    if (id == "set_field") {
        int n = std::clamp(h.n, 0, 2);
        if (n != m_set_focus)
            apply_tool_paths();
        m_set_focus = n;
        m_set_field[n].click(x, "");
    } else if (id == "set_browse") {
        apply_tool_paths();
        if (file_busy())
            return true;
        FileOp op = h.n != 0 ? FileOp::PickLd : FileOp::PickNasm;
        bool ok = false;
        with_parent_window([&] {
            ok = platform::startOpenDialog(L10n::tr("settings.choose_tool"),
                                           { { L10n::tr("file.filter_all"), { "*" } } }, "/usr/bin", false);
        });
        start_file_dialog(op, ok);
    } else if (id == "set_auto") {
        m_set_field[std::clamp(h.n, 0, 1)].set("");
        apply_tool_paths();
    } else if (id == "set_copy") {
        settings_take_answers();
        std::string command = tools_install_command();
        SDL_SetClipboardText(command.c_str());
        status_tr(false, "settings.copied");
    } else if (id == "set_lang") {
        apply_tool_paths();
        // The language dialog takes the Settings dialog's place at once and
        // gives it back when it is left.
        m_modal = Modal::None;
        cmd_language();
        m_lang_back = true;
    } else {
        return false;
    }
    m_dirty = true;
    return true;
}

void App::settings_wheel(double dy)
{
    m_set_scroll = std::clamp(m_set_scroll - 40 * dy, 0.0, std::max(0.0, m_set_content_h - m_set_view_h));
}

void App::settings_picked(int field, const std::string& path)
{
    if (m_modal != Modal::Settings)
        cmd_settings();
    if (m_modal != Modal::Settings)
        return;
    m_set_field[std::clamp(field, 0, 1)].set(path);
    apply_tool_paths();
}
