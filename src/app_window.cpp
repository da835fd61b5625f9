// The one window: video driver, renderer, cursors and icon, the device
// scale, the light or dark palette, and the window's size and position.
#include "app.h"

#include "logger.h"
#include "qxcrash.h"
#include "x11_title.h"

#include <gio/gio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

// The colour-scheme read runs on its own thread: a slow or hanging session
// bus must never hold up the window. The thread owns a share of this.
struct ThemeQuery {
    enum : int { Running, Light, Dark, NoBus };
    std::atomic<int> state{ Running };
    Uint32 started = 0;
};

namespace {

const char* kTitle = "qxFerndockAssemblerIDE";

// Whether a session bus can be reached without starting one: GIO would
// otherwise launch a bus daemon of its own for this one question.
bool session_bus_known()
{
    const char* addr = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (addr && *addr)
        return true;
    const char* run = getenv("XDG_RUNTIME_DIR");
    if (!run || !*run)
        return false;
    std::string sock = std::string(run) + "/bus";
    return g_file_test(sock.c_str(), G_FILE_TEST_EXISTS);
}

// The portal's answer is a variant, possibly wrapped several times; dark is
// exactly the uint32 1.
int read_color_scheme()
{
    GError* err = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &err);
    if (!bus) {
        g_clear_error(&err);
        return ThemeQuery::NoBus;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings",
        "Read", g_variant_new("(ss)", "org.freedesktop.appearance", "color-scheme"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, 400, nullptr, &err);
    bool dark = false;
    if (reply) {
        GVariant* v = g_variant_get_child_value(reply, 0);
        while (v && g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
            GVariant* inner = g_variant_get_variant(v);
            g_variant_unref(v);
            v = inner;
        }
        if (v) {
            dark = g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32) && g_variant_get_uint32(v) == 1;
            g_variant_unref(v);
        }
        g_variant_unref(reply);
    }
    g_clear_error(&err);
    g_object_unref(bus);
    return dark ? ThemeQuery::Dark : ThemeQuery::Light;
}

// SDL's video on the X11 driver when a display is set, else SDL's choice.
// The driver is chosen through SDL's hint rather than the environment, so
// that programs started from the window do not inherit the choice.
bool start_video()
{
    const char* driver = getenv("SDL_VIDEODRIVER");
    const char* display = getenv("DISPLAY");
    if ((!driver || !*driver) && display && *display) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            logger::warn(std::string("X11 not reachable (") + SDL_GetError() + "), trying SDL's default");
            SDL_ResetHint(SDL_HINT_VIDEODRIVER);
            SDL_Quit();
        }
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        logger::error(std::string("SDL_Init: ") + SDL_GetError());
        return false;
    }
    // A window nobody can see is no window: SDL's own fallback to its
    // off-screen drivers counts as failure unless they were asked for.
    const char* chosen = SDL_GetCurrentVideoDriver();
    bool invisible = chosen && (strcmp(chosen, "offscreen") == 0 || strcmp(chosen, "dummy") == 0);
    if (invisible && (!driver || !*driver)) {
        SDL_SetError("no display reachable");
        logger::error("SDL_Init: no display reachable");
        return false;
    }
    return true;
}


} // namespace

