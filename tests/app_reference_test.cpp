// The Reference dialog driven through the window's own input routing
// without a window (opening, list stepping, search, clicks, the wheel,
// inserting examples, the editor's hover help), and once in the real
// window under Xvfb with --reference, in both themes.
#include "app.h"
#include "app_probe.h"
#include "ref_probe.h"
#include "testutil.h"
#include "xwindow_test.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testutil;

namespace {

constexpr double W = 1280, H = 800;

Doc* add_source(App& app, const std::string& text)
{
    Doc* d = AppProbe::new_doc(app, false);
    d->path = "/tmp/ref_test.asm";
    d->ed.set_text(text);
    AppProbe::activate(app, d);
    return d;
}

std::vector<Hit> hits_of(App& app, const std::string& id)
{
    return AppProbe::hits_of(app, id);
}

const Hit* find_hit(App& app, const std::string& id, int n = -1)
{
    for (const Hit& h : AppProbe::hits(app))
        if (h.id == id && (n < 0 || h.n == n))
            return &h;
    return nullptr;
}

void click(App& app, const Hit* h)
{
    ASSERT_NE(h, nullptr);
    RefProbe::click(app, h->x + h->w / 2, h->y + h->h / 2);
}

ref::Entry selected(App& app)
{
    int s = RefProbe::sel(app);
    if (s < 0 || size_t(s) >= RefProbe::rows(app).size())
        return {};
    return RefProbe::rows(app)[size_t(s)].e;
}

int entry_rows(App& app)
{
    int n = 0;
    for (const auto& r : RefProbe::rows(app))
        n += r.header ? 0 : 1;
    return n;
}

std::string lines_joined(const Editor& ed)
{
    std::string out;
    for (int i = 0; i < ed.line_count(); ++i)
        out += ed.line(i) + "|";
    return out;
}

} // namespace

TEST(RefDialog, OpensAtAWordWithItsRowSelectedAndInView)
{
    struct Case {
        const char* word;
        ref::Kind kind;
    };
    // xor sits far down the instruction list, exit in the system calls.
    const Case cases[] = { { "mov", ref::Kind::Insn }, { "XOR", ref::Kind::Insn }, { "exit", ref::Kind::Syscall },
                           { "ENOENT", ref::Kind::Errno }, { "section", ref::Kind::Directive } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        App app;
        add_source(app, "nop\n");
        RefProbe::open(app, c.word, "");
        EXPECT_EQ(AppProbe::modal(app), App::Modal::Reference);
        EXPECT_EQ(RefProbe::query(app), "");
        EXPECT_EQ(RefProbe::cat(app), int(c.kind));
        EXPECT_EQ(RefProbe::cur(app), ref::lookup(c.word));
        EXPECT_EQ(selected(app), ref::lookup(c.word));
        AppProbe::paint(app, W, H);
        const Hit* row = find_hit(app, "ref_row", RefProbe::sel(app));
        ASSERT_NE(row, nullptr) << "the selected row is painted";
        const Hit* any = find_hit(app, "ref_row");
        EXPECT_GE(row->h, 40) << "wholly visible";
        EXPECT_GE(row->y, any->y);
    }
}

TEST(RefDialog, UnknownWordsBecomeTheQueryAndTopicsOpenTheirPage)
{
    App app;
    RefProbe::open(app, "qqzzqq", "");
    EXPECT_EQ(RefProbe::query(app), "qqzzqq");
    EXPECT_TRUE(RefProbe::rows(app).empty());
    EXPECT_FALSE(RefProbe::cur(app).valid());
    AppProbe::paint(app, W, H);
    EXPECT_EQ(find_hit(app, "ref_row"), nullptr);
    EXPECT_EQ(find_hit(app, "ref_insert"), nullptr);

    // A word that is not a name but is found by the search.
    RefProbe::open(app, "writ", "");
    EXPECT_EQ(RefProbe::query(app), "writ");
    ASSERT_FALSE(RefProbe::rows(app).empty());
    EXPECT_TRUE(first_of(RefProbe::rows(app)).header) << "results come under kind headings";
    EXPECT_EQ(ref::title(selected(app)), "write");

    RefProbe::open(app, "mov", "keys");
    EXPECT_EQ(RefProbe::cat(app), 0) << "a topic id wins over the word";
    EXPECT_EQ(ref::title(RefProbe::cur(app)), "Keyboard shortcuts");
    AppProbe::paint(app, W, H);
    EXPECT_EQ(find_hit(app, "ref_insert"), nullptr) << "a topic has no example";

    // A topic that does not exist opens as without one: the last entry.
    RefProbe::open(app, "", "no-such-topic");
    EXPECT_EQ(ref::title(RefProbe::cur(app)), "Keyboard shortcuts");
}

