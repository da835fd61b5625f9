// The modal frame over the dimmed window, the bodies of the generic
// dialogs, the crash report and About, and the welcome page.
#include "app.h"

#include "l10n.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

const char* kMakerDomain = "ferndock.dev";
const char* kMakerLine = "Made by Ferndock: small tools for people who read machine code.";
const char* kProductPage = "https://ferndock.dev/assembler-ide";
const char* kSupportMail = "support@ferndock.dev";

// The build text, with the Snap revision when it looks like one.
std::string build_text()
{
    std::string out = "1069";
    const char* rev = getenv("SNAP_REVISION");
    if (rev) {
        size_t n = strlen(rev);
        if (n >= 1 && n <= 11 && strspn(rev, "0123456789x") == n)
            out += std::string(", Snap Rev. ") + rev;
    }
    return out;
}

// The height a text takes wrapped to a width, as wrapped_text draws it.
double wrapped_height(cairo_t* cr, const std::string& text, double w, const gfx::Font& f)
{
    PangoLayout* l = gfx::make_layout(cr, text, f);
    pango_layout_set_width(l, int(w * PANGO_SCALE));
    pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
    int pw = 0, ph = 0;
    pango_layout_get_pixel_size(l, &pw, &ph);
    g_object_unref(l);
    return ph;
}

} // namespace

std::string App::about_address(bool mail)
{
    return mail ? std::string("mailto:") + kSupportMail : std::string(kProductPage);
}

void App::paint_modal(cairo_t* cr, double W, double H)
{
    if (m_modal == Modal::None)
        return;
    m_hits.clear();
    cairo_set_source_rgba(cr, 0, 0, 0, m_pal.dark ? 0.55 : 0.35);
    cairo_rectangle(cr, 0, 0, W, H);
    cairo_fill(cr);
    hit(0, 0, W, H, "modal_bg", 0, "");

    gfx::Font title{ 16, true, false };
    gfx::Font body{ 13, false, false };
    double w = 520, h = 200;
    switch (m_modal) {
    case Modal::Message:
    case Modal::Confirm: h = wrapped_height(cr, m_dlg_text, 520 - 48, body) + 140; break;
    case Modal::Prompt: break;
    case Modal::Language: w = std::min(720.0, W - 60), h = std::min(620.0, H - 60); break;
    case Modal::About:
    case Modal::License: w = std::min(820.0, W - 40), h = std::min(760.0, H - 30); break;
    case Modal::Reference: w = std::min(1240.0, W - 32), h = std::min(900.0, H - 24); break;
    case Modal::Crash: w = std::min(720.0, W - 60), h = std::min(520.0, H - 60); break;
    case Modal::Settings: w = std::min(760.0, W - 40), h = std::min(800.0, H - 40); break;
    case Modal::Convert: w = std::min(640.0, W - 40), h = std::min(560.0, H - 30); break;
    case Modal::Link: w = std::min(700.0, W - 40), h = std::min(780.0, H - 40); break;
    case Modal::None: return;
    }
    double x = std::round((W - w) / 2), y = std::round((H - h) / 2);
    paint_raised_box(cr, x, y, w, h, 12, 3, 6, 0.3);
    hit(x, y, w, h, "dlg_box", 0, "");

    switch (m_modal) {
    case Modal::Message:
    case Modal::Confirm: {
        gfx::text(cr, m_dlg_title, x + 24, y + 20, m_pal.text, title, gfx::Align::Left, w - 48);
        wrapped_text(cr, m_dlg_text, x + 24, y + 56, w - 48, m_pal.text, body);
        // Right to left from the last button, so they keep their order.
        double right = x + w - 24;
        for (size_t i = m_dlg_buttons.size(); i-- > 0;) {
            const DlgButton& b = m_dlg_buttons[i];
            double bw = std::max(96.0, gfx::text_width(cr, b.label, body) + 32);
            right -= bw;
            button(cr, right, y + h - 52, bw, 32, b.label, "dlg_button", true, b.primary, nullptr, "", int(i));
            right -= 8;
        }
        break;
    }
    case Modal::Prompt:
        gfx::text(cr, m_dlg_title, x + 24, y + 20, m_pal.text, title, gfx::Align::Left, w - 48);
        gfx::text(cr, m_dlg_label, x + 24, y + 58, m_pal.dim, body, gfx::Align::Left, w - 48);
        gfx::rounded(cr, x + 24, y + 84, w - 48, 32, 6);
        gfx::set(cr, m_pal.bg);
        cairo_fill_preserve(cr);
        gfx::set(cr, m_pal.accent);
        cairo_stroke(cr);
        m_dlg_field.paint(cr, x + 34, y + 84, w - 68, 32, m_pal, 14, true, m_caret_on, "", nullptr);
        hit(x + 24, y + 84, w - 48, 32, "dlg_field", 0, "");
        button(cr, x + w - 124, y + h - 52, 100, 32, L10n::tr("btn.ok"), "dlg_ok", true, true, nullptr, "");
        button(cr, x + w - 232, y + h - 52, 100, 32, L10n::tr("btn.cancel"), "dlg_cancel", true, false, nullptr, "");
        break;
    case Modal::Crash: {
        gfx::text(cr, L10n::tr("crash.title"), x + 24, y + 20, m_pal.text, title, gfx::Align::Left, w - 48);
        double th = wrapped_text(cr, L10n::tr("crash.text"), x + 24, y + 56, w - 48, m_pal.text, body);
        double ry = y + 56 + th + 12, rh = std::max(0.0, y + h - 70 - ry);
        gfx::fill_rect(cr, x + 24, ry, w - 48, rh, m_pal.bg);
        cairo_save(cr);
        cairo_rectangle(cr, x + 24, ry, w - 48, rh);
        cairo_clip(cr);
        wrapped_text(cr, m_crash_text, x + 32, ry + 6, w - 64, m_pal.dim, gfx::Font{ 11, false, true });
        cairo_restore(cr);
        button(cr, x + w - 164, y + h - 52, 140, 32, L10n::tr("crash.send"), "crash_send", true, true, nullptr, "");
        button(cr, x + w - 312, y + h - 52, 140, 32, L10n::tr("crash.discard"), "crash_discard", true, false, nullptr,
               "");
        break;
    }
    case Modal::About:
        paint_about(cr, x, y, w, h);
        break;
    case Modal::Reference:
        paint_reference(cr, x, y, w, h);
        break;
    case Modal::Settings:
        paint_settings(cr, x, y, w, h);
        break;
    case Modal::Language:
        paint_language(cr, x, y, w, h);
        break;
    case Modal::License:
        paint_license(cr, x, y, w, h);
        break;
    case Modal::Convert:
        paint_converter(cr, x, y, w, h);
        break;
    case Modal::Link:
        paint_link(cr, x, y, w, h);
        break;
    default:
        // The other dialogs paint their own bodies into the box.
        break;
    }
}

