// Keys, typed text and the pointer through the window's dispatch: SDL
// events are pushed into SDL's queue, taken out as the main loop does and
// handed to the application; presses land on the hits of a painted frame.
#include "app.h"
#include "app_probe.h"
#include "l10n.h"
#include "toolchain.h"
#include "testutil.h"
#include "xserver.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>
#include <cmath>
#include <csignal>
#include <fstream>

namespace {

using Log = std::vector<std::string>;
using testutil::first_of;
using testutil::last_of;


struct SdlEvents : ::testing::Environment {
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        ASSERT_EQ(SDL_Init(SDL_INIT_EVENTS), 0) << SDL_GetError();
    }
    void TearDown() override { SDL_Quit(); }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new SdlEvents);

// One event through SDL's queue and the application's dispatch.
void send(App& app, SDL_Event e)
{
    ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
    SDL_Event got;
    while (SDL_PollEvent(&got))
        AppProbe::handle(app, got);
}

void press(App& app, SDL_Keycode sym, Uint16 mod = KMOD_NONE)
{
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = SDL_GetScancodeFromKey(sym);
    e.key.keysym.mod = mod;
    send(app, e);
}

void type(App& app, const char* text)
{
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    snprintf(e.text.text, sizeof e.text.text, "%s", text);
    send(app, e);
}

void button(App& app, Uint32 type, double x, double y, int b = SDL_BUTTON_LEFT)
{
    SDL_Event e{};
    e.type = type;
    e.button.button = Uint8(b);
    e.button.clicks = 1;
    e.button.x = int(x);
    e.button.y = int(y);
    send(app, e);
}

void click(App& app, double x, double y, int b = SDL_BUTTON_LEFT)
{
    button(app, SDL_MOUSEBUTTONDOWN, x, y, b);
    button(app, SDL_MOUSEBUTTONUP, x, y, b);
}

void move(App& app, double x, double y)
{
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.x = int(x);
    e.motion.y = int(y);
    send(app, e);
}

Doc* add_source(App& app, const std::string& path, const std::string& text = "mov eax, 1\n")
{
    Doc* d = AppProbe::new_doc(app, false);
    d->path = path;
    d->ed.set_text(text);
    AppProbe::activate(app, d);
    return d;
}

const Hit* first_hit(App& app, const std::string& id, int n = -1)
{
    for (const Hit& h : AppProbe::hits(app))
        if (h.id == id && (n < 0 || h.n == n))
            return &h;
    return nullptr;
}

// Polls the file dialog as the loop does until it has answered.
void settle_file_dialog(App& app)
{
    for (int i = 0; i < 300 && AppProbe::file_op(app) != App::FileOp::None; ++i) {
        AppProbe::poll_file_dialog(app);
        if (AppProbe::file_op(app) != App::FileOp::None)
            SDL_Delay(10);
    }
}

} // namespace

TEST(AppKeys, CommandKeysAndTheCtrlTable)
{
    struct Case {
        SDL_Keycode sym;
        Uint16 mod;
        App::Modal modal;   // the dialog the key opens
        size_t lines;       // the source's lines afterwards
    };
    const Case cases[] = {
        { SDLK_k, KMOD_LCTRL, App::Modal::Convert, 3 },
        { SDLK_k, KMOD_LCTRL | KMOD_LSHIFT, App::Modal::None, 2 }, // the editor's delete lines
        { SDLK_b, KMOD_NONE, App::Modal::None, 3 },                // letters come as text, not keys
        { SDLK_F6, KMOD_LCTRL, App::Modal::None, 3 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(SDL_GetKeyName(c.sym)) + " mod " + std::to_string(c.mod));
        App app;
        Doc* d = add_source(app, "/tmp/a.asm", "start:\n  mov eax, 1\n");
        press(app, c.sym, c.mod);
        EXPECT_EQ(AppProbe::modal(app), c.modal);
        EXPECT_EQ(d->ed.line_count(), c.lines);
    }
}

