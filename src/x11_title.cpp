#include "x11_title.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cstdio>

namespace {

// The display and window types as SDL's record declares them; only the
// headers are used, nothing links against libX11.
using XDisplayPtr = decltype(SDL_SysWMinfo {}.info.x11.display);
using XWindowId = decltype(SDL_SysWMinfo {}.info.x11.window);
using XStoreNameFn = int (*)(XDisplayPtr, XWindowId, const char*);
using XFlushFn = int (*)(XDisplayPtr);

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

} // namespace

void x11_plain_title(SDL_Window* window, const char* title)
{
    SDL_SysWMinfo info {};
    if (!title || !x11_info(window, &info))
        return;
    // Loaded once and kept: a missing library is not looked for again.
    static void* lib = SDL_LoadObject("libX11.so.6");
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