bool App::init_window()
{
    SDL_SetHint("SDL_NO_SIGNAL_HANDLERS", "1");
    SDL_SetHint("SDL_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR", "0");
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengl");
    // The window class: SDL reads it from the environment while its video
    // starts. It is there only for that moment (no other thread runs yet),
    // so the tools and the debugged program never inherit it.
    const char* cls = getenv("SDL_VIDEO_X11_WMCLASS");
    bool own_class = !cls || !*cls;
    if (own_class)
        setenv("SDL_VIDEO_X11_WMCLASS", kTitle, 1);
    bool video = start_video();
    if (own_class)
        unsetenv("SDL_VIDEO_X11_WMCLASS");
    if (!video)
        return false;

    m_win = SDL_CreateWindow(kTitle, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1280, 800,
                             SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!m_win) {
        logger::error(std::string("SDL_CreateWindow: ") + SDL_GetError());
        return false;
    }
    x11_plain_title(m_win, kTitle);

    m_ren = SDL_CreateRenderer(m_win, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (!m_ren)
        m_ren = SDL_CreateRenderer(m_win, -1, SDL_RENDERER_SOFTWARE);
    if (!m_ren) {
        logger::error(std::string("SDL_CreateRenderer: ") + SDL_GetError());
        return false;
    }

    SDL_RendererInfo ri{};
    bool have_info = SDL_GetRendererInfo(m_ren, &ri) == 0;
    std::string ren_name = have_info && ri.name ? ri.name : "?";
    const char* drv = SDL_GetCurrentVideoDriver();
    std::string drv_name = drv ? drv : "?";
    bool accel = have_info && (ri.flags & SDL_RENDERER_ACCELERATED);
    logger::info("video " + drv_name + ", renderer " + ren_name + (accel ? " (accelerated)" : " (software)"));
    std::vector<std::string> gfx_lines{ "Video: " + drv_name, "Renderer: " + ren_name };
    if (SDL_GL_GetCurrentContext()) {
        using GetString = const unsigned char* (*)(unsigned);
        if (auto gl_string = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"))) {
            const unsigned GL_RENDERER_ENUM = 0x1F01;
            if (const unsigned char* s = gl_string(GL_RENDERER_ENUM))
                gfx_lines.push_back(std::string("OpenGL: ") + reinterpret_cast<const char*>(s));
        }
    }
    qxcrash::record_graphics(gfx_lines);

    m_premul = SDL_ComposeCustomBlendMode(SDL_BLENDFACTOR_ONE, SDL_BLENDFACTOR_ONE_MINUS_SRC_ALPHA,
                                          SDL_BLENDOPERATION_ADD, SDL_BLENDFACTOR_ONE,
                                          SDL_BLENDFACTOR_ONE_MINUS_SRC_ALPHA, SDL_BLENDOPERATION_ADD);
    m_cur_arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
    m_cur_ibeam = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_IBEAM);
    m_cur_we = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_SIZEWE);
    m_cur_ns = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_SIZENS);
    m_cur_hand = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND);

    cairo_surface_t* icon = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
    cairo_t* cr = cairo_create(icon);
    gfx::app_logo(cr, 32, 32, 29);
    cairo_destroy(cr);
    cairo_surface_flush(icon);
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(cairo_image_surface_get_data(icon), 64, 64, 32,
                                                        cairo_image_surface_get_stride(icon),
                                                        SDL_PIXELFORMAT_ARGB8888);
    if (s) {
        SDL_SetWindowIcon(m_win, s);
        SDL_FreeSurface(s);
    }
    cairo_surface_destroy(icon);

    set_parent_window_env();
    m_desk_k = x11_desktop_scale(m_win);
    if (m_desk_k != 1.0)
        logger::info("desktop scale " + std::to_string(m_desk_k));
    update_scale();
    return true;
}

void App::shutdown_window()
{
    for (SDL_Cursor** c : { &m_cur_arrow, &m_cur_ibeam, &m_cur_we, &m_cur_ns, &m_cur_hand }) {
        if (*c)
            SDL_FreeCursor(*c);
        *c = nullptr;
    }
    if (m_tex)
        SDL_DestroyTexture(m_tex);
    m_tex = nullptr;
    if (m_surf)
        cairo_surface_destroy(m_surf);
    m_surf = nullptr;
    if (m_ren)
        SDL_DestroyRenderer(m_ren);
    m_ren = nullptr;
    if (m_win)
        SDL_DestroyWindow(m_win);
    m_win = nullptr;
    SDL_Quit();
}

void App::update_scale()
{
    int lw = 0, lh = 0, pw = 0, ph = 0;
    if (m_win)
        SDL_GetWindowSize(m_win, &lw, &lh);
    if (m_ren)
        SDL_GetRendererOutputSize(m_ren, &pw, &ph);
    m_k = lw > 0 ? double(pw) / lw : 1.0;
    m_in_k = 1.0;
    // SDL on X11 gives the window in device pixels and no scale: the
    // desktop's own then makes the logical pixels (points).
    if (m_desk_k > 1.0 && lw > 0 && pw == lw) {
        m_k = m_desk_k;
        m_in_k = m_desk_k;
    }
    m_ww = lw / m_in_k;
    m_wh = lh / m_in_k;
    m_dirty = true;
}

