// The application object without a window: defaults, the frame layout and
// its hit list painted into an image surface, documents and tabs, and the
// faults mended in them.
#include "app.h"
#include "app_probe.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace testutil;

namespace {

std::vector<Hit> hits_of(App& app, const std::string& id)
{
    return AppProbe::hits_of(app, id);
}

const Hit* first_hit(App& app, const std::string& id)
{
    for (const Hit& h : AppProbe::hits(app))
        if (h.id == id)
            return &h;
    return nullptr;
}

Doc* add_source(App& app, const std::string& path, const std::string& text = "mov eax, 1\n")
{
    Doc* d = AppProbe::new_doc(app, false);
    d->path = path;
    d->ed.set_text(text);
    AppProbe::activate(app, d);
    return d;
}

} // namespace

TEST(App, ConstructsWithoutWindowAtItsDefaults)
{
    App app;
    const Settings& s = AppProbe::settings(app);
    EXPECT_EQ(s.language, "auto");
    EXPECT_EQ(s.theme, "auto");
    EXPECT_EQ(s.format, "auto");
    EXPECT_EQ(s.font, 14.0);
    EXPECT_EQ(s.bottom_frac, 0.3);
    EXPECT_EQ(s.right_w, 300.0);
    EXPECT_EQ(s.right_frac, 0.0);
    EXPECT_TRUE(s.show_side && s.show_bottom && s.auto_debug);
    EXPECT_EQ(s.raw_bits, 16);
    EXPECT_EQ(s.reg_width, 64);
    EXPECT_FALSE(s.win.has_pos);
    EXPECT_TRUE(AppProbe::docs(app).empty());
    EXPECT_TRUE(AppProbe::shows_placeholder(app));
    EXPECT_TRUE(AppProbe::dirty(app));
    EXPECT_EQ(AppProbe::window(app), nullptr);
}

TEST(App, FrameLayoutAndHitsAt1280x800)
{
    App app;
    add_source(app, "/tmp/a.asm");
    AppProbe::paint(app, 1280, 800);

    // Menu bar: seven titles from x 32, each the full bar high, side by side.
    auto menus = hits_of(app, "menubar");
    ASSERT_EQ(menus.size(), 7u);
    EXPECT_EQ(menus[0].x, 32);
    for (size_t i = 0; i < menus.size(); ++i) {
        EXPECT_EQ(menus[i].n, int(i));
        EXPECT_EQ(menus[i].y, 0);
        EXPECT_EQ(menus[i].h, 28);
        if (i > 0) {
            EXPECT_EQ(menus[i].x, menus[i - 1].x + menus[i - 1].w);
        }
    }

    // Toolbar: 30-pixel buttons at y 34, 4 apart, separators of 12.
    const Hit* nw = first_hit(app, "tb_new");
    ASSERT_NE(nw, nullptr);
    EXPECT_EQ(nw->x, 8);
    EXPECT_EQ(nw->y, 34);
    EXPECT_EQ(nw->w, 34);
    EXPECT_EQ(nw->h, 30);
    EXPECT_NE(nw->tip.find("(Ctrl+N)"), std::string::npos);
    const Hit* bin = first_hit(app, "tb_bin");
    const Hit* build = first_hit(app, "tb_build");
    ASSERT_TRUE(bin && build);
    EXPECT_EQ(bin->x, 8 + 3 * 38);
    EXPECT_EQ(build->x, bin->x + 34 + 4 + 12);
    EXPECT_GT(build->w, 34 + 20) << "labelled at this width";
    const Hit* debug = first_hit(app, "tb_debug");
    ASSERT_NE(debug, nullptr);
    // Nothing is being debugged: step out and stop are disabled, no hit.
    EXPECT_EQ(first_hit(app, "tb_out"), nullptr);
    EXPECT_EQ(first_hit(app, "tb_stop"), nullptr);
    EXPECT_NE(first_hit(app, "tb_settings"), nullptr);

    // Tab strip: one tab from x 6 under the toolbar, its close box.
    auto tabs = hits_of(app, "tab_main");
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(tabs[0].x, 6);
    EXPECT_EQ(tabs[0].y, 70);
    EXPECT_EQ(tabs[0].h, 32);
    EXPECT_EQ(tabs[0].tip, "/tmp/a.asm");
    const Hit* close = first_hit(app, "tab_close");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->x, tabs[0].x + tabs[0].w - 25);
    EXPECT_EQ(close->w, 20);

    // Side panel 300 wide (right_w / W), bottom pane 240 high (0.3 H).
    const Hit* right = first_hit(app, "split_right");
    ASSERT_NE(right, nullptr);
    EXPECT_EQ(right->x, 1280 - 300 - 1 - 5);
    EXPECT_EQ(right->w, 10);
    EXPECT_EQ(right->y, 70);
    EXPECT_EQ(right->h, 776 - 240 - 70);
    const Hit* bottom = first_hit(app, "split_bottom");
    ASSERT_NE(bottom, nullptr);
    EXPECT_EQ(bottom->y, 776 - 240 - 5);
    EXPECT_EQ(bottom->w, 1280);
    EXPECT_EQ(bottom->h, 10);

    // The editor fills the document area below the tabs.
    const Hit* ed = first_hit(app, "editor");
    ASSERT_NE(ed, nullptr);
    EXPECT_EQ(ed->x, 0);
    EXPECT_EQ(ed->y, 102);
    EXPECT_EQ(ed->w, 1280 - 300 - 1);
    EXPECT_EQ(ed->h, (776 - 240 - 70 - 1) - 32);

    // Splitters are recorded after the panes, so their grab zones win.
    auto& all = AppProbe::hits(app);
    auto index = [&](const char* id) {
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].id == id)
                return int(i);
        return -1;
    };
    EXPECT_GT(index("split_right"), index("editor"));
    EXPECT_EQ(AppProbe::hit_at(app, right->x + 5, 200)->id, "split_right");
    EXPECT_FALSE(AppProbe::dirty(app));
}