// The keys of commands that exist reach them: what each did is checked.
TEST(AppKeys, CtrlTableReachesTheFileCommandsAndTheReference)
{
    testutil::TempDir dir;
    setenv("QXASM_NO_PORTAL", "1", 1); // the path prompt stands in for the chooser
    {
        App app;
        add_source(app, dir.file("a.asm"), "start:\n  mov eax, 1\n");
        press(app, SDLK_F1);
        EXPECT_EQ(AppProbe::modal(app), App::Modal::Reference);
    }
    {
        // The font keys, the next match and go to.
        App app;
        Doc* d = add_source(app, dir.file("a.asm"), "start:\n  mov eax, 1\n  mov eax, 2\n");
        AppProbe::settings(app).font = 14;
        press(app, SDLK_PLUS, KMOD_LCTRL);
        press(app, SDLK_EQUALS, KMOD_RCTRL);
        press(app, SDLK_KP_PLUS, KMOD_LCTRL);
        EXPECT_EQ(AppProbe::settings(app).font, 17);
        press(app, SDLK_MINUS, KMOD_LCTRL);
        EXPECT_EQ(AppProbe::settings(app).font, 16);
        AppProbe::find_field(app).set("mov");
        press(app, SDLK_F3);
        EXPECT_EQ(d->ed.caret().line, 1);
        press(app, SDLK_F3);
        EXPECT_EQ(d->ed.caret().line, 2);
        press(app, SDLK_F3, KMOD_LSHIFT);
        EXPECT_EQ(d->ed.caret().line, 1);
        press(app, SDLK_g, KMOD_LCTRL);
        EXPECT_EQ(AppProbe::modal(app), App::Modal::Prompt);
        EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("dlg.goto_line"));
    }
    {
        App app;
        add_source(app, dir.file("a.asm"), "x");
        size_t before = AppProbe::docs(app).size();
        press(app, SDLK_n, KMOD_LCTRL);
        EXPECT_EQ(AppProbe::docs(app).size(), before + 1);
    }
    const struct {
        SDL_Keycode sym;
        Uint16 mod;
        App::FileOp op;
    } dialogs[] = {
        { SDLK_o, KMOD_LCTRL, App::FileOp::OpenSrc },
        { SDLK_o, KMOD_LCTRL | KMOD_LSHIFT, App::FileOp::OpenBin },
        { SDLK_s, KMOD_LCTRL | KMOD_LSHIFT, App::FileOp::SaveSrcAs },
    };
    for (const auto& c : dialogs) {
        SCOPED_TRACE(std::string(SDL_GetKeyName(c.sym)) + " mod " + std::to_string(c.mod));
        App app;
        add_source(app, dir.file("a.asm"), "x");
        press(app, c.sym, c.mod);
        EXPECT_EQ(AppProbe::file_op(app), c.op);
        // Without the portal the in-window path prompt asks for the file.
        settle_file_dialog(app);
        EXPECT_EQ(AppProbe::modal(app), App::Modal::Prompt);
        AppProbe::cancel_file_op(app);
    }
    {
        // Ctrl+S writes the named source (Alt is not examined).
        App app;
        Doc* d = add_source(app, dir.file("b.asm"), "mov eax, 2\n");
        d->ed.set_modified(true);
        press(app, SDLK_s, KMOD_LCTRL | KMOD_LALT);
        EXPECT_EQ(testutil::read_file(dir.file("b.asm")), "mov eax, 2\n");
        EXPECT_FALSE(d->ed.modified());
    }
    unsetenv("QXASM_NO_PORTAL");
}

// The build and debugging keys reach the real commands: the build runs,
// the program runs, stops at its entry, steps and ends.
TEST(AppKeys, BuildAndDebugKeysDriveTheRealProgram)
{
    if (tc::find_tool("nasm").empty() || tc::find_tool("ld").empty())
        GTEST_SKIP() << "nasm and ld are needed";
    testutil::TempDir tmp;
    setenv("XDG_CONFIG_HOME", tmp.path().c_str(), 1);
    App app;
    Doc* d = add_source(app, tmp.path() + "/exit.asm",
                        "section .text\nglobal _start\n_start:\n    mov eax, 60\n    mov edi, 7\n    syscall\n");
    d->ed.set_modified(true); // the build writes it first
    auto pump = [&](auto cond) {
        for (int i = 0; i < 2000; ++i) {
            AppProbe::debug_tick(app);
            if (cond())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    };
    auto built = [&] { return !AppProbe::building(app); };

    d->ed.move_caret({ 3, 0 }, false);
    press(app, SDLK_F9);
    EXPECT_EQ(d->ed.breakpoints, std::set<int>{ 3 });
    press(app, SDLK_F9);
    EXPECT_TRUE(d->ed.breakpoints.empty());

    // Function keys take any modifier; Ctrl+B builds too.
    for (Uint16 mod : { Uint16(KMOD_LALT), Uint16(KMOD_LCTRL) }) {
        press(app, mod == KMOD_LCTRL ? SDLK_b : SDLK_F7, mod);
        EXPECT_TRUE(AppProbe::building(app));
        ASSERT_TRUE(pump(built));
        EXPECT_FALSE(d->ed.modified());
    }
    // So does the toolbar's button.
    AppProbe::paint(app, 1280, 800);
    const Hit* tb = first_hit(app, "tb_build");
    ASSERT_NE(tb, nullptr);
    click(app, tb->x + tb->w / 2, tb->y + tb->h / 2);
    EXPECT_TRUE(AppProbe::building(app));
    ASSERT_TRUE(pump(built));

    auto ended = [&] { return !AppProbe::process(app).alive() && !AppProbe::building(app); };
    auto said = [&](const std::string& text) {
        const auto& lines = AppProbe::prog_lines(app);
        return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.first == text; });
    };
    press(app, SDLK_F5, KMOD_LCTRL);
    ASSERT_TRUE(pump(ended));
    EXPECT_TRUE(said(L10n::tr("run.exited", 7)));

    auto stopped = [&] {
        return AppProbe::process(app).state() == dbg::State::Stopped && !AppProbe::building(app);
    };
    press(app, SDLK_F5);
    ASSERT_TRUE(pump(stopped)) << "F5 starts under the debugger at the entry";
    uint64_t entry = AppProbe::process(app).pc();
    press(app, SDLK_F10);
    ASSERT_TRUE(pump(stopped));
    EXPECT_NE(AppProbe::process(app).pc(), entry) << "F10 stepped";
    press(app, SDLK_F5, KMOD_RSHIFT);
    ASSERT_TRUE(pump(ended));
    EXPECT_TRUE(said(L10n::tr("run.killed")));
}

TEST(AppKeys, CtrlShiftKDeletesLinesInsteadOfOpeningTheConverter)
{
    App app;
    Doc* d = add_source(app, "/tmp/a.asm", "one\ntwo\nthree\n");
    press(app, SDLK_k, KMOD_LCTRL | KMOD_LSHIFT);
    EXPECT_EQ(d->ed.line(0), "two");
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    press(app, SDLK_k, KMOD_RCTRL);
    EXPECT_EQ(d->ed.line(0), "two");
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Convert);
}

