// The single-line text field: keys, history, the clipboard (SDL's dummy
// video driver), clicks and painting with scrolling into an image surface.
#include "textfield.h"

#include "dummy_video.h"
#include "editor_measure.h"
#include "gfx.h"
#include "palette.h"
#include "paint_canvas.h"
#include "testutil.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <cstdlib>

namespace {

using testpaint::Canvas;
using testutil::first_of;
using testutil::last_of;
using testpaint::over;

SDL_Keysym ks(SDL_Keycode sym, Uint16 mod = 0)
{
    SDL_Keysym k {};
    k.sym = sym;
    k.mod = mod;
    return k;
}

TextField field(const std::string& text, int caret, int anchor)
{
    TextField f;
    f.text = text;
    f.caret = caret;
    f.anchor = anchor;
    return f;
}

struct Case {
    const char* name;
    const char* text;
    int caret, anchor;
    SDL_Keycode sym;
    Uint16 mod;
    const char* want_text;
    int want_caret, want_anchor;
    bool want_result;
};

TEST(TextField, EditingKeys)
{
    const char* euro = "a\xE2\x82\xAC";  // a and a three-byte character
    const Case cases[] = {
        { "backspace at 0", "ab", 0, 0, SDLK_BACKSPACE, 0, "ab", 0, 0, true },
        { "backspace after a 3-byte character", euro, 4, 4, SDLK_BACKSPACE, 0, "a", 1, 1, true },
        { "backspace deletes the selection", "abcd", 1, 3, SDLK_BACKSPACE, 0, "ad", 1, 1, true },
        { "delete before a 3-byte character", euro, 1, 1, SDLK_DELETE, 0, "a", 1, 1, true },
        { "delete at the end", "ab", 2, 2, SDLK_DELETE, 0, "ab", 2, 2, true },
        { "delete the selection", "abcd", 3, 1, SDLK_DELETE, 0, "ad", 1, 1, true },
        { "shift home selects to the start", "abcd", 2, 2, SDLK_HOME, KMOD_LSHIFT, "abcd", 0, 2, true },
        { "home collapses", "abcd", 2, 3, SDLK_HOME, 0, "abcd", 0, 0, true },
        { "end", "abcd", 1, 1, SDLK_END, KMOD_RSHIFT, "abcd", 4, 1, true },
        { "right over a 3-byte character", euro, 1, 1, SDLK_RIGHT, 0, euro, 4, 4, true },
        { "left over a 3-byte character", euro, 4, 4, SDLK_LEFT, 0, euro, 1, 1, true },
        { "ctrl right to the end", "abcd", 1, 1, SDLK_RIGHT, KMOD_LCTRL, "abcd", 4, 4, true },
        { "ctrl shift left to the start", "abcd", 3, 3, SDLK_LEFT, KMOD_LCTRL | KMOD_LSHIFT, "abcd", 0, 3, true },
        { "ctrl a", "abcd", 1, 1, SDLK_a, KMOD_RCTRL, "abcd", 4, 0, true },
        { "return is the owner's", "ab", 1, 1, SDLK_RETURN, 0, "ab", 1, 1, false },
        { "other ctrl letter", "ab", 1, 1, SDLK_z, KMOD_LCTRL, "ab", 1, 1, false },
        { "plain letter", "ab", 1, 1, SDLK_q, 0, "ab", 1, 1, false },
        { "tab is the owner's", "ab", 1, 1, SDLK_TAB, 0, "ab", 1, 1, false },
    };
    for (const Case& c : cases) {
        TextField f = field(c.text, c.caret, c.anchor);
        EXPECT_EQ(f.key(ks(c.sym, c.mod), false), c.want_result) << c.name;
        EXPECT_EQ(f.text, c.want_text) << c.name;
        EXPECT_EQ(f.caret, c.want_caret) << c.name;
        EXPECT_EQ(f.anchor, c.want_anchor) << c.name;
    }
}

TEST(TextField, InputSetAndSelection)
{
    TextField f;
    EXPECT_EQ(f.hist_pos, -1);
    EXPECT_EQ(f.m_font, 13);
    f.set("hello");
    EXPECT_EQ(f.caret, 5);
    EXPECT_EQ(f.anchor, 5);
    EXPECT_FALSE(f.has_sel());
    f.anchor = 1;
    f.caret = 4;
    f.input("EL\nL");  // stored unchanged
    EXPECT_EQ(f.text, "hEL\nLo");
    EXPECT_EQ(f.caret, 5);
    EXPECT_EQ(f.anchor, 5);
    f.input(nullptr);
    EXPECT_EQ(f.text, "hEL\nLo");
    f.select_all();
    EXPECT_TRUE(f.has_sel());
    f.input("");
    EXPECT_EQ(f.text, "");
}

TEST(TextField, History)
{
    TextField f;
    EXPECT_FALSE(f.key(ks(SDLK_UP), true));
    EXPECT_FALSE(f.key(ks(SDLK_DOWN), true));
    for (const char* s : { "one", "two", "two", "", "three" }) {
        f.set(s);
        f.push_history();
    }
    ASSERT_EQ(f.history, (std::vector<std::string> { "one", "two", "three" }));
    f.set("draft");
    EXPECT_FALSE(f.key(ks(SDLK_UP), false));
    EXPECT_FALSE(f.key(ks(SDLK_DOWN), true));  // not walking
    EXPECT_TRUE(f.key(ks(SDLK_UP), true));
    EXPECT_EQ(f.text, "three");
    EXPECT_EQ(f.caret, 5);
    EXPECT_EQ(f.anchor, 5);
    f.key(ks(SDLK_UP), true);
    f.key(ks(SDLK_UP), true);
    f.key(ks(SDLK_UP), true);  // stays on the oldest
    EXPECT_EQ(f.text, "one");
    EXPECT_EQ(f.hist_pos, 0);
    EXPECT_TRUE(f.key(ks(SDLK_DOWN), true));
    EXPECT_EQ(f.text, "two");
    f.key(ks(SDLK_DOWN), true);
    EXPECT_TRUE(f.key(ks(SDLK_DOWN), true));  // past the newest: cleared
    EXPECT_EQ(f.text, "");
    EXPECT_EQ(f.hist_pos, -1);
    EXPECT_FALSE(f.key(ks(SDLK_DOWN), true));

    for (int i = 0; i < 201; ++i) {
        f.set("e" + std::to_string(i));
        f.push_history();
    }
    EXPECT_EQ(f.history.size(), 200u);
    EXPECT_EQ(first_of(f.history), "e1");
    EXPECT_EQ(last_of(f.history), "e200");
}

using TextFieldClipboard = testutil::DummyVideo;

TEST_F(TextFieldClipboard, CopyCutAndPaste)
{
    TextField f = field("hello world", 0, 5);
    EXPECT_TRUE(f.key(ks(SDLK_c, KMOD_LCTRL), false));
    EXPECT_EQ(clip(), "hello");
    EXPECT_EQ(f.text, "hello world");
    f.caret = f.anchor = 3;
    EXPECT_TRUE(f.key(ks(SDLK_c, KMOD_LCTRL), false));  // nothing selected: clipboard kept
    EXPECT_EQ(clip(), "hello");
    f.caret = 11;
    f.anchor = 6;
    EXPECT_TRUE(f.key(ks(SDLK_x, KMOD_RCTRL), false));
    EXPECT_EQ(clip(), "world");
    EXPECT_EQ(f.text, "hello ");
    EXPECT_EQ(f.caret, 6);

    SDL_SetClipboardText("a\r\nb");
    f.anchor = 0;
    EXPECT_TRUE(f.key(ks(SDLK_v, KMOD_LCTRL), false));
    EXPECT_EQ(f.text, "ab");
    EXPECT_EQ(f.caret, 2);
    SDL_SetClipboardText("");
    f.select_all();
    EXPECT_TRUE(f.key(ks(SDLK_v, KMOD_LCTRL), false));  // empty clipboard: nothing
    EXPECT_EQ(f.text, "ab");
}

// A field painted once into a canvas; its font measured the same way.
struct PaintedField {
    Canvas c { 400, 40 };
    TextField f;
    Palette pal = Palette::make(false);
    double font = 14;