void App::paint_about(cairo_t* cr, double x, double y, double w, double h)
{
    gfx::app_logo(cr, x + 60, y + 64, 34);
    gfx::text(cr, "qxFerndockAssemblerIDE", x + 112, y + 34, m_pal.text, gfx::Font{ 20, true, false });
    gfx::text(cr, L10n::tr("about.version", "1.0.2", build_text()), x + 112, y + 70, m_pal.dim,
              gfx::Font{ 13, false, false }, gfx::Align::Left, w - 136);

    double top = y + 116, bottom = y + h - 64, view = bottom - top;
    m_about_view_h = view;
    m_about_scroll = std::clamp(m_about_scroll, 0.0, std::max(0.0, m_about_content_h - view));
    size_t first_hit = m_hits.size();
    cairo_save(cr);
    cairo_rectangle(cr, x, top, w, std::max(0.0, view));
    cairo_clip(cr);
    double cy = y + 124 - m_about_scroll, lx = x + 28, cw = w - 56;
    gfx::Font f12{ 12, false, false }, f13{ 13, false, false }, bold12{ 12, true, false };
    cy += wrapped_text(cr, L10n::tr("about.comment"), lx, cy, cw, m_pal.text, f13) + 14;

    std::string formats = L10n::tr("about.formats");
    double ph = wrapped_height(cr, formats, cw - 28, f12);
    gfx::rounded(cr, lx, cy, cw, ph + 36, 8);
    gfx::set(cr, m_pal.panel2);
    cairo_fill(cr);
    wrapped_text(cr, formats, lx + 14, cy + 9, cw - 28, m_pal.text, f12);
    double dw = gfx::text(cr, kMakerDomain, lx + 14, cy + 13 + ph, m_pal.accent, gfx::Font{ 12.5, true, false });
    hit(lx + 14, cy + 11 + ph, dw, 20, "url", 0, "");
    cy += ph + 36 + 14;

    gfx::text(cr, kMakerLine, lx, cy, m_pal.dim, f13, gfx::Align::Left, cw);
    cy += 24;
    double uw = gfx::text(cr, kProductPage, lx, cy, m_pal.accent, f13);
    hit(lx, cy, uw, 20, "url", 1, "");
    cy += 22;
    double mw = gfx::text(cr, kSupportMail, lx, cy, m_pal.accent, f13);
    hit(lx, cy, mw, 20, "mail", 0, "");
    cy += 30;
    cy += paint_components(cr, lx, cy, cw) + 16;
    if (getenv("SNAP")) {
        cy += wrapped_text(cr, L10n::tr("about.snap_bundled"), lx, cy, cw, m_pal.text, f12) + 4;
        double sw = gfx::text(cr, L10n::tr("about.snap_sources"), lx, cy, m_pal.accent, gfx::Font{ 12.5, true, false });
        hit(lx, cy - 2, sw, 20, "snap_sources", 0, "");
        cy += 30;
    }
    gfx::text(cr, L10n::tr("about.disclaimer.title"), lx, cy, m_pal.dim, bold12);
    cy += 20;
    cy += wrapped_text(cr, L10n::tr("about.disclaimer.text"), lx, cy, cw, m_pal.faint, gfx::Font{ 11.5, false, false }) +
          16;
    m_about_content_h = cy + m_about_scroll - (y + 124);
    cairo_restore(cr);

    end_scrolled_body(cr, x, w, top, bottom, first_hit, m_about_scroll, m_about_content_h, view);
    button(cr, x + w - 124, y + h - 52, 100, 32, L10n::tr("btn.close"), "dlg_cancel", true, true, nullptr, "");
}

