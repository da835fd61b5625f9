#include "cli.h"
#include "gfx.h"
#include "gfx_impl.h"
#include "l10n.h"
#include "paint_canvas.h"
#include "palette.h"
#include "testutil.h"

#include <unistd.h>

#include <gtest/gtest.h>
#include <hb.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <vector>

using namespace testutil;

namespace {

// A transparent ARGB32 image with a context on it, and pixel reads.
struct Canvas : testpaint::Canvas {
    using testpaint::Canvas::Canvas;

    uint32_t px(int x, int y)
    {
        cairo_surface_flush(surface);
        auto* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        return reinterpret_cast<uint32_t*>(row)[x];
    }
    int alpha(int x, int y) { return int(px(x, y) >> 24); }
    // Un-premultiplied colour channel 16 (red), 8 (green) or 0 (blue), 0 to 255.
    int channel(int x, int y, int shift)
    {
        int a = alpha(x, y);
        return a ? int((px(x, y) >> shift) & 0xff) * 255 / a : 0;
    }
    bool near(int x, int y, const Rgba& c, int tolerance = 6)
    {
        return alpha(x, y) == 255 && std::abs(channel(x, y, 16) - int(std::lround(c.r * 255))) <= tolerance
            && std::abs(channel(x, y, 8) - int(std::lround(c.g * 255))) <= tolerance
            && std::abs(channel(x, y, 0) - int(std::lround(c.b * 255))) <= tolerance;
    }
    // Columns holding any ink in rows y0..y1; {-1, -1} when there is none.
    std::pair<int, int> ink_columns(int y0 = 0, int y1 = -1)
    {
        if (y1 < 0)
            y1 = h - 1;
        int lo = -1, hi = -1;
        for (int y = y0; y <= y1; ++y)
            for (int x = 0; x < w; ++x)
                if (alpha(x, y) > 0) {
                    if (lo < 0 || x < lo)
                        lo = x;
                    hi = std::max(hi, x);
                }
        return { lo, hi };
    }
    int ink_count()
    {
        int n = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                n += alpha(x, y) > 0;
        return n;
    }
    std::vector<uint32_t> pixels()
    {
        std::vector<uint32_t> out;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                out.push_back(px(x, y));
        return out;
    }
};

const Rgba kRed { 1, 0, 0, 1 };

} // namespace

TEST(Gfx, OnePixelLinesSnapToWholeRowsAndColumns)
{
    Canvas c(32, 32);
    gfx::hline(c.cr, 2, 10.7, 20, kRed);
    for (int x = 2; x < 22; ++x)
        EXPECT_EQ(c.alpha(x, 10), 255) << x;
    EXPECT_EQ(c.alpha(10, 9), 0);
    EXPECT_EQ(c.alpha(10, 11), 0);
    EXPECT_EQ(c.alpha(1, 10), 0);
    EXPECT_EQ(c.alpha(22, 10), 0);

    Canvas v(32, 32);
    gfx::vline(v.cr, 3.2, 5, 10, kRed);
    for (int y = 5; y < 15; ++y)
        EXPECT_EQ(v.alpha(3, y), 255) << y;
    EXPECT_EQ(v.alpha(2, 8), 0);
    EXPECT_EQ(v.alpha(4, 8), 0);
    EXPECT_EQ(v.alpha(3, 15), 0);
    EXPECT_TRUE(v.near(3, 8, kRed));
}

TEST(Gfx, RoundedRectangleCapsTheRadius)
{
    struct Case {
        double w, h, radius;
        int x, y;
        bool inside;
    };
    // Drawn at (0, 0) on a 64 x 32 image.
    const Case cases[] = {
        { 40, 20, 0, 0, 0, true },      // radius 0: square corner
        { 40, 20, 0, 39, 19, true },
        { 40, 20, 100, 1, 1, false },   // capped at 10: a capsule
        { 40, 20, 100, 3, 10, true },   // left end of the capsule
        { 40, 20, 100, 20, 0, true },   // straight top edge
        { 40, 20, 100, 38, 18, false },
        { 40, 20, 4, 0, 0, false },
        { 40, 20, 4, 5, 1, true },
    };
    for (const Case& k : cases) {
        Canvas c(64, 32);
        gfx::rounded(c.cr, 0, 0, k.w, k.h, k.radius);
        gfx::set(c.cr, kRed);
        cairo_fill(c.cr);
        EXPECT_EQ(c.alpha(k.x, k.y) > 128, k.inside) << "radius " << k.radius << " at " << k.x << "," << k.y;
        EXPECT_EQ(c.alpha(41, 10), 0);
    }
}

