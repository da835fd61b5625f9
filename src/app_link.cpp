// The link options dialog: libraries, library folders, further linker
// options, include folders, further sources and the C runtime of the
// active source, with the linker call they make shown live.
#include "app.h"

#include "l10n.h"
#include "textutil.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cctype>

namespace {

// The painted order of the fields (index 0 libs, 1 dirs, 2 extra, 3 incs,
// 4 srcs), their labels and the hints shown while they are empty.
constexpr int kPainted[5] = { 4, 3, 0, 1, 2 };
const char* const kLabel[5] = { "link.libs", "link.dirs", "link.extra", "link.incs", "link.srcs" };
const char* const kHint[5] = { "link.libs_hint", "link.dirs_hint", "", "link.incs_hint", "link.srcs_hint" };

using textutil::trim;

// The settings file keeps each record's fields apart with these bytes, and
// a value is one line: such a value could not come back as typed.
bool storable(const std::string& s)
{
    return s.find_first_of("\x1E\x1F\n\r") == std::string::npos;
}

// The name the dialog calls the source by.
std::string source_name(const Doc* d)
{
    if (!d->path.empty())
        return base_name(d->path);
    return !d->name_hint.empty() ? d->name_hint : L10n::tr("file.untitled");
}

} // namespace

tc::LinkOpts& App::link_opts(Doc* d)
{
    if (d->path.empty())
        return d->link;
    return m_settings.links[d->path];
}

void App::cmd_link()
{
    if (is_placeholder(m_s))
        return;
    const tc::LinkOpts& o = link_opts(m_s);
    const std::string* values[5] = { &o.libs, &o.dirs, &o.extra, &o.incs, &o.srcs };
    for (int i = 0; i < 5; ++i) {
        m_link_field[i].set(*values[i]);
        m_link_field[i].mono = true;
    }
    m_link_crt = o.crt;
    m_link_focus = 0;
    m_link_error.clear();
    m_dirty = true;
    m_modal = Modal::Link;
}

void App::link_apply()
{
    for (int i = 0; i < 5; ++i)
        if (!storable(m_link_field[i].text)) {
            status([label = kLabel[i]] { return L10n::tr("link.bad_value", L10n::tr(label)); }, true);
            m_link_error = m_status;
            m_link_focus = i;
            return;
        }
    tc::LinkOpts o;
    o.libs = trim(m_link_field[0].text);
    o.dirs = trim(m_link_field[1].text);
    o.extra = trim(m_link_field[2].text);
    o.incs = trim(m_link_field[3].text);
    o.srcs = trim(m_link_field[4].text);
    o.crt = m_link_crt;
    Doc* d = m_s;
    if (!d->path.empty()) {
        if (o.empty())
            m_settings.links.erase(d->path);
        else
            m_settings.links[d->path] = o;
    } else {
        d->link = o;
    }
    d->have_build = false;
    queue_save();
    std::string name = source_name(d);
    close_modal();
    status_tr(false, "link.saved", name);
}

bool App::link_key(const SDL_Keysym& k)
{
    if (k.sym == SDLK_TAB) {
        m_link_focus = (k.mod & KMOD_SHIFT) ? (m_link_focus + 4) % 5 : (m_link_focus + 1) % 5;
        return true;
    }
    if (k.sym == SDLK_RETURN || k.sym == SDLK_KP_ENTER) {
        link_apply();
        return true;
    }
    return m_link_field[std::clamp(m_link_focus, 0, 4)].key(k, false);
}

bool App::link_click(const Hit& h, double x)
{
    if (m_modal != Modal::Link)
        return false;
    if (h.id == "link_field") {
        m_link_focus = std::clamp(h.n, 0, 4);
        m_link_field[m_link_focus].click(x, "");
    } else if (h.id == "link_crt") {
        m_link_crt = !m_link_crt;
    } else if (h.id == "link_ok") {
        link_apply();
    } else {
        return false;
    }
    m_dirty = true;
    return true;
}

tc::Format App::link_format()
{
    tc::Format fmt = tc::format_from_key(m_settings.format);
    if (fmt != tc::Format::Auto)
        return fmt;
    // Detection reads the whole source: once per text generation.
    int gen = m_s->ed.generation();
    if (m_link_fmt_doc != m_s || m_link_fmt_gen != gen) {
        m_link_fmt_doc = m_s;
        m_link_fmt_gen = gen;
        m_link_fmt = tc::detect_format(m_s->ed.text());
        ++m_link_fmt_runs;
    }
    return m_link_fmt;
}

