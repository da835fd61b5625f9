#pragma once
// What SDL does not do for its X11 window: the plain WM_NAME title, and the
// window's handle in the form the desktop portal takes for a parent window.
// libX11 is loaded at run time, so the program needs it only under X11.
#include <string>

struct SDL_Window;

// Sets WM_NAME through XStoreName; silently nothing when the window is not
// an X11 window or libX11 cannot be loaded.
void x11_plain_title(SDL_Window* window, const char* title);

// "x11:" and the X11 window id in lower-case hexadecimal, or empty when the
// window is not an X11 window.
std::string x11_window_handle(SDL_Window* window);

// The desktop's scale for a window SDL reports unscaled: GDK_SCALE when it
// is set, else the X resource Xft.dpi / 96, in quarter steps; 1.0 when
// neither says more (or the window is not an X11 window).
double x11_desktop_scale(SDL_Window* window);
