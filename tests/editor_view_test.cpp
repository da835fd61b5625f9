// The editor's keys, mouse, view and painting, without a window: key events
// are synthesized, the editor paints into an image surface, and mouse
// positions are computed from the line height and advance it measured.
#include "editor.h"
#include "editor_measure.h"
#include "palette.h"
#include "paint_canvas.h"
#include "testutil.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <cstdlib>
#include <functional>
#include <random>

namespace {

using Pos = Editor::Pos;
using testutil::first_of;
using testutil::last_of;
using testpaint::Canvas;
using testpaint::over;

constexpr double kFont = 14;

SDL_Keysym ks(SDL_Keycode sym, Uint16 mod = 0)
{
    SDL_Keysym k {};
    k.sym = sym;
    k.mod = mod;
    return k;
}

// An editor painted once into a canvas, so its geometry is known.
struct Painted {
    Canvas c;
    Editor e;
    Palette pal = Palette::make(true);
    double lh = 0, adv = 0, gutter = 0, x0 = 0;

    explicit Painted(const std::string& text, int w = 600, int h = 400)
        : c(w, h)
    {
        e.set_text(text);
        paint();
    }
    void paint(bool focus = true, bool caret_on = true)
    {
        e.paint(c.cr, 0, 0, c.w, c.h, pal, kFont, focus, caret_on);
        lh = e.line_height_px();
        adv = gfx::mono_advance(c.cr, kFont);
        gutter = e.gutter_width();
        x0 = gutter + 8 - e.scroll_x();
    }
    // Window point of column col (a fraction allowed) on the visible row.
    double col_x(double col) const { return x0 + col * adv; }
    double row_y(int row) const { return (row + 0.5) * lh; }
    bool key(SDL_Keycode sym, Uint16 mod = 0) { return e.key(ks(sym, mod)); }
};

// ------------------------------------------------------------------ keys

struct KeyCase {
    const char* name;
    const char* text;
    Pos caret;
    std::vector<std::pair<SDL_Keycode, Uint16>> keys;
    const char* want_text;  // null: unchanged
    Pos want_caret;
    Pos want_anchor;
    bool want_result = true;
};

TEST(EditorKeys, Bindings)
{
    const KeyCase cases[] = {
        { "tab on an empty line", "\n", { 0, 0 }, { { SDLK_TAB, 0 } }, "    \n", { 0, 4 }, { 0, 4 } },
        { "tab after a tab and two letters", "\tab\n", { 0, 3 }, { { SDLK_TAB, 0 } }, "\tab  \n", { 0, 5 }, { 0, 5 } },
        { "tab at column 1", "x\n", { 0, 1 }, { { SDLK_TAB, 0 } }, "x   \n", { 0, 4 }, { 0, 4 } },
        { "shift tab outdents", "    ab\n", { 0, 6 }, { { SDLK_TAB, KMOD_LSHIFT } }, "ab\n", { 0, 2 }, { 0, 2 } },
        { "home to the indentation", "    mov\n", { 0, 6 }, { { SDLK_HOME, 0 } }, nullptr, { 0, 4 }, { 0, 4 } },
        { "home twice to column 0", "    mov\n", { 0, 6 }, { { SDLK_HOME, 0 }, { SDLK_HOME, 0 } }, nullptr, { 0, 0 }, { 0, 0 } },
        { "home thrice back", "    mov\n", { 0, 6 }, { { SDLK_HOME, 0 }, { SDLK_HOME, 0 }, { SDLK_HOME, 0 } }, nullptr, { 0, 4 }, { 0, 4 } },
        { "shift end selects", "abc\n", { 0, 1 }, { { SDLK_END, KMOD_LSHIFT } }, nullptr, { 0, 3 }, { 0, 1 } },
        { "ctrl end", "a\nbc\n", { 0, 0 }, { { SDLK_END, KMOD_RCTRL } }, nullptr, { 2, 0 }, { 2, 0 } },
        { "ctrl home", "a\nbc", { 1, 2 }, { { SDLK_HOME, KMOD_LCTRL } }, nullptr, { 0, 0 }, { 0, 0 } },
        { "right over a multi-byte character", "\xC3\xA9x", { 0, 0 }, { { SDLK_RIGHT, 0 } }, nullptr, { 0, 2 }, { 0, 2 } },
        { "left over a multi-byte character", "x\xE2\x82\xAC", { 0, 4 }, { { SDLK_LEFT, 0 } }, nullptr, { 0, 1 }, { 0, 1 } },
        { "right at a line end", "ab\ncd", { 0, 2 }, { { SDLK_RIGHT, 0 } }, nullptr, { 1, 0 }, { 1, 0 } },
        { "right at the text end", "ab", { 0, 2 }, { { SDLK_RIGHT, 0 } }, nullptr, { 0, 2 }, { 0, 2 } },
        { "left at column 0", "ab\ncd", { 1, 0 }, { { SDLK_LEFT, 0 } }, nullptr, { 0, 2 }, { 0, 2 } },
        { "right collapses a selection", "abcdef", { 0, 1 },
          { { SDLK_RIGHT, KMOD_LSHIFT }, { SDLK_RIGHT, KMOD_LSHIFT }, { SDLK_RIGHT, 0 } }, nullptr, { 0, 3 }, { 0, 3 } },
        { "left collapses a selection", "abcdef", { 0, 1 },
          { { SDLK_RIGHT, KMOD_LSHIFT }, { SDLK_RIGHT, KMOD_LSHIFT }, { SDLK_LEFT, 0 } }, nullptr, { 0, 1 }, { 0, 1 } },
        { "ctrl right to the next word", "mov eax, ebx", { 0, 1 }, { { SDLK_RIGHT, KMOD_LCTRL } }, nullptr, { 0, 4 }, { 0, 4 } },
        { "ctrl right at a line end", "mov\nx", { 0, 3 }, { { SDLK_RIGHT, KMOD_LCTRL } }, nullptr, { 1, 0 }, { 1, 0 } },
        { "ctrl left to the word start", "mov eax, ebx", { 0, 9 }, { { SDLK_LEFT, KMOD_LCTRL } }, nullptr, { 0, 4 }, { 0, 4 } },
        { "ctrl left at column 0", "mov\nx", { 1, 0 }, { { SDLK_LEFT, KMOD_LCTRL } }, nullptr, { 0, 3 }, { 0, 3 } },
        { "return keeps the indentation", "  ab", { 0, 3 }, { { SDLK_RETURN, 0 } }, "  a\n  b\n", { 1, 2 }, { 1, 2 } },
        { "keypad enter", "ab", { 0, 1 }, { { SDLK_KP_ENTER, 0 } }, "a\nb\n", { 1, 0 }, { 1, 0 } },
        { "backspace", "ab", { 0, 2 }, { { SDLK_BACKSPACE, KMOD_LCTRL } }, "a\n", { 0, 1 }, { 0, 1 } },
        { "delete", "ab", { 0, 0 }, { { SDLK_DELETE, 0 } }, "b\n", { 0, 0 }, { 0, 0 } },
        { "comment toggle", "mov\nret", { 0, 0 }, { { SDLK_SLASH, KMOD_LCTRL } }, "; mov\nret\n", { 0, 0 }, { 0, 0 } },
        { "duplicate", "a\nb", { 0, 0 }, { { SDLK_d, KMOD_LCTRL } }, "a\na\nb\n", { 2, 0 }, { 1, 0 } },
        { "ctrl shift k deletes lines", "a\nb\nc", { 1, 0 }, { { SDLK_k, KMOD_LCTRL | KMOD_LSHIFT } }, "a\nc\n", { 1, 0 }, { 1, 0 } },
        { "ctrl alt shift k deletes lines", "a\nb\nc", { 1, 0 }, { { SDLK_k, KMOD_LCTRL | KMOD_LSHIFT | KMOD_LALT } }, "a\nc\n", { 1, 0 }, { 1, 0 } },
        { "ctrl k is left to the window", "a\nb", { 1, 0 }, { { SDLK_k, KMOD_LCTRL } }, nullptr, { 1, 0 }, { 1, 0 }, false },
        { "alt up moves the line", "a\nb\nc", { 2, 0 }, { { SDLK_UP, KMOD_LALT } }, "a\nc\nb\n", { 1, 0 }, { 1, 0 } },
        { "alt down moves the line", "a\nb\nc", { 0, 0 }, { { SDLK_DOWN, KMOD_RALT | KMOD_LCTRL } }, "b\na\nc\n", { 1, 0 }, { 1, 0 } },
        { "ctrl a selects all", "ab\ncd", { 0, 1 }, { { SDLK_a, KMOD_LCTRL } }, nullptr, { 1, 2 }, { 0, 0 } },
        { "printable keys go to text input", "ab", { 0, 1 }, { { SDLK_a, 0 } }, nullptr, { 0, 1 }, { 0, 1 }, false },
        { "unknown ctrl key", "ab", { 0, 1 }, { { SDLK_q, KMOD_LCTRL } }, nullptr, { 0, 1 }, { 0, 1 }, false },
        { "undo and redo", "ab", { 0, 2 }, { { SDLK_BACKSPACE, 0 }, { SDLK_z, KMOD_LCTRL }, { SDLK_z, KMOD_LCTRL | KMOD_LSHIFT } }, "a\n", { 0, 1 }, { 0, 1 } },
        { "ctrl y redoes", "ab", { 0, 2 }, { { SDLK_BACKSPACE, 0 }, { SDLK_z, KMOD_LCTRL }, { SDLK_y, KMOD_LCTRL } }, "a\n", { 0, 1 }, { 0, 1 } },
    };
    for (const KeyCase& k : cases) {
        Painted p(k.text);
        p.e.set_view(k.caret.line, k.caret.col, 0);
        const std::string before = p.e.text();
        bool r = false;
        for (auto [sym, mod] : k.keys)
            r = p.key(sym, mod);
        EXPECT_EQ(r, k.want_result) << k.name;
        EXPECT_EQ(p.e.text(), k.want_text ? std::string(k.want_text) : before) << k.name;
        EXPECT_EQ(p.e.caret(), k.want_caret) << k.name << " caret " << p.e.caret().line << ":" << p.e.caret().col;
        EXPECT_EQ(p.e.anchor(), k.want_anchor) << k.name << " anchor " << p.e.anchor().line << ":" << p.e.anchor().col;
    }
}

TEST(EditorKeys, DeleteLinesKeyIsRecognisedBeforeCtrlK)
{
    // The window's own Ctrl+K binding asks this first, so Ctrl+Shift+K
    // still reaches the editor.
    EXPECT_TRUE(Editor::is_delete_lines_key(ks(SDLK_k, KMOD_LCTRL | KMOD_RSHIFT)));
    EXPECT_TRUE(Editor::is_delete_lines_key(ks(SDLK_k, KMOD_RCTRL | KMOD_LSHIFT | KMOD_LALT)));
    EXPECT_FALSE(Editor::is_delete_lines_key(ks(SDLK_k, KMOD_LCTRL)));
    EXPECT_FALSE(Editor::is_delete_lines_key(ks(SDLK_k, KMOD_LSHIFT)));
    EXPECT_FALSE(Editor::is_delete_lines_key(ks(SDLK_j, KMOD_LCTRL | KMOD_LSHIFT)));
}

TEST(EditorKeys, VerticalMovesKeepTheColumn)
{
    Painted p("0123456789\nab\n0123456789\n");
    p.e.set_view(0, 8, 0);
    p.key(SDLK_DOWN);
    EXPECT_EQ(p.e.caret(), (Pos { 1, 2 }));
    p.key(SDLK_DOWN);
    EXPECT_EQ(p.e.caret(), (Pos { 2, 8 }));
    p.key(SDLK_UP, KMOD_LSHIFT);
    EXPECT_EQ(p.e.caret(), (Pos { 1, 2 }));
    EXPECT_EQ(p.e.anchor(), (Pos { 2, 8 }));
    // A horizontal move forgets the remembered x.
    p.key(SDLK_LEFT);
    p.key(SDLK_LEFT);
    p.key(SDLK_DOWN);
    EXPECT_EQ(p.e.caret(), (Pos { 2, 1 }));
}

TEST(EditorKeys, PagesAndViewScrolling)
{
    std::string t;
    for (int i = 0; i < 200; ++i)
        t += "line " + std::to_string(i) + "\n";
    Painted p(t);
    const int v = int(400 / p.lh);
    p.key(SDLK_PAGEDOWN);
    EXPECT_EQ(p.e.caret().line, v - 1);
    EXPECT_EQ(p.e.scroll_line(), 0);
    p.key(SDLK_PAGEDOWN, KMOD_LSHIFT);
    EXPECT_EQ(p.e.caret().line, 2 * (v - 1));
    EXPECT_EQ(p.e.anchor().line, v - 1);
    EXPECT_EQ(p.e.scroll_line(), 2 * (v - 1) - v + 1);  // caret on the last visible row
    p.key(SDLK_PAGEUP);
    EXPECT_EQ(p.e.caret().line, v - 1);
    // Ctrl+Up and Ctrl+Down move the view three lines and not the caret.
    const int top = p.e.scroll_line();
    p.key(SDLK_DOWN, KMOD_LCTRL);
    EXPECT_EQ(p.e.scroll_line(), top + 3);
    p.key(SDLK_UP, KMOD_RCTRL);
    EXPECT_EQ(p.e.scroll_line(), top);
    EXPECT_EQ(p.e.caret().line, v - 1);
    // The wheel stops at the first line and with the last line at the top.
    p.e.wheel(100);
    EXPECT_EQ(p.e.scroll_line(), 0);
    p.e.wheel(1);
    EXPECT_EQ(p.e.scroll_line(), 0);
    p.e.wheel(-1000);
    EXPECT_EQ(p.e.scroll_line(), p.e.line_count() - 1);
    p.e.wheel(0.4);  // 1.2 lines round to one
    EXPECT_EQ(p.e.scroll_line(), p.e.line_count() - 2);
}

TEST(EditorKeys, HorizontalScrollFollowsTheCaret)
{
    Painted p(std::string(300, 'x') + "\nshort\n");
    p.key(SDLK_END);
    const double room = 600 - p.gutter - 16;
    const double cx = 300 * p.adv;
    EXPECT_DOUBLE_EQ(p.e.scroll_x(), cx - room + 40);
    p.key(SDLK_HOME);
    EXPECT_DOUBLE_EQ(p.e.scroll_x(), 0);
}

TEST(EditorKeys, KeyboardBlockSelection)
{
    Painted p("abcdef\nabcdef\nab");
    p.e.set_view(0, 1, 0);
    for (int i = 0; i < 3; ++i)
        p.key(SDLK_RIGHT, KMOD_LALT | KMOD_LSHIFT);
    EXPECT_TRUE(p.e.has_block());
    EXPECT_EQ(p.e.block_text(), "bcd");
    EXPECT_EQ(p.e.caret(), (Pos { 0, 4 }));
    p.e.text_input("X");
    EXPECT_EQ(p.e.text(), "aXef\nabcdef\nab\n");
    EXPECT_TRUE(p.e.has_block());

    // Down twice, then a letter key keeps block mode and the typed text goes
    // into every row; an arrow without Alt and Shift leaves it.
    p.key(SDLK_DOWN, KMOD_LALT | KMOD_LSHIFT);
    p.key(SDLK_DOWN, KMOD_LALT | KMOD_LSHIFT);
    p.key(SDLK_DOWN, KMOD_LALT | KMOD_LSHIFT);  // no line below: stays
    EXPECT_FALSE(p.key(SDLK_q));
    EXPECT_FALSE(p.key(SDLK_LSHIFT, KMOD_LSHIFT));
    EXPECT_TRUE(p.e.has_block());
    p.e.text_input("-");
    EXPECT_EQ(p.e.text(), "aX-ef\nab-cdef\nab-\n");
    p.key(SDLK_c, KMOD_LCTRL);  // keeps block mode
    EXPECT_TRUE(p.e.has_block());
    p.key(SDLK_LEFT, KMOD_LALT | KMOD_LSHIFT);
    EXPECT_TRUE(p.e.has_block());
    EXPECT_EQ(p.e.block_text(), "-\n-\n-");
    p.key(SDLK_RIGHT);
    EXPECT_FALSE(p.e.has_block());
}

// ------------------------------------------------------------------ mouse

TEST(EditorMouse, ClicksLandOnCharacterHalves)
{
    Painted p("mov eax, 1\nxor ebx, ebx\n");
    EXPECT_EQ(p.e.mouse_down(p.col_x(3.3), p.row_y(1), false, 1, false), -1);
    EXPECT_EQ(p.e.caret(), (Pos { 1, 3 }));
    p.e.mouse_up();
    p.e.mouse_down(p.col_x(3.7), p.row_y(1), false, 1, false);
    EXPECT_EQ(p.e.caret(), (Pos { 1, 4 }));
    // Beyond the end of the line and below the last line.
    p.e.mouse_down(p.col_x(40), p.row_y(5), false, 1, false);
    EXPECT_EQ(p.e.caret(), (Pos { 2, 0 }));
    p.e.mouse_down(p.col_x(40), p.row_y(0), false, 1, false);
    EXPECT_EQ(p.e.caret(), (Pos { 0, 10 }));
    // Shift extends from the anchor; a drag moves the caret.
    p.e.mouse_down(p.col_x(1), p.row_y(0), false, 1, false);
    p.e.mouse_down(p.col_x(5), p.row_y(1), true, 1, false);
    EXPECT_EQ(p.e.anchor(), (Pos { 0, 1 }));
    EXPECT_EQ(p.e.caret(), (Pos { 1, 5 }));
    p.e.mouse_drag(p.col_x(2), p.row_y(1));
    EXPECT_EQ(p.e.caret(), (Pos { 1, 2 }));
    EXPECT_TRUE(p.e.dragging());
    p.e.mouse_up();
    EXPECT_FALSE(p.e.dragging());
    p.e.mouse_drag(p.col_x(8), p.row_y(1));
    EXPECT_EQ(p.e.caret(), (Pos { 1, 2 }));  // no drag in progress
}

TEST(EditorMouse, BreakpointStripWordsAndLines)
{
    Painted p("start: mov eax, 1\n  db 'x'\nlast line");
    p.e.set_view(0, 2, 0);
    EXPECT_EQ(p.e.mouse_down(5, p.row_y(1), false, 1, false), 1);
    EXPECT_EQ(p.e.caret(), (Pos { 0, 2 }));
    EXPECT_FALSE(p.e.dragging());

    p.e.mouse_down(p.col_x(12.5), p.row_y(0), false, 2, false);
    EXPECT_EQ(p.e.selected_text(), "eax");
    EXPECT_FALSE(p.e.dragging());
    p.e.mouse_down(p.col_x(1), p.row_y(0), false, 3, false);
    EXPECT_EQ(p.e.anchor(), (Pos { 0, 0 }));
    EXPECT_EQ(p.e.caret(), (Pos { 1, 0 }));
    p.e.mouse_down(p.col_x(1), p.row_y(2), false, 3, false);
    EXPECT_EQ(p.e.caret(), (Pos { 2, 9 }));

    // A drag in the line-number gutter selects whole lines, either way.
    p.e.mouse_down(p.gutter - 4, p.row_y(1), false, 1, false);
    EXPECT_EQ(p.e.selected_text(), "  db 'x'\n");
    p.e.mouse_drag(p.gutter - 4, p.row_y(0));
    EXPECT_EQ(p.e.anchor(), (Pos { 2, 0 }));
    EXPECT_EQ(p.e.caret(), (Pos { 0, 0 }));
    p.e.mouse_drag(p.gutter - 4, p.row_y(2));
    EXPECT_EQ(p.e.anchor(), (Pos { 1, 0 }));
    EXPECT_EQ(p.e.caret(), (Pos { 2, 9 }));
    p.e.mouse_up();
    // Shift with a selection keeps the earlier anchor line.
    p.e.mouse_down(p.gutter - 4, p.row_y(0), true, 1, false);
    EXPECT_EQ(p.e.anchor(), (Pos { 2, 0 }));
    EXPECT_EQ(p.e.caret(), (Pos { 0, 0 }));
    p.e.mouse_up();

    EXPECT_TRUE(p.e.selection_contains(p.col_x(3), p.row_y(1)));
    EXPECT_FALSE(p.e.selection_contains(p.col_x(3), p.row_y(2)));
    EXPECT_EQ(p.e.word_at(p.col_x(8.5), p.row_y(0)), "mov");
    EXPECT_EQ(p.e.word_at(p.gutter - 2, p.row_y(0)), "");
    EXPECT_EQ(p.e.word_at(p.col_x(6.2), p.row_y(0)), "");
    EXPECT_EQ(p.e.word_at(p.col_x(20), p.row_y(0)), "1");  // past the end: the last word
    EXPECT_EQ(p.e.line_at_y(-50), 0);
    EXPECT_EQ(p.e.line_at_y(p.row_y(40)), 2);
}

TEST(EditorMouse, WordInCommentAndDoubleClickOverUtf8)
{
    Painted p("mov eax, 1 ; see rax\ncaf\xC3\xA9_x y\n");
    EXPECT_EQ(p.e.word_at(p.col_x(17.5), p.row_y(0)), "");
    EXPECT_EQ(p.e.word_at(p.col_x(5.5), p.row_y(0)), "eax");
    p.e.mouse_down(p.col_x(1), p.row_y(1), false, 2, false);
    EXPECT_EQ(p.e.selected_text(), "caf\xC3\xA9_x");
}

TEST(EditorMouse, DragOutsideScrollsAndAltDragMakesABlock)
{
    std::string t;
    for (int i = 0; i < 100; ++i)
        t += "row" + std::to_string(i) + " text\n";
    Painted p(t, 600, 200);
    p.e.set_view(50, 0, 45);
    p.e.mouse_down(p.col_x(2), p.row_y(2), false, 1, false);
    EXPECT_EQ(p.e.caret(), (Pos { 47, 2 }));
    p.e.mouse_drag(p.col_x(1), -5);
    EXPECT_EQ(p.e.scroll_line(), 44);
    EXPECT_EQ(p.e.caret(), (Pos { 43, 1 }));  // the row above the first
    p.e.mouse_drag(p.col_x(1), -5);
    EXPECT_EQ(p.e.scroll_line(), 43);
    EXPECT_EQ(p.e.caret(), (Pos { 42, 1 }));
    EXPECT_EQ(p.e.anchor(), (Pos { 47, 2 }));
    p.e.mouse_drag(p.col_x(1), 250);
    EXPECT_EQ(p.e.scroll_line(), 44);
    p.e.mouse_up();

    p.e.set_view(0, 0, 0);
    p.e.mouse_down(p.col_x(1), p.row_y(0), false, 1, true);
    EXPECT_TRUE(p.e.has_block());
    p.e.mouse_drag(p.col_x(3), p.row_y(2));
    p.e.mouse_up();
    EXPECT_EQ(p.e.block_text(), "ow\now\now");
    EXPECT_TRUE(p.e.selection_contains(p.col_x(2), p.row_y(1)));
    EXPECT_FALSE(p.e.selection_contains(p.col_x(4), p.row_y(1)));
    EXPECT_FALSE(p.e.selection_contains(p.col_x(2), p.row_y(3)));
    // Every click leaves block mode.
    p.e.mouse_down(5, p.row_y(0), false, 1, false);
    EXPECT_FALSE(p.e.has_block());
}

// ------------------------------------------------------------------ measuring

TEST(EditorMeasure, GridAgreesWithPangoLayouts)
{
    // The character grid may stand in for Pango only where it gives the
    // same numbers; compare both on random lines at several sizes.
    Editor::Measure m;
    std::mt19937 rng(7);
    const std::string alphabet = "abcxyzABC0123 \t\t;,.[]+-*/:'\"_$%";
    for (double font : { 14.0, 13.5, 12.5, 16.0, 11.0 }) {
        m.grid_exact(font);
        for (int round = 0; round < 40; ++round) {
            std::string s;
            const int len = int(rng() % 60);
            for (int i = 0; i < len; ++i)
                s.push_back(alphabet[rng() % alphabet.size()]);
            PangoLayout* l = gfx::make_layout(m.cr(), s, gfx::Font { font, false, true });
            for (int col = 0; col <= len; ++col)
                ASSERT_EQ(m.x_of(s, col, font), edmeasure::layout_x(l, col)) << font << " '" << s << "' " << col;
            int w = 0, h = 0;
            pango_layout_get_pixel_size(l, &w, &h);
            for (double x = 0; x < w + 20; x += 0.37)
                ASSERT_EQ(m.index_at_x(s, x, font), edmeasure::layout_index(l, s, x)) << font << " '" << s << "' " << x;
            g_object_unref(l);
        }
    }
    // Text outside the grid (UTF-8) is measured by Pango itself.
    const std::string u = "caf\xC3\xA9 \xE2\x82\xAC";
    PangoLayout* l = gfx::make_layout(m.cr(), u, gfx::Font { 14, false, true });
    EXPECT_EQ(m.x_of(u, 5, 14), edmeasure::layout_x(l, 5));
    EXPECT_EQ(m.index_at_x(u, edmeasure::layout_x(l, 6) - 0.5, 14), 6);
    g_object_unref(l);
}

// ------------------------------------------------------------------ painting

TEST(EditorPaint, GutterWidthFollowsTheDigits)
{
    for (auto [lines, digits] : { std::pair { 9, 4 }, { 99, 4 }, { 999, 4 }, { 1000, 5 } }) {
        std::string t(size_t(lines - 1), '\n');
        Painted p(t);
        EXPECT_EQ(p.e.line_count(), lines);
        EXPECT_EQ(p.gutter, std::ceil(digits * p.adv + 26)) << lines;
    }
}

TEST(EditorPaint, GutterBandsBreakpointsAndCaret)
{
    Painted p("mov eax, 1\nmov ebx, 2\nmov ecx, 3\nmov edx, 4\n");
    Editor& e = p.e;
    e.breakpoints = { 0, 3 };
    e.marks[1] = { true, "bad" };
    e.marks[3] = { false, "hmm" };
    e.pc_line = 2;
    e.set_view(1, 4, 0);
    p.paint();
    const Palette& pal = p.pal;
    const int bx = int(p.gutter) + 200;  // inside the text area, right of the text
    auto cy = [&](int row) { return int(p.row_y(row)); };

    EXPECT_TRUE(p.c.near(int(p.gutter) - 25, 1, pal.panel2)) << p.c.describe(int(p.gutter) - 25, 1);
    EXPECT_TRUE(p.c.near(int(p.gutter), cy(0), pal.border));
    EXPECT_TRUE(p.c.near(bx, cy(0), pal.panel)) << p.c.describe(bx, cy(0));
    // Caret line with focus: line wash and the error tint over it.
    EXPECT_TRUE(p.c.near(bx, cy(1), over(Rgba { pal.err.r, pal.err.g, pal.err.b, 0.12 }, over(pal.line_hl, pal.panel))))
        << p.c.describe(bx, cy(1));
    EXPECT_TRUE(p.c.near(bx, cy(2), over(pal.pc_bg, pal.panel))) << p.c.describe(bx, cy(2));
    EXPECT_TRUE(p.c.near(bx, cy(3), over(Rgba { pal.warn.r, pal.warn.g, pal.warn.b, 0.12 }, pal.panel)));
    // Breakpoint on 0, error dot on 1, breakpoint rather than dot on 3.
    EXPECT_TRUE(p.c.near(9, cy(0), pal.bp)) << p.c.describe(9, cy(0));
    EXPECT_TRUE(p.c.near(9, cy(1), pal.err)) << p.c.describe(9, cy(1));
    EXPECT_TRUE(p.c.near(9, cy(3), pal.bp)) << p.c.describe(9, cy(3));
    EXPECT_TRUE(p.c.near(9, cy(1) - 5, pal.panel2));  // the dot's radius is 3
    // The pc arrow in the warning colour.
    EXPECT_TRUE(p.c.near(11, cy(2), pal.warn)) << p.c.describe(11, cy(2));
    // The caret bar at x0 + layout x of column 4, two pixels wide.
    const int cx = int(std::floor(p.col_x(4)));
    EXPECT_DOUBLE_EQ(e.caret_x(), p.col_x(4));
    EXPECT_DOUBLE_EQ(e.caret_y(), p.lh);
    EXPECT_TRUE(p.c.near(cx, cy(1), pal.caret)) << p.c.describe(cx, cy(1));
    EXPECT_TRUE(p.c.near(cx + 1, cy(1), pal.caret));

    // Without focus: no caret, no line wash.
    p.paint(false, true);
    EXPECT_FALSE(p.c.near(cx, cy(1), pal.caret));
    EXPECT_TRUE(p.c.near(bx, cy(1), over(Rgba { pal.err.r, pal.err.g, pal.err.b, 0.12 }, pal.panel)));
    // The pc line keeps its band even on the caret line.
    e.set_view(2, 0, 0);
    p.paint();
    EXPECT_TRUE(p.c.near(bx, cy(2), over(pal.pc_bg, pal.panel)));
}

TEST(EditorPaint, SelectionAndBlockSelection)
{
    Painted p("abcdef\nab\nabcdef\n");
    const Palette& pal = p.pal;
    p.e.mouse_down(p.col_x(1), p.row_y(0), false, 1, false);
    p.e.mouse_drag(p.col_x(0), p.row_y(2));
    p.e.mouse_up();
    ASSERT_EQ(p.e.selected_text(), "bcdef\nab\n");
    p.paint(true, false);
    const Rgba sel_on_hl = over(pal.select, over(pal.line_hl, pal.panel));
    const Rgba sel = over(pal.select, pal.panel);
    auto y = [&](int row) { return int(p.row_y(row)); };
    EXPECT_TRUE(p.c.near(int(p.col_x(0.5)), y(0) - int(p.lh / 2) + 1, pal.panel));  // left of the start
    EXPECT_TRUE(p.c.near(int(p.col_x(6.3)), y(0) - int(p.lh / 2) + 1, sel));       // line break shown
    EXPECT_FALSE(p.c.near(int(p.col_x(6.8)), y(0) - int(p.lh / 2) + 1, sel));
    EXPECT_TRUE(p.c.near(int(p.col_x(2.4)), y(1) - int(p.lh / 2) + 1, sel));  // past the end of "ab"
    // The end line gets a one-pixel sliver at column 0 and nothing else.
    EXPECT_TRUE(p.c.near(int(p.x0), y(2) - int(p.lh / 2) + 1, sel_on_hl)) << p.c.describe(int(p.x0), y(2) - 9);
    EXPECT_FALSE(p.c.near(int(p.x0) + 2, y(2) - int(p.lh / 2) + 1, sel_on_hl));

    // Without focus the selection is dimmer.
    p.paint(false, false);
    EXPECT_TRUE(p.c.near(int(p.col_x(6.3)), y(0) - int(p.lh / 2) + 1, over(pal.select_dim, pal.panel)));

    // A zero-width block is a two-pixel bar on every row.
    p.e.mouse_down(p.col_x(2), p.row_y(0), false, 1, true);
    p.e.mouse_drag(p.col_x(2), p.row_y(1));
    p.e.mouse_up();
    p.paint(true, false);
    const int bx = int(std::floor(p.col_x(2)));
    for (int row = 0; row < 2; ++row) {
        const Rgba bg = row == 1 ? over(pal.line_hl, pal.panel) : pal.panel;
        const int yy = y(row) - int(p.lh / 2) + 1;
        EXPECT_TRUE(p.c.near(bx + 1, yy, over(pal.select, bg))) << row << p.c.describe(bx + 1, yy);
        EXPECT_FALSE(p.c.near(bx + 3, yy, over(pal.select, bg))) << row;
    }
    EXPECT_TRUE(p.c.near(bx + 1, y(2) - int(p.lh / 2) + 1, pal.panel));
}

// Whether any pixel in the span of columns on row y is close to c.
bool any_near(const Canvas& c, int x_from, int x_to, int y, const Rgba& col, int tol = 40)
{
    for (int x = x_from; x < x_to; ++x)
        if (c.near(x, y, col, tol))
            return true;
    return false;
}

// A line too long to lay out whole is drawn where it shows: at its end the
// last characters stand left of the caret, on the same grid.
TEST(EditorPaint, LongLineIsDrawnWhereItShows)
{
    const int blanks = int(edmeasure::kLongLine) * 2;
    Painted p(std::string(size_t(blanks), ' ') + "mmmmmmmm\n");
    p.key(SDLK_END);
    p.paint(false, false);
    const int end = blanks + 8;
    auto inked = [&](double c0, double c1) {
        for (int x = int(p.col_x(c0)); x < int(p.col_x(c1)); ++x)
            for (int yy = 2; yy < int(p.lh) - 2; ++yy)
                if (!p.c.near(x, yy, p.pal.panel))
                    return true;
        return false;
    };
    ASSERT_GT(p.col_x(end - 30), p.gutter);
    EXPECT_TRUE(inked(end - 8, end));
    EXPECT_FALSE(inked(end - 30, end - 9));
}

TEST(EditorPaint, UnderlineStartsAtTheDrawnTextOfTabIndentedLines)
{
    Painted p("\tmov eax, 1\n");
    p.e.marks[0] = { true, "bad" };
    p.e.set_view(0, 0, 0);
    p.paint(false, false);
    const double xs = p.x0 + 8 * p.adv;  // a tab is drawn eight cells wide
    bool before = false, after = false;
    for (int yy = int(p.lh) - 5; yy < int(p.lh); ++yy) {
        before = before || any_near(p.c, int(p.x0 + p.adv) + 1, int(xs) - 2, yy, p.pal.err);
        after = after || any_near(p.c, int(xs) + 1, int(xs + 8 * p.adv), yy, p.pal.err);
    }
    EXPECT_FALSE(before);
    EXPECT_TRUE(after);
}

TEST(EditorPaint, NotesAndTheirWords)
{
    Painted p("mov eax, 1\nret\n", 700, 200);
    p.e.note = [](int line, int* kind) -> std::string {
        if (line == 0) {
            *kind = 1;
            return "eax = 0x1  changed";
        }
        return {};
    };
    p.paint();
    const auto& words = p.e.note_words();
    ASSERT_EQ(words.size(), 4u);
    const double nx = p.x0 + 44 * p.adv;  // short line: column 44
    EXPECT_DOUBLE_EQ(words[0].x0, nx);
    EXPECT_EQ(words[0].w, "eax");
    EXPECT_EQ(words[0].next, "=");
    EXPECT_EQ(words[2].next, "changed");
    EXPECT_EQ(words[3].w, "changed");
    EXPECT_EQ(words[3].next, "");
    std::string next = "untouched";
    EXPECT_EQ(p.e.note_word_at(words[0].x1 + 3, p.row_y(0), &next), "eax");
    EXPECT_EQ(next, "=");
    EXPECT_EQ(p.e.note_word_at(words[3].x1 + 3, p.row_y(0), &next), "changed");
    EXPECT_EQ(next, "");
    next = "untouched";
    EXPECT_EQ(p.e.note_word_at(words[3].x1 + 5, p.row_y(0), &next), "");
    EXPECT_EQ(next, "untouched");
    // The pill is tinted in the accent colour.
    const Rgba tint = over(Rgba { p.pal.accent.r, p.pal.accent.g, p.pal.accent.b, 0.16 }, over(p.pal.line_hl, p.pal.panel));
    EXPECT_TRUE(p.c.near(int(nx) - 3, int(p.row_y(0)), tint)) << p.c.describe(int(nx) - 3, int(p.row_y(0)));
    // A long line pushes the note three characters past its end.
    p.e.set_text(std::string(60, 'x') + "\n");
    p.e.note = [](int, int*) -> std::string { return "n"; };
    p.paint();
    ASSERT_EQ(p.e.note_words().size(), 2u);
    EXPECT_DOUBLE_EQ(first_of(p.e.note_words()).x0, p.x0 + 63 * p.adv);
}

TEST(EditorPaint, NoteRightOfANarrowPaneDrawsNothing)
{
    // The note starts at column 44, right of this pane's edge: a pill of
    // negative width would be drawn mirrored into the visible rows.
    Painted p("ret\nret\n", 300, 100);
    p.e.note = [](int line, int*) -> std::string { return line == 1 ? "value 7" : ""; };
    p.e.set_view(0, 0, 0);
    p.paint(false, false);
    ASSERT_GT(p.x0 + 44 * p.adv, 300);
    for (int x = 285; x < 300; ++x)
        EXPECT_TRUE(p.c.near(x, int(p.row_y(1)), p.pal.panel)) << p.c.describe(x, int(p.row_y(1)));
    EXPECT_TRUE(p.e.note_words().empty());
}

TEST(EditorPaint, ScrollThumbIsProportional)
{
    std::string t;
    for (int i = 0; i < 30; ++i)
        t += "x\n";
    Painted p(t, 300, 420);
    const int v = int(420 / p.lh);
    const int n = p.e.line_count();
    ASSERT_GE(n, v + 1);
    const double th = std::max(double(v) / n * 420, 24.0);
    ASSERT_GT(th, 100);  // integer division would give the 24-pixel minimum
    const Rgba thumb = over(Rgba { p.pal.faint.r, p.pal.faint.g, p.pal.faint.b, 0.5 }, p.pal.panel);
    EXPECT_TRUE(p.c.near(300 - 5, int(th) - 10, thumb, 6)) << p.c.describe(295, int(th) - 10);
    EXPECT_FALSE(p.c.near(300 - 5, int(th) + 10, thumb, 6));
    // At the end of the text the thumb touches the bottom.
    p.e.set_view(n - 1, 0, n - v);
    p.paint(false, false);
    EXPECT_TRUE(p.c.near(300 - 5, 415, thumb, 6)) << p.c.describe(295, 415);
    EXPECT_FALSE(p.c.near(300 - 5, int(420 - th) - 10, thumb, 6));
}

TEST(EditorPaint, OnlyVisibleRowsAskForNotes)
{
    std::string t;
    for (int i = 0; i < 1000; ++i)
        t += "nop\n";
    Painted p(t, 400, 210);
    std::vector<int> asked;
    p.e.note = [&](int line, int* kind) -> std::string {
        EXPECT_EQ(*kind, 0);
        asked.push_back(line);
        return {};
    };
    p.e.set_view(500, 0, 500);
    p.paint();
    const int v = int(210 / p.lh);
    ASSERT_EQ(int(asked.size()), v + 1);
    EXPECT_EQ(first_of(asked), 500);
    EXPECT_EQ(last_of(asked), 500 + v);
}

TEST(EditorPaint, TinyPanesStayInsideTheirRectangle)
{
    Canvas c(200, 100);
    const Palette pal = Palette::make(false);
    Editor e;
    e.set_text("mov eax, 1\nret\n");
    e.note = [](int, int*) -> std::string { return "note"; };
    e.marks[0] = { true, "x" };
    for (auto [w, h] : { std::pair { 30.0, 50.0 }, { 10.0, 5.0 }, { 0.0, 0.0 }, { 120.0, 1.0 } }) {
        gfx::fill_rect(c.cr, 0, 0, 200, 100, Rgba { 0, 1, 0, 1 });
        e.paint(c.cr, 50, 20, w, h, pal, kFont, true, true);
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 200; ++x) {
                const bool outside = x < 50 || x >= 50 + w || y < 20 || y >= 20 + h;
                ASSERT_TRUE(!outside || c.near(x, y, Rgba { 0, 1, 0, 1 }, 0)) << w << "x" << h << c.describe(x, y);
            }
        }
        // The geometry stays usable for the mouse.
        e.mouse_down(60, 22, false, 1, false);
        e.mouse_up();
        EXPECT_GE(e.line_at_y(1000), 0);
    }
}