TEST(Gfx, TextAlignsAtItsAnchor)
{
    const gfx::Font f { 20, false, false };
    const std::string s = "Hamburg";
    struct Case {
        gfx::Align align;
        double x;
    };
    for (const Case& k : { Case { gfx::Align::Left, 10 }, Case { gfx::Align::Center, 100 }, Case { gfx::Align::Right, 190 } }) {
        Canvas c(200, 40);
        double w = gfx::text(c.cr, s, k.x, 5, kRed, f, k.align, 0);
        EXPECT_EQ(w, gfx::text_width(c.cr, s, f));
        EXPECT_GT(w, 40);
        auto [lo, hi] = c.ink_columns();
        ASSERT_GE(lo, 0);
        switch (k.align) {
        case gfx::Align::Left:
            EXPECT_GE(lo, 10);
            EXPECT_LE(lo, 14);
            break;
        case gfx::Align::Center:
            EXPECT_NEAR((lo + hi + 1) / 2.0, 100, 3);
            break;
        case gfx::Align::Right:
            EXPECT_LE(hi, 189);
            EXPECT_GE(hi, 185);
            break;
        }
        // y is the top of the line, not its baseline.
        int top = -1;
        for (int y = 0; y < 40 && top < 0; ++y)
            for (int x = 0; x < 200; ++x)
                if (c.alpha(x, y) > 0) {
                    top = y;
                    break;
                }
        EXPECT_GE(top, 5);
        EXPECT_LE(top, 5 + gfx::line_height(c.cr, f) / 2);
    }
}

TEST(Gfx, LettersOfOtherScriptsKeepTheLineOnTheSameBaseline)
{
    // Noto's CJK and Devanagari faces rise higher than the UI face: a line
    // holding them must not push its Latin letters down.
    const gfx::Font f { 20, false, false };
    auto rows_of_first_letter = [&](const std::string& s) {
        Canvas c(240, 60);
        gfx::text(c.cr, s, 4, 10, kRed, f, gfx::Align::Left, 0);
        int top = -1, bottom = -1;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 16; ++x) // the "H" alone
                if (c.alpha(x, y) > 128) {
                    top = top < 0 ? y : top;
                    bottom = y;
                }
        return std::make_pair(top, bottom);
    };
    const auto latin = rows_of_first_letter("Hx");
    ASSERT_GE(latin.first, 0);
    for (const char* mixed : { "H日本語", "Hहिन्दी", "Hالعربية" })
        EXPECT_EQ(rows_of_first_letter(mixed), latin) << mixed;
}

TEST(Gfx, LongTextEndsInAnEllipsisWithinTheLimit)
{
    const gfx::Font f { 14, false, false };
    const std::string s = "The quick brown fox jumps over the lazy dog";
    Canvas probe(10, 10);
    double full = gfx::text_width(probe.cr, s, f);
    ASSERT_GT(full, 100);

    struct Case {
        gfx::Align align;
        double x, max_w;
        double want_w; // < 0: the limit applies
    };
    const Case cases[] = {
        { gfx::Align::Left, 10, 50, -1 },
        { gfx::Align::Right, 300, 50, -1 },
        { gfx::Align::Left, 10, 0, full },
        { gfx::Align::Left, 10, -20, full },
        { gfx::Align::Left, 10, 1000, full },
    };
    for (const Case& k : cases) {
        Canvas c(400, 30);
        double w = gfx::text(c.cr, s, k.x, 2, kRed, f, k.align, k.max_w);
        auto [lo, hi] = c.ink_columns();
        double left = k.align == gfx::Align::Right ? k.x - w : k.x;
        if (k.want_w < 0) {
            EXPECT_LE(w, k.max_w);
            EXPECT_GT(w, k.max_w / 2);
            // Antialiasing may touch the pixel before the first glyph.
            EXPECT_GE(lo, left - 1);
            EXPECT_LE(hi, left + k.max_w);
        } else {
            EXPECT_EQ(w, k.want_w);
            EXPECT_GT(hi - lo, full - 6);
        }
    }
    // The cut line ends in the ellipsis character: across its width the
    // ink sits only in the rows of "\u2026" drawn alone (letters would
    // reach higher).
    Canvas cut(200, 30), dots(200, 30);
    double w = gfx::text(cut.cr, s, 10, 2, kRed, f, gfx::Align::Left, 50);
    double ew = gfx::text(dots.cr, "\u2026", 10 + w, 2, kRed, f, gfx::Align::Right, 0);
    ASSERT_GT(ew, 3);
    int dot_top = 30, dot_bottom = -1;
    double cut_ink = 0, dot_ink = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = int(10 + w - ew) + 1; x < int(10 + w); ++x) {
            if (dots.alpha(x, y) > 0) {
                dot_top = std::min(dot_top, y);
                dot_bottom = std::max(dot_bottom, y);
            }
            dot_ink += dots.alpha(x, y);
            cut_ink += cut.alpha(x, y);
        }
    ASSERT_GT(dot_ink, 0);
    for (int y = 0; y < 30; ++y)
        for (int x = int(10 + w - ew) + 1; x < int(10 + w); ++x)
            if (y < dot_top - 1 || y > dot_bottom + 1) {
                EXPECT_EQ(cut.alpha(x, y), 0) << x << "," << y;
            }
    EXPECT_GT(cut_ink, dot_ink / 3);
}

TEST(Gfx, EmptyTextDrawsAndMeasuresNothing)
{
    Canvas c(40, 40);
    EXPECT_EQ(gfx::text(c.cr, "", 5, 5, kRed, gfx::Font {}, gfx::Align::Left, 0), 0);
    EXPECT_EQ(gfx::text_width(c.cr, "", gfx::Font {}), 0);
    EXPECT_EQ(c.ink_count(), 0);
}