void App::paint_welcome(cairo_t* cr, double x, double y, double w, double h)
{
    gfx::fill_rect(cr, x, y, w, h, m_pal.panel);
    double cx = x + w / 2, cy = y + h / 2 - 110;
    gfx::app_logo(cr, cx, cy, 30);
    gfx::text(cr, "qxFerndockAssemblerIDE", cx, cy + 44, m_pal.text, gfx::Font{ 18, true, false }, gfx::Align::Center);
    struct Row {
        const char* id;
        gfx::Icon icon;
        const char* key;
        bool primary;
    };
    static const Row rows[] = {
        { "tb_new", gfx::Icon::New, "menu.new", true },
        { "tb_open", gfx::Icon::Open, "tb.open", false },
        { "tb_bin", gfx::Icon::Binary, "tb.binary", false },
        { "welcome_example", gfx::Icon::Run, "menu.example", false },
        { "welcome_intro", gfx::Icon::Search, "ref.first_steps", false },
    };
    double by = cy + 86;
    for (const Row& r : rows) {
        button(cr, cx - 100, by, 200, 34, L10n::tr(r.key), r.id, true, r.primary, &r.icon, "");
        by += 42;
    }
}

// Escape in the Language and License dialogs: each first clears its own
// field or goes back a page.
void App::dialog_escape()
{
    switch (m_modal) {
    case Modal::Language: lang_escape(); break;
    case Modal::License:
        // The licence viewer always returns to the About dialog.
        m_modal = Modal::About;
        m_about_scroll = 0;
        m_dirty = true;
        break;
    default: close_modal(); break;
    }
}

void App::dialog_wheel(double x, double y, double dy)
{
    switch (m_modal) {
    case Modal::Reference: ref_wheel(x, y, dy); break;
    case Modal::Settings: settings_wheel(dy); break;
    case Modal::Language: lang_wheel(dy); break;
    case Modal::About:
        m_about_scroll = std::clamp(m_about_scroll - 40 * dy, 0.0, std::max(0.0, m_about_content_h - m_about_view_h));
        break;
    case Modal::License: license_wheel(dy); break;
    default: break; // the other dialogs do not scroll
    }
}

// A check box of 18 x 18 at (x, y), ticked when on.
void App::paint_check_box(cairo_t* cr, double x, double y, bool on)
{
    gfx::rounded(cr, x, y, 18, 18, 4);
    gfx::set(cr, on ? m_pal.accent : m_pal.bg);
    cairo_fill_preserve(cr);
    gfx::set(cr, on ? m_pal.accent : m_pal.border);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
    if (on) {
        cairo_move_to(cr, x + 4, y + 9);
        cairo_line_to(cr, x + 8, y + 13);
        cairo_line_to(cr, x + 14, y + 5);
        gfx::set(cr, m_pal.accent_text);
        cairo_set_line_width(cr, 2);
        cairo_stroke(cr);
    }
}

// Ends a dialog body that scrolls between top and bottom: hits recorded
// since first_hit that were scrolled out of view cannot be clicked, and a
// thumb shows the position when the content is taller than the view.
void App::end_scrolled_body(cairo_t* cr, double x, double w, double top, double bottom, size_t first_hit,
                            double scroll, double content, double view)
{
    auto outside = [&](const Hit& t) { return t.y + t.h <= top || t.y >= bottom; };
    m_hits.erase(std::remove_if(m_hits.begin() + long(first_hit), m_hits.end(), outside), m_hits.end());
    if (content > view && view > 0) {
        double thumb = std::max(30.0, view * view / content);
        double ty = top + scroll / (content - view) * (view - thumb);
        gfx::rounded(cr, x + w - 10, ty, 4, thumb, 2);
        gfx::set(cr, m_pal.border);
        cairo_fill(cr);
        gfx::hline(cr, x + 1, bottom, w - 2, m_pal.border);
    }
}

// A panel-coloured box with a border, raised over what lies below by a
// shadow offset by (dx, dy) in black of the given alpha: menus, the
// completion list and dialogs.
void App::paint_raised_box(cairo_t* cr, double x, double y, double w, double h, double radius, double dx,
                           double dy, double shadow_alpha)
{
    gfx::rounded(cr, x + dx, y + dy, w, h, radius);
    gfx::set(cr, Rgba{ 0, 0, 0, shadow_alpha });
    cairo_fill(cr);
    gfx::rounded(cr, x, y, w, h, radius);
    gfx::set(cr, m_pal.panel);
    cairo_fill_preserve(cr);
    gfx::set(cr, m_pal.border);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}
