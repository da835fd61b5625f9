// Painting the Settings dialog: the tool rows with what was found, the
// install advice, the build defaults and the appearance rows, in a band
// that scrolls when the window is small.
#include "app.h"

#include "l10n.h"

#include <algorithm>
#include <cstdio>

namespace {

const gfx::Font kTitle{ 16, true, false };
const gfx::Font kSection{ 13, true, false };
const gfx::Font kLabel{ 13, false, false };
const gfx::Font kSmall{ 12, false, false };

const char* const kFormatKeys[4] = { "auto", "elf64", "elf32", "bin" };
const char* const kThemeKeys[3] = { "auto", "light", "dark" };

void dot(cairo_t* cr, double x, double y, const Rgba& c)
{
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, 4.5, 0, 6.283185307179586);
    gfx::set(cr, c);
    cairo_fill(cr);
}

// A label with its note after it, as the tool rows show them.
void label_and_note(cairo_t* cr, const Palette& pal, const std::string& label, const std::string& note, double cx,
                    double ry, double cw)
{
    double tw = gfx::text(cr, label, cx, ry, pal.text, kLabel);
    gfx::text(cr, "–  " + note, cx + tw + 10, ry + 1, pal.faint, kSmall, gfx::Align::Left, cw - tw - 10);
}

} // namespace

void App::paint_path_field(cairo_t* cr, int i, double fx, double fy, double fw)
{
    bool focused = m_set_focus == i;
    gfx::rounded(cr, fx, fy, fw, 30, 6);
    gfx::set(cr, m_pal.bg);
    cairo_fill_preserve(cr);
    gfx::set(cr, focused ? m_pal.accent : m_pal.border);
    cairo_set_line_width(cr, focused ? 1.5 : 1);
    cairo_stroke(cr);
    if (!focused && m_set_field[i].text.empty() && i < 2) {
        // Found when the tool paths were last applied, not on every frame.
        const std::string& found = m_tool_auto[i];
        std::string hint = found.empty() ? L10n::tr("settings.path_hint")
                                         : found + "   (" + L10n::tr("settings.auto") + ")";
        gfx::text(cr, hint, fx + 10, fy + 7, m_pal.faint, gfx::Font{ 12.5, false, true }, gfx::Align::Left, fw - 20);
    }
    m_set_field[i].paint(cr, fx + 8, fy, fw - 16, 30, m_pal, 12.5, focused, m_caret_on, "", nullptr);
    hit(fx, fy, fw, 30, "set_field", i, "");
}

// One of the two tool rows with a path field; returns the next row's y.
double App::paint_tool_row(cairo_t* cr, int i, double cx, double ry, double cw)
{
    label_and_note(cr, m_pal, L10n::tr(i == 0 ? "settings.nasm" : "settings.ld"),
                   L10n::tr(i == 0 ? "settings.need_nasm" : "settings.need_ld"), cx, ry, cw);
    std::string browse = L10n::tr("settings.browse"), automatic = L10n::tr("settings.auto");
    double bw = gfx::text_width(cr, browse, kSmall) + 22, aw = gfx::text_width(cr, automatic, kSmall) + 22;
    double fy = ry + 22;
    paint_path_field(cr, i, cx, fy, cw - bw - aw - 12);
    button(cr, cx + cw - bw - aw - 4, fy, bw, 30, browse, "set_browse", true, false, nullptr, "", i);
    button(cr, cx + cw - aw, fy, aw, 30, automatic, "set_auto", true, false, nullptr, "", i);

    double sy = fy + 36;
    bool found = !m_tool_found[i].empty();
    dot(cr, cx + 6, sy + 8, found ? m_pal.ok : m_pal.err);
    std::string line;
    const std::string& configured = i == 0 ? m_settings.nasm_path : m_settings.ld_path;
    if (found) {
        line = L10n::tr("settings.found", m_tool_found[i]);
        if (m_tool_waiting[i])
            line += "  ·  …";
        else if (!m_tool_ver[i].empty())
            line += "  ·  " + L10n::isolate(m_tool_ver[i]);
    } else {
        line = configured.empty() ? L10n::tr("settings.missing") : L10n::tr("settings.not_exec", configured);
    }
    gfx::text(cr, line, cx + 18, sy, found ? m_pal.dim : m_pal.err, kSmall, gfx::Align::Left, cw - 18);
    return sy + 26;
}