// Pictures to look at: set QX_PNG_DIR to keep them.
TEST(EditorPaint, Pictures)
{
    const char* dir = getenv("QX_PNG_DIR");
    const std::string text =
        "; hello world for Linux x86-64\n"
        "section .data\n"
        "msg:    db \"Hello, world!\", 10\n"
        "len     equ $ - msg\n"
        "\n"
        "section .text\n"
        "global _start\n"
        "_start:\n"
        "\tmov eax, 1          ; write\n"
        "        mov edi, 1\n"
        "        lea rsi, [rel msg]\n"
        "        mov edx, len\n"
        "        syscall\n"
        "%define EXIT 60\n"
        "        mov eax, EXIT\n"
        "        xor edi, edi\n"
        "        syscall\n"
        "        movx ebx, 0x1F\n";
    for (bool dark : { true, false }) {
        Painted p(text, 760, 420);
        p.pal = Palette::make(dark);
        Editor& e = p.e;
        e.breakpoints = { 9, 12 };
        e.marks[17] = { true, "no such instruction" };
        e.marks[8] = { false, "odd" };
        e.pc_line = 10;
        e.note = [](int line, int* kind) -> std::string {
            if (line == 10) {
                *kind = 1;
                return "rsi = 0x402000";
            }
            return line == 11 ? "edx: 0 -> 14" : "";
        };
        e.set_view(2, 8, 0);
        p.paint();
        e.key(ks(SDLK_END, KMOD_LSHIFT));
        e.key(ks(SDLK_DOWN, KMOD_LSHIFT));
        p.paint();
        Canvas& c = p.c;
        // Block selection painted into a second editor beside it.
        Canvas both(760, 840);
        cairo_set_source_surface(both.cr, c.surface, 0, 0);
        cairo_paint(both.cr);
        e.set_view(13, 8, 0);
        e.key(ks(SDLK_DOWN, KMOD_LALT | KMOD_LSHIFT));
        e.key(ks(SDLK_DOWN, KMOD_LALT | KMOD_LSHIFT));
        for (int i = 0; i < 3; ++i)
            e.key(ks(SDLK_RIGHT, KMOD_LALT | KMOD_LSHIFT));
        e.paint(both.cr, 0, 420, 760, 420, p.pal, kFont, true, true);
        EXPECT_TRUE(e.has_block());
        if (dir) {
            std::string why;
            EXPECT_TRUE(gfx::write_png(both.surface, std::string(dir) + (dark ? "/editor-dark.png" : "/editor-light.png"), &why))
                << why;
        }
    }
}

} // namespace
