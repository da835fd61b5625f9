// The About dialog's table of the components from other projects (versions
// as found at run time, licences, source addresses) and the licence viewer.
#include "app.h"

#include "files.h"
#include "l10n.h"
#include "licenses_data.h"
#include "toolprobe.h"

#include <SDL.h>
#include <Zycore/Zycore.h>
#include <Zydis/Zydis.h>
#include <cairo.h>
#include <glib.h>
#include <pango/pango.h>
#include <sodium.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>

namespace {

const char* const kEnDash = "\xE2\x80\x93";
const char* const kEllipsis = "\xE2\x80\xA6";

std::string dotted(unsigned a, unsigned b, unsigned c)
{
    return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c);
}

// GLib tells its run-time version through variables only, read where the
// loaded library has them (the program loads it on first use, not at start).
std::string glib_version()
{
    auto part = [](const char* name) {
        auto* value = static_cast<const unsigned*>(dlsym(RTLD_DEFAULT, name));
        return value ? *value : 0u;
    };
    if (!dlsym(RTLD_DEFAULT, "glib_major_version"))
        return kEnDash;
    return dotted(part("glib_major_version"), part("glib_minor_version"), part("glib_micro_version"));
}

// The version of a called tool: the last word of its version line, a dash
// when it is missing, an ellipsis while its probe runs (*waiting set).
std::string tool_version(const char* name, bool* waiting)
{
    std::string path = tc::find_tool(name);
    if (path.empty())
        return kEnDash;
    std::optional<std::string> line = toolprobe::version(path);
    if (!line) {
        *waiting = true;
        return kEllipsis;
    }
    if (line->empty())
        return kEnDash;
    size_t blank = line->rfind(' ');
    return blank == std::string::npos ? *line : line->substr(blank + 1);
}

// The text of the first readable file of a '|' list, else empty.
std::string installed_text(const char* files)
{
    if (!files)
        return {};
    std::string list = files;
    for (size_t at = 0; at <= list.size();) {
        size_t bar = list.find('|', at);
        std::string path = list.substr(at, bar == std::string::npos ? std::string::npos : bar - at);
        at = bar == std::string::npos ? list.size() + 1 : bar + 1;
        uint64_t size = 0;
        int fd = files::open_read(path, &size);
        if (fd < 0)
            continue;
        std::string text;
        bool ok = size < (4u << 20) && files::read_all(fd, &text);
        close(fd);
        if (ok && !text.empty())
            return text;
    }
    return {};
}

} // namespace

namespace about {

// The version a row shows, from its version field (see licenses/components.tsv).
std::string component_version(const std::string& field, bool* waiting)
{
    if (field == "@zydis") {
        ZyanU64 v = ZydisGetVersion();
        return dotted(ZYDIS_VERSION_MAJOR(v), ZYDIS_VERSION_MINOR(v), ZYDIS_VERSION_PATCH(v));
    }
    if (field == "@zycore") {
        ZyanU64 v = ZycoreGetVersion();
        return dotted(ZYCORE_VERSION_MAJOR(v), ZYCORE_VERSION_MINOR(v), ZYCORE_VERSION_PATCH(v));
    }
    if (field == "@sodium")
        return sodium_version_string();
    if (field == "@sdl") {
        SDL_version v;
        SDL_GetVersion(&v);
        return dotted(v.major, v.minor, v.patch);
    }
    if (field == "@cairo")
        return cairo_version_string();
    if (field == "@pango")
        return pango_version_string();
    if (field == "@glib")
        return glib_version();
    if (field == "@nasm")
        return tool_version("nasm", waiting);
    if (field == "@ld")
        return tool_version("ld", waiting);
    if (field == "@cc")
        return tool_version("cc", waiting);
    return field;
}

// The full licence text of row k: the installed file when there is one,
// else the copy the build embedded; a second licence follows a rule.
std::string license_text(int k)
{
    const licenses_data::Component& c = licenses_data::COMPONENTS[k];
    std::string text = installed_text(c.files);
    if (text.empty())
        text = c.text;
    if (licenses_data::ALSO[k]) {
        std::string also = installed_text(licenses_data::ALSO_FILES[k]);
        text += "\n\n" + std::string(60, '-') + "\n\n" + (also.empty() ? licenses_data::ALSO[k] : also);
    }
    return text;
}

} // namespace about

