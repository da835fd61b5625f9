#include "x11_title.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The display and window types as SDL's record declares them; only the
// headers are used, nothing links against libX11.
using XDisplayPtr = decltype(SDL_SysWMinfo {}.info.x11.display);
using XWindowId = decltype(SDL_SysWMinfo {}.info.x11.window);
using XStoreNameFn = int (*)(XDisplayPtr, XWindowId, const char*);
using XFlushFn = int (*)(XDisplayPtr);
using XResourceManagerStringFn = char* (*)(XDisplayPtr);

// Fills `info` for an X11 window; false for anything else.
bool x11_info(SDL_Window* window, SDL_SysWMinfo* info)
{
    if (!window)
        return false;
    info->version.major = 2;
    info->version.minor = 26;
    info->version.patch = 0;
    return SDL_GetWindowWMInfo(window, info) == SDL_TRUE && info->subsystem == SDL_SYSWM_X11;
}

// Quarter steps from 1 to 8; anything else (not a number, below 1) is 1.
double quarter_steps(double v)
{
    if (!(v >= 1.0))
        return 1.0;
    return std::min(8.0, std::round(v * 4) / 4);
}

// The value of "Xft.dpi:" in a resource database's text, 0 when absent.
double xft_dpi(const char* text)
{
    for (const char* line = text; line && *line;) {
        while (*line == ' ' || *line == '\t')
            ++line;
        if (strncmp(line, "Xft.dpi:", 8) == 0)
            return strtod(line + 8, nullptr);
        line = strchr(line, '\n');
        if (line)
            ++line;
    }
    return 0;
}

// libX11, loaded once and kept: a missing library is not looked for again.
void* x11_lib()
{
    static void* lib = SDL_LoadObject("libX11.so.6");
    return lib;
}

} // namespace

void x11_plain_title(SDL_Window* window, const char* title)
{
    SDL_SysWMinfo info {};
    if (!title || !x11_info(window, &info))
        return;
    void* lib = x11_lib();
    if (!lib)
        return;
    auto store_name = reinterpret_cast<XStoreNameFn>(SDL_LoadFunction(lib, "XStoreName"));
    auto flush = reinterpret_cast<XFlushFn>(SDL_LoadFunction(lib, "XFlush"));
    if (!store_name)
        return;
    store_name(info.info.x11.display, info.info.x11.window, title);
    if (flush)
        flush(info.info.x11.display);
}

std::string x11_window_handle(SDL_Window* window)
{
    SDL_SysWMinfo info {};
    if (!x11_info(window, &info))
        return {};
    char buf[48];
    snprintf(buf, sizeof buf, "x11:%lx", static_cast<unsigned long>(info.info.x11.window));
    return buf;
}

double x11_desktop_scale(SDL_Window* window)
{
    if (const char* gdk = getenv("GDK_SCALE"); gdk && *gdk)
        return quarter_steps(strtod(gdk, nullptr));
    SDL_SysWMinfo info {};
    if (!x11_info(window, &info))
        return 1.0;
    void* lib = x11_lib();
    auto resources = lib ? reinterpret_cast<XResourceManagerStringFn>(SDL_LoadFunction(lib, "XResourceManagerString"))
                         : nullptr;
    if (!resources)
        return 1.0;
    // The resources as the display had them when SDL opened it.
    const char* text = resources(info.info.x11.display);
    return quarter_steps(xft_dpi(text) / 96.0);
}
