// The program's logo: a dark tile holding an editor window with two lines of
// NASM, the current one marked. From half-side 22 on the lines are real
// text and the program's word sits under the screen; smaller, bars stand
// for the code, since text would be an unreadable smudge.
#include "gfx_impl.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace gfx {

namespace {

constexpr double kTextFrom = 22; // smallest half-side that shows text

const Rgba kMnemonic { 0.78, 0.57, 1, 1 };
const Rgba kRegister { 0.5, 0.66, 1, 1 };
const Rgba kPunct { 0.91, 0.93, 0.96, 1 };
const Rgba kNumber { 1, 0.67, 0.4, 1 };
const Rgba kMarker { 0.96, 0.78, 0.29, 1 };

struct Rect {
    double x, y, w, h;
};

// Draws the tokens one after another from x, vertically centred on mid.
void code_line(cairo_t* cr, std::initializer_list<std::pair<const char*, Rgba>> tokens, double x, double mid,
               const Font& f)
{
    double top = mid - line_height(cr, f) / 2;
    for (const auto& [word, colour] : tokens)
        x += text(cr, word, x, top, colour, f);
}

void code_text(cairo_t* cr, const Rect& scr, double line1, double line2, double s)
{
    double code_x = scr.x + 0.19 * scr.w;
    Font f { 0.3 * s, true, true };
    f.size = detail::fit_size(f.size, text_width(cr, "mov ah, 09h", f), 0.76 * scr.w);
    code_line(cr, { { "mov", kMnemonic }, { " ah", kRegister }, { ", ", kPunct }, { "09h", kNumber } }, code_x, line1,
              f);
    code_line(cr, { { "int", kMnemonic }, { " 21h", kNumber } }, code_x, line2, f);
}

void code_bars(cairo_t* cr, const Rect& scr, double line1, double line2)
{
    double code_x = scr.x + 0.19 * scr.w;
    double t = std::max(0.11 * scr.h, 1.0);
    double u = 0.075 * scr.w;
    auto bar = [&](double from, double len, double mid, const Rgba& c) {
        fill_rect(cr, code_x + from * u, mid - t / 2, len * u, t, c);
    };
    bar(0, 2.65, line1, kMnemonic);
    bar(3.4, 1.65, line1, kRegister);
    bar(6, 2.65, line1, kNumber);
    bar(0, 2.65, line2, kMnemonic);
    bar(3.4, 2.65, line2, kNumber);
}

// The program's word under the screen, with a drop shadow.
void word(cairo_t* cr, double x, double mid, double s)
{
    Font f { 0.15 * s, true, false };
    const char* name = "Ferndock";
    double w = text_width(cr, name, f);
    double widest = 0.6 * 1.56 * s;
    if (w > widest)
        f.size = detail::fit_size(f.size, w, widest);
    double top = mid - line_height(cr, f) / 2;
    text(cr, name, x + 0.012 * s, top + 0.016 * s, Rgba { 0.04, 0.05, 0.07, 1 }, f, Align::Center);
    text(cr, name, x, top, Rgba { 0.89, 0.73, 0.38, 1 }, f, Align::Center);
}

} // namespace

void app_logo(cairo_t* cr, double x, double y, double size)
{
    const double s = size;
    const bool with_text = s >= kTextFrom;
    cairo_save(cr);
    cairo_new_path(cr);

    rounded(cr, x - s, y - s, 2 * s, 2 * s, 0.4 * s);
    cairo_pattern_t* grad = cairo_pattern_create_linear(x, y - s, x, y + s);
    cairo_pattern_add_color_stop_rgb(grad, 0, 0.16, 0.2, 0.31);
    cairo_pattern_add_color_stop_rgb(grad, 1, 0.05, 0.055, 0.09);
    cairo_set_source(cr, grad);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(grad);
    cairo_set_source_rgb(cr, 0.36, 0.42, 0.59);
    cairo_set_line_width(cr, std::max(0.035 * s, 1.0));
    cairo_stroke(cr);

    Rect win { x - 0.78 * s, y - 0.76 * s, 1.56 * s, 1.52 * s };
    rounded(cr, win.x, win.y, win.w, win.h, 0.12 * s);
    set(cr, Rgba { 0.27, 0.31, 0.42, 1 });
    cairo_fill(cr);

    double inset = 0.07 * s;
    Rect scr { win.x + inset, win.y + inset, win.w - 2 * inset, win.h - (with_text ? 0.33 * s : 2 * inset) };
    rounded(cr, scr.x, scr.y, scr.w, scr.h, 0.07 * s);
    set(cr, Rgba { 0.05, 0.067, 0.098, 1 });
    cairo_fill(cr);

    double line1 = scr.y + 0.36 * scr.h;
    double line2 = scr.y + 0.7 * scr.h;
    fill_rect(cr, scr.x, line2 - 0.15 * scr.h, scr.w, 0.3 * scr.h, Rgba { 0.96, 0.78, 0.29, 0.2 });
    set(cr, kMarker);
    cairo_move_to(cr, scr.x + 0.05 * scr.w, line2 - 0.08 * scr.h);
    cairo_line_to(cr, scr.x + 0.15 * scr.w, line2);
    cairo_line_to(cr, scr.x + 0.05 * scr.w, line2 + 0.08 * scr.h);
    cairo_close_path(cr);
    cairo_fill(cr);

    if (with_text) {
        code_text(cr, scr, line1, line2, s);
        double below = scr.y + scr.h;
        word(cr, x, (below + win.y + win.h) / 2, s);
    } else {
        code_bars(cr, scr, line1, line2);
    }
    cairo_restore(cr);
}

} // namespace gfx