void App::choose_theme(const std::string& name)
{
    m_settings.theme = name;
    force_theme.clear();
    update_theme();
}

void App::update_theme()
{
    const std::string& name = force_theme.empty() ? m_settings.theme : force_theme;
    bool dark = name == "dark" ? true : name == "light" ? false : m_system_dark;
    m_pal = Palette::make(dark);
    m_dirty = true;
}

void App::start_theme_query()
{
    // One question at a time; without a session bus there is nobody to ask.
    if (m_theme_query || m_no_bus)
        return;
    if (!session_bus_known()) {
        m_no_bus = true;
        return;
    }
    auto q = std::make_shared<ThemeQuery>();
    q->started = SDL_GetTicks();
    m_theme_query = q;
    std::thread([q] { q->state.store(read_color_scheme()); }).detach();
}

void App::poll_theme_query(int wait_ms)
{
    if (!m_theme_query)
        return;
    Uint32 until = SDL_GetTicks() + Uint32(std::max(0, wait_ms));
    int st = m_theme_query->state.load();
    while (st == ThemeQuery::Running && SDL_GetTicks() < until) {
        SDL_Delay(2);
        st = m_theme_query->state.load();
    }
    if (st == ThemeQuery::Running)
        return;
    m_theme_query.reset();
    if (st == ThemeQuery::NoBus) {
        m_no_bus = true;
        return;
    }
    bool dark = st == ThemeQuery::Dark;
    if (dark != m_system_dark) {
        m_system_dark = dark;
        update_theme();
    }
}

SDL_Rect App::work_area(int x, int y, bool* found) const
{
    *found = false;
    int n = SDL_GetNumVideoDisplays();
    bool have_first = false;
    SDL_Rect first{ 0, 0, 1920, 1080 };
    for (int i = 0; i < n; ++i) {
        SDL_Rect r;
        if (SDL_GetDisplayUsableBounds(i, &r) != 0)
            continue;
        if (x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h) {
            *found = true;
            return r;
        }
        if (!have_first) {
            first = r;
            have_first = true;
        }
    }
    return first;
}

void App::apply_geometry()
{
    const Geometry& g = m_settings.win;
    bool valid = g.w > 0 && g.h > 0 && g.has_pos;
    bool found = false;
    SDL_Rect area = valid ? work_area(g.x + g.w / 2, g.y + 10, &found) : work_area(0, 0, &found);

    // Sizes are chosen in logical pixels and set in window units (device
    // pixels where the desktop's scale stands in for SDL's); a stored size
    // is in window units already.
    const double k = m_in_k;
    auto units = [k](int points) { return int(std::lround(points * k)); };
    int w, h;
    if (force_w > 0 && force_h > 0) {
        w = units(force_w);
        h = units(force_h);
    } else if (g.w > 0 && g.h > 0) {
        w = g.w;
        h = g.h;
    } else {
        int pw = std::clamp(int(area.w / k * 0.8), 1000, 2400);
        w = units(pw);
        h = units(std::min(pw * 10 / 16, int(area.h / k * 0.85)));
    }
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(m_win, &top, &left, &bottom, &right) != 0)
        top = left = bottom = right = 0;
    SDL_SetWindowMinimumSize(m_win, std::min(area.w, units(760)), std::min(area.h, units(480)));
    int width = std::min(w, std::max(units(400), area.w - left - right));
    int height = std::min(h, std::max(units(300), area.h - std::max(80, top + bottom)));
    SDL_SetWindowSize(m_win, width, height);

    int x, y;
    bool on_display = false;
    if (valid)
        work_area(g.x + width / 2, g.y + 10, &on_display);
    if (valid && on_display) {
        x = g.x;
        y = g.y;
    } else {
        x = area.x + (area.w - width) / 2;
        y = area.y + (area.h - height) / 2;
    }
    int x_lo = area.x + left, y_lo = area.y + top;
    x = std::clamp(x, x_lo, std::max(x_lo, area.x + area.w - width - right));
    y = std::clamp(y, y_lo, std::max(y_lo, area.y + area.h - height - bottom));
    m_req_x = x;
    m_req_y = y;
    SDL_SetWindowPosition(m_win, x, y);
    m_frame_check_at = SDL_GetTicks() + 400;
    if (g.maximized)
        SDL_MaximizeWindow(m_win);
    update_scale();
}