TEST(AppKeys, CtrlKeysActingOnTheWindow)
{
    App app;
    Doc* a = add_source(app, "/tmp/a.asm");
    Doc* hidden = add_source(app, "/tmp/h.asm");
    hidden->hidden = true;
    Doc* c = add_source(app, "/tmp/c.asm");
    AppProbe::activate(app, a);
    press(app, SDLK_TAB, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::front(app), c) << "the hidden document is passed over";
    press(app, SDLK_TAB, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::front(app), a) << "wraps round";
    press(app, SDLK_TAB, KMOD_LCTRL | KMOD_LSHIFT);
    EXPECT_EQ(AppProbe::front(app), c);

    AppProbe::settings(app).font = 19;
    press(app, SDLK_KP_0, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::settings(app).font, 14);

    press(app, SDLK_2, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::settings(app).main_tab, 1);
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Bin);
    setenv("QXASM_NO_PORTAL", "1", 1);
    press(app, SDLK_s, KMOD_LCTRL | KMOD_LSHIFT);
    EXPECT_EQ(AppProbe::file_op(app), App::FileOp::None) << "no binary is open: nothing to save";
    press(app, SDLK_3, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::settings(app).bottom_tab, 2);
    EXPECT_EQ(AppProbe::focus(app), App::Focus::ConIn);
    press(app, SDLK_s, KMOD_LCTRL | KMOD_LSHIFT);
    EXPECT_EQ(AppProbe::file_op(app), App::FileOp::SaveSrcAs) << "the binary is saved only from the binary view";
    settle_file_dialog(app);
    AppProbe::cancel_file_op(app);
    unsetenv("QXASM_NO_PORTAL");
    press(app, SDLK_ESCAPE);
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Bin) << "Escape in the console field returns to the shown view";
    press(app, SDLK_1, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Editor);

    press(app, SDLK_w, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::docs(app).size(), 2u);
    EXPECT_EQ(AppProbe::find_doc(app, "/tmp/c.asm", false), nullptr);
    press(app, SDLK_f, KMOD_LCTRL);
    EXPECT_TRUE(AppProbe::find_open(app));
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Find);
}

TEST(AppKeys, DialogsAndMenusTakeKeysFirst)
{
    struct Case {
        App::Modal modal;
        SDL_Keycode sym;
        App::Modal after;
    };
    const Case cases[] = {
        { App::Modal::Message, SDLK_ESCAPE, App::Modal::None },
        { App::Modal::Confirm, SDLK_F7, App::Modal::Confirm },
        { App::Modal::Settings, SDLK_ESCAPE, App::Modal::None },
        { App::Modal::Language, SDLK_ESCAPE, App::Modal::None },
        { App::Modal::License, SDLK_ESCAPE, App::Modal::About }, // back to About
        { App::Modal::Prompt, SDLK_a, App::Modal::Prompt },
        { App::Modal::About, SDLK_b, App::Modal::About },
        { App::Modal::Crash, SDLK_RETURN, App::Modal::Crash },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.modal));
        App app;
        Doc* d = add_source(app, "/tmp/a.asm", "x");
        AppProbe::set_modal(app, c.modal);
        press(app, c.sym, c.sym == SDLK_b ? KMOD_LCTRL : KMOD_NONE);
        EXPECT_EQ(AppProbe::modal(app), c.after);
        EXPECT_FALSE(AppProbe::building(app)) << "no key reached the window's commands";
        type(app, "q");
        bool closed = c.after == App::Modal::None;
        EXPECT_EQ(d->ed.line(0), closed ? "qx" : "x") << "nothing typed past a dialog";
    }

    // An open menu: F7 is not a build, Left and Right walk the menu bar,
    // Up and Down skip separators and disabled rows, Enter runs the row
    // after the menu has closed.
    App app;
    Doc* d = add_source(app, "/tmp/a.asm", "x");
    int ran = 0;
    std::vector<App::MenuItem> rows(4);
    rows[0].act = [&] { ++ran; };
    rows[1].separator = true;
    rows[2].enabled = false;
    rows[3].act = [&] { ran += 10; };
    AppProbe::open_menu_rows(app, 0, rows);
    press(app, SDLK_F7);
    type(app, "q");
    EXPECT_EQ(d->ed.line(0), "x");
    press(app, SDLK_LEFT);
    EXPECT_EQ(AppProbe::menu(app), 6);
    press(app, SDLK_RIGHT);
    EXPECT_EQ(AppProbe::menu(app), 0);
    AppProbe::open_menu_rows(app, 0, rows);
    press(app, SDLK_UP);
    EXPECT_EQ(AppProbe::menu_hover(app), 3) << "Up from no row: the last selectable one";
    press(app, SDLK_DOWN);
    EXPECT_EQ(AppProbe::menu_hover(app), 0);
    press(app, SDLK_UP);
    EXPECT_EQ(AppProbe::menu_hover(app), 3) << "the separator and the disabled row are passed over";
    press(app, SDLK_RETURN);
    EXPECT_EQ(ran, 10);
    EXPECT_EQ(AppProbe::menu(app), -1);

    AppProbe::open_menu_rows(app, 100, rows);
    press(app, SDLK_LEFT);
    EXPECT_EQ(AppProbe::menu(app), 100) << "the context menu has no neighbours";
}

