// The seven menus of the menu bar, built afresh each time one opens, so
// that labels, checks and disabled rows show the state of that moment.
#include "app.h"

#include "app_menu_rows.h"
#include "l10n.h"

#include <algorithm>
#include <cstdlib>

using namespace menu_rows;

namespace {

// The directory of a path, with the home directory written "~".
std::string short_dir(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
    if (slash == 0)
        dir = "/";
    const char* home = getenv("HOME");
    if (home && *home) {
        std::string h = home;
        while (h.size() > 1 && h.back() == '/')
            h.pop_back();
        if (dir == h)
            return "~";
        if (dir.size() > h.size() && dir.compare(0, h.size(), h) == 0 && dir[h.size()] == '/')
            return "~" + dir.substr(h.size());
    }
    return dir;
}

std::string recent_label(const std::string& path)
{
    return base_name(path) + "   " + short_dir(path);
}

} // namespace

void App::open_menu(int n)
{
    m_menu = n;
    m_menu_list = n >= 0 ? menu_items(n) : std::vector<MenuItem>();
    m_menu_hover = -1;
    m_menu_scroll = 0;
    m_dirty = true;
}

void App::cmd_help()
{
    cmd_reference("", "console");
}

std::function<void()> App::editor_act(const Doc* d, void (*fn)(Editor&))
{
    uint64_t id = d->id;
    return [this, id, fn] {
        Doc* x = doc_by_id(id);
        if (x && !x->bin) {
            fn(x->ed);
            m_dirty = true;
        }
    };
}

// Undo, redo and the clipboard rows act on the view the user sees: in the
// binary view its own undo history; the source's editor is not touched
// while it is hidden.
std::vector<App::MenuItem> App::edit_rows(bool context)
{
    std::vector<MenuItem> rows;
    const bool bin_view = m_settings.main_tab == 1;
    const bool src_ok = !bin_view && !is_placeholder(m_s) && !m_s->bin;
    const bool bin_ok = bin_view && !is_placeholder(m_b) && m_b->bin;
    const uint64_t bin_id = m_b->id;
    auto on_bin = [this, bin_id](bool undo) {
        return [this, bin_id, undo] {
            Doc* x = doc_by_id(bin_id);
            if (x && x->bin) {
                if (undo)
                    x->bv.undo();
                else
                    x->bv.redo();
                m_dirty = true;
            }
        };
    };
    auto on_src = [&](void (*fn)(Editor&)) { return src_ok ? editor_act(m_s, fn) : std::function<void()>(); };

    rows.push_back(row("menu.undo", "Ctrl+Z", bin_view ? on_bin(true) : on_src([](Editor& e) { e.undo(); }),
                       bin_view ? bin_ok : src_ok));
    rows.push_back(row("menu.redo", "Ctrl+Y", bin_view ? on_bin(false) : on_src([](Editor& e) { e.redo(); }),
                       bin_view ? bin_ok : src_ok));
    rows.push_back(separator());
    rows.push_back(row("menu.cut", "Ctrl+X", on_src([](Editor& e) { e.cut(); }), src_ok));
    rows.push_back(row("menu.copy", "Ctrl+C", on_src([](Editor& e) { e.copy(); }), src_ok));
    rows.push_back(row("menu.paste", "Ctrl+V", on_src([](Editor& e) { e.paste(); }), src_ok));
    if (context) {
        bool sel = src_ok && (m_s->ed.has_selection() || m_s->ed.has_block());
        rows.push_back(row("ed.delete", "", on_src([](Editor& e) { e.erase(); }), sel));
    }
    rows.push_back(row("menu.select_all", "Ctrl+A", on_src([](Editor& e) { e.select_all(); }), src_ok));
    auto comment = [](Editor& e) {
        SDL_Keysym k{};
        k.sym = SDLK_SLASH;
        k.scancode = SDL_SCANCODE_SLASH;
        k.mod = KMOD_LCTRL;
        e.key(k);
    };
    if (!context)
        rows.push_back(row("menu.comment", "Ctrl+/", on_src(comment), src_ok));
    return rows;
}

