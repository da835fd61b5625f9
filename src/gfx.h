#pragma once
// The drawing layer: every painter draws into a cairo context through these
// free functions. Plain value types in, pixels out; the only state is a cache
// of Pango font descriptions, used from the painting thread.
#include <cairo.h>

#include <string>

typedef struct _PangoLayout PangoLayout;

// One colour, components 0 to 1; a default colour is opaque black.
struct Rgba {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 1;
};

// "rrggbb" (a leading '#' is skipped) read as one hexadecimal number whose
// bytes 2, 1, 0 are red, green and blue; a shorter text is the number it
// spells, so "fff" is red 0, green 0x0f, blue 0xff.
Rgba hex(const std::string& rrggbb, double alpha = 1.0);

namespace gfx {

// A font request: absolute size in pixels, weight 700 or 400, and the
// monospace or the user-interface family list.
struct Font {
    double size = 14;
    bool bold = false;
    bool mono = false;
};

// Where x anchors a text: its left edge, its centre or its right edge.
enum class Align { Left = 0, Center = 1, Right = 2 };

enum class Icon {
    New = 0,
    Open,
    Save,
    Build,
    Run,
    Debug,
    Continue,
    StepInto,
    StepOver,
    StepOut,
    Stop,
    Breakpoint,
    Arrow,
    Close,
    Chevron,
    Binary,
    Gear,
    Search,
};
constexpr int kIconCount = 18;

// Sets the source colour.
void set(cairo_t* cr, const Rgba& c);
void fill_rect(cairo_t* cr, double x, double y, double w, double h, const Rgba& c);
// Crisp one-pixel lines: the row floor(y) from x over w, the column floor(x)
// from y over h.
void hline(cairo_t* cr, double x, double y, double w, const Rgba& c);
void vline(cairo_t* cr, double x, double y, double h, const Rgba& c);
// Adds a closed rounded-rectangle sub-path (the radius is capped at half the
// shorter side); the caller fills or strokes it.
void rounded(cairo_t* cr, double x, double y, double w, double h, double radius);

// Draws one line of text with its top edge at y and its left edge, centre or
// right edge at x. max_w > 0 ends an over-long text in an ellipsis within
// max_w. Returns the drawn width in pixels; an empty text draws nothing.
double text(cairo_t* cr, const std::string& s, double x, double y, const Rgba& c, const Font& f,
            Align align = Align::Left, double max_w = 0);
// A new layout of the text in the font, for hit testing and wrapping; the
// caller releases it with g_object_unref.
PangoLayout* make_layout(cairo_t* cr, const std::string& s, const Font& f);
// Whole pixels: the width of one line of the text (0 for an empty text), and
// the height of a line in the font.
double text_width(cairo_t* cr, const std::string& s, const Font& f);
double line_height(cairo_t* cr, const Font& f);
// Advance of one monospace character at that size, fractional pixels, so
// columns sit at exact multiples of it.
double mono_advance(cairo_t* cr, double size);
const char* mono_family();
const char* ui_family();

// One of the vector icons centred at (x, y) in the colour; size is the
// half-extent unit (the drawing reaches about size, at most 1.1 size).
void icon(cairo_t* cr, Icon which, double x, double y, double size, const Rgba& c);
// The program's logo as a square of side 2 size centred at (x, y); from
// size 22 on it shows code text and the program's word, below it bars.
void app_logo(cairo_t* cr, double x, double y, double size);

// Writes the surface as PNG through a fresh temporary file and a rename, so
// a failed write leaves no half file; a device, FIFO, socket or folder at
// the name is refused. On failure *why gets a short English reason.
bool write_png(cairo_surface_t* surface, const std::string& path, std::string* why);

} // namespace gfx