    void paint(double x, double w, bool focus = true, bool caret_on = true, const std::string& prefix = {},
               const Rgba* colour = nullptr)
    {
        gfx::fill_rect(c.cr, 0, 0, c.w, c.h, pal.bg);
        f.paint(c.cr, x, 4, w, 32, pal, font, focus, caret_on, prefix, colour);
    }
    double x_of(int index)
    {
        PangoLayout* l = gfx::make_layout(c.cr, f.text, gfx::Font { font, false, f.mono });
        const double x = edmeasure::layout_x(l, index);
        g_object_unref(l);
        return x;
    }
};

TEST(TextFieldPaint, ScrollingKeepsTheCaretInside)
{
    PaintedField p;
    p.f.mono = true;
    p.f.set(std::string(80, 'w'));
    p.paint(10, 200);
    const double end = p.x_of(80);
    EXPECT_DOUBLE_EQ(p.f.scroll, end - (200 - 4));  // caret 4 pixels inside the right edge
    EXPECT_DOUBLE_EQ(p.f.m_tx, 10 - p.f.scroll);
    // Back left of the visible part: 20 pixels of text show left of it.
    p.f.caret = p.f.anchor = 30;
    p.paint(10, 200);
    EXPECT_DOUBLE_EQ(p.f.scroll, p.x_of(30) - 20);
    p.f.key(ks(SDLK_HOME), false);
    p.paint(10, 200);
    EXPECT_EQ(p.f.scroll, 0);
    // set() and history recall scroll back to the start.
    p.f.key(ks(SDLK_END), false);
    p.paint(10, 200);
    EXPECT_GT(p.f.scroll, 0);
    p.f.set("x");
    EXPECT_EQ(p.f.scroll, 0);
}

TEST(TextFieldPaint, ClicksUseTheLastPaint)
{
    PaintedField p;
    p.f.set("mov eax, 1");
    p.f.anchor = 0;
    p.paint(30, 300, true, true, "> ");
    const double tx = p.f.m_tx;
    EXPECT_GT(tx, 30);  // after the prefix
    const double a3 = p.x_of(3), a4 = p.x_of(4);
    p.f.click(tx + a3 + (a4 - a3) * 0.3, {});
    EXPECT_EQ(p.f.caret, 3);
    EXPECT_EQ(p.f.anchor, 3);
    p.f.click(tx + a3 + (a4 - a3) * 0.7, "ignored");
    EXPECT_EQ(p.f.caret, 4);
    p.f.anchor = 0;
    p.f.click(tx + 500, {});  // right of the last character: the end, no selection
    EXPECT_EQ(p.f.caret, 10);
    EXPECT_EQ(p.f.anchor, 10);
    p.f.click(0, {});
    EXPECT_EQ(p.f.caret, 0);
}

TEST(TextFieldPaint, PrefixSelectionAndCaretPixels)
{
    PaintedField p;
    p.f.mono = true;
    p.f.set("abcdefgh");
    p.f.anchor = 2;
    p.f.caret = 6;
    const Rgba red { 1, 0, 0, 1 };
    p.paint(10, 300, true, true, "#", &red);
    const double tx = p.f.m_tx;
    const int mid = 20;  // the text's middle row
    const Rgba sel = over(p.pal.select, p.pal.bg);
    EXPECT_TRUE(p.c.near(int(tx + p.x_of(3)) + 1, mid - 7, sel)) << p.c.describe(int(tx + p.x_of(3)) + 1, mid - 7);
    EXPECT_FALSE(p.c.near(int(tx + p.x_of(1)) + 1, mid - 7, sel));
    EXPECT_TRUE(p.c.near(int(tx + p.x_of(6)), mid, p.pal.caret, 30)) << p.c.describe(int(tx + p.x_of(6)), mid);
    bool prefix_red = false;
    for (int x = 10; x < int(tx) && !prefix_red; ++x)
        for (int y = 10; y < 30 && !prefix_red; ++y)
            prefix_red = p.c.near(x, y, red, 60);
    EXPECT_TRUE(prefix_red);
    // Without focus: dimmer selection and no caret.
    p.paint(10, 300, false, true, "#", &red);
    EXPECT_TRUE(p.c.near(int(tx + p.x_of(3)) + 1, mid - 7, over(p.pal.select_dim, p.pal.bg)));
    EXPECT_FALSE(p.c.near(int(tx + p.x_of(6)), mid, p.pal.caret, 30));
    // Nothing is drawn outside the rectangle, prefix included.
    p.f.set(std::string(100, 'x'));
    p.paint(10, 100);
    EXPECT_TRUE(p.c.near(115, mid, p.pal.bg, 0));
    p.f.set("abc");
    p.paint(10, 12, true, true, "a long prefix");
    for (int x = 22; x < 200; ++x)
        ASSERT_TRUE(p.c.near(x, mid, p.pal.bg, 0)) << p.c.describe(x, mid);
}

TEST(TextFieldPaint, Picture)
{
    const char* dir = getenv("QX_PNG_DIR");
    Canvas c(420, 120);
    for (bool dark : { true, false }) {
        const Palette pal = Palette::make(dark);
        const double y0 = dark ? 0 : 60;
        gfx::fill_rect(c.cr, 0, y0, 420, 60, pal.bg);
        gfx::rounded(c.cr, 10, y0 + 12, 400, 36, 7);
        gfx::set(c.cr, pal.panel);
        cairo_fill(c.cr);
        TextField f;
        f.mono = dark;
        f.set("mov rax, [rbp-8] ; field text that scrolls past the right edge");
        f.anchor = 4;
        f.caret = 7;
        f.paint(c.cr, 22, y0 + 12, 376, 36, pal, dark ? 16 : 13.5, true, true, "Find: ", nullptr);
    }
    if (dir) {
        std::string why;
        EXPECT_TRUE(gfx::write_png(c.surface, std::string(dir) + "/textfield.png", &why)) << why;
    }
}

} // namespace