TEST(RefDialog, ReopeningReturnsToTheLastEntryInItsCategory)
{
    App app;
    RefProbe::open(app, "exit", "");
    AppProbe::key(app, SDLK_ESCAPE);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    RefProbe::open(app, "", "");
    EXPECT_EQ(RefProbe::cur(app), ref::lookup("exit"));
    EXPECT_EQ(RefProbe::cat(app), int(ref::Kind::Syscall));
    // Found through a search, then reopened: its own category, no query.
    AppProbe::text_input(app, "pipe2");
    ref::Entry e = RefProbe::cur(app);
    EXPECT_EQ(ref::title(e), "pipe2");
    AppProbe::key(app, SDLK_ESCAPE);
    AppProbe::key(app, SDLK_ESCAPE);
    RefProbe::open(app, "", "");
    EXPECT_EQ(RefProbe::query(app), "");
    EXPECT_EQ(RefProbe::cur(app), e);
}

TEST(RefDialog, BitWidthFromTheFormatOrTheSource)
{
    std::string line300(299, '\n');
    std::string blanks(300000, ' '); // a regular expression on it would recurse per byte
    struct Case {
        const char* what;
        std::string text;
        std::string format;
        int bits;
    };
    const Case cases[] = {
        { "plain source", "mov eax, 1\n", "auto", 64 },
        { "output format elf32", "mov eax, 1\n", "elf32", 32 },
        { "bits 32", "  bits 32\nnop\n", "auto", 32 },
        { "bracketed capitals", "[BITS 16]\n", "auto", 32 },
        { "bits 64", "bits 64\n", "auto", 64 },
        { "at line 300", line300 + "bits 32\n", "auto", 32 },
        { "at line 301", line300 + "\nbits 32\n", "auto", 64 },
        { "behind a huge line", blanks + "x\nbits 32\n", "auto", 32 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        App app;
        add_source(app, c.text);
        AppProbe::settings(app).format = c.format;
        RefProbe::open(app, "mov", "");
        EXPECT_EQ(RefProbe::bits(app), c.bits);
    }
}

TEST(RefDialog, TabCyclesCategoriesOnlyWithoutAQuery)
{
    App app;
    RefProbe::open(app, "", "");
    ASSERT_EQ(RefProbe::cat(app), 0);
    std::vector<int> seen;
    for (int i = 0; i < 5; ++i) {
        AppProbe::key(app, SDLK_TAB);
        seen.push_back(RefProbe::cat(app));
    }
    EXPECT_EQ(seen, (std::vector<int>{ 1, 2, 3, 4, 0 }));
    AppProbe::key(app, SDLK_TAB, KMOD_LSHIFT);
    EXPECT_EQ(RefProbe::cat(app), 4);
    EXPECT_EQ(RefProbe::cur(app).kind, ref::Kind::Errno) << "the new list's first entry";
    AppProbe::text_input(app, "ab");
    AppProbe::key(app, SDLK_TAB);
    EXPECT_EQ(RefProbe::cat(app), 4);
    EXPECT_EQ(RefProbe::query(app), "ab");
}

TEST(RefDialog, ListSteppingSkipsHeadingsAndStopsAtTheEnds)
{
    App app;
    RefProbe::open(app, "", "");
    AppProbe::key(app, SDLK_TAB); // instructions, under group headings
    const auto& rows = RefProbe::rows(app);
    ASSERT_TRUE(rows[0].header);
    int first = RefProbe::sel(app);
    EXPECT_EQ(first, 1);
    AppProbe::key(app, SDLK_UP);
    EXPECT_EQ(RefProbe::sel(app), first) << "Up from the first entry below a heading";

    // Down across a heading lands on the entry after it.
    int before_heading = -1;
    for (size_t i = 1; i + 1 < rows.size(); ++i)
        if (rows[i + 1].header) {
            before_heading = int(i);
            break;
        }
    ASSERT_GT(before_heading, 0);
    RefProbe::show(app, rows[size_t(before_heading)].e);
    AppProbe::key(app, SDLK_DOWN);
    EXPECT_EQ(RefProbe::sel(app), before_heading + 2);
    AppProbe::key(app, SDLK_UP);
    EXPECT_EQ(RefProbe::sel(app), before_heading);

    // Ctrl+Page Down counts 12 entries, headings not counted.
    RefProbe::show(app, rows[1].e);
    AppProbe::key(app, SDLK_PAGEDOWN, KMOD_LCTRL);
    int counted = 0;
    for (int i = 2; i <= RefProbe::sel(app); ++i)
        counted += rows[size_t(i)].header ? 0 : 1;
    EXPECT_EQ(counted, 12);
    AppProbe::key(app, SDLK_PAGEUP, KMOD_RCTRL);
    EXPECT_EQ(RefProbe::sel(app), 1);

    // Near the end it stops at the last entry; Down there keeps it.
    int last = int(rows.size()) - 1;
    RefProbe::show(app, rows[size_t(last - 3)].e);
    AppProbe::key(app, SDLK_PAGEDOWN, KMOD_LCTRL);
    EXPECT_EQ(RefProbe::sel(app), last);
    AppProbe::key(app, SDLK_DOWN);
    EXPECT_EQ(RefProbe::sel(app), last);
    AppProbe::paint(app, W, H);
    EXPECT_NE(find_hit(app, "ref_row", last), nullptr) << "scrolled into view";
}

TEST(RefDialog, TypingSearchesAndEscapeClearsThenCloses)
{
    App app;
    RefProbe::open(app, "", "");
    AppProbe::text_input(app, "sysc");
    EXPECT_EQ(RefProbe::query(app), "sysc");
    EXPECT_EQ(ref::title(selected(app)), "syscall");
    AppProbe::key(app, SDLK_BACKSPACE);
    EXPECT_EQ(RefProbe::query(app), "sys");
    AppProbe::key(app, SDLK_RETURN);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Reference) << "Enter alone does nothing";

    // Escape empties the query and keeps the entry, now in its category.
    RefProbe::open(app, "mov", "");
    AppProbe::text_input(app, "xor");
    EXPECT_EQ(RefProbe::cur(app), ref::lookup("xor"));
    AppProbe::key(app, SDLK_ESCAPE);
    EXPECT_EQ(RefProbe::query(app), "");
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Reference);
    EXPECT_EQ(RefProbe::cur(app), ref::lookup("xor"));
    EXPECT_EQ(selected(app), ref::lookup("xor"));
    AppProbe::key(app, SDLK_ESCAPE);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);

    // Over 400 results: only the best 400 are listed, and the chip says so.
    RefProbe::open(app, "", "");
    AppProbe::text_input(app, "e");
    EXPECT_EQ(entry_rows(app), ref::kMaxResults);
    AppProbe::paint(app, W, H);
    EXPECT_NE(find_hit(app, "ref_all"), nullptr);
}

