// Where a byte of a line is drawn and which byte a point hits, in the
// editor's monospace font.
#include "editor_measure.h"

#include "editor_chars.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <climits>

namespace edmeasure {

namespace {

using edchars::utf8_cont;

long units(double px) { return px > 0 ? long(px * PANGO_SCALE) : 0; }

} // namespace

double layout_x(PangoLayout* l, int index)
{
    PangoRectangle r {};
    pango_layout_index_to_pos(l, index, &r);
    return double(r.x) / PANGO_SCALE;
}

int layout_index(PangoLayout* l, const std::string& s, double x)
{
    int index = 0, trailing = 0;
    const bool inside = pango_layout_xy_to_index(l, int(std::min<long>(units(x), INT_MAX)), 0, &index, &trailing);
    const int n = int(s.size());
    if (!inside) {
        int w = 0, h = 0;
        pango_layout_get_pixel_size(l, &w, &h);
        if (x >= w)
            return n;
    }
    int i = std::clamp(index, 0, n);
    for (; trailing > 0 && i < n; --trailing) {
        ++i;
        while (i < n && utf8_cont((unsigned char)s[size_t(i)]))
            ++i;
    }
    return std::clamp(i, 0, n);
}

bool grid_byte(unsigned char c) { return c == '\t' || (c >= 0x20 && c < 0x7F); }

long grid_x_units(const std::string& s, int col, int cell)
{
    long cells = 0;
    const int n = std::min(col, int(s.size()));
    for (int i = 0; i < n; ++i) {
        const unsigned char c = (unsigned char)s[size_t(i)];
        if (!utf8_cont(c))
            cells = c == '\t' ? (cells / 8 + 1) * 8 : cells + 1;
    }
    return cells * cell;
}

int grid_index(const std::string& s, double x, int cell)
{
    // Pango's rule: a point in the right half of a character (half measured
    // in whole units) is after it.
    const long X = units(x);
    long a = 0;
    const int n = int(s.size());
    for (int i = 0; i < n;) {
        const long b = s[size_t(i)] == '\t' ? (a / (8L * cell) + 1) * 8L * cell : a + cell;
        int next = i + 1;
        while (next < n && utf8_cont((unsigned char)s[size_t(next)]))
            ++next;
        if (X < b)
            return X - a < (b - a) / 2 ? i : next;
        a = b;
        i = next;
    }
    return n;
}

} // namespace edmeasure

Editor::Measure::Measure()
{
    m_surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 4, 4);
    m_cr = cairo_create(m_surf);
}

Editor::Measure::~Measure()
{
    if (m_layout)
        g_object_unref(m_layout);
    cairo_destroy(m_cr);
    cairo_surface_destroy(m_surf);
}

void Editor::MeasureFree::operator()(Measure* m) const { delete m; }

PangoLayout* Editor::Measure::layout(const std::string& s, double font)
{
    if (m_layout && font == m_layout_font && s == m_text)
        return m_layout;
    if (m_layout)
        g_object_unref(m_layout);
    m_layout = gfx::make_layout(m_cr, s, gfx::Font { font, false, true });
    m_text = s;
    m_layout_font = font;
    return m_layout;
}

void Editor::Measure::check_grid(double font)
{
    m_grid_font = font;
    m_grid_ok = false;
    PangoLayout* l = gfx::make_layout(m_cr, "0000000000", gfx::Font { font, false, true });
    PangoRectangle logical {};
    pango_layout_get_extents(l, nullptr, &logical);
    g_object_unref(l);
    // Long lines use the cell even where the grid is not exact.
    m_cell = (logical.width + 5) / 10;
    if (logical.width <= 0 || logical.width % 10)
        return;
    // Every printable character, tabs after every count of cells, and the
    // pairs that some monospace fonts join into ligatures.
    std::string probe;
    for (int c = 0x20; c < 0x7F; ++c)
        probe.push_back(char(c));
    for (int k = 0; k < 9; ++k)
        probe += std::string(size_t(k), 'x') + "\t";
    probe += "\t\t->=>!===<=>=::ffifl//**||&&www...";
    l = gfx::make_layout(m_cr, probe, gfx::Font { font, false, true });
    bool ok = true;
    const int n = int(probe.size());
    for (int i = 0; ok && i <= n; ++i)
        ok = edmeasure::layout_x(l, i) * PANGO_SCALE == edmeasure::grid_x_units(probe, i, m_cell);
    for (int i = 0; ok && i < n; ++i) {
        const long a = edmeasure::grid_x_units(probe, i, m_cell);
        const long b = edmeasure::grid_x_units(probe, i + 1, m_cell);
        for (long X : { a, a + 1, (a + b) / 2 - 1, (a + b) / 2, (a + b) / 2 + 1, b - 1 }) {
            const double x = double(X) / PANGO_SCALE;
            if (edmeasure::layout_index(l, probe, x) != edmeasure::grid_index(probe, x, m_cell)) {
                ok = false;
                break;
            }
        }
    }
    g_object_unref(l);
    m_grid_ok = ok;
}

bool Editor::Measure::grid_exact(double font)
{
    if (font != m_grid_font)
        check_grid(font);
    return m_grid_ok;
}

bool Editor::Measure::use_grid(const std::string& s, double font)
{
    const bool exact = grid_exact(font);
    if (s.size() > edmeasure::kLongLine)
        return m_cell > 0;
    if (!exact)
        return false;
    for (char c : s)
        if (!edmeasure::grid_byte((unsigned char)c))
            return false;
    return true;
}

double Editor::Measure::x_of(const std::string& s, int col, double font)
{
    col = std::clamp(col, 0, int(s.size()));
    if (use_grid(s, font))
        return double(edmeasure::grid_x_units(s, col, m_cell)) / PANGO_SCALE;
    return edmeasure::layout_x(layout(s, font), col);
}

int Editor::Measure::index_at_x(const std::string& s, double x, double font)
{
    if (use_grid(s, font))
        return edmeasure::grid_index(s, x, m_cell);
    return edmeasure::layout_index(layout(s, font), s, x);
}