TEST(AppKeys, CompletionOffersLabelsFirstAtMostEight)
{
    App app;
    std::string text = "main:\n.loop:\nmovzx_here:\nmovies:\n\n";
    Doc* d = add_source(app, "/tmp/a.asm", text);
    d->ed.move_caret({ 4, 0 }, false);
    type(app, "m");
    EXPECT_TRUE(AppProbe::completion(app).empty()) << "one letter offers nothing";
    type(app, "o");
    auto& ac = AppProbe::completion(app);
    ASSERT_EQ(ac.size(), 8u);
    EXPECT_EQ(ac[0], "movzx_here");
    EXPECT_EQ(ac[1], "movies");
    EXPECT_EQ(ac[2], "mov") << "then the fixed words in byte order";
    press(app, SDLK_DOWN);
    EXPECT_EQ(AppProbe::completion_sel(app), 1);
    press(app, SDLK_UP);
    press(app, SDLK_UP);
    EXPECT_EQ(AppProbe::completion_sel(app), 7);
    press(app, SDLK_DOWN);
    press(app, SDLK_DOWN);
    press(app, SDLK_TAB);
    EXPECT_EQ(d->ed.line(4), "movies");
    EXPECT_TRUE(ac.empty());

    // Backspace refilters; any other key clears; Escape clears.
    d->ed.set_text(text);
    d->ed.move_caret({ 4, 0 }, false);
    type(app, "mo");
    Log two = ac;
    type(app, "vi");
    EXPECT_EQ(ac, Log{ "movies" });
    press(app, SDLK_BACKSPACE);
    press(app, SDLK_BACKSPACE);
    EXPECT_EQ(ac, two);
    press(app, SDLK_ESCAPE);
    EXPECT_TRUE(ac.empty());

    // Local labels and digits.
    d->ed.set_text("main:\n.loop:\n\n");
    d->ed.move_caret({ 2, 0 }, false);
    type(app, ".lo");
    EXPECT_EQ(ac, Log{ ".loop" });
    press(app, SDLK_LEFT);
    EXPECT_TRUE(ac.empty());
    d->ed.set_text("\n");
    type(app, "1a");
    EXPECT_TRUE(ac.empty()) << "a prefix beginning with a digit";

    // A reference row naming several instructions offers each as a word.
    d->ed.set_text("\n");
    type(app, "movu");
    EXPECT_NE(std::find(ac.begin(), ac.end(), "movups"), ac.end());
    EXPECT_NE(std::find(ac.begin(), ac.end(), "movupd"), ac.end());
    for (const std::string& w : ac)
        EXPECT_EQ(w.find_first_of(", "), std::string::npos) << w;
    press(app, SDLK_TAB);
    EXPECT_EQ(d->ed.line(0).find_first_of(", "), std::string::npos) << d->ed.line(0);
}

TEST(AppKeys, TextRoutingAndFindOnlyWhenTheTextChanged)
{
    App app;
    Doc* d = add_source(app, "/tmp/a.asm", "ab");
    press(app, SDLK_f, KMOD_LCTRL);
    type(app, "m");
    EXPECT_EQ(AppProbe::find_field(app).text, "m");
    EXPECT_EQ(AppProbe::status(app), L10n::tr("find.none")) << "searched";
    AppProbe::set_status(app, "kept", false);
    press(app, SDLK_LEFT);
    press(app, SDLK_HOME);
    EXPECT_EQ(AppProbe::status(app), "kept") << "moving the caret in the field searches nothing";
    type(app, "a");
    press(app, SDLK_DELETE); // "am" to "a": found
    EXPECT_EQ(AppProbe::status(app), "");
    EXPECT_EQ(d->ed.selected_text(), "a");
    press(app, SDLK_RETURN, KMOD_LSHIFT);
    EXPECT_EQ(d->ed.selected_text(), "a");
    press(app, SDLK_ESCAPE);
    EXPECT_FALSE(AppProbe::find_open(app));
    d->ed.move_caret({ 0, 0 }, false);

    // Text with Ctrl held never types.
    SDL_SetModState(KMOD_LCTRL);
    type(app, "z");
    SDL_SetModState(KMOD_NONE);
    type(app, "y");
    EXPECT_EQ(d->ed.line(0), "yab");
}

TEST(AppKeys, EnterInTheProgramInputNeverBlocks)
{
    signal(SIGPIPE, SIG_IGN);
    App app;
    AppProbe::focus(app) = App::Focus::ProgIn;
    // No program: the line goes to the history, nothing is sent.
    type(app, "hello");
    press(app, SDLK_RETURN);
    EXPECT_EQ(AppProbe::prog_in(app).text, "");
    EXPECT_EQ(AppProbe::prog_in(app).history, Log{ "hello" });
    EXPECT_TRUE(AppProbe::prog_lines(app).empty());

    // A program that never reads its input: far more than a pipe holds
    // waits in the queue while the window goes on.
    dbg::Process& p = AppProbe::process(app);
    std::string err;
    ASSERT_TRUE(p.start("/bin/sleep", { "30" }, "/tmp", false, &err)) << err;
    AppProbe::prog_in(app).set(std::string(256 * 1024, 'x'));
    press(app, SDLK_RETURN);
    EXPECT_GT(p.input_queued(), 0u);
    ASSERT_EQ(AppProbe::prog_lines(app).size(), 1u);
    EXPECT_EQ(first_of(AppProbe::prog_lines(app)).second, 6);
    press(app, SDLK_d, KMOD_LCTRL);
    EXPECT_EQ(last_of(AppProbe::prog_lines(app)).first, "^D");
    p.kill();
}