TEST(RefDialog, ClicksOnChipsRowsBitsAndButtons)
{
    App app;
    add_source(app, "nop\n");
    RefProbe::open(app, "mov", "");
    AppProbe::paint(app, W, H);

    click(app, find_hit(app, "ref_cat", 3));
    EXPECT_EQ(RefProbe::cat(app), 3);
    EXPECT_EQ(RefProbe::cur(app).kind, ref::Kind::Syscall);
    AppProbe::paint(app, W, H);

    auto rows = hits_of(app, "ref_row");
    ASSERT_GE(rows.size(), 3u);
    click(app, &rows[2]);
    EXPECT_EQ(RefProbe::sel(app), rows[2].n);

    click(app, find_hit(app, "ref_bits", 32));
    EXPECT_EQ(RefProbe::bits(app), 32);
    AppProbe::paint(app, W, H);
    click(app, find_hit(app, "ref_bits", 64));
    EXPECT_EQ(RefProbe::bits(app), 64);

    // Inside the box nothing happens; the dimmed area around closes.
    AppProbe::paint(app, W, H);
    const Hit* box = find_hit(app, "dlg_box");
    ASSERT_NE(box, nullptr);
    RefProbe::click(app, box->x + 5, box->y + 5);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Reference);
    EXPECT_EQ(find_hit(app, "editor"), nullptr) << "nothing beneath the dialog can be hit";
    RefProbe::click(app, 2, 2);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);

    RefProbe::open(app, "", "");
    AppProbe::paint(app, W, H);
    click(app, find_hit(app, "dlg_cancel"));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
}

TEST(RefDialog, BitSwitchOnlyWhereItFits)
{
    App app;
    RefProbe::open(app, "mov", "");
    AppProbe::paint(app, W, H);
    EXPECT_EQ(hits_of(app, "ref_bits").size(), 2u);
    AppProbe::paint(app, 560, 600);
    EXPECT_TRUE(hits_of(app, "ref_bits").empty());
    EXPECT_EQ(hits_of(app, "ref_cat").size(), 5u);
}

