// Text through Pango: font descriptions, layouts, drawing and measuring.
#include "gfx_impl.h"

#include "l10n.h"

#include <pango/pangocairo.h>

#include <cstdint>
#include <map>

namespace gfx {

namespace {

const char* kMonoFamily = "DejaVu Sans Mono, Liberation Mono, Noto Sans Mono, Monospace";
const char* kUiFamily = "Noto Sans, Cantarell, DejaVu Sans, sans-serif";

// Sizes that agree to 1/100 pixel share a key.
int64_t font_key(const Font& f)
{
    return int64_t(f.size * 100) * 4 + (f.bold ? 1 : 0) + (f.mono ? 2 : 0);
}

// The interface language's tag for Pango: font fallback and shaping follow
// it, so a Tamil vowel sign is set in the font of its consonant and Chinese,
// Serbian or Nepali letters take the forms their readers expect.
PangoLanguage* text_language()
{
    static const char* tag = nullptr;
    static PangoLanguage* language = nullptr;
    const char* now = L10n::languageTag();
    if (now != tag) {
        tag = now;
        language = pango_language_from_string(tag);
    }
    return language;
}

PangoLayout* new_layout(cairo_t* cr, const std::string& s, const Font& f)
{
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoContext* context = pango_layout_get_context(layout);
    pango_context_set_language(context, text_language());
    if (s.find('\n') == std::string::npos) {
        // One paragraph takes the direction of its first strong letter
        // outside isolates, so a translation that starts with a path stays
        // right to left. A right-to-left paragraph wrapped at a width lines
        // up at the right, as Pango's own guess would put it.
        PangoDirection dir = detail::first_strong(s);
        bool rtl = dir == PANGO_DIRECTION_RTL;
        pango_layout_set_auto_dir(layout, FALSE);
        pango_context_set_base_dir(context, rtl ? PANGO_DIRECTION_RTL : PANGO_DIRECTION_LTR);
        pango_layout_set_alignment(layout, rtl ? PANGO_ALIGN_RIGHT : PANGO_ALIGN_LEFT);
    }
    pango_layout_set_font_description(layout, detail::desc(f));
    pango_layout_set_text(layout, s.data(), int(s.size()));
    return layout;
}

// The baseline of a line in the font's own letters, per font.
double ui_baseline(cairo_t* cr, const Font& f)
{
    static std::map<int64_t, double> cache;
    int64_t key = font_key(f);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    PangoLayout* layout = new_layout(cr, "Ag", f);
    double baseline = pango_layout_get_baseline(layout) / double(PANGO_SCALE);
    g_object_unref(layout);
    cache.emplace(key, baseline);
    return baseline;
}

} // namespace

namespace detail {

PangoDirection first_strong(const std::string& s)
{
    switch (L10n::firstStrong(s)) {
    case L10n::Direction::LeftToRight:
        return PANGO_DIRECTION_LTR;
    case L10n::Direction::RightToLeft:
        return PANGO_DIRECTION_RTL;
    case L10n::Direction::Neutral:
        break;
    }
    return PANGO_DIRECTION_NEUTRAL;
}

PangoFontDescription* desc(const Font& f)
{
    // Never emptied: the painters ask for a handful of fonts, and each lives
    // as long as the process.
    static std::map<int64_t, PangoFontDescription*> cache;
    int64_t key = font_key(f);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, f.mono ? kMonoFamily : kUiFamily);
    pango_font_description_set_absolute_size(d, f.size * PANGO_SCALE);
    pango_font_description_set_weight(d, f.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    cache.emplace(key, d);
    return d;
}

double fit_size(double start, double measured, double target)
{
    if (measured <= 1)
        return start;
    return start * target / measured;
}

} // namespace detail

const char* mono_family() { return kMonoFamily; }
const char* ui_family() { return kUiFamily; }

PangoLayout* make_layout(cairo_t* cr, const std::string& s, const Font& f)
{
    return new_layout(cr, s, f);
}

double text(cairo_t* cr, const std::string& s, double x, double y, const Rgba& c, const Font& f, Align align,
            double max_w)
{
    if (s.empty())
        return 0;
    PangoLayout* layout = new_layout(cr, s, f);
    if (max_w > 0) {
        // With a width set, a right-to-left line would sit at the far end of
        // the box instead of at x.
        pango_layout_set_auto_dir(layout, FALSE);
        pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT);
        pango_layout_set_width(layout, int(max_w * PANGO_SCALE));
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    }
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    if (align == Align::Center)
        x -= w / 2.0;
    else if (align == Align::Right)
        x -= w;
    // A line set in a fallback font with a taller ascent (CJK, Devanagari)
    // would sit lower than the same line in Latin letters: keep its
    // baseline where the UI font puts it.
    if (s.find('\n') == std::string::npos) {
        double shift = ui_baseline(cr, f) - pango_layout_get_baseline(layout) / double(PANGO_SCALE);
        if (shift < 0)
            y += shift;
    }
    set(cr, c);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    return w;
}

double text_width(cairo_t* cr, const std::string& s, const Font& f)
{
    if (s.empty())
        return 0;
    PangoLayout* layout = new_layout(cr, s, f);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    g_object_unref(layout);
    return w;
}

double line_height(cairo_t* cr, const Font& f)
{
    PangoLayout* layout = new_layout(cr, "Ag", f);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    g_object_unref(layout);
    return h;
}

double mono_advance(cairo_t* cr, double size)
{
    PangoLayout* layout = new_layout(cr, "0000000000", Font { size, false, true });
    PangoRectangle logical {};
    pango_layout_get_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    return double(logical.width) / PANGO_SCALE / 10.0;
}

} // namespace gfx
