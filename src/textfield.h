#pragma once
// The one single-line text input of the program: UTF-8 text with a caret
// and a selection, an optional history, the system clipboard, clicks and
// painting with horizontal scrolling. The owner passes it keys, typed text
// and clicks, and decides what Return, Escape and Tab mean. Main thread only.
#include <SDL.h>
#include <cairo.h>

#include <string>
#include <vector>

struct Palette;
struct Rgba;

struct TextField {
    std::string text;
    int caret = 0;   // byte offset, on a character boundary
    int anchor = 0;  // other end of the selection; == caret: none
    bool mono = false;
    std::vector<std::string> history;  // oldest first, at most 200
    int hist_pos = -1;                 // entry shown while walking, else -1
    double scroll = 0;                 // pixels of text hidden on the left
    double m_tx = 0;                   // x where the text was drawn last
    double m_font = 13;                // font size of the last paint

    // Replaces the text; caret and anchor at its end, no scrolling.
    void set(const std::string& s);
    void select_all();
    bool has_sel() const { return caret != anchor; }
    // An editing key; true when consumed. With use_history, Up and Down
    // walk the entries recorded by push_history.
    bool key(const SDL_Keysym& k, bool use_history);
    // Typed text at the caret, replacing the selection.
    void input(const char* utf8);
    // Caret to window x, from the geometry of the last paint; the second
    // argument is not used (the text's position is remembered).
    void click(double x, const std::string& prefix);
    // Records the text as the newest entry (not empty, not a repeat).
    void push_history();
    // Paints the field in the rectangle: an always-drawn prefix (in
    // prefix_color, or the palette's dim colour when null), then the text
    // scrolled so the caret stays visible, the selection and, when focused
    // and in the blink's on phase, the caret.
    void paint(cairo_t* cr, double x, double y, double w, double h, const Palette& p, double font, bool focus,
               bool caret_on, const std::string& prefix, const Rgba* prefix_color);
};