std::string App::snap_sources_path()
{
    const char* snap = getenv("SNAP");
    return std::string(snap ? snap : "") + "/usr/share/doc/qxferndockassembleride/SOURCES.txt";
}

void App::cmd_about()
{
    m_modal = Modal::About;
    m_about_scroll = 0;
    read_component_versions();
    m_dirty = true;
}

void App::read_component_versions()
{
    m_comp_ver.clear();
    m_comp_waiting = false;
    m_comp_gen = toolprobe::generation();
    for (const licenses_data::Component& c : licenses_data::COMPONENTS)
        m_comp_ver.push_back(about::component_version(c.version, &m_comp_waiting));
}

void App::show_license(int comp)
{
    m_lic_comp = std::min(comp, licenses_data::COUNT - 1);
    m_lic_scroll = 0;
    m_modal = Modal::License;
    if (m_lic_comp >= 0) {
        m_lic_text = about::license_text(m_lic_comp);
    } else {
        std::string path = snap_sources_path();
        uint64_t size = 0;
        int fd = files::open_read(path, &size);
        m_lic_text.clear();
        bool ok = fd >= 0 && size < (16u << 20) && files::read_all(fd, &m_lic_text);
        if (fd >= 0)
            close(fd);
        if (!ok)
            m_lic_text = path;
    }
    m_dirty = true;
}

double App::paint_components(cairo_t* cr, double x, double y, double w)
{
    // A tool's version that was still being found is read again once an
    // answer has come in.
    if (m_comp_ver.size() != size_t(licenses_data::COUNT) ||
        (m_comp_waiting && toolprobe::generation() != m_comp_gen))
        read_component_versions();
    gfx::Font hint{ 11.5, false, false }, name_f{ 12.5, true, false }, cell{ 12.5, false, false };
    gfx::text(cr, L10n::tr("about.license_hint"), x, y, m_pal.faint, hint, gfx::Align::Left, w);
    const double lic_x = x + 0.27 * w, kind_x = x + 0.49 * w, link_x = x + 0.68 * w;
    for (int k = 0; k < licenses_data::COUNT; ++k) {
        const licenses_data::Component& c = licenses_data::COMPONENTS[k];
        double ry = y + 20 + k * 22;
        double nw = gfx::text(cr, c.name, x, ry, m_pal.text, name_f, gfx::Align::Left, 0.27 * w - 70);
        const std::string& ver = m_comp_ver[size_t(k)];
        if (!ver.empty())
            gfx::text(cr, ver, x + nw + 6, ry, m_pal.dim, cell, gfx::Align::Left, std::max(1.0, 0.27 * w - nw - 12));

        std::string key = "comp_license#" + std::to_string(k);
        double lw = gfx::text(cr, c.license, lic_x, ry, m_pal.accent, cell, gfx::Align::Left, 0.22 * w - 8);
        if (m_hover == key)
            gfx::fill_rect(cr, lic_x, ry + 17, lw, 1, m_pal.accent);
        hit(lic_x, ry - 1, lw, 22, "comp_license", k, "");

        gfx::text(cr, L10n::tr(std::string("about.kind_") + c.kind), kind_x, ry, m_pal.faint, cell, gfx::Align::Left,
                  0.19 * w - 8);

        std::string url = c.url;
        std::string shown = url.rfind("https://", 0) == 0 ? url.substr(8) : url;
        double uw = gfx::text(cr, shown, link_x, ry, m_pal.accent, cell, gfx::Align::Left,
                              std::max(1.0, x + w - link_x));
        if (m_hover == "comp_url#" + std::to_string(k))
            gfx::fill_rect(cr, link_x, ry + 16, uw, 1, m_pal.accent);
        hit(link_x, ry - 1, uw, 22, "comp_url", k, url);
    }
    return 20 + licenses_data::COUNT * 22;
}