TEST(Gfx, MeasuresFollowTheFont)
{
    Canvas c(10, 10);
    for (double size : { 9.0, 14.0, 28.0 }) {
        double adv = gfx::mono_advance(c.cr, size);
        EXPECT_NEAR(adv * 10, gfx::text_width(c.cr, "0000000000", gfx::Font { size, false, true }), 1.0) << size;
        EXPECT_GT(adv, size * 0.4);
        EXPECT_LT(adv, size);
        EXPECT_GE(gfx::line_height(c.cr, gfx::Font { size, false, false }), size);
    }
    // Every character of the monospace font has the same advance.
    gfx::Font mono { 14, false, true };
    EXPECT_EQ(gfx::text_width(c.cr, "iiiiiiiiii", mono), gfx::text_width(c.cr, "WWWWWWWWWW", mono));
    EXPECT_GT(gfx::text_width(c.cr, "WWWW", gfx::Font { 14, true, false }),
              gfx::text_width(c.cr, "iiii", gfx::Font { 14, true, false }));
    // A layout for the caller measures like the layer's own text.
    PangoLayout* l = gfx::make_layout(c.cr, "mov eax, 1", mono);
    int lw = 0, lh = 0;
    pango_layout_get_pixel_size(l, &lw, &lh);
    EXPECT_STREQ(pango_layout_get_text(l), "mov eax, 1");
    EXPECT_EQ(lw, gfx::text_width(c.cr, "mov eax, 1", mono));
    EXPECT_EQ(lh, gfx::line_height(c.cr, mono));
    g_object_unref(l);
    EXPECT_STREQ(gfx::mono_family(), "DejaVu Sans Mono, Liberation Mono, Noto Sans Mono, Monospace");
    EXPECT_STREQ(gfx::ui_family(), "Noto Sans, Cantarell, DejaVu Sans, sans-serif");
}

TEST(Gfx, FontDescriptionsAreSharedPerHundredthOfAPixel)
{
    using gfx::detail::desc;
    // A size no other test asks for, so the first request here builds it.
    PangoFontDescription* a = desc(gfx::Font { 17.004, false, true });
    EXPECT_EQ(desc(gfx::Font { 17.001, false, true }), a);
    EXPECT_NEAR(pango_font_description_get_size(a), 17.004 * PANGO_SCALE, 1);
    EXPECT_TRUE(pango_font_description_get_size_is_absolute(a));
    EXPECT_NE(desc(gfx::Font { 14, false, true }), desc(gfx::Font { 14.5, false, true }));
    EXPECT_NE(desc(gfx::Font { 14, true, true }), desc(gfx::Font { 14, false, true }));
    EXPECT_NE(desc(gfx::Font { 14, false, false }), desc(gfx::Font { 14, false, true }));
    EXPECT_EQ(pango_font_description_get_weight(desc(gfx::Font { 12, true, false })), PANGO_WEIGHT_BOLD);
    EXPECT_EQ(pango_font_description_get_weight(desc(gfx::Font { 12, false, false })), PANGO_WEIGHT_NORMAL);
}

TEST(Gfx, HexReadsOneNumber)
{
    struct Case {
        const char* text;
        double alpha;
        Rgba want;
    };
    const Case cases[] = {
        { "#ff8000", 1, { 1, 128 / 255.0, 0, 1 } },
        { "3a5f96", 0.85, { 0x3a / 255.0, 0x5f / 255.0, 0x96 / 255.0, 0.85 } },
        { "fff", 1, { 0, 0x0f / 255.0, 1, 1 } },
        { "", 0.5, { 0, 0, 0, 0.5 } },
    };
    for (const Case& k : cases) {
        Rgba c = hex(k.text, k.alpha);
        EXPECT_DOUBLE_EQ(c.r, k.want.r) << k.text;
        EXPECT_DOUBLE_EQ(c.g, k.want.g) << k.text;
        EXPECT_DOUBLE_EQ(c.b, k.want.b) << k.text;
        EXPECT_DOUBLE_EQ(c.a, k.want.a) << k.text;
    }
}