TEST(RefDialog, WheelAndPageKeysScrollListAndPage)
{
    App app;
    RefProbe::open(app, "", "keys"); // the longest page
    AppProbe::key(app, SDLK_TAB);
    AppProbe::key(app, SDLK_TAB);
    AppProbe::key(app, SDLK_TAB); // system calls: a long list
    AppProbe::paint(app, W, H);
    const Hit* row = find_hit(app, "ref_row");
    ASSERT_NE(row, nullptr);
    AppProbe::wheel(app, row->x + 10, row->y + 10, -2);
    EXPECT_EQ(RefProbe::top(app), 264);
    AppProbe::wheel(app, row->x + 10, row->y + 10, 5);
    EXPECT_EQ(RefProbe::top(app), 0);

    RefProbe::open(app, "", "keys");
    AppProbe::paint(app, W, H);
    AppProbe::paint(app, W, H); // the page height is known from here on
    ASSERT_GT(RefProbe::content(app), RefProbe::view_h(app));
    AppProbe::key(app, SDLK_PAGEDOWN);
    EXPECT_EQ(RefProbe::scroll(app), RefProbe::view_h(app) - 60);
    for (int i = 0; i < 20; ++i)
        AppProbe::key(app, SDLK_PAGEDOWN);
    AppProbe::paint(app, W, H);
    EXPECT_EQ(RefProbe::scroll(app), RefProbe::content(app) - RefProbe::view_h(app) + 16) << "clamped by the paint";
    AppProbe::wheel(app, W - 100, 400, 1);
    EXPECT_EQ(RefProbe::scroll(app), RefProbe::content(app) - RefProbe::view_h(app) + 16 - 60);
    AppProbe::key(app, SDLK_PAGEUP);
    AppProbe::key(app, SDLK_PAGEUP);
    AppProbe::key(app, SDLK_PAGEUP);
    EXPECT_EQ(RefProbe::scroll(app), 0);
}

TEST(RefDialog, APageScrolledToItsEndStillShowsItsCode)
{
    App app;
    RefProbe::open(app, "", "keys"); // one long code block
    AppProbe::paint(app, W, H);
    AppProbe::paint(app, W, H);
    RefProbe::scroll(app) = 1e9;
    AppProbe::paint(app, W, H);
    ASSERT_GT(RefProbe::scroll(app), 100.0);
    const Hit* box = find_hit(app, "dlg_box");
    const Hit* row = find_hit(app, "ref_row");
    ASSERT_TRUE(box && row);
    double dx = row->x + row->w + 24, ly = box->y + 130, lh = RefProbe::view_h(app);
    cairo_surface_t* s = AppProbe::surface(app);
    cairo_surface_flush(s);
    const Palette& pal = AppProbe::palette(app);
    auto ch = [](double v) { return uint32_t(v * 255 + 0.5); };
    uint32_t bg = ch(pal.bg.r) << 16 | ch(pal.bg.g) << 8 | ch(pal.bg.b);
    int inked = 0;
    for (int y = int(ly + lh / 2); y < int(ly + lh - 30); ++y) {
        const auto* px = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s)
                                                           + y * cairo_image_surface_get_stride(s));
        for (int x = int(dx + 12); x < int(dx + 300); ++x)
            inked += (px[x] & 0xFFFFFF) != bg;
    }
    EXPECT_GT(inked, 500) << "the lowest code lines are drawn";
    if (const char* keep = getenv("QX_SHOT_DIR"))
        gfx::write_png(s, std::string(keep) + "/ref_keys_end.png", nullptr);
}