void App::paint_settings(cairo_t* cr, double x, double y, double w, double h)
{
    settings_take_answers();
    double cx = x + 28, cw = w - 56;
    gfx::text(cr, L10n::tr("settings.title"), x + 24, y + 20, m_pal.text, kTitle, gfx::Align::Left, w - 48);

    double top = y + 50, bottom = y + h - 64;
    m_set_view_h = std::max(0.0, bottom - top);
    m_set_scroll = std::clamp(m_set_scroll, 0.0, std::max(0.0, m_set_content_h - m_set_view_h));
    cairo_save(cr);
    cairo_rectangle(cr, x, top, w, m_set_view_h);
    cairo_clip(cr);
    size_t first_hit = m_hits.size();
    double s = m_set_scroll;

    gfx::text(cr, L10n::tr("settings.tools"), cx, y + 58 - s, m_pal.text, kSection);
    double ry = y + 58 + 24 - s;
    ry += wrapped_text(cr, L10n::tr("settings.tools_hint"), cx, ry, cw, m_pal.dim, kSmall) + 14;
    for (int i = 0; i < 2; ++i)
        ry = paint_tool_row(cr, i, cx, ry, cw);

    // The C compiler and the 32-bit runtime: status only, a lack is a warning.
    label_and_note(cr, m_pal, L10n::tr("settings.cc"), L10n::tr("settings.need_cc"), cx, ry, cw);
    bool cc = !m_tool_found[2].empty();
    dot(cr, cx + 6, ry + 24 + 8, cc ? m_pal.ok : m_pal.warn);
    std::string cc_line = L10n::tr("settings.missing");
    if (cc) {
        cc_line = L10n::tr("settings.found", m_tool_found[2]);
        if (m_tool_waiting[2])
            cc_line += "  ·  …";
        else if (!m_tool_ver[2].empty())
            cc_line += "  ·  " + L10n::isolate(m_tool_ver[2]);
    }
    gfx::text(cr, cc_line, cx + 18, ry + 24, cc ? m_pal.dim : m_pal.warn, kSmall, gfx::Align::Left, cw - 18);
    ry += 24 + 26;

    label_and_note(cr, m_pal, L10n::tr("settings.crt32"), L10n::tr("settings.need_crt32"), cx, ry, cw);
    dot(cr, cx + 6, ry + 24 + 8, m_crt32 ? m_pal.ok : m_crt32_waiting ? m_pal.faint : m_pal.warn);
    std::string crt_line = m_crt32           ? L10n::tr("settings.present")
                           : m_crt32_waiting ? std::string("…")
                                             : L10n::tr("settings.missing");
    gfx::text(cr, crt_line, cx + 18, ry + 24, m_crt32 || m_crt32_waiting ? m_pal.dim : m_pal.warn, kSmall,
              gfx::Align::Left, cw - 18);
    ry += 24 + 26;

    std::string command = tools_install_command();
    if (!command.empty()) {
        gfx::text(cr, L10n::tr("settings.install_on", tc::os_name()), cx, ry, m_pal.text, kLabel, gfx::Align::Left,
                  cw);
        ry += 24;
        gfx::Font mono_bold{ 13, true, true };
        double pw = std::min(gfx::text_width(cr, command, mono_bold) + 20, cw - 120);
        gfx::rounded(cr, cx, ry, pw, 30, 6);
        gfx::set(cr, m_pal.panel2);
        cairo_fill(cr);
        gfx::text(cr, command, cx + 10, ry + 6, m_pal.text, mono_bold, gfx::Align::Left, pw - 20);
        std::string copy_label = L10n::tr("settings.copy");
        button(cr, cx + pw + 8, ry, gfx::text_width(cr, copy_label, kLabel) + 22, 30, copy_label, "set_copy", true,
               true, nullptr, "");
        ry += 40;
    }

    gfx::hline(cr, cx, ry + 8, cw, m_pal.border);
    gfx::text(cr, L10n::tr("settings.build"), cx, ry + 22, m_pal.text, kSection);
    ry += 48;
    gfx::text(cr, L10n::tr("settings.format"), cx, ry + 3, m_pal.dim, kSmall, gfx::Align::Left, 160);
    const std::string format_labels[4] = { L10n::tr("settings.auto"), "ELF64", "ELF32", "BIN / .COM" };
    double chip_x = cx + 170;
    for (int i = 0; i < 4; ++i)
        chip_x += chip(cr, chip_x, ry, format_labels[i], m_settings.format == kFormatKeys[i], "set_fmt", i, false, "") +
                  6;

    double row = ry + 34;
    gfx::text(cr, L10n::tr("settings.args"), cx, row + 7, m_pal.dim, kSmall, gfx::Align::Left, 160);
    paint_path_field(cr, 2, cx + 170, row, cw - 170);

    double cb = row + 40;
    bool on = m_settings.auto_debug;
    paint_check_box(cr, cx + 170, cb + 2, on);
    double lw = gfx::text(cr, L10n::tr("settings.auto_debug"), cx + 196, cb + 2, m_pal.text, kLabel,
                          gfx::Align::Left, cw - 200);
    hit(cx + 166, cb - 2, lw + 40, 26, "set_autodebug", 0, "");

    gfx::hline(cr, cx, cb + 34, cw, m_pal.border);
    gfx::text(cr, L10n::tr("settings.view"), cx, cb + 48, m_pal.text, kSection);
    double t = cb + 74;
    gfx::text(cr, L10n::tr("settings.theme"), cx, t + 3, m_pal.dim, kSmall, gfx::Align::Left, 160);
    chip_x = cx + 170;
    for (int i = 0; i < 3; ++i)
        chip_x += chip(cr, chip_x, t, L10n::tr(std::string("settings.theme_") + kThemeKeys[i]),
                       m_settings.theme == kThemeKeys[i], "set_theme", i, false, "") +
                  6;

    double f = t + 34;
    gfx::text(cr, L10n::tr("settings.font"), cx, f + 3, m_pal.dim, kSmall, gfx::Align::Left, 160);
    button(cr, cx + 170, f - 3, 30, 28, "-", "set_font", true, false, nullptr, "", -1);
    char size[32];
    snprintf(size, sizeof size, "%.0f", m_settings.font);
    gfx::text(cr, size, cx + 220, f + 3, m_pal.text, kLabel, gfx::Align::Center);
    button(cr, cx + 240, f - 3, 30, 28, "+", "set_font", true, false, nullptr, "", 1);

    double g = f + 34;
    gfx::text(cr, L10n::tr("settings.language"), cx, g + 3, m_pal.dim, kSmall, gfx::Align::Left, 160);
    std::string name = L10n::tr("lang.auto");
    for (const L10n::LanguageInfo& li : L10n::available())
        if (li.code == m_settings.language)
            name = li.native_name;
    name += "  ›";
    button(cr, cx + 170, g - 3, gfx::text_width(cr, name, kLabel) + 40, 28, name, "set_lang", true, false, nullptr, "");

    m_set_content_h = (g + 40 + s) - (y + 58);
    cairo_restore(cr);
    // Controls scrolled out of the band cannot be clicked.
    end_scrolled_body(cr, x, w, top, bottom, first_hit, m_set_scroll, m_set_content_h, m_set_view_h);
    button(cr, x + w - 124, y + h - 52, 100, 32, L10n::tr("btn.close"), "set_close", true, true, nullptr, "");
}