const std::string& App::link_preview(const std::string& name, tc::Format fmt)
{
    tc::LinkOpts o;
    o.libs = m_link_field[0].text;
    o.dirs = m_link_field[1].text;
    o.extra = m_link_field[2].text;
    o.incs = m_link_field[3].text;
    o.srcs = m_link_field[4].text;
    o.crt = m_link_crt;
    // The call looks for the libraries on disk: made again only when
    // something it depends on changed.
    std::string key;
    const std::string* parts[] = { &o.libs, &o.dirs, &o.extra, &o.incs, &o.srcs, &name };
    for (const std::string* part : parts)
        key += std::to_string(part->size()) + ":" + *part;
    key += o.crt ? "c" : "-";
    key += fmt == tc::Format::Elf32 ? "32" : "64";
    if (key == m_link_preview_key)
        return m_link_preview;
    size_t dot = name.rfind('.');
    std::string out = dot != std::string::npos && dot != 0 ? name.substr(0, dot) : name;
    std::vector<std::string> argv = tc::link_command(o.crt ? "cc" : "ld", fmt, o, out + ".o", out);
    m_link_preview.clear();
    for (const std::string& a : argv)
        m_link_preview += (m_link_preview.empty() ? "" : " ") + a;
    m_link_preview_key = std::move(key);
    return m_link_preview;
}

void App::paint_link(cairo_t* cr, double x, double y, double w, double h)
{
    gfx::Font title{ 16, true, false }, label{ 13, false, false }, small{ 12, false, false };
    const std::string name = source_name(m_s);
    gfx::text(cr, L10n::tr("link.title", name), x + 24, y + 20, m_pal.text, title, gfx::Align::Left, w - 48);
    double ry = y + 56 + wrapped_text(cr, L10n::tr("link.hint"), x + 28, y + 56, w - 56, m_pal.dim, small);
    const tc::Format fmt = link_format();
    if (fmt == tc::Format::Bin)
        ry += 6 + wrapped_text(cr, L10n::tr("link.flat"), x + 28, ry + 6, w - 56, m_pal.warn, small);
    ry += 16;

    for (int i : kPainted) {
        const bool focus = m_link_focus == i;
        gfx::text(cr, L10n::tr(kLabel[i]), x + 28, ry, m_pal.text, label);
        gfx::rounded(cr, x + 28, ry + 22, w - 56, 30, 6);
        gfx::set(cr, m_pal.bg);
        cairo_fill_preserve(cr);
        gfx::set(cr, focus ? m_pal.accent : m_pal.border);
        cairo_set_line_width(cr, focus ? 1.5 : 1);
        cairo_stroke(cr);
        if (m_link_field[i].text.empty() && !focus && *kHint[i])
            gfx::text(cr, L10n::tr(kHint[i]), x + 38, ry + 29, m_pal.faint, gfx::Font{ 12.5, false, false },
                      gfx::Align::Left, w - 76);
        m_link_field[i].paint(cr, x + 36, ry + 22, w - 72, 30, m_pal, 12.5, focus, m_caret_on, "", nullptr);
        hit(x + 28, ry + 22, w - 56, 30, "link_field", i, "");
        ry += 64;
    }

    paint_check_box(cr, x + 28, ry + 2, m_link_crt);
    double tw = gfx::text(cr, L10n::tr("link.crt"), x + 56, ry + 2, m_pal.text, label, gfx::Align::Left, w - 86);
    hit(x + 24, ry - 2, tw + 36, 26, "link_crt", 0, "");

    gfx::text(cr, L10n::tr("link.command"), x + 28, ry + 38, m_pal.dim, small);
    const std::string& call = link_preview(name, fmt == tc::Format::Elf32 ? tc::Format::Elf32 : tc::Format::Elf64);
    gfx::Font mono{ 12, false, true };
    PangoLayout* l = gfx::make_layout(cr, call, mono);
    pango_layout_set_width(l, int((w - 76) * PANGO_SCALE));
    pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
    int pw = 0, ph = 0;
    pango_layout_get_pixel_size(l, &pw, &ph);
    gfx::rounded(cr, x + 28, ry + 58, w - 56, ph + 16, 6);
    gfx::set(cr, m_pal.panel2);
    cairo_fill(cr);
    gfx::set(cr, m_pal.text);
    cairo_move_to(cr, x + 38, ry + 66);
    pango_cairo_show_layout(cr, l);
    g_object_unref(l);

    if (!m_link_error.empty())
        wrapped_text(cr, m_link_error, x + 28, y + h - 52, w - 288, m_pal.err, small);
    button(cr, x + w - 124, y + h - 52, 100, 32, L10n::tr("btn.ok"), "link_ok", true, true, nullptr, "");
    button(cr, x + w - 232, y + h - 52, 100, 32, L10n::tr("btn.cancel"), "dlg_cancel", true, false, nullptr, "");
}