TEST(RefDialog, InsertingExamples)
{
    struct Case {
        const char* what;
        std::string text;
        Editor::Pos caret, anchor;
        const char* word;
        std::string expect;
        Editor::Pos caret_after;
    };
    const std::string loop = "    mov rcx, 10|again:|    ; ...|    loop again|";
    const Case cases[] = {
        { "empty line", "\n", { 0, 0 }, { 0, 0 }, "loop", loop + "|", { 3, 14 } },
        // Keys would have left these blanks in front of the example.
        { "indented blank line", "    \n", { 0, 4 }, { 0, 4 }, "loop", loop + "|", { 3, 14 } },
        { "caret at the start of blanks", "  \t \n", { 0, 0 }, { 0, 0 }, "loop", loop + "|", { 3, 14 } },
        { "line with code", "nop\nret\n", { 0, 1 }, { 0, 1 }, "loop", "nop|" + loop + "ret||", { 4, 14 } },
        { "selection", "aaa\nbbb\nccc\n", { 1, 2 }, { 0, 1 }, "loop",
          "a    mov rcx, 10|again:|    ; ...|    loop againb|ccc||", { 3, 14 } },
        { "call's comment line", "\n", { 0, 0 }, { 0, 0 }, "call", "    call print|    ; ...|print:|    ; ...|    ret||",
          { 4, 7 } },
        { "system call, already indented", "\n", { 0, 0 }, { 0, 0 }, "exit",
          "    mov rax, 60             ; exit|    mov rdi, 0              ; int code|    syscall||", { 2, 11 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        App app;
        Doc* d = add_source(app, c.text);
        d->ed.move_caret(c.anchor, false);
        d->ed.move_caret(c.caret, true);
        RefProbe::open(app, c.word, "");
        AppProbe::key(app, SDLK_RETURN, KMOD_LCTRL);
        EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
        EXPECT_EQ(lines_joined(d->ed), c.expect);
        EXPECT_EQ(d->ed.caret(), c.caret_after);
        EXPECT_FALSE(d->ed.has_selection());
        EXPECT_EQ(AppProbe::status(app), "Example inserted at the cursor.");
        EXPECT_EQ(RefProbe::focus(app), App::Focus::Editor);
        // One undo step takes it all back.
        d->ed.undo();
        EXPECT_EQ(d->ed.text(), c.text);
    }
}

TEST(RefDialog, InsertingWithoutADocumentOpensOneAndTopicsInsertNothing)
{
    App app;
    ASSERT_TRUE(AppProbe::shows_placeholder(app));
    RefProbe::open(app, "", "intro");
    AppProbe::key(app, SDLK_RETURN, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Reference) << "a topic has no example";
    EXPECT_TRUE(AppProbe::docs(app).empty());

    RefProbe::open(app, "nop", "");
    AppProbe::paint(app, W, H);
    const Hit* insert = find_hit(app, "ref_insert");
    ASSERT_NE(insert, nullptr);
    AppProbe::mouse_move(app, insert->x + 4, insert->y + 4);
    EXPECT_EQ(RefProbe::tip(app), "Ctrl+Enter");
    AppProbe::paint(app, W, H); // the tooltip over the dialog
    insert = find_hit(app, "ref_insert");
    click(app, insert);
    ASSERT_EQ(AppProbe::docs(app).size(), 1u);
    EXPECT_FALSE(AppProbe::shows_placeholder(app));
    EXPECT_EQ(AppProbe::docs(app)[0]->ed.line(0), "    nop");
    EXPECT_EQ(AppProbe::blank_source(app).ed.text(), "");
}

TEST(RefDialog, HoverHelpNamesTheSystemCallByItsNumber)
{
    struct Case {
        const char* what;
        std::string text;
        int line;
        const char* word;
        std::string begins;
        std::string absent;
    };
    const std::string tall(5000, ' '); // the regular expressions see only its start
    const Case cases[] = {
        { "write by rax", "mov rax, 1\nsyscall\n", 1, "syscall", "write(fd = rdi, buf = rsi, count = rdx)\n", "" },
        // Call 34 is pause; the PAUSE instruction shares the name.
        { "pause by number", "mov eax, 34\nsyscall\n", 1, "syscall", "pause()\n", "spin" },
        { "int 0x80 after eax 4", "mov eax, 4\nint 0x80\n", 1, "int", "write(fd = ebx, buf = ecx, count = edx)\n", "" },
        { "int 21h is no system call", "mov ah, 9\nint 21h\n", 1, "int", "int  \xe2\x80\x94  ", "" },
        { "a label, not a number", "mov rax, nr\nsyscall\n", 1, "syscall", "syscall  \xe2\x80\x94  ", "" },
        { "a load behind a huge line", tall + "\nmov rax, 60\n" + tall + "\nsyscall\n", 3, "syscall", "exit(", "" },
        { "a directive", "section .text\n", 0, "section", "section, segment  \xe2\x80\x94  ", "" },
        // Section names come before the local-label reading of ".name".
        { "a section name", "section .text\n", 0, ".text", "section, segment  \xe2\x80\x94  ", "local" },
        { "a label gets nothing", "start:\n", 0, "start", "", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        App app;
        Doc* d = add_source(app, c.text);
        AppProbe::paint(app, W, H);
        // The pointer's y on the case's line of the painted editor.
        const Hit* ed = find_hit(app, "editor");
        ASSERT_NE(ed, nullptr);
        double y = ed->y + (c.line + 0.5) * d->ed.line_height_px();
        ASSERT_EQ(d->ed.line_at_y(y), c.line);
        std::string tip = RefProbe::editor_tip(app, c.word, ed->x + 100, y);
        if (c.begins.empty()) {
            EXPECT_EQ(tip, "");
            continue;
        }
        EXPECT_EQ(tip.substr(0, c.begins.size()), c.begins) << tip;
        if (!c.absent.empty()) {
            EXPECT_EQ(tip.find(c.absent), std::string::npos) << tip;
        }
        EXPECT_NE(tip.find("F1: more about it"), std::string::npos);
    }
}

TEST(RefDialog, HoverOverTheEditorShowsTheTip)
{
    App app;
    Doc* d = add_source(app, "mov rax, 1\nsyscall\n");
    AppProbe::paint(app, W, H);
    const Hit* ed = find_hit(app, "editor");
    ASSERT_NE(ed, nullptr);
    double y = ed->y + 1.5 * d->ed.line_height_px();
    // Along the second line until the pointer is on the word.
    bool found = false;
    for (double x = ed->x; x < ed->x + 300 && !found; x += 3) {
        AppProbe::mouse_move(app, x, y);
        found = RefProbe::hover(app) == "editor#0:syscall";
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(RefProbe::tip(app).rfind("write(", 0), 0u) << RefProbe::tip(app);
    AppProbe::paint(app, W, H); // the tooltip paints over the frame

    // Nowhere near a word: no tip.
    AppProbe::mouse_move(app, ed->x + 300, ed->y + 10.5 * d->ed.line_height_px());
    EXPECT_EQ(RefProbe::tip(app), "");
}

TEST(RefDialog, F1OpensAtTheWordAtTheCaret)
{
    App app;
    Doc* d = add_source(app, "    syscall\n");
    d->ed.move_caret({ 0, 6 }, false);
    AppProbe::key(app, SDLK_F1);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Reference);
    EXPECT_EQ(RefProbe::cur(app), ref::lookup("syscall"));
    EXPECT_EQ(RefProbe::cur(app).kind, ref::Kind::Insn);
}

// ---- the real window

namespace {

class RefWindow : public XWindowTest {
protected:
    // QX_SHOT_DIR keeps the pictures for a look.
    std::string shot(const std::string& name) const
    {
        const char* keep = getenv("QX_SHOT_DIR");
        return keep && *keep ? std::string(keep) + "/" + name : m_tmp.file(name);
    }
};

} // namespace

TEST_F(RefWindow, OpensFromTheCommandLineInBothThemes)
{
    struct Case {
        const char* arg;
        const char* theme;
    };
    const Case cases[] = { { "mov", "dark" }, { "mov", "light" }, { "@keys", "dark" }, { "@keys", "light" } };
    for (const Case& c : cases) {
        std::string name = std::string("ref_") + (c.arg[0] == '@' ? c.arg + 1 : c.arg) + "_" + c.theme + ".png";
        SCOPED_TRACE(name);
        std::string png = shot(name);
        auto r = run_exe({ "--size", "1400x900", "--theme", c.theme, "--reference", c.arg, "--screenshot", png,
                           source_dir() + "/examples/hello.asm" },
                         env());
        ASSERT_EQ(r.code, 0) << r.err;
        cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
        ASSERT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
        EXPECT_EQ(cairo_image_surface_get_width(s), 1400);
        Palette pal = Palette::make(std::string(c.theme) == "dark");
        // The box is 1240 x 876, centred: its panel between the buttons and
        // the list, the list's own colour, the search field's background.
        int bx = (1400 - 1240) / 2, by = (900 - 876) / 2;
        EXPECT_EQ(pixel(s, bx + 700, by + 876 - 20), rgb(pal.panel));
        EXPECT_EQ(pixel(s, bx + 25, by + 876 - 80), rgb(pal.panel2));
        EXPECT_EQ(pixel(s, bx + 600, by + 55), rgb(pal.bg));
        // Around the box the window is dimmed: darker than its own panel.
        uint32_t outside = pixel(s, 10, 890);
        EXPECT_LT(outside & 0xFF, rgb(pal.panel2) & 0xFF);
        cairo_surface_destroy(s);
    }
}
