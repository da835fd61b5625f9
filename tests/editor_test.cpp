#include "dummy_video.h"
#include "editor.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

namespace {

using Pos = Editor::Pos;

// An editor whose undo clock the test moves by hand.
struct Ed : Editor {
    uint32_t now = 100000;
    explicit Ed(const std::string& t = {})
    {
        set_clock([this] { return now; });
        set_text(t);
    }
    void type(const std::string& s)
    {
        for (char c : s) {
            const char one[2] = { c, 0 };
            text_input(one);
        }
    }
};

std::string lines_text(int n, const char* prefix = "l")
{
    std::string t;
    for (int i = 0; i < n; ++i)
        t += prefix + std::to_string(i) + "\n";
    return t;
}

// ---------------------------------------------------------------- text model

TEST(EditorText, SetTextAndTextRoundTrip)
{
    struct Case {
        const char* in;
        int lines;
        const char* out;
    } cases[] = {
        { "", 1, "" },
        { "a\r\nb\r\n", 3, "a\nb\n" },
        { "abc", 1, "abc\n" },
        { "abc\n", 2, "abc\n" },
        { "\n\n", 3, "\n\n" },
    };
    for (const auto& c : cases) {
        Ed e(c.in);
        EXPECT_EQ(e.line_count(), c.lines) << c.in;
        EXPECT_EQ(e.text(), c.out) << c.in;
        EXPECT_FALSE(e.modified());
    }
}

TEST(EditorText, LargeTextSplitsIntoLines)
{
    Ed e(lines_text(5000));
    ASSERT_EQ(e.line_count(), 5001);
    EXPECT_EQ(e.line(0), "l0");
    EXPECT_EQ(e.line(2777), "l2777");
    EXPECT_EQ(e.line(4999), "l4999");
    EXPECT_EQ(e.text(), lines_text(5000));
}

TEST(EditorText, SetTextKeepsDecorationsOfLinesThatStillExist)
{
    Ed e(lines_text(10));
    e.breakpoints = { 1, 5, 9, 10 };
    e.marks[2] = { true, "bad" };
    e.marks[8] = { false, "hm" };
    e.code_lines = { 0, 7 };
    e.pc_line = 3;
    const int gen = e.generation();
    e.set_text(lines_text(5));  // 6 lines: 0..5
    EXPECT_EQ(e.breakpoints, (std::set<int> { 1, 5 }));
    ASSERT_EQ(e.marks.size(), 1u);
    EXPECT_EQ(e.marks.at(2).msg, "bad");
    EXPECT_EQ(e.code_lines, (std::set<int> { 0 }));
    EXPECT_EQ(e.pc_line, -1);
    EXPECT_GT(e.generation(), gen);
}

// ---------------------------------------------------------------- undo

TEST(EditorUndo, TypingGroupsByPauses)
{
    struct Case {
        uint32_t pause;
        int steps;
    } cases[] = { { 0, 1 }, { 1199, 1 }, { 1200, 2 } };
    for (const auto& c : cases) {
        Ed e;
        e.type("a");
        e.now += c.pause;
        e.type("b");
        e.now += 1199;
        e.type("c");
        EXPECT_EQ(e.undo_depth(), c.steps) << c.pause;
        e.undo();
        EXPECT_EQ(e.text(), c.steps == 1 ? "" : "a\n") << c.pause;
    }
}

TEST(EditorUndo, GroupOutlastsAnyLengthAndSurvivesTickWrap)
{
    Ed e;
    e.now = 0xFFFFFF00u;
    for (int i = 0; i < 20; ++i) {
        e.type("x");
        e.now += 1000;  // wraps past zero half way
    }
    EXPECT_EQ(e.undo_depth(), 1);
}

TEST(EditorUndo, KindsSplitSteps)
{
    Ed e;
    e.type("ab");
    e.backspace();
    e.type("cd");
    EXPECT_EQ(e.undo_depth(), 3);
    EXPECT_EQ(e.text(), "acd\n");
    e.undo();
    EXPECT_EQ(e.text(), "a\n");
    e.undo();
    EXPECT_EQ(e.text(), "ab\n");
    e.undo();
    EXPECT_EQ(e.text(), "");
    EXPECT_EQ(e.redo_depth(), 3);
    e.redo();
    EXPECT_EQ(e.text(), "ab\n");
    e.type("z");  // the first edit after undo/redo always pushes, clearing redo
    EXPECT_EQ(e.redo_depth(), 0);
    EXPECT_EQ(e.text(), "abz\n");
}

TEST(EditorUndo, MultiByteCharacterAndLineFeedAreStepsOfTheirOwn)
{
    Ed e;
    e.type("a");
    e.text_input("é");
    e.type("b");
    e.text_input("\n");
    e.type("c");
    EXPECT_EQ(e.undo_depth(), 5);
}

TEST(EditorUndo, HistoryIsLimitedTo400)
{
    Ed e;
    for (int i = 0; i < 401; ++i)
        e.newline();
    EXPECT_EQ(e.undo_depth(), 400);
    while (e.undo_depth() > 0)
        e.undo();
    EXPECT_EQ(e.line_count(), 2);  // the first line break is beyond the history
    EXPECT_EQ(e.redo_depth(), 400);
}

TEST(EditorUndo, UndoAndRedoCountAsChanges)
{
    Ed e("abc");
    e.move_caret({ 0, 3 }, false);
    e.type("d");
    e.set_modified(false);
    int gen = e.generation();
    e.undo();
    EXPECT_TRUE(e.modified());
    EXPECT_GT(e.generation(), gen);
    EXPECT_EQ(e.caret(), (Pos { 0, 3 }));
    gen = e.generation();
    e.redo();
    EXPECT_GT(e.generation(), gen);
    EXPECT_EQ(e.caret(), (Pos { 0, 4 }));
}

TEST(EditorUndo, UndoOnEmptyHistoryOnlyLeavesBlockMode)
{
    Ed e("ab\ncd\n");
    e.select_block(0, 0, 1, 0);
    ASSERT_TRUE(e.has_block());
    const int gen = e.generation();
    e.undo();
    EXPECT_FALSE(e.has_block());
    EXPECT_EQ(e.generation(), gen);
    EXPECT_EQ(e.text(), "ab\ncd\n");
}

TEST(EditorUndo, RedoIntoShorterTextClampsBlockRows)
{
    Ed e(lines_text(3));                // 4 lines
    e.move_caret({ 1, 0 }, false);
    e.delete_lines();                   // 3 lines
    e.undo();                           // 4 lines, redo holds the 3-line text
    e.select_block(0, 0, 3, 20);        // rows 0..3
    e.redo();
    ASSERT_EQ(e.line_count(), 3);
    ASSERT_TRUE(e.has_block());
    EXPECT_EQ(e.caret().line, 2);
    EXPECT_EQ(e.block_text(), "l0\nl2\n");  // rows stay inside the text
    e.text_input("#");                       // must not index past the end
    EXPECT_EQ(e.line_count(), 3);
}

// ---------------------------------------------------------------- breakpoints

TEST(EditorBreakpoints, FollowEveryEditKind)
{
    struct Case {
        const char* name;
        std::function<void(Ed&)> edit;
        std::set<int> expect;
    };
    // Lines l0..l7 and an empty line 8; breakpoints on 2, 4 and 6.
    const Case cases[] = {
        { "line feed at column 0 keeps the breakpoint", [](Ed& e) { e.move_caret({ 2, 0 }, false); e.insert("\n"); }, { 2, 5, 7 } },
        { "paste of two line feeds", [](Ed& e) { e.move_caret({ 3, 1 }, false); e.insert("a\nb\nc"); }, { 2, 6, 8 } },
        { "newline at end of line", [](Ed& e) { e.move_caret({ 4, 2 }, false); e.newline(); }, { 2, 4, 7 } },
        { "completion stays on its line", [](Ed& e) { e.move_caret({ 4, 2 }, false); e.complete("l4x"); }, { 2, 4, 6 } },
        { "erase selection inside lines", [](Ed& e) { e.move_caret({ 2, 1 }, false); e.move_caret({ 4, 1 }, true); e.erase(); }, { 2, 4 } },
        { "cut of a whole line deletes that line", [](Ed& e) { e.move_caret({ 4, 0 }, false); e.move_caret({ 5, 0 }, true); e.cut(); }, { 2, 5 } },
        { "cut without selection", [](Ed& e) { e.move_caret({ 4, 1 }, false); e.cut(); }, { 2, 5 } },
        { "typing over whole lines", [](Ed& e) { e.move_caret({ 2, 0 }, false); e.move_caret({ 4, 0 }, true); e.type("x"); }, { 2, 4 } },
        { "backspace joins to the previous line", [](Ed& e) { e.move_caret({ 4, 0 }, false); e.backspace(); }, { 2, 3, 5 } },
        { "backspace inside a line", [](Ed& e) { e.move_caret({ 4, 1 }, false); e.backspace(); }, { 2, 4, 6 } },
        { "delete joins the next line", [](Ed& e) { e.move_caret({ 3, 2 }, false); e.del(); }, { 2, 3, 5 } },
        { "delete lines", [](Ed& e) { e.move_caret({ 3, 0 }, false); e.move_caret({ 4, 1 }, true); e.delete_lines(); }, { 2, 4 } },
        { "duplicate lines", [](Ed& e) { e.move_caret({ 2, 0 }, false); e.move_caret({ 4, 0 }, true); e.duplicate_lines(); }, { 2, 6, 8 } },
        { "move lines up", [](Ed& e) { e.move_caret({ 3, 0 }, false); e.move_caret({ 4, 1 }, true); e.move_lines(-1); }, { 3, 4, 6 } },
        { "move lines down", [](Ed& e) { e.move_caret({ 3, 0 }, false); e.move_caret({ 4, 1 }, true); e.move_lines(1); }, { 2, 5, 6 } },
        { "move up at line 0 does nothing", [](Ed& e) { e.move_lines(-1); }, { 2, 4, 6 } },
        { "replace all", [](Ed& e) { e.replace_all("l", "\n"); }, { 2, 4, 6 } },
        { "indent and comment", [](Ed& e) { e.select_all(); e.indent(false); e.toggle_comment(); }, { 2, 4, 6 } },
        { "rename", [](Ed& e) { e.rename_label("l4", "q", 0); }, { 2, 4, 6 } },
        { "block insert", [](Ed& e) { e.select_block(1, 0, 5, 0); e.type("x"); }, { 2, 4, 6 } },
        { "undo and redo", [](Ed& e) { e.move_caret({ 0, 0 }, false); e.insert("\n\n"); e.undo(); e.redo(); }, { 4, 6, 8 } },
    };
    for (const auto& c : cases) {
        Ed e(lines_text(8));
        e.breakpoints = { 2, 4, 6 };
        c.edit(e);
        EXPECT_EQ(e.breakpoints, c.expect) << c.name;
    }
}

// ---------------------------------------------------------------- editing

TEST(EditorEdit, Commands)
{
    struct Case {
        const char* name;
        const char* text;
        std::function<void(Ed&)> edit;
        const char* expect;
        int undo_steps;
    };
    const Case cases[] = {
        { "backspace at start", "ab", [](Ed& e) { e.backspace(); }, "ab\n", 0 },
        { "delete at end of last line", "ab", [](Ed& e) { e.move_caret({ 0, 2 }, false); e.del(); }, "ab\n", 0 },
        { "backspace over a two-byte character", "aéb", [](Ed& e) { e.move_caret({ 0, 3 }, false); e.backspace(); }, "ab\n", 1 },
        { "delete a two-byte character", "aéb", [](Ed& e) { e.move_caret({ 0, 1 }, false); e.del(); }, "ab\n", 1 },
        { "newline copies the blanks left of the caret", "  \t x", [](Ed& e) { e.move_caret({ 0, 2 }, false); e.newline(); }, "  \n  \t x\n", 1 },
        { "outdent removes one tab", "\t  x", [](Ed& e) { e.indent(true); }, "  x\n", 1 },
        { "outdent removes two spaces before a tab", "  \tx", [](Ed& e) { e.indent(true); }, "\tx\n", 1 },
        { "indent skips the line the selection ends at column 0", "a\nb\nc",
          [](Ed& e) { e.move_caret({ 2, 0 }, true); e.indent(false); }, "    a\n    b\nc\n", 1 },
        { "comment adds to mixed lines", "; a\nb\n", [](Ed& e) { e.move_caret({ 1, 0 }, true); e.toggle_comment(); }, "; ; a\n; b\n", 1 },
        { "comment removes from commented lines", ";a\n  ; b\n\n", [](Ed& e) { e.move_caret({ 2, 0 }, true); e.toggle_comment(); }, "a\n  b\n\n", 1 },
        { "duplicate last line selects the copy", "a\nb", [](Ed& e) { e.move_caret({ 1, 0 }, false); e.duplicate_lines(); e.type("X"); }, "a\nb\nX\n", 2 },
        { "move down at last line does nothing", "a\nb", [](Ed& e) { e.move_caret({ 1, 0 }, false); e.move_lines(1); }, "a\nb\n", 0 },
        { "move up takes the line above below the block", "a\nb\nc", [](Ed& e) { e.move_caret({ 1, 0 }, false); e.move_caret({ 2, 1 }, true); e.move_lines(-1); }, "b\nc\na\n", 1 },
        { "delete all lines leaves one", "a\nb", [](Ed& e) { e.select_all(); e.delete_lines(); }, "", 1 },
        { "erase a selection across lines", "abc\ndef\nghi", [](Ed& e) { e.move_caret({ 0, 1 }, false); e.move_caret({ 2, 2 }, true); e.erase(); }, "ai\n", 1 },
        { "typing replaces the selection", "abc", [](Ed& e) { e.move_caret({ 0, 1 }, false); e.move_caret({ 0, 3 }, true); e.type("Z"); }, "aZ\n", 1 },
        { "carriage returns are dropped", "", [](Ed& e) { e.insert("a\r\nb"); }, "a\nb\n", 1 },
    };
    for (const auto& c : cases) {
        Ed e(c.text);
        c.edit(e);
        EXPECT_EQ(e.text(), c.expect) << c.name;
        EXPECT_EQ(e.undo_depth(), c.undo_steps) << c.name;
        while (e.undo_depth() > 0)
            e.undo();
        EXPECT_EQ(e.text(), Ed(c.text).text()) << c.name << " (undone)";
    }
}

TEST(EditorEdit, SelectedTextAndSelectAll)
{
    Ed e("abc\ndef\nghi");
    e.move_caret({ 0, 1 }, false);
    e.move_caret({ 2, 1 }, true);
    EXPECT_EQ(e.selected_text(), "bc\ndef\ng");
    e.select_all();
    EXPECT_EQ(e.selected_text(), "abc\ndef\nghi");
    EXPECT_EQ(e.generation(), Ed("x").generation());  // selecting is not a change
}

// ---------------------------------------------------------------- clipboard

using EditorClipboard = testutil::DummyVideo;

TEST_F(EditorClipboard, CopyAndCutWithoutSelectionTakeTheLine)
{
    Ed e("one\ntwo");
    e.move_caret({ 0, 1 }, false);
    e.copy();
    EXPECT_EQ(clip(), "one\n");
    e.cut();
    EXPECT_EQ(clip(), "one\n");
    EXPECT_EQ(e.text(), "two\n");
    e.cut();  // the last line is emptied, not removed
    EXPECT_EQ(clip(), "two");
    EXPECT_EQ(e.line_count(), 1);
    EXPECT_EQ(e.text(), "");
}

TEST_F(EditorClipboard, PasteIsAStepOfItsOwn)
{
    Ed e("ab");
    e.move_caret({ 0, 2 }, false);
    e.type("c");
    SDL_SetClipboardText("X");
    e.paste();  // one byte, but not grouped with the typing before it
    e.type("d");  // nor with the typing after it
    EXPECT_EQ(e.text(), "abcXd\n");
    EXPECT_EQ(e.undo_depth(), 3);
    SDL_SetClipboardText("1\r\n2\n");
    e.paste();
    EXPECT_EQ(e.text(), "abcXd1\n2\n");
    EXPECT_EQ(e.caret(), (Pos { 2, 0 }));
    e.undo();
    EXPECT_EQ(e.text(), "abcXd\n");
}

TEST_F(EditorClipboard, SelectionCopyAndEmptyClipboard)
{
    Ed e("abc\ndef");
    e.move_caret({ 0, 2 }, false);
    e.move_caret({ 1, 1 }, true);
    e.copy();
    EXPECT_EQ(clip(), "c\nd");
    SDL_SetClipboardText("");
    const int gen = e.generation();
    e.paste();
    EXPECT_EQ(e.generation(), gen);
}

TEST_F(EditorClipboard, BlockCopyCutAndPaste)
{
    Ed e("abcd\nefgh\nij");
    const double cell = 14 * 0.6;
    e.select_block(0, cell * 1, 2, cell * 3);  // columns 1..3 of rows 0..2
    e.copy();
    EXPECT_EQ(clip(), "bc\nfg\nj");
    e.cut();
    EXPECT_TRUE(e.has_block());
    EXPECT_EQ(e.text(), "ad\neh\ni\n");
    SDL_SetClipboardText("XY");
    e.paste();  // one piece goes into every row
    EXPECT_EQ(e.text(), "aXYd\neXYh\niXY\n");
    e.undo();
    EXPECT_EQ(e.text(), "ad\neh\ni\n");
}

// ---------------------------------------------------------------- block

TEST(EditorBlock, Editing)
{
    const double cell = 14 * 0.6;
    struct Case {
        const char* name;
        std::function<void(Ed&)> edit;
        const char* expect;
    };
    const Case cases[] = {
        { "typing into a zero-width column, short rows get it at their end",
          [&](Ed& e) { e.select_block(0, cell * 3, 2, cell * 3); e.type("#"); }, "abc#def\nxy#\nuvw#xyz\n" },
        { "typing replaces a wide block", [&](Ed& e) { e.select_block(0, cell, 2, cell * 3); e.type("-"); }, "a-def\nx-\nu-xyz\n" },
        { "three lines into two rows", [&](Ed& e) { e.select_block(0, 0, 1, 0); e.text_input("1\n2\n3"); }, "1abcdef\n2xy\nuvwxyz\n" },
        { "one line into two rows", [&](Ed& e) { e.select_block(0, 0, 1, 0); e.text_input("Q"); }, "Qabcdef\nQxy\nuvwxyz\n" },
        { "backspace in a column", [&](Ed& e) { e.select_block(0, cell * 2, 2, cell * 2); e.backspace(); e.backspace(); }, "cdef\n\nwxyz\n" },
        { "delete in a column", [&](Ed& e) { e.select_block(0, cell * 2, 2, cell * 2); e.del(); }, "abdef\nxy\nuvxyz\n" },
        { "erase a wide block", [&](Ed& e) { e.select_block(2, cell * 4, 0, cell); e.erase(); }, "aef\nx\nuyz\n" },
    };
    for (const auto& c : cases) {
        Ed e("abcdef\nxy\nuvwxyz");
        c.edit(e);
        EXPECT_EQ(e.text(), c.expect) << c.name;
        EXPECT_TRUE(e.has_block()) << c.name;
    }
}

TEST(EditorBlock, TypedCharactersGroupAndCaretFollows)
{
    const double cell = 14 * 0.6;
    Ed e("abc\nabc\nabc");
    e.select_block(0, cell, 2, cell);
    e.type("xyz");
    EXPECT_EQ(e.text(), "axyzbc\naxyzbc\naxyzbc\n");
    EXPECT_EQ(e.caret(), (Pos { 2, 4 }));
    EXPECT_EQ(e.undo_depth(), 1);
    e.undo();
    EXPECT_FALSE(e.has_block());
    EXPECT_EQ(e.text(), "abc\nabc\nabc\n");
}

// ---------------------------------------------------------------- search

TEST(EditorSearch, FindWrapsAndFoldsCase)
{
    Ed e("one ABC\ntwo\nthree aBc abc");
    EXPECT_FALSE(e.find("", true, true));
    ASSERT_TRUE(e.find("abc", true, false));
    EXPECT_EQ(e.selected_text(), "ABC");
    EXPECT_EQ(e.caret(), (Pos { 0, 7 }));
    ASSERT_TRUE(e.find("abc", true, true));
    EXPECT_EQ(e.caret(), (Pos { 2, 9 }));
    ASSERT_TRUE(e.find("abc", true, true));
    EXPECT_EQ(e.caret(), (Pos { 2, 13 }));
    ASSERT_TRUE(e.find("abc", true, true));  // wraps
    EXPECT_EQ(e.caret(), (Pos { 0, 7 }));
    ASSERT_TRUE(e.find("abc", false, true));  // backwards from the hit's start wraps to the end
    EXPECT_EQ(e.caret(), (Pos { 2, 13 }));
    ASSERT_TRUE(e.find("abc", false, true));
    EXPECT_EQ(e.caret(), (Pos { 2, 9 }));
    EXPECT_FALSE(e.find("zzz", true, true));
    EXPECT_EQ(e.caret(), (Pos { 2, 9 }));
    // Backwards from inside a hit: only one that ends before the caret counts.
    Ed b("bar foo bar");
    b.move_caret({ 0, 10 }, false);
    ASSERT_TRUE(b.find("bar", false, true));
    EXPECT_EQ(b.anchor(), (Pos { 0, 0 }));
}

TEST(EditorSearch, SingleHitIsFoundAgainFromItsEnd)
{
    Ed e("xx needle yy");
    ASSERT_TRUE(e.find("needle", true, true));
    ASSERT_TRUE(e.find("needle", true, true));
    EXPECT_EQ(e.anchor(), (Pos { 0, 3 }));
    Ed u("é");
    EXPECT_FALSE(u.find("É", true, false));  // only ASCII folds
    EXPECT_TRUE(u.find("é", true, false));
}

TEST(EditorSearch, Replace)
{
    Ed e("aaa\nb");
    EXPECT_EQ(e.replace_all("a", "aa"), 3);
    EXPECT_EQ(e.text(), "aaaaaa\nb\n");
    EXPECT_EQ(e.undo_depth(), 1);
    EXPECT_EQ(e.replace_all("q", "x"), 0);
    EXPECT_EQ(e.undo_depth(), 1);

    Ed r("foo x\nfoo\nFOO");
    r.move_caret({ 0, 0 }, false);
    r.move_caret({ 1, 1 }, true);
    EXPECT_EQ(r.replace_next("foo", "bar"), 0);  // spans lines: only searches
    EXPECT_EQ(r.text(), "foo x\nfoo\nFOO\n");
    EXPECT_EQ(r.anchor(), (Pos { 2, 0 }));
    EXPECT_EQ(r.replace_next("foo", "bar"), 1);
    EXPECT_EQ(r.text(), "foo x\nfoo\nbar\n");
    EXPECT_EQ(r.anchor(), (Pos { 0, 0 }));  // and moved on, wrapping
}

TEST(EditorSearch, GotoWordAndPrefix)
{
    Ed e("  mov eax\n   \njmp .lo");
    e.goto_line(-5, true);
    EXPECT_EQ(e.caret(), (Pos { 0, 2 }));
    e.goto_line(1, false);
    EXPECT_EQ(e.caret(), (Pos { 1, 3 }));
    e.goto_line(99, true);
    e.move_caret({ 2, 7 }, false);
    EXPECT_EQ(e.prefix_at_caret(), ".lo");
    e.move_caret({ 0, 9 }, false);
    EXPECT_EQ(e.prefix_at_caret(), "eax");
    e.move_caret({ 0, 4 }, false);
    EXPECT_EQ(e.word_at_caret(), "mov");
    e.move_caret({ 2, 7 }, false);
    e.complete(".loop");
    EXPECT_EQ(e.line(2), "jmp .loop");
    EXPECT_EQ(e.caret(), (Pos { 2, 9 }));
    e.select_range(0, 2, 3);
    EXPECT_EQ(e.selected_text(), "mov");
}

// ---------------------------------------------------------------- labels

const char* kLabelSrc = "main:\n    .loop:\n    jmp .loop\n    other:\n    .loop:\n    jmp main.loop\n";

TEST(EditorLabels, LocalScopes)
{
    Ed e(kLabelSrc);
    using L = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(e.labels(), (L { { "main", 0 }, { "main.loop", 1 }, { "other", 3 }, { "other.loop", 4 } }));

    auto refs = e.label_refs(".loop", 2);
    ASSERT_EQ(refs.size(), 3u);
    EXPECT_EQ(refs[0].line, 1);
    EXPECT_EQ(refs[0].col, 4);
    EXPECT_TRUE(refs[0].def);
    EXPECT_EQ(refs[1].line, 2);
    EXPECT_FALSE(refs[1].def);
    EXPECT_EQ(refs[2].line, 5);
    EXPECT_EQ(refs[2].col, 8);
    EXPECT_EQ(refs[2].len, 9);

    auto main_refs = e.label_refs("main", 0);
    ASSERT_EQ(main_refs.size(), 2u);
    EXPECT_TRUE(main_refs[0].def);
    EXPECT_EQ(main_refs[1].line, 5);
    EXPECT_EQ(main_refs[1].len, 4);

    EXPECT_EQ(e.label_refs("main.loop", 0).size(), 3u);  // written out: searched as a local of main

    EXPECT_TRUE(e.is_label("main.loop", 0));
    EXPECT_TRUE(e.is_label("$other", 0));
    EXPECT_FALSE(e.is_label("main.", 0));
    EXPECT_FALSE(e.is_label("jmp", 0));

    EXPECT_EQ(e.rename_label(".loop", ".again", 2), 3);
    EXPECT_EQ(e.text(), "main:\n    .again:\n    jmp .again\n    other:\n    .loop:\n    jmp main.again\n");
    EXPECT_EQ(e.undo_depth(), 1);
}

TEST(EditorLabels, CommentsStringsAndDollar)
{
    Ed e("start: mov eax, $start ; start\ndb 'start', 0\njmp start");
    auto refs = e.label_refs("start", 0);
    ASSERT_EQ(refs.size(), 3u);
    EXPECT_EQ(refs[1].line, 0);
    EXPECT_EQ(refs[1].col, 17);
    EXPECT_EQ(refs[2].line, 2);
    EXPECT_EQ(e.rename_label("start", "go", 0), 3);
    EXPECT_EQ(e.text(), "go: mov eax, $go ; start\ndb 'start', 0\njmp go\n");
}

TEST(EditorLabels, OperandSizeWordsKeepTheScope)
{
    Ed e("main:\n    jz short .done\n    call near f\n    push strict dword 5\n.done:\n    ret\n$face: nop\n");
    using L = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(e.labels(), (L { { "main", 0 }, { "main.done", 4 }, { "face", 6 } }));
    auto refs = e.label_refs(".done", 1);
    ASSERT_EQ(refs.size(), 2u);
    EXPECT_EQ(refs[0].line, 1);
    EXPECT_TRUE(refs[1].def);
    EXPECT_EQ(e.rename_label(".done", ".out", 4), 2);
}

TEST(EditorLabels, CacheFollowsTheText)
{
    Ed e;
    e.set_text("a:\n" + lines_text(2000, "    nop ; ") + "b:\n");
    const auto* first = &e.labels();
    EXPECT_EQ(first->size(), 2u);
    EXPECT_EQ(&e.labels(), first);
    e.move_caret({ 1000, 0 }, false);
    e.insert("mid:\n");
    EXPECT_EQ(e.labels().size(), 3u);
    EXPECT_EQ(e.labels()[1], (std::pair<std::string, int> { "mid", 1000 }));
    EXPECT_EQ(e.labels()[2].second, 2002);
    e.undo();
    EXPECT_EQ(e.labels().size(), 2u);
    EXPECT_EQ(e.labels()[1].second, 2001);
}

// ---------------------------------------------------------------- random

// The text as one flat string with positions as byte offsets: a model too
// plain to share the editor's mistakes.
struct Model {
    std::string text;
    size_t caret = 0, anchor = 0;
    struct Snap {
        std::string text;
        size_t caret, anchor;
    };
    std::vector<Snap> undo, redo;
    int last_kind = 0;
    uint32_t last_time = 0;