TEST(AppKeys, QueuedInputReachesAReadingProgramInOrder)
{
    signal(SIGPIPE, SIG_IGN);
    testutil::TempDir dir;
    std::string out = dir.path() + "/out";
    dbg::Process p;
    std::string err;
    // The shell reads only after a pause, so the input is queued first.
    ASSERT_TRUE(p.start("/bin/sh", { "-c", "sleep 0.3; cat > " + out }, dir.path(), false, &err)) << err;
    std::string sent;
    for (int i = 0; i < 3000; ++i)
        sent += "line " + std::to_string(i) + " of the queued program input\n";
    p.send_input(sent);
    p.close_input();
    EXPECT_GT(p.input_queued(), 0u);
    std::vector<dbg::Event> ev;
    while (p.state() == dbg::State::Running) {
        p.poll(&ev);
        SDL_Delay(5);
    }
    std::ifstream f(out);
    std::string got((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, sent) << "everything arrived, and the end of input after it";
}

TEST(AppMouse, PressesOnPaintedHits)
{
    App app;
    Doc* a = add_source(app, "/tmp/a.asm");
    Doc* b = add_source(app, "/tmp/b.asm");
    AppProbe::paint(app, 1280, 800);
    struct Case {
        const char* id;
        int n;
        int button;
    };
    const Case cases[] = {
        { "menubar", 2, SDL_BUTTON_LEFT },
        { "find_replace_toggle", 0, SDL_BUTTON_LEFT },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const Hit* h = first_hit(app, c.id, c.n);
        if (!h)
            continue; // not painted in this frame
        click(app, h->x + h->w / 2, h->y + h->h / 2, c.button);
        if (c.id == std::string("menubar")) {
            EXPECT_EQ(AppProbe::menu(app), c.n) << "the title opens its menu";
            AppProbe::open_menu_rows(app, -1, {});
        }
    }
    {
        // The toolbar's New makes a document.
        App fresh;
        add_source(fresh, "/tmp/a.asm");
        size_t before = AppProbe::docs(fresh).size();
        AppProbe::paint(fresh, 1280, 800);
        if (const Hit* h = first_hit(fresh, "tb_new", 0)) {
            click(fresh, h->x + h->w / 2, h->y + h->h / 2, SDL_BUTTON_LEFT);
            EXPECT_EQ(AppProbe::docs(fresh).size(), before + 1);
        } else {
            ADD_FAILURE() << "no New button painted";
        }
    }
    // A right press on a tab only activates; a middle press closes.
    const Hit* ta = first_hit(app, "tab_main", 0);
    ASSERT_NE(ta, nullptr);
    click(app, ta->x + 20, ta->y + 10, SDL_BUTTON_RIGHT);
    EXPECT_EQ(AppProbe::front(app), a);
    EXPECT_EQ(AppProbe::docs(app).size(), 2u);
    AppProbe::paint(app, 1280, 800);
    const Hit* tb = first_hit(app, "tab_main", 1);
    click(app, tb->x + 20, tb->y + 10, SDL_BUTTON_MIDDLE);
    EXPECT_EQ(AppProbe::find_doc(app, "/tmp/b.asm", false), nullptr);
    (void)b;

    // A press on the editor takes the focus back and clears the list.
    AppProbe::focus(app) = App::Focus::ConIn;
    AppProbe::paint(app, 1280, 800);
    const Hit* ed = first_hit(app, "editor");
    ASSERT_NE(ed, nullptr);
    click(app, ed->x + 200, ed->y + 5);
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Editor);
    // Ctrl+press on a label jumps, on another word does nothing.
    a->ed.set_text("start:\n  jmp start\n");
    AppProbe::paint(app, 1280, 800);
    SDL_SetModState(KMOD_LCTRL);
    AppProbe::mouse_down(app, ed->x + a->ed.gutter_width() + 4, ed->y + 4, SDL_BUTTON_LEFT);
    AppProbe::mouse_up(app, 0, 0);
    SDL_SetModState(KMOD_NONE);
    EXPECT_EQ(a->ed.anchor(), (Editor::Pos{ 0, 0 }));
    EXPECT_EQ(a->ed.caret(), (Editor::Pos{ 0, 5 })) << "the definition selected";
    // A press off every hit closes an open menu.
    AppProbe::open_menu_rows(app, 1, {});
    AppProbe::mouse_down(app, -50, -50, SDL_BUTTON_LEFT);
    EXPECT_EQ(AppProbe::menu(app), -1);
}

TEST(AppMouse, TabDragReordersAgainstTheCurrentGeometry)
{
    App app;
    Doc* narrow = add_source(app, "/tmp/n.asm");
    Doc* wide = add_source(app, "/tmp/a_rather_long_file_name_for_a_wide_tab.asm");
    Doc* mid = add_source(app, "/tmp/middle_one.asm");
    AppProbe::paint(app, 1280, 800);
    const Hit t0 = *first_hit(app, "tab_main", 0);
    const Hit t1 = *first_hit(app, "tab_main", 1);
    ASSERT_LT(t0.w + 40, t1.w) << "the test needs a narrow and a wide tab";
    double y = t0.y + 10, x = t0.x + t0.w / 2;
    AppProbe::mouse_down(app, x, y, SDL_BUTTON_LEFT);
    AppProbe::mouse_move(app, x + 5, y);
    EXPECT_EQ(AppProbe::docs(app)[0].get(), narrow) << "5 px does not move a tab";

    // Many moves in one turn, no frame painted between them: the narrow
    // tab goes past the wide one once and stays there while the pointer
    // crosses the wide tab's old place.
    std::vector<const Doc*> seen;
    for (double px = x + 6; px < t1.x + t1.w - 2; px += 3) {
        AppProbe::mouse_move(app, px, y);
        seen.push_back(AppProbe::docs(app)[0].get());
    }
    EXPECT_EQ(AppProbe::docs(app)[0].get(), wide);
    EXPECT_EQ(AppProbe::docs(app)[1].get(), narrow);
    size_t flips = 0;
    for (size_t i = 1; i < seen.size(); ++i)
        flips += seen[i] != seen[i - 1];
    EXPECT_EQ(flips, 1u) << "no jumping back and forth";
    // Far right in one event: past the last tab too.
    AppProbe::mouse_move(app, 1200, y);
    EXPECT_EQ(AppProbe::docs(app)[2].get(), narrow);
    EXPECT_EQ(AppProbe::docs(app)[1].get(), mid);
    AppProbe::mouse_up(app, 1200, y);
    EXPECT_EQ(AppProbe::drag(app), App::Drag::None);
    const auto& tabs = AppProbe::settings(app).open_tabs;
    ASSERT_EQ(tabs.size(), 3u);
    EXPECT_NE(tabs[2].find("n.asm"), std::string::npos) << "the new order is remembered";
    // And back to the front, a frame painted in between.
    AppProbe::paint(app, 1280, 800);
    const Hit* h = first_hit(app, "tab_main", 2);
    AppProbe::mouse_down(app, h->x + 5, y, SDL_BUTTON_LEFT);
    AppProbe::mouse_move(app, 0, y);
    AppProbe::mouse_up(app, 0, y);
    EXPECT_EQ(AppProbe::docs(app)[0].get(), narrow);
}