TEST(App, LayoutVariants)
{
    struct Case {
        const char* what;
        double w, h;
        bool side, bottom;
        double editor_w, editor_h;
        bool labelled_build;
    };
    const Case cases[] = {
        { "compact toolbar below 1150", 1100, 800, true, true, 1100 - 300 - 1, 776 - 240 - 71 - 32, false },
        { "no side panel", 1280, 800, false, true, 1280, 776 - 240 - 71 - 32, true },
        { "no bottom pane", 1280, 800, true, false, 979, 776 - 71 - 32, true },
        // H - 254 < 90: the bottom pane keeps 90, the document takes the rest.
        { "tiny window", 800, 300, true, true, 800 - 300 - 1, 276 - 90 - 71 - 32, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        App app;
        AppProbe::settings(app).show_side = c.side;
        AppProbe::settings(app).show_bottom = c.bottom;
        add_source(app, "/tmp/b.asm");
        AppProbe::paint(app, c.w, c.h);
        const Hit* ed = first_hit(app, "editor");
        ASSERT_NE(ed, nullptr);
        EXPECT_EQ(ed->w, c.editor_w);
        EXPECT_EQ(ed->h, c.editor_h);
        EXPECT_EQ(first_hit(app, "split_right") != nullptr, c.side);
        EXPECT_EQ(first_hit(app, "split_bottom") != nullptr, c.bottom);
        const Hit* build = first_hit(app, "tb_build");
        ASSERT_NE(build, nullptr);
        EXPECT_EQ(build->w > 34, c.labelled_build);
        // Debug keeps its label at every width.
        EXPECT_GT(first_hit(app, "tb_debug")->w, 34);
    }
}

TEST(App, RightFractionIsDerivedOnceFromTheOldWidth)
{
    App app;
    AppProbe::settings(app).right_w = 100; // 100 / 1280 is below the 0.12 floor
    AppProbe::paint(app, 1280, 800);
    EXPECT_DOUBLE_EQ(AppProbe::settings(app).right_frac, 0.12);
    // 0.12 of 1280 is 154, below the panel's minimum width of 220.
    EXPECT_EQ(first_hit(app, "split_right")->x, 1280 - 220 - 1 - 5);
}

TEST(App, OverflowingTabsKeepTheActiveOneReachable)
{
    App app;
    std::vector<Doc*> docs;
    for (int i = 0; i < 30; ++i)
        docs.push_back(add_source(app, "/tmp/tab_number_" + std::to_string(i) + ".asm"));
    AppProbe::paint(app, 1280, 800);
    // The last one is active: its tab and close box lie inside the strip.
    auto tabs = hits_of(app, "tab_main");
    ASSERT_FALSE(tabs.empty());
    const Hit& last = last_of(tabs);
    EXPECT_EQ(last.n, 29);
    EXPECT_LE(last.x + last.w, 979.0);
    EXPECT_GE(last.w, 60.0);
    const Hit* close = first_hit(app, "tab_close");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->n, 29);
    for (const Hit& t : tabs) {
        EXPECT_GE(t.x, 0.0);
        EXPECT_LE(t.x + t.w, 979.0);
    }
    // Tabs scrolled out are reached with the wheel over the strip.
    EXPECT_NE(first_of(tabs).n, 0);
    AppProbe::wheel(app, 300, 80, 100);
    AppProbe::paint(app, 1280, 800);
    EXPECT_EQ(first_of(hits_of(app, "tab_main")).n, 0);
    EXPECT_EQ(first_of(hits_of(app, "tab_main")).x, 6);
    // Choosing a tab far away brings it into view again.
    AppProbe::activate(app, docs[29]);
    AppProbe::paint(app, 1280, 800);
    EXPECT_EQ(last_of(hits_of(app, "tab_main")).n, 29);
}

