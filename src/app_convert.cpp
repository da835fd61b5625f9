// The number converter dialog: one number in every form, a click on a row
// copies it.
#include "app.h"

#include "l10n.h"
#include "numconv.h"

void App::cmd_converter()
{
    m_modal = Modal::Convert;
    m_conv.mono = true;
    std::string pick;
    if (m_settings.main_tab == 0 && !is_placeholder(m_s) && !m_s->bin && m_s->ed.has_selection())
        pick = m_s->ed.selected_text();
    if (pick.find('\n') != std::string::npos)
        pick.clear();
    if (!pick.empty())
        m_conv.set(pick);
    else if (m_conv.text.empty())
        m_conv.set("0x3C");
    m_conv.anchor = 0;
    m_conv.caret = int(m_conv.text.size());
    m_dirty = true;
}

bool App::conv_key(const SDL_Keysym& k)
{
    bool used = m_conv.key(k, true);
    if (k.sym == SDLK_RETURN || k.sym == SDLK_KP_ENTER)
        m_conv.push_history();
    m_dirty = true;
    return used;
}

bool App::conv_click(const Hit& h)
{
    if (m_modal != Modal::Convert)
        return false;
    if (h.id == "conv_copy")
        copy(h.tip);
    else if (h.id != "conv_field")
        return false;
    m_dirty = true;
    return true;
}

void App::paint_converter(cairo_t* cr, double x, double y, double w, double h)
{
    gfx::text(cr, L10n::tr("conv.title"), x + 24, y + 20, m_pal.text, gfx::Font{ 16, true, false });
    gfx::text(cr, L10n::tr("conv.input"), x + 24, y + 54, m_pal.dim, gfx::Font{ 12, false, false },
              gfx::Align::Left, w - 48);
    gfx::rounded(cr, x + 24, y + 76, w - 48, 36, 7);
    gfx::set(cr, m_pal.bg);
    cairo_fill_preserve(cr);
    gfx::set(cr, m_pal.accent);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
    m_conv.paint(cr, x + 36, y + 76, w - 72, 36, m_pal, 16, true, m_caret_on, "", nullptr);
    hit(x + 24, y + 76, w - 48, 36, "conv_field", 0, "");

    bool valid = false;
    std::vector<numconv::Row> rows = numconv::rows(m_conv.text, &valid);
    double ry = y + 128;
    if (!valid) {
        if (!m_conv.text.empty())
            gfx::text(cr, L10n::tr("conv.invalid"), x + 28, ry, m_pal.err, gfx::Font{ 12.5, false, false });
    } else {
        for (size_t i = 0; i < rows.size(); ++i, ry += 30) {
            const numconv::Row& r = rows[i];
            // Each row its own hover key: equal values in two rows are
            // still two rows under the pointer.
            if (m_hover == "conv_copy#" + std::to_string(i)) {
                gfx::rounded(cr, x + 20, ry - 3, w - 40, 28, 5);
                gfx::set(cr, m_pal.hover);
                cairo_fill(cr);
            }
            gfx::text(cr, r.label, x + 28, ry + 2, m_pal.dim, gfx::Font{ 12.5, false, false }, gfx::Align::Left, 190);
            gfx::text(cr, r.value, x + 228, ry, m_pal.text, gfx::Font{ 14, r.strong, true }, gfx::Align::Left,
                      w - 280);
            hit(x + 20, ry - 3, w - 40, 28, "conv_copy", int(i), r.value);
        }
        gfx::text(cr, L10n::tr("conv.click_copies"), x + 28, ry + 4, m_pal.faint,
                  gfx::Font{ 11.5, false, false }, gfx::Align::Left, w - 56);
    }
    button(cr, x + w - 124, y + h - 52, 100, 32, L10n::tr("btn.close"), "dlg_cancel", true, true, nullptr, "");
}