TEST(Palette, BothThemesSetEveryColour)
{
    // The colours, in order; the size check catches one added or dropped.
    static_assert(sizeof(Palette) == alignof(Rgba) + 31 * sizeof(Rgba));
    Rgba Palette::*slots[] = {
        &Palette::bg, &Palette::panel, &Palette::panel2, &Palette::header, &Palette::border, &Palette::text,
        &Palette::dim, &Palette::faint, &Palette::accent, &Palette::accent_text, &Palette::select,
        &Palette::select_dim, &Palette::hover, &Palette::caret, &Palette::line_hl, &Palette::err, &Palette::warn,
        &Palette::ok, &Palette::pc_bg, &Palette::bp, &Palette::s_comment, &Palette::s_string, &Palette::s_number,
        &Palette::s_register, &Palette::s_mnemonic, &Palette::s_directive, &Palette::s_label, &Palette::s_macro,
        &Palette::changed, &Palette::zero, &Palette::addr,
    };
    Palette dark = Palette::make(true);
    Palette light = Palette::make(false);
    EXPECT_TRUE(dark.dark);
    EXPECT_FALSE(light.dark);
    auto same = [](const Rgba& a, const Rgba& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; };
    for (size_t i = 0; i < std::size(slots); ++i) {
        EXPECT_FALSE(same(dark.*slots[i], Rgba {})) << "dark slot " << i;
        EXPECT_FALSE(same(light.*slots[i], Rgba {})) << "light slot " << i;
        EXPECT_FALSE(same(dark.*slots[i], light.*slots[i])) << "slot " << i;
        // A slot copied by mistake shows as two equal dark colours (the
        // light theme shares white between panel and accent text).
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(same(dark.*slots[i], dark.*slots[j])) << i << " " << j;
    }
    struct Spot {
        Rgba Palette::*slot;
        bool dark;
        const char* rgb;
        double alpha;
    };
    const Spot spots[] = {
        { &Palette::hover, true, "ffffff", 0.06 },   { &Palette::hover, false, "000000", 0.05 },
        { &Palette::bg, true, "1e1f24", 1 },         { &Palette::bg, false, "f5f6f8", 1 },
        { &Palette::select, true, "3a5f96", 0.85 },  { &Palette::select_dim, false, "b9d2fb", 0.55 },
        { &Palette::pc_bg, true, "e8c547", 0.22 },   { &Palette::line_hl, false, "2463d6", 0.05 },
        { &Palette::s_mnemonic, true, "c792ea", 1 }, { &Palette::addr, false, "6f7785", 1 },
    };
    for (const Spot& k : spots) {
        const Palette& p = k.dark ? dark : light;
        EXPECT_TRUE(same(p.*k.slot, hex(k.rgb, k.alpha))) << k.rgb;
    }
}

TEST(Icons, StrokeWidthHasAFloor)
{
    // The shaft of StepInto runs straight down through the centre; a row
    // across its upper half crosses nothing else, so the coverage summed
    // along that row is the line width.
    struct Case {
        double size, width;
    };
    for (const Case& k : { Case { 4, 1.4 }, Case { 7, 1.4 }, Case { 20, 3.6 } }) {
        Canvas c(64, 64);
        gfx::icon(c.cr, gfx::Icon::StepInto, 32, 32, k.size, kRed);
        int row = int(32 - 0.6 * k.size);
        double sum = 0;
        for (int x = 0; x < 64; ++x)
            sum += c.alpha(x, row) / 255.0;
        EXPECT_NEAR(sum, k.width, 0.1) << "size " << k.size;
    }
}

TEST(Icons, EachDrawsItsOwnShapeWithinItsExtent)
{
    const double s = 20;
    std::vector<std::vector<uint32_t>> seen;
    for (int i = 0; i < gfx::kIconCount; ++i) {
        Canvas c(80, 80);
        gfx::icon(c.cr, gfx::Icon(i), 40, 40, s, kRed);
        EXPECT_GT(c.ink_count(), 40) << "icon " << i;
        // Nothing beyond 1.1 s plus half a stroke from the centre.
        double reach = 1.1 * s + 0.09 * s + 1;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 80; ++x)
                if (std::abs(x + 0.5 - 40) > reach || std::abs(y + 0.5 - 40) > reach) {
                    ASSERT_EQ(c.alpha(x, y), 0) << "icon " << i << " at " << x << "," << y;
                }
        auto px = c.pixels();
        for (size_t j = 0; j < seen.size(); ++j)
            EXPECT_NE(px, seen[j]) << "icons " << i << " and " << j << " look the same";
        seen.push_back(px);
        // The drawing leaves the context as it found it.
        EXPECT_EQ(cairo_get_line_width(c.cr), 2.0);
        EXPECT_FALSE(cairo_has_current_point(c.cr));
    }
}

namespace {

// Logo probes, in units of the half-side s from the centre.
struct LogoCanvas : Canvas {
    double s;
    explicit LogoCanvas(double size)
        : Canvas(int(2 * size + 8), int(2 * size + 8))
        , s(size)
    {
        gfx::app_logo(cr, w / 2.0, h / 2.0, s);
    }
    int at_x(double u) { return int(w / 2.0 + u * s); }
    int at_y(double u) { return int(h / 2.0 + u * s); }
    bool near_at(double ux, double uy, const Rgba& c) { return near(at_x(ux), at_y(uy), c, 10); }
    // Pixels of colour c in the band of rows uy0..uy1.
    int count_in(double uy0, double uy1, const Rgba& c)
    {
        int n = 0;
        for (int y = at_y(uy0); y <= at_y(uy1); ++y)
            for (int x = 0; x < w; ++x)
                n += near(x, y, c, 40);
        return n;
    }
    // Warm pixels (more red than blue, as the word's gold, even blended
    // into the blue-grey frame) in the band of rows uy0..uy1.
    int warm_in(double uy0, double uy1)
    {
        int n = 0;
        for (int y = at_y(uy0); y <= at_y(uy1); ++y)
            for (int x = 0; x < w; ++x)
                n += alpha(x, y) == 255 && channel(x, y, 16) > channel(x, y, 0) + 30;
        return n;
    }
};

const Rgba kWindow { 0.27, 0.31, 0.42, 1 };
const Rgba kScreen { 0.05, 0.067, 0.098, 1 };
const Rgba kWord { 0.89, 0.73, 0.38, 1 };
const Rgba kPurple { 0.78, 0.57, 1, 1 };

} // namespace