void App::measure_frame()
{
    m_frame_check_at = 0;
    int x = 0, y = 0;
    SDL_GetWindowPosition(m_win, &x, &y);
    if (!(SDL_GetWindowFlags(m_win) & SDL_WINDOW_MAXIMIZED)) {
        int dx = x - m_req_x, dy = y - m_req_y;
        bool wild = std::abs(dx) > 80 || std::abs(dy) > 80;
        m_frame_dx = wild ? 0 : dx;
        m_frame_dy = wild ? 0 : dy;
    }
    m_frame_known = true;
    logger::info("frame offset " + std::to_string(m_frame_dx) + "," + std::to_string(m_frame_dy));
    keep_in_work_area();
}

void App::keep_in_work_area()
{
    // Before the window was shown its frame was not known, so a remembered
    // place near an edge may leave the status line under the screen's edge:
    // now that the window manager framed it, it is moved inside once.
    if (SDL_GetWindowFlags(m_win) & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_FULLSCREEN | SDL_WINDOW_MINIMIZED))
        return;
    int x = 0, y = 0, w = 0, h = 0, top = 0, left = 0, bottom = 0, right = 0;
    SDL_GetWindowPosition(m_win, &x, &y);
    SDL_GetWindowSize(m_win, &w, &h);
    if (SDL_GetWindowBordersSize(m_win, &top, &left, &bottom, &right) != 0)
        top = left = bottom = right = 0;
    bool found = false;
    SDL_Rect area = work_area(x + w / 2, y + 10, &found);
    int x_lo = area.x + left, y_lo = area.y + top;
    int nx = std::clamp(x, x_lo, std::max(x_lo, area.x + area.w - w - right));
    int ny = std::clamp(y, y_lo, std::max(y_lo, area.y + area.h - h - bottom));
    if (nx == x && ny == y)
        return;
    m_req_x = nx - m_frame_dx;
    m_req_y = ny - m_frame_dy;
    SDL_SetWindowPosition(m_win, m_req_x, m_req_y);
    logger::info("window moved inside the screen to " + std::to_string(nx) + "," + std::to_string(ny));
}

void App::remember_geometry()
{
    if (!m_shown || !m_win)
        return;
    Uint32 flags = SDL_GetWindowFlags(m_win);
    bool maximized = flags & SDL_WINDOW_MAXIMIZED;
    m_settings.win.maximized = maximized;
    if ((flags & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) || maximized || force_w > 0)
        return;
    int x = 0, y = 0, w = 0, h = 0;
    SDL_GetWindowPosition(m_win, &x, &y);
    SDL_GetWindowSize(m_win, &w, &h);
    m_settings.win = Geometry{ x - m_frame_dx, y - m_frame_dy, w, h, true, false };
}

void App::set_parent_window_env()
{
    // Read when a file dialog starts and put into the environment only
    // around that start (with_parent_window), so that the tools and the
    // debugged program never inherit it.
    m_parent_handle.clear();
}

bool App::write_screenshot()
{
    std::string why = "no picture";
    if (m_surf && gfx::write_png(m_surf, screenshot, &why))
        return true;
    fprintf(stderr, "qxFerndockAssemblerIDE: cannot write the screenshot %s: %s\n", screenshot.c_str(), why.c_str());
    logger::warn("screenshot not written: " + why);
    return false;
}

void App::with_parent_window(const std::function<void()>& fn)
{
    if (m_parent_handle.empty() && m_win)
        m_parent_handle = x11_window_handle(m_win);
    if (m_parent_handle.empty()) {
        fn();
        return;
    }
    setenv("QXASM_PARENT_WINDOW", m_parent_handle.c_str(), 1);
    fn();
    unsetenv("QXASM_PARENT_WINDOW");
}