    size_t off(Pos p) const
    {
        size_t o = 0;
        for (int l = 0; l < p.line; ++l)
            o = text.find('\n', o) + 1;
        return o + size_t(p.col);
    }
    Pos pos(size_t o) const
    {
        Pos p;
        p.line = int(std::count(text.begin(), text.begin() + long(o), '\n'));
        const size_t lf = o == 0 ? std::string::npos : text.rfind('\n', o - 1);
        p.col = int(lf == std::string::npos ? o : o - lf - 1);
        return p;
    }
    void push(int kind, uint32_t now)
    {
        if (kind == 0 || kind != last_kind || now - last_time > 1199 || undo.empty()) {
            undo.push_back({ text, caret, anchor });
            if (undo.size() > 400)
                undo.erase(undo.begin());
            redo.clear();
            last_kind = kind;
        }
        last_time = now;
    }
    void erase_sel()
    {
        size_t a = std::min(caret, anchor), b = std::max(caret, anchor);
        text.erase(a, b - a);
        caret = anchor = a;
    }
    void insert(const std::string& s, uint32_t now)
    {
        push(s.size() == 1 && s != "\n" ? 1 : 0, now);
        erase_sel();
        text.insert(caret, s);
        caret = anchor = caret + s.size();
    }
    void backspace(uint32_t now)
    {
        if (caret != anchor) {
            push(0, now);
            erase_sel();
        } else if (caret > 0) {
            push(2, now);
            text.erase(caret - 1, 1);
            anchor = --caret;
        }
    }
    void del(uint32_t now)
    {
        if (caret != anchor) {
            push(0, now);
            erase_sel();
        } else if (caret < text.size()) {
            push(3, now);
            text.erase(caret, 1);
        }
    }
    void restore(std::vector<Snap>& from, std::vector<Snap>& to)
    {
        if (from.empty())
            return;
        to.push_back({ text, caret, anchor });
        Snap s = from.back();
        from.pop_back();
        text = s.text;
        caret = s.caret;
        anchor = s.anchor;
        last_kind = 0;
    }
};

TEST(EditorRandom, EditsUndoAndRedoMatchAPlainModel)
{
    for (unsigned seed : { 1u, 2u, 3u }) {
        std::mt19937 rng(seed);
        auto pick = [&](int n) { return int(rng() % unsigned(n)); };
        std::string start;
        for (int i = 0; i < 700; ++i)
            start += "line " + std::to_string(i) + (i % 3 ? " mov eax, 1" : "") + "\n";
        Ed e(start);
        Model m;
        m.text = start;
        for (int step = 0; step < 4000; ++step) {
            e.now += pick(3) ? 300 : 1500;
            const int op = pick(100);
            if (op < 15) {  // place the caret, sometimes selecting
                const size_t o = size_t(pick(int(m.text.size()) + 1));
                const bool sel = pick(3) == 0;
                m.caret = o;
                if (!sel)
                    m.anchor = o;
                e.move_caret(m.pos(o), sel);
            } else if (op < 40) {
                const std::string s(1, char('a' + pick(26)));
                m.insert(s, e.now);
                e.text_input(s.c_str());
            } else if (op < 45) {
                std::string s;
                const int lines = pick(4) == 0 ? 300 + pick(400) : pick(3);
                for (int i = 0; i < lines; ++i)
                    s += "p" + std::to_string(i) + "\n";
                s += "tail";
                m.insert(s, e.now);
                e.insert(s);
            } else if (op < 52) {
                m.insert("\n", e.now);
                e.insert("\n");
            } else if (op < 62) {
                m.backspace(e.now);
                e.backspace();
            } else if (op < 70) {
                m.del(e.now);
                e.del();
            } else if (op < 74) {  // a big selection erased
                const size_t a = size_t(pick(int(m.text.size()) + 1));
                const size_t b = std::min(m.text.size(), a + size_t(pick(20000)));
                m.anchor = a;
                m.caret = b;
                e.move_caret(m.pos(a), false);
                e.move_caret(m.pos(b), true);
                m.backspace(e.now);
                e.backspace();
            } else if (op < 87) {
                m.restore(m.undo, m.redo);
                e.undo();
            } else {
                m.restore(m.redo, m.undo);
                e.redo();
            }
            ASSERT_EQ(e.undo_depth(), int(m.undo.size())) << "seed " << seed << " step " << step;
            ASSERT_EQ(e.redo_depth(), int(m.redo.size())) << "seed " << seed << " step " << step;
            ASSERT_EQ(e.caret(), m.pos(m.caret)) << "seed " << seed << " step " << step;
            ASSERT_EQ(e.anchor(), m.pos(m.anchor)) << "seed " << seed << " step " << step;
            if (step % 16 == 0 || op >= 74) {
                std::string want = m.text;
                if (!want.empty() && want.back() != '\n')
                    want += '\n';
                ASSERT_EQ(e.text(), want) << "seed " << seed << " step " << step;
            }
        }
        std::string want = m.text;
        if (!want.empty() && want.back() != '\n')
            want += '\n';
        EXPECT_EQ(e.text(), want);
    }
}

} // namespace