TEST(AppMouse, SplitterDrags)
{
    App app;
    add_source(app, "/tmp/a.asm");
    AppProbe::paint(app, 1000, 800);
    Settings& s = AppProbe::settings(app);
    const Hit* sb = first_hit(app, "split_bottom");
    ASSERT_NE(sb, nullptr);
    move(app, sb->x + 300, sb->y + 5);
    EXPECT_EQ(AppProbe::cursor_kind(app), 2);
    struct Case {
        double y;
        double frac;
    };
    // Height from the pointer to the status bar (24 px), at least 80,
    // at most what leaves the main view 60 + 80 px.
    const Case rows[] = { { 776 - 200, 0.25 }, { 760, 0.1 }, { 100, (800 - 130.0 - 24 - 80) / 800 } };
    for (const Case& c : rows) {
        AppProbe::paint(app, 1000, 800);
        sb = first_hit(app, "split_bottom");
        button(app, SDL_MOUSEBUTTONDOWN, sb->x + 300, sb->y + 5);
        AppProbe::mouse_move(app, 300, c.y);
        EXPECT_NEAR(s.bottom_frac, c.frac, 1e-9) << c.y;
        AppProbe::mouse_up(app, 300, c.y);
    }
    AppProbe::paint(app, 1000, 800);
    const Hit* sr = first_hit(app, "split_right");
    ASSERT_NE(sr, nullptr);
    move(app, sr->x + 5, sr->y + 50);
    EXPECT_EQ(AppProbe::cursor_kind(app), 3);
    AppProbe::mouse_down(app, sr->x + 5, sr->y + 50, SDL_BUTTON_LEFT);
    AppProbe::mouse_move(app, 600, 300);
    EXPECT_NEAR(s.right_frac, 0.4, 1e-9);
    AppProbe::mouse_move(app, 950, 300);
    EXPECT_NEAR(s.right_frac, 0.22, 1e-9) << "at least 220 px";
    AppProbe::mouse_move(app, 10, 300);
    EXPECT_NEAR(s.right_frac, 0.6, 1e-9);
    AppProbe::mouse_up(app, 10, 300);
    AppProbe::paint(app, 1000, 800);
    const Hit* ed = first_hit(app, "editor");
    move(app, ed->x + 200, ed->y + 40);
    EXPECT_EQ(AppProbe::cursor_kind(app), 1);
    move(app, 600, 14);
    EXPECT_EQ(AppProbe::cursor_kind(app), 0);
}

TEST(AppMouse, WheelScrollsTheAreaUnderTheHitsOrClosesTheMenu)
{
    App app;
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += "mov eax, " + std::to_string(i) + "\n";
    Doc* d = add_source(app, "/tmp/a.asm", text);
    AppProbe::paint(app, 1280, 800);
    const Hit* ed = first_hit(app, "editor");
    double x = ed->x + 300, y = ed->y + 100;
    AppProbe::wheel(app, x, y, -2);
    int top = d->ed.scroll_line();
    EXPECT_GT(top, 0);
    // Over an open menu the wheel closes it and scrolls nothing.
    AppProbe::open_menu_rows(app, 0, {});
    AppProbe::wheel(app, x, y, -2);
    EXPECT_EQ(d->ed.scroll_line(), top);
    EXPECT_EQ(AppProbe::menu(app), -1);
    // A dialog gets the wheel.
    AppProbe::set_modal(app, App::Modal::About);
    AppProbe::wheel(app, x, y, -2);
    EXPECT_EQ(d->ed.scroll_line(), top);
    AppProbe::set_modal(app, App::Modal::None);
    // A hit painted on top of the editor passes the wheel on.
    AppProbe::paint(app, 1280, 800);
    ASSERT_NE(AppProbe::hit_at(app, x, y), nullptr);
    EXPECT_EQ(AppProbe::hit_at(app, x, y)->id, "editor");
    AppProbe::wheel(app, x, y, 1);
    EXPECT_EQ(d->ed.scroll_line(), top - 3);
}

