#pragma once
// The tests' view of the About dialog, the licence viewer, the number
// converter and the link options dialog.
#include "app.h"

struct AboutProbe {
    static void cmd_about(App& a) { a.cmd_about(); }
    static const std::vector<std::string>& versions(App& a) { return a.m_comp_ver; }
    static int lic_comp(App& a) { return a.m_lic_comp; }
    static int& lic_scroll(App& a) { return a.m_lic_scroll; }
    static const std::string& lic_text(App& a) { return a.m_lic_text; }
    static const std::string& opened(App& a) { return a.m_link_opened; }
    static void cmd_converter(App& a) { a.cmd_converter(); }
    static TextField& conv(App& a) { return a.m_conv; }
    static void cmd_link(App& a) { a.cmd_link(); }
    static TextField& link_field(App& a, int i) { return a.m_link_field[i]; }
    static bool link_crt(App& a) { return a.m_link_crt; }
    static int link_focus(App& a) { return a.m_link_focus; }
    static const std::string& link_error(App& a) { return a.m_link_error; }
    static const std::string& link_preview(App& a) { return a.m_link_preview; }
    static int link_format_runs(App& a) { return a.m_link_fmt_runs; }
    static tc::LinkOpts& link_opts(App& a, Doc* d) { return a.link_opts(d); }
    static std::string snap_sources_path() { return App::snap_sources_path(); }
};