void App::paint_license(cairo_t* cr, double x, double y, double w, double h)
{
    gfx::Font title{ 16, true, false }, line_f{ 12.5, false, false }, mono{ 11.5, false, true };
    if (m_lic_comp >= 0) {
        int k = std::min(m_lic_comp, licenses_data::COUNT - 1);
        const licenses_data::Component& c = licenses_data::COMPONENTS[k];
        gfx::text(cr, std::string(c.name) + "  \xE2\x80\x94  " + c.license, x + 24, y + 20, m_pal.text, title,
                  gfx::Align::Left, w - 48);
        double uw = gfx::text(cr, c.url, x + 24, y + 48, m_pal.accent, line_f, gfx::Align::Left, w - 48);
        hit(x + 24, y + 46, uw, 20, "lic_url", k, c.url);
    } else {
        gfx::text(cr, L10n::tr("about.snap_sources"), x + 24, y + 20, m_pal.text, title, gfx::Align::Left, w - 48);
        gfx::text(cr, snap_sources_path(), x + 24, y + 48, m_pal.dim, line_f, gfx::Align::Left, w - 48);
    }

    // Where each line starts; the text is split at every line break.
    std::vector<size_t> starts{ 0 };
    for (size_t i = 0; i < m_lic_text.size(); ++i)
        if (m_lic_text[i] == '\n')
            starts.push_back(i + 1);
    const int count = int(starts.size());
    const double lh = std::ceil(1.15 * gfx::line_height(cr, mono));
    const double ty = y + 80, ah = h - 144;
    gfx::fill_rect(cr, x + 20, ty - 4, w - 40, ah + 8, m_pal.bg);
    const int vis = std::max(0, int(std::floor(ah / lh)));
    m_lic_scroll = std::clamp(m_lic_scroll, 0, std::max(0, count - vis));

    cairo_save(cr);
    cairo_rectangle(cr, x + 20, ty - 4, w - 40, ah + 8);
    cairo_clip(cr);
    for (int i = 0; i <= vis && m_lic_scroll + i < count; ++i) {
        size_t a = starts[size_t(m_lic_scroll + i)];
        size_t b = size_t(m_lic_scroll + i + 1) < starts.size() ? starts[size_t(m_lic_scroll + i + 1)] - 1
                                                                  : m_lic_text.size();
        std::string line = m_lic_text.substr(a, b - a);
        for (char& ch : line)
            if (ch == '\t' || ch == '\r' || ch == '\f')
                ch = ' ';
        gfx::text(cr, line, x + 30, ty + i * lh, m_pal.text, mono);
    }
    cairo_restore(cr);

    if (count > vis && vis > 0) {
        double thumb = std::max(24.0, vis * ah / count);
        double py = ty + double(m_lic_scroll) / (count - vis) * (ah - thumb);
        gfx::rounded(cr, x + w - 30, py, 5, thumb, 2.5);
        Rgba c = m_pal.faint;
        c.a *= 0.5;
        gfx::set(cr, c);
        cairo_fill(cr);
    }
    button(cr, x + w - 124, y + h - 52, 100, 32, L10n::tr("btn.back"), "lic_back", true, true, nullptr, "");
}

bool App::license_key(const SDL_Keysym& k)
{
    switch (k.sym) {
    case SDLK_DOWN: m_lic_scroll += 1; break;
    case SDLK_UP: m_lic_scroll -= 1; break;
    case SDLK_PAGEDOWN: m_lic_scroll += 20; break;
    case SDLK_PAGEUP: m_lic_scroll -= 20; break;
    case SDLK_HOME: m_lic_scroll = 0; break;
    default: return false;
    }
    // The upper end is clamped when painted, where the page height is known.
    m_lic_scroll = std::max(0, m_lic_scroll);
    m_dirty = true;
    return true;
}

void App::license_wheel(double dy)
{
    m_lic_scroll = std::max(0, m_lic_scroll - int(std::lround(3 * dy)));
    m_dirty = true;
}

void App::open_link(const std::string& url)
{
    m_link_opened = url;
    open_url(url.c_str());
}

bool App::about_click(const Hit& h)
{
    if (m_modal != Modal::About && m_modal != Modal::License)
        return false;
    if (h.id == "comp_license") {
        show_license(h.n);
    } else if (h.id == "snap_sources") {
        show_license(-1);
    } else if (h.id == "comp_url" || h.id == "lic_url") {
        open_link(h.tip);
    } else if (h.id == "lic_back") {
        m_modal = Modal::About;
        m_about_scroll = 0;
    } else if (h.id == "url") {
        open_link(about_address(false));
    } else if (h.id == "mail") {
        open_link(about_address(true));
    } else {
        return false;
    }
    m_dirty = true;
    return true;
}
