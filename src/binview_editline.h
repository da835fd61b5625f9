#pragma once
// The binary view's one-line assembler field. It carries the members and
// operations of the shared single-line text field that the view uses
// (text, caret, anchor, set, key, input, click, paint), so the view can
// switch to that field by changing the type of BinView::m_edit.
#include "gfx.h"

#include <SDL_keyboard.h>
#include <cairo.h>

#include <string>

struct Palette;

class EditLine {
public:
    std::string text;
    int caret = 0;  // byte offsets, never inside a UTF-8 sequence
    int anchor = 0;
    bool mono = true;

    void set(const std::string& s);
    // Editing and caret keys; true when the key was used.
    bool key(const SDL_Keysym& k, bool use_history);
    void input(const std::string& utf8);
    // Caret to the character boundary nearest to window x (as last painted).
    void click(double x, const std::string& placeholder);
    void paint(cairo_t* cr, double x, double y, double w, double h, const Palette& pal, double font_size,
               bool focused, bool caret_on, const std::string& placeholder, const Rgba* colour);

private:
    void erase_selection();
    double m_x = 0;      // left edge of the text at the last paint
    double m_scroll = 0; // pixels of text scrolled out on the left
    double m_size = 13;
};
