#pragma once
// Text measuring for the editor: positions inside one line's Pango layout in
// the editor's monospace font. Lines of plain printable ASCII and tabs are
// measured on the font's character grid once a probe has shown, for that
// font size, that the grid gives exactly Pango's numbers, and so are very
// long lines; everything else is laid out by Pango (the last layout is kept
// for the next question).
#include "editor.h"
#include "gfx.h"

#include <string>

struct Editor::Measure {
    Measure();
    ~Measure();
    Measure(const Measure&) = delete;
    Measure& operator=(const Measure&) = delete;

    cairo_t* cr() const { return m_cr; }
    // x of byte index col in the line's layout, pixels.
    double x_of(const std::string& s, int col, double font);
    // The byte index a click at layout x lands on (right half of a character
    // lands after it; at or beyond the layout's width: the line's end).
    int index_at_x(const std::string& s, double x, double font);
    // The line's layout, owned by the measure and valid until the next call.
    PangoLayout* layout(const std::string& s, double font);
    // Whether the grid is exact for this font, for tests and benchmarks.
    bool grid_exact(double font);

private:
    cairo_surface_t* m_surf = nullptr;
    cairo_t* m_cr = nullptr;
    PangoLayout* m_layout = nullptr;
    std::string m_text;
    double m_layout_font = -1;
    // Character grid in Pango units, valid for m_grid_font.
    double m_grid_font = -1;
    bool m_grid_ok = false;
    int m_cell = 0;

    bool use_grid(const std::string& s, double font);
    void check_grid(double font);
};

namespace edmeasure {

// Layout x of a byte index, pixels.
double layout_x(PangoLayout* l, int index);
// Pango's hit test at layout x (pixels) on the first line, trailing
// characters stepped over; at or past the layout's width the text's length.
int layout_index(PangoLayout* l, const std::string& s, double x);

// Lines longer than this are measured on the grid whatever they hold, and
// painted only where they show: Pango takes about a hundred times a line's
// size to lay it out.
constexpr size_t kLongLine = 16384;

bool grid_byte(unsigned char c);
// The same two questions on a character grid of `cell` Pango units with
// tab stops every 8 cells; a character of several bytes takes one cell.
long grid_x_units(const std::string& s, int col, int cell);
int grid_index(const std::string& s, double x, int cell);

} // namespace edmeasure

namespace edview {

// Word-wise caret moves and double clicks: ASCII letters and digits, '_',
// '.', and every byte from 0x80 up (a multi-byte character is part of a word).
bool word_char(unsigned char c);

} // namespace edview