TEST(Logo, SmallFormHasBarsLargeFormHasTextAndWord)
{
    LogoCanvas small(21), large(22);
    // Corners outside the rounded tile stay transparent.
    EXPECT_EQ(small.alpha(small.at_x(-0.98), small.at_y(-0.98)), 0);
    EXPECT_EQ(large.alpha(large.at_x(-0.98), large.at_y(-0.98)), 0);
    // The screen reaches down to 0.69 s on the small form; on the large one
    // it stops at 0.5 s and the window shows beneath it.
    EXPECT_TRUE(small.near_at(-0.6, 0.6, kScreen));
    EXPECT_TRUE(large.near_at(-0.6, 0.6, kWindow));
    EXPECT_TRUE(small.near_at(0, -0.6, kScreen));
    EXPECT_TRUE(large.near_at(0, -0.6, kScreen));
    // The word only in the large form, between the screen and the frame.
    EXPECT_EQ(small.warm_in(0.52, 0.74), 0);
    EXPECT_GT(large.warm_in(0.52, 0.74), 3);
    LogoCanvas big(64);
    EXPECT_GT(big.count_in(0.52, 0.74, kWord), 20);
    // The small form's first bar is solid: a full run of its colour.
    double sw = 1.42, line1 = -0.69 + 0.36 * 1.38;
    double bar_mid = -0.71 + 0.19 * sw + 1.3 * 0.075 * sw;
    EXPECT_TRUE(small.near_at(bar_mid, line1, kPurple));
    EXPECT_GT(small.count_in(line1 - 0.02, line1 + 0.02, kPurple), 4);
}

TEST(Logo, CodeTextFitsTheScreen)
{
    // At a large size the text is scaled to about 0.76 of the screen width
    // from the code start, so it ends inside the screen.
    LogoCanvas c(128);
    double sw = 1.42 * c.s;
    double line1 = -0.69 + 0.36 * 1.19;
    int first = -1, last = -1;
    for (int y = c.at_y(line1 - 0.08); y <= c.at_y(line1 + 0.08); ++y)
        for (int x = 0; x < c.w; ++x)
            if (c.near(x, y, kPurple, 40)) {
                first = first < 0 ? x : std::min(first, x);
                last = std::max(last, x);
            }
    ASSERT_GE(first, 0);
    double code_x = c.w / 2.0 - 0.71 * c.s + 0.19 * sw;
    EXPECT_NEAR(first, code_x, 0.03 * sw);
    EXPECT_LT(last, c.w / 2.0 - 0.71 * c.s + 0.8 * sw);
}

TEST(Logo, FontSizeFitKeepsTheStartWhenNothingWasMeasured)
{
    using gfx::detail::fit_size;
    EXPECT_DOUBLE_EQ(fit_size(6.6, 100, 50), 3.3);
    EXPECT_DOUBLE_EQ(fit_size(6.6, 40, 80), 13.2);
    // No font: the text measures about nothing. Scaling by the target would
    // ask for a font thousands of pixels tall.
    EXPECT_DOUBLE_EQ(fit_size(6.6, 0, 300), 6.6);
    EXPECT_DOUBLE_EQ(fit_size(6.6, 1, 300), 6.6);
}

