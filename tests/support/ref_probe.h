#pragma once
// The tests' and benchmarks' view of the Reference dialog inside the
// application object. App names this struct its friend.
#include "app.h"

struct RefProbe {
    static void open(App& a, const std::string& word, const std::string& topic) { a.cmd_reference(word, topic); }
    static const std::vector<App::RefRow>& rows(App& a) { return a.m_ref_rows; }
    static int sel(App& a) { return a.m_ref_sel; }
    static int cat(App& a) { return a.m_ref_cat; }
    static int bits(App& a) { return a.m_ref_bits; }
    static void bits_set(App& a, int b) { a.m_ref_bits = b; }
    static int& top(App& a) { return a.m_ref_top; }
    static double& scroll(App& a) { return a.m_ref_scroll; }
    static double content(App& a) { return a.m_ref_content; }
    static double view_h(App& a) { return a.m_ref_view_h; }
    static ref::Entry cur(App& a) { return a.m_ref_cur; }
    static void show(App& a, const ref::Entry& e) { a.ref_show(e); }
    static const std::string& query(App& a) { return a.m_ref_q.text; }
    static void click(App& a, double x, double y) { a.mouse_down(x, y, SDL_BUTTON_LEFT, 1); }
    static std::string tip(App& a) { return a.m_tip; }
    static std::string hover(App& a) { return a.m_hover; }
    static std::string editor_tip(App& a, const std::string& word, double x, double y)
    {
        return a.editor_tip(word, x, y);
    }
    static Doc* source(App& a) { return a.m_s; }
    static App::Focus focus(App& a) { return a.m_focus; }
};