TEST(App, TypingOnTheWelcomePageGoesNowhere)
{
    App app;
    AppProbe::text_input(app, "x");
    EXPECT_EQ(AppProbe::blank_source(app).ed.text(), "");
    EXPECT_FALSE(AppProbe::blank_source(app).ed.modified());
    Doc* d = add_source(app, "/tmp/c.asm", "");
    AppProbe::text_input(app, "x");
    EXPECT_EQ(d->ed.line(0), "x");
}

TEST(App, FormatDetectionRunsOncePerTextGeneration)
{
    App app;
    Doc* d = add_source(app, "/tmp/d.asm", "bits 32\nmov eax, 1\n");
    AppProbe::paint(app, 1280, 800);
    AppProbe::paint(app, 1280, 800);
    AppProbe::paint(app, 1280, 800);
    EXPECT_EQ(AppProbe::format_runs(app), 1);
    EXPECT_EQ(AppProbe::format_text(app), "elf32 (auto)");
    d->ed.set_text("org 0x100\n");
    AppProbe::paint(app, 1280, 800);
    EXPECT_EQ(AppProbe::format_runs(app), 2);
    EXPECT_EQ(AppProbe::format_text(app), "bin (auto)");
    AppProbe::settings(app).format = "elf64";
    EXPECT_EQ(AppProbe::format_text(app), "elf64");
}

TEST(App, ClosingPicksTheNearestNeighbour)
{
    App app;
    Doc* a = add_source(app, "/tmp/a.asm");
    Doc* b = add_source(app, "/tmp/b.asm");
    Doc* c = add_source(app, "/tmp/c.asm");
    AppProbe::activate(app, b);
    AppProbe::close_doc(app, b, false);
    EXPECT_EQ(AppProbe::front(app), c) << "the right neighbour slid into the gap";
    AppProbe::close_doc(app, c, false);
    EXPECT_EQ(AppProbe::front(app), a) << "no right neighbour: the left one";
    AppProbe::close_doc(app, a, false);
    EXPECT_TRUE(AppProbe::shows_placeholder(app));
    EXPECT_EQ(AppProbe::settings(app).main_tab, 0);
}

TEST(App, ModifiedDocumentIsNotClosedUnasked)
{
    App app;
    Doc* a = add_source(app, "/tmp/a.asm");
    Doc* b = add_source(app, "/tmp/b.asm");
    a->ed.insert("x");
    AppProbe::close_doc(app, a, false);
    EXPECT_EQ(AppProbe::docs(app).size(), 2u);
    EXPECT_EQ(AppProbe::front(app), a);
    AppProbe::close_doc(app, a, true);
    EXPECT_EQ(AppProbe::docs(app).size(), 1u);
    EXPECT_EQ(AppProbe::front(app), b);
}

TEST(App, FindDocMatchesKindAndExactPath)
{
    App app;
    Doc* untitled = AppProbe::new_doc(app, false);
    Doc* a = add_source(app, "/tmp/x/a.asm");
    EXPECT_EQ(AppProbe::find_doc(app, "", false), nullptr) << untitled;
    EXPECT_EQ(AppProbe::find_doc(app, "/tmp/x/a.asm", false), a);
    EXPECT_EQ(AppProbe::find_doc(app, "/tmp/x/a.asm", true), nullptr);
    EXPECT_EQ(AppProbe::find_doc(app, "/tmp/x/./a.asm", false), nullptr);
}

TEST(App, RememberedTabsSkipHiddenUntitledAndWorkFiles)
{
    App app;
    add_source(app, "/tmp/one.asm");
    AppProbe::new_doc(app, false); // untitled
    Doc* work = AppProbe::new_doc(app, false);
    work->path = tc::temp_dir() + "/build.asm";
    Doc* hidden = AppProbe::new_doc(app, true);
    hidden->img.m_path = "/tmp/one";
    hidden->hidden = true;
    Doc* two = add_source(app, "/tmp/two.asm");
    AppProbe::activate(app, two);
    const Settings& s = AppProbe::settings(app);
    EXPECT_EQ(s.open_tabs, (std::vector<std::string>{ "s:/tmp/one.asm", "s:/tmp/two.asm" }));
    EXPECT_EQ(s.active_tab, 1);
}

