#pragma once
// The tests' view of the Settings and Language dialogs, the sandbox hints
// and the link opener inside the application object.
#include "app.h"
#include "l10n.h"

struct SetProbe {
    static void cmd_settings(App& a) { a.cmd_settings(); }
    static void cmd_language(App& a) { a.cmd_language(); }
    static TextField& field(App& a, int i) { return a.m_set_field[i]; }
    static int focus(App& a) { return a.m_set_focus; }
    static const std::string& found(App& a, int i) { return a.m_tool_found[i]; }
    static const std::string& version(App& a, int i) { return a.m_tool_ver[i]; }
    static bool waiting(App& a, int i) { return a.m_tool_waiting[i]; }
    static const std::string& auto_path(App& a, int i) { return a.m_tool_auto[i]; }
    static std::string install_command(App& a) { return a.tools_install_command(); }
    static double scroll(App& a) { return a.m_set_scroll; }
    static double content_h(App& a) { return a.m_set_content_h; }
    static double view_h(App& a) { return a.m_set_view_h; }

    static std::vector<int> filtered(App& a) { return a.lang_filtered(); }
    static TextField& filter(App& a) { return a.m_lang_filter; }
    static int& sel(App& a) { return a.m_lang_sel; }
    // The language with this code, as the dialog picks it; false when none has it.
    static bool pick_language(App& a, const std::string& code)
    {
        std::vector<L10n::LanguageInfo> langs = L10n::available();
        for (size_t i = 0; i < langs.size(); ++i)
            if (langs[i].code == code) {
                a.pick_language(int(i));
                return true;
            }
        return false;
    }
    static int lang_scroll(App& a) { return a.m_lang_scroll; }
    static int cols(App& a) { return a.m_lang_cols; }
    static bool lang_back(App& a) { return a.m_lang_back; }

    static bool snap_file_hint(App& a, const std::string& path) { return a.snap_file_hint(path); }
    static bool open_url(App& a, const char* url) { return a.open_url(url); }
    static void poll_links(App& a) { a.poll_links(); }
};