TEST(AppMouse, TooltipsFollowHitsAndShowAboveDialogs)
{
    App app;
    Doc* d = add_source(app, "/tmp/a.asm", "mov eax, 0x41\n");
    AppProbe::paint(app, 1280, 800);
    const Hit* nw = first_hit(app, "tb_new");
    ASSERT_NE(nw, nullptr);
    move(app, nw->x + 4, nw->y + 4);
    EXPECT_EQ(AppProbe::hover(app), "tb_new#0");
    EXPECT_EQ(AppProbe::tip(app), nw->tip);
    EXPECT_FALSE(nw->tip.empty());
    move(app, -10, -10);
    EXPECT_TRUE(AppProbe::tip(app).empty());
    EXPECT_TRUE(AppProbe::hover(app).empty());

    // Over a number in the text the editor gives the number's tooltip.
    const Hit* ed = first_hit(app, "editor");
    double gx = ed->x + d->ed.gutter_width();
    bool found = false;
    for (double x = gx; x < gx + 200 && !found; x += 2) {
        move(app, x, ed->y + 8);
        found = AppProbe::hover(app) == "editor#0:0x41";
    }
    EXPECT_TRUE(found);
    EXPECT_NE(AppProbe::tip(app).find("65"), std::string::npos) << AppProbe::tip(app);

    // A tip belongs to its hit: a dialog opened over it, or the pane moved
    // away under the resting pointer, takes it away.
    AppProbe::settings(app).watches = { "0rax" };
    AppProbe::paint(app, 1280, 800);
    const Hit* wh = first_hit(app, "watch_stop", 0);
    ASSERT_NE(wh, nullptr);
    Hit watch = *wh;
    struct Case {
        const char* name;
        double x, y;
        std::function<void()> change;
    } cases[] = {
        { "a dialog opens", nw->x + 4, nw->y + 4, [&] { AppProbe::show_modal(app, App::Modal::Convert); } },
        { "the side pane goes", watch.x + 4, watch.y + 4, [&] { AppProbe::settings(app).show_side = false; } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppProbe::close_modal(app);
        AppProbe::settings(app).show_side = true;
        AppProbe::paint(app, 1280, 800);
        move(app, c.x, c.y);
        ASSERT_FALSE(AppProbe::tip(app).empty());
        c.change();
        AppProbe::paint(app, 1280, 800);
        EXPECT_TRUE(AppProbe::tip(app).empty()) << AppProbe::tip(app);
    }
    AppProbe::settings(app).show_side = true;

    // The hits of an open dialog keep their tips, painted last.
    std::optional<Hit> own;
    for (App::Modal m : { App::Modal::Settings, App::Modal::About, App::Modal::Link, App::Modal::Convert }) {
        AppProbe::close_modal(app);
        AppProbe::show_modal(app, m);
        AppProbe::paint(app, 1280, 800);
        bool past_bg = false;
        for (const Hit& h : AppProbe::hits(app)) {
            past_bg = past_bg || h.id == "modal_bg";
            if (past_bg && !h.tip.empty() && !own)
                own = h;
        }
        if (own)
            break;
    }
    ASSERT_TRUE(own.has_value()) << "some dialog has hits with tips";
    move(app, own->x + own->w / 2, own->y + own->h / 2);
    AppProbe::paint(app, 1280, 800);
    EXPECT_EQ(AppProbe::tip(app), own->tip);
}

TEST(AppMouse, BinaryTabLeavesAnotherLiveSessionAlone)
{
    signal(SIGPIPE, SIG_IGN);
    App app;
    AppProbe::settings(app).auto_debug = true;
    Doc* other = AppProbe::new_doc(app, true);
    ASSERT_TRUE(other->img.load("/bin/sleep"));
    Doc* bin = AppProbe::new_doc(app, true);
    ASSERT_TRUE(bin->img.load("/bin/true"));
    add_source(app, "/tmp/a.asm");
    AppProbe::paint(app, 1280, 800);
    const Hit* t = first_hit(app, "tab_main", 1);
    ASSERT_NE(t, nullptr);

    // Nothing runs: the click hands the debugger to this binary.
    AppProbe::mouse_down(app, t->x + 10, t->y + 10, SDL_BUTTON_LEFT);
    AppProbe::mouse_up(app, t->x + 10, t->y + 10);
    EXPECT_EQ(AppProbe::front(app), bin);
    EXPECT_EQ(AppProbe::debugged_binary(app), bin);

    // Another document's program is live: it is left running.
    dbg::Process& p = AppProbe::process(app);
    p.kill();
    std::string err;
    ASSERT_TRUE(p.start("/bin/sleep", { "30" }, "/tmp", false, &err)) << err;
    AppProbe::debugged_binary(app) = other;
    AppProbe::activate(app, AppProbe::docs(app)[2].get());
    AppProbe::paint(app, 1280, 800);
    t = first_hit(app, "tab_main", 1);
    AppProbe::mouse_down(app, t->x + 10, t->y + 10, SDL_BUTTON_LEFT);
    AppProbe::mouse_up(app, t->x + 10, t->y + 10);
    EXPECT_EQ(AppProbe::front(app), bin);
    EXPECT_EQ(p.state(), dbg::State::Running);
    EXPECT_NE(AppProbe::status(app).find("sleep"), std::string::npos) << AppProbe::status(app);
    p.kill();
}

namespace {


// An X window dump ("xwd -root") as a cairo image: 24-bit true colour at
// 24 or 32 bits a pixel, as Xvfb gives it.
cairo_surface_t* read_xwd(const std::string& path)
{
    std::string d = testutil::read_file(path);
    auto u32 = [&](size_t i) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(d.data()) + 4 * i;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    };
    if (d.size() < 100 || (u32(11) != 32 && u32(11) != 24))
        return nullptr;
    const size_t bpp = u32(11) / 8;
    uint32_t header = u32(0), w = u32(4), h = u32(5), lsb = u32(7) == 0, stride = u32(12), ncolors = u32(19);
    size_t at = header + size_t(ncolors) * 12;
    if (d.size() < at + size_t(stride) * h)
        return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, int(w), int(h));
    unsigned char* out = cairo_image_surface_get_data(s);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const unsigned char* p = reinterpret_cast<const unsigned char*>(d.data()) + at + size_t(y) * stride + bpp * x;
            const unsigned char* q = lsb ? p : p + bpp - 3; // the three colour bytes
            uint32_t v = lsb ? uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16
                             : uint32_t(q[2]) | uint32_t(q[1]) << 8 | uint32_t(q[0]) << 16;
            reinterpret_cast<uint32_t*>(out + size_t(y) * size_t(cairo_image_surface_get_stride(s)))[x] = v;
        }
    cairo_surface_mark_dirty(s);
    return s;
}