TEST(App, CommandLineFilesKeepTheRememberedTabs)
{
    // A start with files adds them to what was remembered, not instead.
    App app;
    AppProbe::keep_tabs(app, { "s:/old/a.asm", "s:/new/b.asm" });
    Doc* b = add_source(app, "/new/b.asm");
    add_source(app, "/new/c.asm");
    AppProbe::activate(app, b);
    const Settings& s = AppProbe::settings(app);
    EXPECT_EQ(s.open_tabs, (std::vector<std::string>{ "s:/old/a.asm", "s:/new/b.asm", "s:/new/c.asm" }));
    EXPECT_EQ(s.active_tab, 1);
}

TEST(App, CommandLinePathsAreMadeAbsoluteOnce)
{
    TempDir tmp;
    ASSERT_EQ(chdir(tmp.path().c_str()), 0);
    EXPECT_EQ(absolute_path("./a.asm"), tmp.file("a.asm"));
    EXPECT_EQ(absolute_path("a.asm"), tmp.file("a.asm"));
    EXPECT_EQ(absolute_path("sub/../a.asm"), tmp.file("a.asm"));
    EXPECT_EQ(absolute_path("/x/y.asm"), "/x/y.asm");
    ASSERT_EQ(chdir("/"), 0);
}

TEST(App, StartUpDialogsWaitTheirTurn)
{
    App app;
    AppProbe::show_modal(app, App::Modal::Settings);
    AppProbe::show_modal(app, App::Modal::Crash);
    AppProbe::show_modal(app, App::Modal::Reference);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Settings);
    AppProbe::close_modal(app);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Crash);
    AppProbe::close_modal(app);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Reference);
    AppProbe::close_modal(app);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
}

TEST(App, HoverRepaintsOnlyWhenSomethingChanges)
{
    App app;
    add_source(app, "/tmp/a.asm");
    AppProbe::paint(app, 1280, 800);
    const Hit* nw = first_hit(app, "tb_new");
    AppProbe::mouse_move(app, nw->x + 2, nw->y + 2);
    EXPECT_TRUE(AppProbe::dirty(app));
    AppProbe::paint(app, 1280, 800);
    // The tooltip follows the mouse; outside any hit nothing changes.
    AppProbe::mouse_move(app, 600, 20);
    EXPECT_TRUE(AppProbe::dirty(app));
    AppProbe::paint(app, 1280, 800);
    AppProbe::mouse_move(app, 601, 21);
    AppProbe::mouse_move(app, 602, 21);
    EXPECT_FALSE(AppProbe::dirty(app));
}

TEST(App, ConsoleScriptIsReadLikeLines)
{
    struct Case {
        const char* script;
        std::vector<std::string> echoed;
    };
    const Case cases[] = {
        { "r;;d", { "-r", "-", "-d" } },
        { "r;", { "-r" } },
        { "?", { "-?" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        App app;
        AppProbe::run_script(app, c.script);
        std::vector<std::string> echoed;
        for (const Console::Line& l : AppProbe::console(app).lines())
            if (l.kind == Console::kEcho)
                echoed.push_back(l.text);
        EXPECT_EQ(echoed, c.echoed);
        EXPECT_EQ(AppProbe::settings(app).bottom_tab, 2);
    }
}

TEST(App, QuitNamesUnsavedDocumentsBeforeEnding)
{
    App app;
    Doc* a = add_source(app, "/tmp/a.asm");
    add_source(app, "/tmp/b.asm");
    AppProbe::cmd_quit(app);
    EXPECT_TRUE(AppProbe::quitting(app)) << "nothing unsaved: no question";

    App edited;
    a = add_source(edited, "/tmp/a.asm");
    add_source(edited, "/tmp/b.asm");
    a->ed.insert("x");
    AppProbe::cmd_quit(edited);
    EXPECT_FALSE(AppProbe::quitting(edited));
    EXPECT_EQ(AppProbe::front(edited), a);
    EXPECT_NE(AppProbe::dlg_text(edited).find("a.asm"), std::string::npos);
    ASSERT_TRUE(AppProbe::click(edited, "dlg_button", 1)) << "Discard";
    EXPECT_TRUE(AppProbe::quitting(edited));
}

TEST(App, KeysAndTextGoToTheFocusedField)
{
    App app;
    Doc* d = add_source(app, "/tmp/a.asm", "ab");
    AppProbe::key(app, SDLK_END);
    AppProbe::text_input(app, "c");
    EXPECT_EQ(d->ed.line(0), "abc");
    AppProbe::open_find(app); // focus in the find field holding "mov"
    AppProbe::text_input(app, "e");
    AppProbe::key(app, SDLK_BACKSPACE);
    AppProbe::key(app, SDLK_BACKSPACE);
    EXPECT_EQ(d->ed.line(0), "abc");
    AppProbe::paint(app, 1280, 800);
    AppProbe::key(app, SDLK_ESCAPE);
    AppProbe::text_input(app, "d");
    EXPECT_EQ(d->ed.line(0), "abcd") << "Escape closed the bar, the editor has the keys again";
}