namespace {

struct Png {
    int width = 0, height = 0, depth = 0, colour_type = 0;
};

Png png_header(const std::string& bytes)
{
    Png p;
    if (bytes.size() < 26 || bytes.compare(1, 3, "PNG") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return p;
    auto be32 = [&](size_t at) {
        return int(uint8_t(bytes[at])) << 24 | int(uint8_t(bytes[at + 1])) << 16 | int(uint8_t(bytes[at + 2])) << 8
            | int(uint8_t(bytes[at + 3]));
    };
    p.width = be32(16);
    p.height = be32(20);
    p.depth = uint8_t(bytes[24]);
    p.colour_type = uint8_t(bytes[25]);
    return p;
}

} // namespace

TEST(RenderIcon, WritesAnRgbaPngWithTransparentCorners)
{
    TempDir dir;
    for (int size : { 1, 16, 64, 256 }) {
        std::string path = dir.file("icon" + std::to_string(size) + ".png");
        auto r = run_exe({ "--render-icon", std::to_string(size), path });
        ASSERT_EQ(r.code, 0) << r.out << r.err;
        EXPECT_EQ(r.out, "");
        Png p = png_header(read_file(path));
        EXPECT_EQ(p.width, size);
        EXPECT_EQ(p.height, size);
        EXPECT_EQ(p.depth, 8);
        // cairo stores a picture without any transparency as RGB; only the
        // single pixel of the smallest icon is wholly covered.
        EXPECT_EQ(p.colour_type, size == 1 ? 2 : 6) << "RGBA";
        EXPECT_FALSE(file_exists(path + ".tmp"));
        if (size < 16)
            continue;
        cairo_surface_t* img = cairo_image_surface_create_from_png(path.c_str());
        ASSERT_EQ(cairo_surface_status(img), CAIRO_STATUS_SUCCESS);
        auto* data = cairo_image_surface_get_data(img);
        int stride = cairo_image_surface_get_stride(img);
        auto alpha = [&](int x, int y) { return reinterpret_cast<uint32_t*>(data + y * stride)[x] >> 24; };
        EXPECT_EQ(alpha(0, 0), 0u);
        EXPECT_EQ(alpha(size - 1, size - 1), 0u);
        EXPECT_EQ(alpha(size / 2, size / 2), 255u);
        cairo_surface_destroy(img);
    }
}

TEST(RenderIcon, RefusesSizesAndUnwritablePathsWithOneLine)
{
    TempDir dir;
    for (const char* size : { "0", "-3", "4097", "32767", "99999999999", "big" }) {
        std::string path = dir.file("x.png");
        auto r = run_exe({ "--render-icon", size, path });
        EXPECT_EQ(r.code, 1) << size;
        EXPECT_NE(r.out.find("1 to 4096"), std::string::npos) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_EQ(last_of(r.out), '\n');
        EXPECT_FALSE(file_exists(path)) << size;
    }
    for (const std::string& path : { dir.file("missing/x.png"), dir.path() }) {
        auto r = run_exe({ "--render-icon", "32", path });
        EXPECT_EQ(r.code, 1) << path;
        EXPECT_EQ(r.out.rfind("cannot write " + path + " (", 0), 0u) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    }
}

TEST(RenderIcon, LargestSizeIsAccepted)
{
    TempDir dir;
    std::string path = dir.file("big.png");
    auto r = run_exe({ "--render-icon", std::to_string(kMaxIconSize), path });
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(png_header(read_file(path)).width, kMaxIconSize);
}

TEST(RenderIcon, ReplacesALinkInsteadOfWritingThroughIt)
{
    TempDir dir;
    std::string victim = dir.file("victim");
    ASSERT_TRUE(write_file(victim, "keep"));
    std::string path = dir.file("icon.png");
    ASSERT_EQ(symlink(victim.c_str(), (path + ".tmp").c_str()), 0);
    auto r = run_exe({ "--render-icon", "16", path });
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(read_file(victim), "keep");
    EXPECT_EQ(png_header(read_file(path)).width, 16);
}

TEST(RenderIcon, SetsUpFontconfigBeforeDrawing)
{
    // The loader's binding trace shows the explicit FcInit looked up in
    // fontconfig itself; Pango's own lazy call binds from pangoft2.
    TempDir dir;
    auto r = run_exe({ "--render-icon", "64", dir.file("i.png") }, { "LD_DEBUG=bindings" });
    ASSERT_EQ(r.code, 0);
    if (r.err.find("binding file") == std::string::npos)
        GTEST_SKIP() << "the dynamic loader gives no binding trace here";
    std::regex own(R"(binding file \S*libfontconfig\.so\.1 \[0\] to \S*libfontconfig\.so\.1 \[0\]: normal symbol `FcInit')");
    EXPECT_TRUE(std::regex_search(r.err, own));
}

TEST(Icons, SheetInBothThemes)
{
    // Every icon at three sizes on each theme's panel, a line of text, and
    // the logo at the sizes the desktop and the painters use.
    // QX_GFX_SHEET=<file.png> keeps the sheet, and a four-fold enlargement
    // of the icon rows beside it, for a look.
    const double sizes[] = { 5, 7, 12 };
    const int cell = 30, logos[] = { 16, 22, 64, 256 };
    const int width = 640, icons_h = 3 * cell, text_h = 24, band = icons_h + text_h + 266;
    Canvas c(width, 2 * band);
    for (int t = 0; t < 2; ++t) {
        Palette p = Palette::make(t == 0);
        double top = t * band;
        gfx::fill_rect(c.cr, 0, top, width, band, p.panel);
        for (int row = 0; row < 3; ++row)
            for (int i = 0; i < gfx::kIconCount; ++i) {
                const Rgba& colour = i == int(gfx::Icon::Breakpoint) ? p.bp : p.text;
                double cx = 10 + i * cell + cell / 2.0, cy = top + row * cell + cell / 2.0;
                gfx::icon(c.cr, gfx::Icon(i), cx, cy, sizes[row], colour);
                int hits = 0;
                for (int y = int(cy - cell / 2); y < int(cy + cell / 2); ++y)
                    for (int x = int(cx - cell / 2); x < int(cx + cell / 2); ++x)
                        hits += !c.near(x, y, p.panel, 2);
                EXPECT_GT(hits, sizes[row] * 2) << "icon " << i << " at size " << sizes[row];
            }
        double ty = top + icons_h + 4;
        double x = 10 + gfx::text(c.cr, "Build  Run  Debug ", 10, ty, p.text, gfx::Font { 13, false, false });
        x += gfx::text(c.cr, "mov", x, ty, p.s_mnemonic, gfx::Font { 14, false, true });
        x += gfx::text(c.cr, " rax", x, ty, p.s_register, gfx::Font { 14, false, true });
        x += gfx::text(c.cr, ", 60", x, ty, p.s_number, gfx::Font { 14, false, true });
        gfx::text(c.cr, " ; exit", x, ty, p.s_comment, gfx::Font { 14, false, true });
        gfx::text(c.cr, "a long status text that ends in an ellipsis", width - 10, ty, p.dim,
                  gfx::Font { 12, true, false }, gfx::Align::Right, 180);
        x = 10;
        double ly = top + icons_h + text_h + 5;
        for (int n : logos) {
            gfx::app_logo(c.cr, x + n / 2.0, ly + n / 2.0, 0.46 * n);
            x += n + 10;
        }
        for (double s : { 9.0, 30.0, 34.0 }) {
            gfx::app_logo(c.cr, x + s, ly + s, s);
            x += 2 * s + 10;
        }
        EXPECT_LE(x, width);
    }
    const char* keep = getenv("QX_GFX_SHEET");
    if (!keep)
        return;
    std::string why;
    EXPECT_TRUE(gfx::write_png(c.surface, keep, &why)) << why;
    // Enlarged pieces: each theme's icon rows in two halves, then the
    // small logos, each to its own file.
    struct Area {
        int x, y, w, h;
    };
    const int half = 9 * cell + 10;
    const Area areas[] = { { 0, 0, half, icons_h },        { half, 0, half, icons_h },
                           { 0, band, half, icons_h },     { half, band, half, icons_h },
                           { 0, icons_h + text_h, 140, 70 } };
    const int zoom = 5;
    int n = 0;
    for (const Area& a : areas) {
        Canvas z(a.w * zoom, a.h * zoom);
        cairo_scale(z.cr, zoom, zoom);
        cairo_set_source_surface(z.cr, c.surface, -a.x, -a.y);
        cairo_pattern_set_filter(cairo_get_source(z.cr), CAIRO_FILTER_NEAREST);
        cairo_paint(z.cr);
        EXPECT_TRUE(gfx::write_png(z.surface, std::string(keep) + ".zoom" + std::to_string(++n) + ".png", &why));
    }
}

namespace {

// Every key of the interface, in the order of the English file.
std::vector<std::string> interface_keys()
{
    std::vector<std::string> keys;
    std::istringstream in(read_file(source_dir() + "/i18n/en.tsv"));
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            keys.push_back(line.substr(0, line.find('\t')));
    return keys;
}

// The text as the program shows it: conversions filled with a path and a
// number, so right-to-left languages carry their isolate marks.
std::string filled(const std::string& key)
{
    std::string text = L10n::tr(key), sig;
    if (!L10n::conversions(text, &sig))
        return text;
    const std::string path = "/usr/bin/nasm";
    return sig == "s"     ? L10n::tr(key, path)
         : sig == "d"     ? L10n::tr(key, 42)
         : sig == "sd"    ? L10n::tr(key, path, 42)
         : sig == "ss"    ? L10n::tr(key, path, path)
         : sig == "sss"   ? L10n::tr(key, path, path, path)
                          : text;
}

// Clusters Pango and HarfBuzz could not set: a glyph no font has (unknown
// or glyph 0), or the dotted circle HarfBuzz puts under a vowel sign or
// mark whose letter went to another font.
std::string unshaped(PangoLayout* layout)
{
    std::string found;
    const char* text = pango_layout_get_text(layout);
    PangoLayoutIter* it = pango_layout_get_iter(layout);
    do {
        PangoLayoutRun* run = pango_layout_iter_get_run_readonly(it);
        if (!run)
            continue;
        hb_codepoint_t circle = 0;
        bool has_circle = hb_font_get_nominal_glyph(pango_font_get_hb_font(run->item->analysis.font), 0x25CC, &circle);
        for (int i = 0; i < run->glyphs->num_glyphs; ++i) {
            PangoGlyph g = run->glyphs->glyphs[i].glyph;
            const char* at = text + run->item->offset + run->glyphs->log_clusters[i];
            bool written_circle = strncmp(at, "\u25CC", 3) == 0;
            if ((g & PANGO_GLYPH_UNKNOWN_FLAG) || g == 0 || (has_circle && g == circle && !written_circle))
                found += " @" + std::to_string(at - text);
        }
    } while (pango_layout_iter_next_run(it));
    pango_layout_iter_free(it);
    return found;
}

// The left edge of the character at byte i, in Pango units.
int left_of(PangoLayout* layout, size_t i)
{
    PangoRectangle r;
    pango_layout_index_to_pos(layout, int(i), &r);
    return std::min(r.x, r.x + r.width);
}

} // namespace

// Every interface text of every language, set as the window sets it: each
// cluster finds a font that shapes it whole.
TEST(Scripts, EveryLanguageShapesEveryInterfaceText)
{
    const std::vector<std::string> keys = interface_keys();
    ASSERT_GT(keys.size(), 800u);
    Canvas c(8, 8);
    std::string problems;
    for (const auto& lang : L10n::available()) {
        L10n::setLanguage(lang.code);
        for (const auto& key : keys) {
            // The reference's long prose meets no cluster the interface and
            // its headings do not, and would take most of the time.
            if (key.rfind("ref.", 0) == 0 && key.rfind("ref.t.", 0) != 0 && key.rfind("ref.cat.", 0) != 0)
                continue;
            PangoLayout* layout = gfx::make_layout(c.cr, filled(key), gfx::Font { 13, false, false });
            std::string bad = unshaped(layout);
            g_object_unref(layout);
            if (!bad.empty())
                problems += lang.code + " " + key + bad + "\n";
        }
    }
    L10n::setLanguage("en");
    EXPECT_EQ(problems, "");
}

// The same letters take the forms the interface language's readers know:
// traditional and Japanese Han forms, Serbian and Macedonian Cyrillic,
// Nepali conjuncts.
TEST(Scripts, TheInterfaceLanguageChoosesTheLetterForms)
{
    struct Case {
        const char* text;
        const char* lang;
        const char* other;
    };
    const Case cases[] = {
        { "骨", "zh_TW", "zh" }, { "骨", "ja", "zh" }, { "б", "sr", "ru" }, { "б", "mk", "ru" }, { "ङ्ग", "ne", "hi" },
    };
    Canvas c(8, 8);
    // The fonts and glyphs the text is set in.
    auto set_as = [&](const char* text, const char* lang) {
        L10n::setLanguage(lang);
        PangoLayout* layout = gfx::make_layout(c.cr, text, gfx::Font { 13, false, false });
        std::string out;
        PangoLayoutIter* it = pango_layout_get_iter(layout);
        do {
            PangoLayoutRun* run = pango_layout_iter_get_run_readonly(it);
            if (!run)
                continue;
            PangoFontDescription* d = pango_font_describe(run->item->analysis.font);
            char* name = pango_font_description_to_string(d);
            out += name;
            g_free(name);
            pango_font_description_free(d);
            for (int i = 0; i < run->glyphs->num_glyphs; ++i)
                out += " " + std::to_string(run->glyphs->glyphs[i].glyph);
        } while (pango_layout_iter_next_run(it));
        pango_layout_iter_free(it);
        g_object_unref(layout);
        return out;
    };
    for (const Case& k : cases)
        EXPECT_NE(set_as(k.text, k.lang), set_as(k.text, k.other)) << k.text << " in " << k.lang;
    L10n::setLanguage("en");
}

// A value set into a right-to-left text keeps its own order, and the text
// around it reads right to left: what comes before the value stands right
// of it, what follows stands left of it. The marks that isolate it take no
// room (and show no box: the test above sets them too).
TEST(Scripts, ValuesKeepTheirOrderInRightToLeftTexts)
{
    struct Case {
        const char* lang;
        const char* key;
        std::string value;
    };
    const Case cases[] = {
        { "he", "settings.found", "/usr/bin/nasm" },
        { "ar", "settings.found", "/usr/bin/nasm" },
        { "he", "file.open_failed", "/home/user/my file.asm" },
        // These translations start with the value.
        { "ur", "file.open_failed", "/home/user/my file.asm" },
        { "fa", "file.not_regular", "./dev/tty 2" },
        { "ps", "dis.working", "prog.elf (ELF64, 64 bit)" },
    };
    const gfx::Font f { 13, false, false };
    Canvas c(8, 8);
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.lang) + " " + k.key);
        L10n::setLanguage(k.lang);
        const std::string text = L10n::tr(k.key, k.value);
        const size_t at = text.find(k.value), end = at + k.value.size();
        ASSERT_NE(at, std::string::npos);
        PangoLayout* layout = gfx::make_layout(c.cr, text, f);
        for (size_t i = at + 1; i < end; ++i)
            EXPECT_GT(left_of(layout, i), left_of(layout, i - 1)) << "byte " << i - at << " of the value";
        // The nearest letters of the translation on either side.
        size_t before = text.find_last_of("\xD7\xD8\xD9\xDA\xDB", at == 0 ? 0 : at - 1);
        size_t after = text.find_first_of("\xD7\xD8\xD9\xDA\xDB", end);
        ASSERT_TRUE(before < at || after != std::string::npos);
        if (before < at) {
            EXPECT_GT(left_of(layout, before), left_of(layout, end - 1));
        }
        if (after != std::string::npos) {
            EXPECT_LT(left_of(layout, after), left_of(layout, at));
        }
        for (size_t mark : { text.rfind("\u2068", at), text.find("\u2069", end) }) {
            ASSERT_NE(mark, std::string::npos);
            PangoRectangle r;
            pango_layout_index_to_pos(layout, int(mark), &r);
            EXPECT_EQ(r.width, 0) << "an isolate mark takes room";
        }
        g_object_unref(layout);
    }
    // A translation that opens with a Latin word reads right to left all
    // the same: its first word stands at the right; the log gets no mark.
    for (const char* lang : { "he", "ar", "fa", "ur", "ps" }) {
        SCOPED_TRACE(lang);
        L10n::setLanguage(lang);
        const std::string text = L10n::tr("need.nasm");
        ASSERT_EQ(L10n::plain(text).rfind("NASM", 0), 0u);
        PangoLayout* layout = gfx::make_layout(c.cr, text, f);
        EXPECT_GT(left_of(layout, text.find("NASM")), left_of(layout, text.size() - 2));
        g_object_unref(layout);
    }
    // A sign written before a translated word stays before it.
    L10n::setLanguage("ar");
    PangoLayout* add = gfx::make_layout(c.cr, "+ " + L10n::tr("watch.add"), f);
    EXPECT_GT(left_of(add, 0), left_of(add, 2));
    g_object_unref(add);
    L10n::setLanguage("en");
}
