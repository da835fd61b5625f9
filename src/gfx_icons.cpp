// The vector icons of the toolbar, tabs, menus and dialogs. Each is drawn
// from offsets in units of the half-extent s around its centre, so it stays
// sharp at any size; strokes never get thinner than 1.4 pixels.
#include "gfx.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

namespace gfx {

namespace {

using Pt = std::pair<double, double>;

// Draws in pixels around a centre, taking offsets in units of s.
struct Pen {
    cairo_t* cr;
    double x, y, s;

    void move(double dx, double dy) const { cairo_move_to(cr, x + dx * s, y + dy * s); }
    void line(double dx, double dy) const { cairo_line_to(cr, x + dx * s, y + dy * s); }
    void poly(std::initializer_list<Pt> pts, bool closed) const
    {
        bool first = true;
        for (auto [dx, dy] : pts) {
            if (first)
                move(dx, dy);
            else
                line(dx, dy);
            first = false;
        }
        if (closed)
            cairo_close_path(cr);
    }
    void circle(double dx, double dy, double r) const
    {
        cairo_new_sub_path(cr);
        cairo_arc(cr, x + dx * s, y + dy * s, r * s, 0, 2 * M_PI);
    }
    void rect(double dx, double dy, double w, double h) const { cairo_rectangle(cr, x + dx * s, y + dy * s, w * s, h * s); }
    void round_rect(double dx, double dy, double w, double h, double r) const
    {
        rounded(cr, x + dx * s, y + dy * s, w * s, h * s, r * s);
    }
    void stroke() const { cairo_stroke(cr); }
    void fill() const { cairo_fill(cr); }
};

// The dot under the three stepping arrows: the line the step lands on.
void step_dot(const Pen& p)
{
    p.circle(0, 0.75, 0.2);
    p.fill();
}

void draw(const Pen& p, Icon which)
{
    switch (which) {
    case Icon::New:
        p.poly({ { -0.65, -0.85 }, { 0.2, -0.85 }, { 0.65, -0.4 }, { 0.65, 0.85 }, { -0.65, 0.85 } }, true);
        p.stroke();
        break;
    case Icon::Open:
        p.poly({ { -1, 0.7 }, { -1, -0.7 }, { -0.35, -0.7 }, { -0.15, -0.45 }, { 0.8, -0.45 }, { 0.8, -0.15 } }, false);
        p.stroke();
        p.poly({ { -1, 0.7 }, { -0.6, -0.1 }, { 1.05, -0.1 }, { 0.65, 0.7 } }, true);
        p.stroke();
        break;
    case Icon::Save:
        p.round_rect(-0.85, -0.85, 1.7, 1.7, 0.2);
        p.stroke();
        p.rect(-0.45, -0.85, 0.9, 0.55);
        p.stroke();
        p.rect(-0.5, 0.15, 1, 0.7);
        p.fill();
        break;
    case Icon::Build: {
        // A hammer, leaning: head and handle drawn upright, then turned.
        cairo_translate(p.cr, p.x, p.y);
        cairo_rotate(p.cr, -M_PI / 4);
        Pen q { p.cr, 0, 0, p.s };
        q.round_rect(-0.75, -0.95, 1.5, 0.6, 0.12);
        q.fill();
        q.rect(-0.14, -0.4, 0.28, 1.4);
        q.fill();
        break;
    }
    case Icon::Run:
        p.poly({ { -0.55, -0.8 }, { 0.85, 0 }, { -0.55, 0.8 } }, true);
        p.fill();
        break;
    case Icon::Continue:
        p.rect(-0.85, -0.75, 0.3, 1.5);
        p.fill();
        p.poly({ { -0.3, -0.8 }, { 0.975, 0 }, { -0.3, 0.8 } }, true);
        p.fill();
        break;
    case Icon::Debug:
        cairo_save(p.cr);
        cairo_translate(p.cr, p.x, p.y + 0.1 * p.s);
        cairo_scale(p.cr, 0.55 * p.s, 0.75 * p.s);
        cairo_arc(p.cr, 0, 0, 1, 0, 2 * M_PI);
        cairo_restore(p.cr);
        p.fill();
        p.circle(0, -0.75, 0.3);
        p.fill();
        for (int k = -1; k <= 1; ++k) {
            p.move(-0.5, 0.4 * k);
            p.line(-0.95, 0.5 * k - 0.1);
            p.move(0.5, 0.4 * k);
            p.line(0.95, 0.5 * k - 0.1);
        }
        p.stroke();
        break;
    case Icon::StepInto:
        step_dot(p);
        p.poly({ { 0, -1 }, { 0, 0.25 } }, false);
        p.stroke();
        p.poly({ { -0.45, -0.15 }, { 0, 0.3 }, { 0.45, -0.15 } }, false);
        p.stroke();
        break;
    case Icon::StepOver:
        step_dot(p);
        cairo_new_sub_path(p.cr);
        cairo_arc(p.cr, p.x, p.y, 0.75 * p.s, M_PI, 2 * M_PI);
        p.stroke();
        p.poly({ { 0.35, -0.15 }, { 0.75, 0.2 }, { 1.1, -0.2 } }, false);
        p.stroke();
        break;
    case Icon::StepOut:
        step_dot(p);
        p.poly({ { 0, 0.35 }, { 0, -1 } }, false);
        p.stroke();
        p.poly({ { -0.45, -0.55 }, { 0, -1 }, { 0.45, -0.55 } }, false);
        p.stroke();
        break;
    case Icon::Stop:
        p.round_rect(-0.7, -0.7, 1.4, 1.4, 0.15);
        p.fill();
        break;
    case Icon::Breakpoint:
        p.circle(0, 0, 1);
        p.fill();
        break;
    case Icon::Arrow:
        p.poly({ { -1, -0.35 }, { 0.1, -0.35 }, { 0.1, -0.8 }, { 1, 0 }, { 0.1, 0.8 }, { 0.1, 0.35 }, { -1, 0.35 } },
               true);
        p.fill();
        break;
    case Icon::Close:
        p.poly({ { -0.6, -0.6 }, { 0.6, 0.6 } }, false);
        p.poly({ { 0.6, -0.6 }, { -0.6, 0.6 } }, false);
        p.stroke();
        break;
    case Icon::Chevron:
        p.poly({ { -0.5, -0.25 }, { 0, 0.25 }, { 0.5, -0.25 } }, false);
        p.stroke();
        break;
    case Icon::Binary:
        p.round_rect(-0.9, -0.9, 1.8, 1.8, 0.2);
        p.stroke();
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col)
                if ((row + col) % 2 == 0)
                    p.rect(-0.55 + 0.4 * col, -0.55 + 0.4 * row, 0.25, 0.25);
        p.fill();
        break;
    case Icon::Gear:
        for (int k = 0; k < 8; ++k) {
            double a = k * M_PI / 4;
            p.move(0.6 * std::cos(a), 0.6 * std::sin(a));
            p.line(0.95 * std::cos(a), 0.95 * std::sin(a));
        }
        p.stroke();
        p.circle(0, 0, 0.6);
        p.stroke();
        break;
    case Icon::Search:
        p.circle(-0.2, -0.2, 0.6);
        p.stroke();
        p.poly({ { 0.25, 0.25 }, { 0.9, 0.9 } }, false);
        p.stroke();
        break;
    }
}

} // namespace

void icon(cairo_t* cr, Icon which, double x, double y, double size, const Rgba& c)
{
    cairo_save(cr);
    cairo_new_path(cr);
    set(cr, c);
    cairo_set_line_width(cr, std::max(0.18 * size, 1.4));
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    draw(Pen { cr, x, y, size }, which);
    cairo_restore(cr);
}

} // namespace gfx