std::vector<App::MenuItem> App::menu_items(int n)
{
    std::vector<MenuItem> rows;
    const dbg::State st = m_proc.state();
    const bool live = st == dbg::State::Running || st == dbg::State::Stopped;
    const bool paused = m_proc.traced() && st == dbg::State::Stopped;
    auto settings_saved = [this] {
        m_save_at = SDL_GetTicks() + 600;
        m_dirty = true;
    };
    switch (n) {
    case 0: {
        rows.push_back(row("menu.new", "Ctrl+N", [this] { cmd_new(); }));
        rows.push_back(row("menu.open", "Ctrl+O", [this] { cmd_open(); }));
        rows.push_back(row("menu.example", "", [this] { cmd_open_example(); }));
        rows.push_back(row("menu.save", "Ctrl+S", [this] { cmd_save(nullptr); }));
        rows.push_back(row("menu.save_as", "Ctrl+Shift+S", [this] { cmd_save_as(nullptr); }));
        Doc* shown = m_settings.main_tab == 1 && !m_b->hidden ? m_b : m_s;
        const uint64_t shown_id = shown->id;
        rows.push_back(row(
            "menu.close", "Ctrl+W",
            [this, shown_id] {
                if (Doc* d = doc_by_id(shown_id))
                    close_doc(d, false);
            },
            !is_placeholder(shown_doc())));
        rows.push_back(separator());
        rows.push_back(row("menu.open_binary", "Ctrl+Shift+O", [this] { cmd_open_binary(); }));
        const bool bytes = !m_b->img.m_data.empty();
        rows.push_back(row("menu.save_binary", "", [this] { cmd_save_binary(false, false); }, bytes));
        rows.push_back(row("menu.save_binary_as", "", [this] { cmd_save_binary(true, false); }, bytes));
        rows.push_back(row("menu.disassemble", "", [this] { cmd_disassemble(); }, bytes && !m_dis));
        // Work files of an earlier run are not offered (none is added now).
        std::vector<std::string> rs, rb;
        for (const std::string& p : m_settings.recent)
            if (!is_work_file(p))
                rs.push_back(p);
        for (const std::string& p : m_settings.recent_bin)
            if (!is_work_file(p))
                rb.push_back(p);
        if (!rs.empty() || !rb.empty())
            rows.push_back(separator());
        for (size_t i = 0; i < std::min<size_t>(5, rs.size()); ++i)
            rows.push_back(item(recent_label(rs[i]), "", [this, p = rs[i]] { open_any(p); }));
        for (size_t i = 0; i < std::min<size_t>(3, rb.size()); ++i)
            rows.push_back(item(recent_label(rb[i]), "", [this, p = rb[i]] { load_binary(p, false, false); }));
        rows.push_back(separator());
        rows.push_back(row("menu.quit", "Ctrl+Q", [this] { cmd_quit(); }));
        break;
    }
    case 1: {
        rows = edit_rows(false);
        rows.push_back(separator());
        rows.push_back(row("menu.find", "Ctrl+F", [this] {
            if (bin_shown())
                bin_open_find();
            else
                cmd_find(true);
        }));
        rows.push_back(row("menu.replace", "Ctrl+H", [this] {
            m_settings.main_tab = 0;
            cmd_find(true);
            m_replace_open = true;
        }));
        rows.push_back(row("menu.goto", "Ctrl+G", [this] { cmd_goto(); }));
        rows.push_back(separator());
        rows.push_back(row("menu.settings", "Ctrl+,", [this] { cmd_settings(); }));
        break;
    }
    case 2: {
        rows.push_back(row("menu.build", "F7", [this] { cmd_build(nullptr); }));
        rows.push_back(row("menu.run", "Ctrl+F5", [this] { cmd_run(); }, !live || m_proc.traced()));
        rows.push_back(row("menu.args", "", [this] { cmd_args(); }));
        rows.push_back(row("menu.link", "", [this] { cmd_link(); }, !is_placeholder(m_s)));
        rows.push_back(separator());
        static const std::pair<const char*, tc::Format> formats[] = {
            { "menu.fmt_auto", tc::Format::Auto },
            { "menu.fmt_elf64", tc::Format::Elf64 },
            { "menu.fmt_elf32", tc::Format::Elf32 },
            { "menu.fmt_bin", tc::Format::Bin },
        };
        const tc::Format now = tc::format_from_key(m_settings.format);
        for (const auto& [key, fmt] : formats)
            rows.push_back(choice(key, now == fmt, true, [this, fmt = fmt, settings_saved] {
                m_settings.format = tc::format_key(fmt);
                m_s->have_build = false;
                settings_saved();
            }));
        break;
    }
    case 3: {
        if (paused)
            rows.push_back(row("menu.continue", "F5", [this] { cmd_debug(); }));
        else
            rows.push_back(row("menu.debug", "F5", [this] { cmd_debug(); }, !live));
        rows.push_back(row("menu.step_into", "F11", [this] { cmd_step(0); }));
        rows.push_back(row("menu.step_over", "F10", [this] { cmd_step(1); }));
        rows.push_back(row("menu.step_out", "Shift+F11", [this] { cmd_step(2); }, paused));
        rows.push_back(row("menu.run_to_cursor", "F4", [this] { cmd_run_to_cursor(); }));
        rows.push_back(row("menu.stop", "Shift+F5", [this] { cmd_stop(); }, live));
        rows.push_back(separator());
        rows.push_back(row("menu.attach", "", [this] { cmd_attach(); }, !live));
        rows.push_back(separator());
        rows.push_back(row("menu.toggle_bp", "F9", [this] { cmd_toggle_bp(); }));
        rows.push_back(row("menu.clear_bps", "", [this] {
            clear_bps();
            m_dirty = true;
        }));
        break;
    }
    case 4: {
        rows.push_back(row("menu.view_source", "Ctrl+1", [this] {
            m_settings.main_tab = 0;
            m_focus = Focus::Editor;
        }));
        rows.push_back(row("menu.view_binary", "Ctrl+2", [this] {
            m_settings.main_tab = 1;
            m_focus = Focus::Bin;
        }));
        rows.push_back(row("menu.view_console", "Ctrl+3", [this] {
            m_settings.bottom_tab = 2;
            m_focus = Focus::ConIn;
        }));
        rows.push_back(separator());
        rows.push_back(choice("menu.show_side", m_settings.show_side, false, [this, settings_saved] {
            m_settings.show_side = !m_settings.show_side;
            settings_saved();
        }));
        rows.push_back(choice("menu.side_left", m_settings.side_left, false, [this, settings_saved] {
            m_settings.side_left = !m_settings.side_left;
            m_settings.show_side = true;
            settings_saved();
        }));
        rows.push_back(choice("menu.show_bottom", m_settings.show_bottom, false, [this, settings_saved] {
            m_settings.show_bottom = !m_settings.show_bottom;
            settings_saved();
        }));
        rows.push_back(separator());
        rows.push_back(row("menu.font_bigger", "Ctrl++", [this] { cmd_font(+1); }));
        rows.push_back(row("menu.font_smaller", "Ctrl+-", [this] { cmd_font(-1); }));
        rows.push_back(row("menu.font_reset", "Ctrl+0", [this] { cmd_font(0); }));
        rows.push_back(separator());
        for (const char* name : { "auto", "light", "dark" }) {
            std::string key = std::string("menu.theme_") + name;
            rows.push_back(choice(key.c_str(), m_settings.theme == name, true, [this, name, settings_saved] {
                choose_theme(name);
                settings_saved();
            }));
        }
        rows.push_back(separator());
        rows.push_back(row("menu.language", "", [this] { cmd_language(); }));
        break;
    }
    case 5:
        rows.push_back(row("menu.converter", "Ctrl+K", [this] { cmd_converter(); }));
        break;
    case 6:
        rows.push_back(row("menu.reference", "F1", [this] { cmd_reference("", ""); }));
        rows.push_back(row("ref.first_steps", "", [this] { cmd_reference("", "intro"); }));
        rows.push_back(row("menu.help_console", "", [this] { cmd_help(); }));
        rows.push_back(row("menu.about", "", [this] { cmd_about(); }));
        break;
    default:
        break;
    }
    return rows;
}