uint32_t pixel_at(cairo_surface_t* s, int x, int y)
{
    const unsigned char* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
}

} // namespace

// The real program on a private X server, driven by xdotool: typing into the
// editor, a click on a tab, drags of the bottom splitter and of a tab, and a
// hovered toolbar button, seen in a dump of the screen.
TEST(AppXvfb, TypeClickTabDragSplitterAndHover)
{
    testutil::XServer x;
    if (!x.start("1920x1080x24"))
        GTEST_SKIP() << "Xvfb could not be started";
    testutil::TempDir tmp;
    testutil::write_file(tmp.file("first.asm"), "section .text\n");
    testutil::write_file(tmp.file("second.asm"), "global _start\n");
    std::vector<std::string> env = { "DISPLAY=" + x.display(), "XDG_CONFIG_HOME=" + tmp.path(), "SDL_VIDEODRIVER=",
                                     "DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=",
                                     // Under the sanitizers: the X drivers SDL loads and unloads
                                     // leave blocks the leak checker cannot name at exit.
                                     "ASAN_OPTIONS=detect_leaks=0" };
    // The window is 1536 x 918 at 192, 81. Window points: the editor's
    // second line at (300, 128), the first tab at (60, 86), the bottom
    // splitter at the top of the bottom pane, the first toolbar button.
    const char* script =
        "\"$1\" \"$2\" \"$3\" & p=$!\n"
        "w=$(timeout 20 xdotool search --sync --classname qxFerndockAssemblerIDE | head -n 1)\n"
        "sleep 1\n"
        "xdotool mousemove --window \"$w\" 300 128 click 1\n"
        "sleep 0.3\n"
        "xdotool type --delay 40 'mov rax, 60'\n"
        "sleep 0.3\n"
        "xwd -root -silent > \"$4/typed.xwd\"\n"
        "xdotool mousemove --window \"$w\" 60 86 click 1\n"
        "sleep 0.3\n"
        "xwd -root -silent > \"$4/tab.xwd\"\n"
        "xdotool mousemove --window \"$w\" 700 $5 mousedown 1 mousemove --window \"$w\" 700 400 mouseup 1\n"
        "sleep 0.3\n"
        "xdotool mousemove --window \"$w\" 60 86 mousedown 1 mousemove --window \"$w\" 90 86 "
        "mousemove --window \"$w\" 400 86 mouseup 1\n"
        "sleep 0.3\n"
        "xdotool mousemove --window \"$w\" 22 49\n"
        "sleep 0.6\n"
        "xwd -root -silent > \"$4/hover.xwd\"\n"
        "kill -TERM $p; wait $p; echo \"exit=$?\"\n";
    // The bottom pane's top: 30 % of 918 above the 24 px status line.
    std::string split_y = std::to_string(918 - 24 - int(std::lround(0.3 * 918)));
    auto r = testutil::run({ "/bin/sh", "-c", script, "sh", testutil::exe_path(), tmp.file("first.asm"),
                             tmp.file("second.asm"), tmp.path(), split_y },
                           env);
    ASSERT_NE(r.out.find("exit=0"), std::string::npos) << r.out << r.err;

    const char* keep = getenv("QX_SHOT_DIR");
    for (const char* name : { "typed", "tab", "hover" }) {
        cairo_surface_t* s = read_xwd(tmp.file(std::string(name) + ".xwd"));
        ASSERT_NE(s, nullptr) << name << r.out << r.err;
        if (keep)
            cairo_surface_write_to_png(s, (std::string(keep) + "/" + name + ".png").c_str());
        cairo_surface_destroy(s);
    }
    cairo_surface_t* typed = read_xwd(tmp.file("typed.xwd"));
    cairo_surface_t* hover = read_xwd(tmp.file("hover.xwd"));
    // The tooltip's dark box below the hovered button (window 22, 49 is
    // screen 214, 130; the tip starts 20 px below and 12 px right).
    int dark_pixels = 0;
    for (int yy = 152; yy < 170; ++yy)
        for (int xx = 230; xx < 330; ++xx)
            dark_pixels += (pixel_at(hover, xx, yy) & 0xFF) < 0x50 && ((pixel_at(hover, xx, yy) >> 16) & 0xFF) < 0x50;
    EXPECT_GT(dark_pixels, 500) << "the tooltip is painted";
    cairo_surface_destroy(typed);
    cairo_surface_destroy(hover);

    Settings s;
    s.load(tmp.file("qxFerndockAssemblerIDE/settings.dat"));
    ASSERT_EQ(s.open_tabs.size(), 2u);
    EXPECT_EQ(s.open_tabs[0], "s:" + tmp.file("second.asm")) << "the first tab was dragged behind the second";
    EXPECT_EQ(s.active_tab, 1) << "the click chose the first tab, the drag took it along";
    EXPECT_NEAR(s.bottom_frac, (918 - 24 - 400) / 918.0, 0.01) << "the splitter was dragged";
}
