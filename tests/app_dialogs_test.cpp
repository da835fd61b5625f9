// The generic dialogs without a window: the modal frame and its hits, each
// button's own action, dialogs that wait their turn, the prompt, the
// messages pane, the status line and the welcome page.
#include "about_probe.h"
#include "app.h"
#include "attach.h"
#include "app_probe.h"
#include "l10n.h"
#include "logger.h"
#include "testutil.h"
#include "xvfb_suite.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using testutil::first_of;
using testutil::last_of;

namespace {

std::vector<Hit> hits_of(App& app, const std::string& id)
{
    return AppProbe::hits_of(app, id);
}

} // namespace

TEST(AppDialogs, FrameTakesEveryHitAndCentresTheBox)
{
    App app;
    AppProbe::show_message(app, "Title", "Short text.");
    AppProbe::paint(app, 1280, 800);
    // Only the dialog can be hit: the dimmed background, the box, its button.
    for (const Hit& h : AppProbe::hits(app))
        EXPECT_TRUE(h.id == "modal_bg" || h.id == "dlg_box" || h.id == "dlg_button") << h.id;
    auto box = hits_of(app, "dlg_box");
    ASSERT_EQ(box.size(), 1u);
    EXPECT_EQ(box[0].w, 520);
    EXPECT_EQ(box[0].x, std::round((1280 - 520) / 2.0));
    EXPECT_EQ(box[0].y, std::round((800 - box[0].h) / 2));
    double short_h = box[0].h;
    const Hit* bg = AppProbe::hit_at(app, 5, 5);
    ASSERT_NE(bg, nullptr);
    EXPECT_EQ(bg->id, "modal_bg");
    EXPECT_EQ(AppProbe::dlg_buttons(app), std::vector<std::string>{ L10n::tr("btn.ok") + "*" });
    // A click outside the box changes nothing; OK closes.
    ASSERT_TRUE(AppProbe::click(app, "modal_bg"));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Message);
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 0));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);

    // A long text grows the box downwards; a narrow window keeps its width.
    AppProbe::show_message(app, "Title", std::string(2000, 'w') + " end");
    AppProbe::paint(app, 400, 800);
    box = hits_of(app, "dlg_box");
    ASSERT_EQ(box.size(), 1u);
    EXPECT_EQ(box[0].w, 520);
    EXPECT_GT(box[0].h, short_h);
    EXPECT_EQ(box[0].y, std::round((800 - box[0].h) / 2));

    // Sized dialogs are 30 to 60 pixels smaller than a small window.
    AppProbe::close_modal(app);
    AppProbe::show_modal(app, App::Modal::Crash);
    AppProbe::paint(app, 600, 400);
    box = hits_of(app, "dlg_box");
    ASSERT_EQ(box.size(), 1u);
    EXPECT_EQ(box[0].w, 540);
    EXPECT_EQ(box[0].h, 340);
    EXPECT_EQ(hits_of(app, "crash_send").size(), 1u);
}

// Fault mended: every dialog button recorded index 0, so any click ran the
// first button's action.
TEST(AppDialogs, EachButtonRunsItsOwnActionInItsOwnPlace)
{
    App app;
    std::string ran;
    AppProbe::show_confirm(app, "Pick", "One of three.",
                           { { "First", [&] { ran += "1"; } },
                             { "Second", [&] { ran += "2"; } },
                             { "Third", [&] { ran += "3"; } } });
    AppProbe::paint(app, 1280, 800);
    auto buttons = hits_of(app, "dlg_button");
    ASSERT_EQ(buttons.size(), 3u);
    // Right-aligned, in their order from left to right, each its index.
    std::sort(buttons.begin(), buttons.end(), [](const Hit& a, const Hit& b) { return a.x < b.x; });
    for (size_t i = 0; i < buttons.size(); ++i)
        EXPECT_EQ(buttons[i].n, int(i));
    const Hit box = hits_of(app, "dlg_box").at(0);
    EXPECT_EQ(buttons[2].x + buttons[2].w, box.x + box.w - 24);
    EXPECT_EQ(buttons[1].x + buttons[1].w + 8, buttons[2].x);

    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 1));
    for (int n : { 2, 0 }) {
        AppProbe::show_confirm(app, "Pick", "Again.",
                               { { "First", [&] { ran += "1"; } },
                                 { "Second", [&] { ran += "2"; } },
                                 { "Third", [&] { ran += "3"; } } });
        ASSERT_TRUE(AppProbe::click(app, "dlg_button", n));
    }
    EXPECT_EQ(ran, "231");
    AppProbe::show_confirm(app, "Pick", "Enter.", { { "First", [&] { ran += "1"; } }, { "Second", [&] { ran += "2"; } } });
    AppProbe::key(app, SDLK_RETURN); // the primary button, here the first
    EXPECT_EQ(ran, "2311");
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
}

// Fault mended: a dialog opened while another was open replaced it and
// dropped the first one's continuation.
TEST(AppDialogs, ASecondDialogWaitsAndTheFirstAnswerIsKept)
{
    App app;
    std::vector<std::string> log;
    AppProbe::show_confirm(app, "Quit?", "Unsaved.",
                           { { "Save", [&] { log.push_back("save"); } }, { "Cancel", nullptr } });
    AppProbe::show_prompt(app, "Name", "Label", "old", [&](const std::string& t) { log.push_back("typed " + t); });
    AppProbe::show_message(app, "Note", "Later.");
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Confirm);
    EXPECT_EQ(AppProbe::dlg_title(app), "Quit?");
    EXPECT_EQ(AppProbe::dlg_queued(app), 2u);

    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 0));
    EXPECT_EQ(log, std::vector<std::string>{ "save" });
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Prompt);
    // The prompt's text starts wholly selected: typing replaces it.
    AppProbe::text_input(app, "new");
    ASSERT_TRUE(AppProbe::click(app, "dlg_ok"));
    EXPECT_EQ(last_of(log), "typed new");
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Message);
    EXPECT_EQ(AppProbe::dlg_title(app), "Note");
    AppProbe::key(app, SDLK_ESCAPE);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
}

TEST(AppDialogs, PromptContinuationRunsAfterTheCloseAndMayOpenTheNext)
{
    App app;
    int escaped = 0;
    std::string second;
    AppProbe::show_prompt(app, "One", "L", "", [&](const std::string&) { ++escaped; });
    AppProbe::key(app, SDLK_ESCAPE);
    EXPECT_EQ(escaped, 0) << "Escape drops the continuation";
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);

    AppProbe::show_prompt(app, "One", "L", "a", [&](const std::string& t) {
        EXPECT_EQ(AppProbe::modal(app), App::Modal::None) << "closed before the call";
        AppProbe::show_prompt(app, "Two", "L", t + "b", [&](const std::string& u) { second = u; });
    });
    AppProbe::key(app, SDLK_END);
    AppProbe::text_input(app, "!");
    AppProbe::key(app, SDLK_RETURN);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Prompt);
    EXPECT_EQ(AppProbe::dlg_title(app), "Two");
    EXPECT_EQ(AppProbe::dlg_field(app).text, "a!b");
    ASSERT_TRUE(AppProbe::click(app, "dlg_ok"));
    EXPECT_EQ(second, "a!b");
    ASSERT_TRUE(AppProbe::click(app, "dlg_ok") == false) << "no dialog is left";
}

TEST(AppDialogs, MessagesPaneSplitsLinesAndDropsTheOldestThousand)
{
    App app;
    AppProbe::msg(app, "first\nsecond\n", 1, 7);
    AppProbe::msg(app, "", 2, 9);
    ASSERT_EQ(AppProbe::msgs(app).size(), 2u);
    EXPECT_EQ(AppProbe::msgs(app)[1].first, "second");
    EXPECT_EQ(AppProbe::msg_lines(app), (std::vector<int>{ 7, 7 }));

    App many;
    for (int i = 0; i < 5001; ++i)
        AppProbe::msg(many, "m" + std::to_string(i), 0, i + 1);
    ASSERT_EQ(AppProbe::msgs(many).size(), 4001u);
    EXPECT_EQ(first_of(AppProbe::msgs(many)).first, "m1000");
    EXPECT_EQ(first_of(AppProbe::msg_lines(many)), 1001);
    EXPECT_EQ(AppProbe::msg_lines(many).size(), 4001u);
}

TEST(AppDialogs, WelcomePageButtonsOpenDocuments)
{
    App app;
    AppProbe::paint(app, 1280, 800);
    std::vector<std::string> ids = { "tb_new", "tb_open", "tb_bin", "welcome_example", "welcome_intro" };
    std::vector<double> ys;
    for (const std::string& id : ids) {
        bool found = false;
        for (const Hit& h : AppProbe::hits(app))
            if (h.id == id && h.w == 200 && h.h == 34) {
                found = true;
                ys.push_back(h.y);
                EXPECT_TRUE(h.tip.empty());
            }
        EXPECT_TRUE(found) << id;
    }
    ASSERT_EQ(ys.size(), 5u);
    for (size_t i = 1; i < ys.size(); ++i)
        EXPECT_EQ(ys[i] - ys[i - 1], 42);

    ASSERT_TRUE(AppProbe::click(app, "tb_new"));
    ASSERT_EQ(AppProbe::docs(app).size(), 1u);
    Doc* d = AppProbe::docs(app)[0].get();
    EXPECT_EQ(d->ed.text(), "section .text\nglobal _start\n\n_start:\n    \n");
    EXPECT_EQ(d->ed.caret().line, 4);
    EXPECT_EQ(d->ed.caret().col, 4);
    EXPECT_EQ(AppProbe::front(app), d);
}

TEST(AppDialogs, StatusLogsOnlyErrorsAndCopyNamesTheText)
{
    App app;
    size_t before = logger::tail(1000).size();
    AppProbe::copy(app, "0x1F");
    EXPECT_EQ(AppProbe::status(app), L10n::tr("conv.copied") + ": 0x1F");
    EXPECT_FALSE(AppProbe::status_err(app));
    EXPECT_EQ(logger::tail(1000).size(), before);
}

// What the snap forbids is told in its dialog with the link, never in a
// status line too short for it.
TEST(AppDialogs, SnapLimitsOfTheDebuggerAreExplainedInTheirDialog)
{
    const char* old = getenv("SNAP");
    std::string saved = old ? old : "";
    setenv("SNAP", "/snap/qxferndockassembleride/1", 1);
    struct Case {
        const char* name;
        const char* key;
        std::function<void(App&)> act;
    } cases[] = {
        { "F5", "snap.debugger",
          [](App& a) {
              Doc* d = AppProbe::new_doc(a, false);
              d->ed.set_text("nop\n");
              AppProbe::activate(a, d);
              AppProbe::key(a, SDLK_F5);
          } },
        { "attach", "snap.attach",
          [](App& a) { AppProbe::attach_refused(a, attach::result_of(4242, false, "", "eperm")); } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        App app;
        c.act(app);
        ASSERT_EQ(AppProbe::modal(app), App::Modal::Confirm);
        EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("snap.title"));
        EXPECT_EQ(AppProbe::dlg_text(app).rfind(L10n::tr(c.key), 0), 0u) << AppProbe::dlg_text(app);
        EXPECT_NE(AppProbe::dlg_text(app).find("https://"), std::string::npos) << "the link";
    }
    if (old)
        setenv("SNAP", saved.c_str(), 1);
    else
        unsetenv("SNAP");
}

TEST(AppDialogs, AboutLinksScrolledOutOfViewCannotBeClicked)
{
    App app;
    AppProbe::show_modal(app, App::Modal::About);
    AppProbe::paint(app, 1280, 1000);
    EXPECT_EQ(hits_of(app, "url").size(), 2u) << "all in view in a tall window";
    EXPECT_EQ(hits_of(app, "mail").size(), 1u);

    // A low window: the links that can be hit are those inside the view,
    // and scrolling to the end (clamped to the content) changes which.
    auto links = [&](double* top, double* bottom) {
        AppProbe::paint(app, 1280, 330);
        Hit box = hits_of(app, "dlg_box").at(0);
        *top = box.y + 116;
        *bottom = box.y + box.h - 64;
        std::vector<std::string> out;
        for (const Hit& h : AppProbe::hits(app))
            if (h.id == "url" || h.id == "mail")
                out.push_back(h.id + std::to_string(h.n) + (h.y + h.h > *top && h.y < *bottom ? "" : " outside"));
        return out;
    };
    double top = 0, bottom = 0;
    auto at_start = links(&top, &bottom);
    AppProbe::about_scroll(app) = 1e6;
    links(&top, &bottom); // measures the content once more
    auto at_end = links(&top, &bottom);
    EXPECT_GT(AppProbe::about_scroll(app), 0);
    EXPECT_LT(AppProbe::about_scroll(app), 1e6);
    EXPECT_NE(at_start, at_end);
    for (const auto& l : at_start)
        EXPECT_EQ(l.find("outside"), std::string::npos) << l;
    for (const auto& l : at_end)
        EXPECT_EQ(l.find("outside"), std::string::npos) << l;
    ASSERT_TRUE(AppProbe::click(app, "dlg_cancel", 0, 1280, 330));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
}

// ---------------------------------------------------------------------------
// The real window under a private Xvfb: without a portal the path prompt
// stands in for the file chooser, keys typed into the window fill it and a
// full save follows. Pictures of the dialogs in both themes.

namespace {

class DialogWindow : public testutil::XvfbSuite {
protected:
    void SetUp() override
    {
        XvfbSuite::SetUp();
        if (IsSkipped())
            return;
        setenv("DISPLAY", server().display().c_str(), 1);
        setenv("QXASM_NO_PORTAL", "1", 1);
        setenv("XDG_CONFIG_HOME", m_tmp.path().c_str(), 1);
        unsetenv("SDL_VIDEODRIVER");
    }
    void TearDown() override { unsetenv("QXASM_NO_PORTAL"); }

    // Paints a frame and keeps its picture (also in QX_TEST_SHOTS when set).
    void picture(App& app, const std::string& name)
    {
        AppProbe::paint(app, 0, 0);
        std::string path = m_tmp.file(name);
        std::string why;
        ASSERT_TRUE(gfx::write_png(AppProbe::surface(app), path, &why)) << why;
        if (const char* keep = getenv("QX_TEST_SHOTS"))
            testutil::sh("cp '" + path + "' '" + keep + "/'");
    }

    // Runs a window test in a child process: SDL's X11 layer leaves a few
    // blocks behind in the libraries it unloads, which the sanitizer
    // build's leak check would count at this process's end. The child's
    // failures are printed where they occur.
    void in_child(const std::function<void()>& body)
    {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setenv("SDL_RENDER_DRIVER", "software", 1);
            body();
            _exit(::testing::Test::HasFailure() ? 1 : 0);
        }
        int st = 0;
        ASSERT_EQ(testutil::wait_child(pid, &st), pid);
        ASSERT_TRUE(WIFEXITED(st));
        EXPECT_EQ(WEXITSTATUS(st), 0) << "the window part failed: see above";
    }
    void save_through_the_prompt();
    void about_converter_and_link();

    testutil::TempDir m_tmp;
};

} // namespace

TEST_F(DialogWindow, PathPromptTypedIntoTheWindowSavesTheSource)
{
    in_child([this] { save_through_the_prompt(); });
}

void DialogWindow::save_through_the_prompt()
{
    App app;
    ASSERT_TRUE(AppProbe::init_window(app));
    SDL_ShowWindow(AppProbe::window(app));
    Doc* d = AppProbe::new_doc(app, false);
    d->ed.set_text("section .text\n");
    d->ed.set_modified(true);
    AppProbe::activate(app, d);

    AppProbe::cmd_save_as(app);
    for (int i = 0; i < 2000 && AppProbe::file_op(app) != App::FileOp::None; ++i) {
        AppProbe::poll_file_dialog(app);
        SDL_Delay(5);
    }
    ASSERT_EQ(AppProbe::modal(app), App::Modal::Prompt);
    AppProbe::dlg_field(app).set(m_tmp.path() + "/");
    picture(app, "prompt-light.png");
    AppProbe::set_theme(app, true);
    picture(app, "prompt-dark.png");

    // Keys through the X server, as a user types them.
    std::string display = "DISPLAY=" + server().display();
    AppProbe::pump(app);
    auto found = testutil::run({ "xdotool", "search", "--pid", std::to_string(getpid()) }, { display });
    std::string xid = found.out.substr(0, found.out.find('\n'));
    ASSERT_FALSE(xid.empty()) << found.err;
    testutil::run({ "xdotool", "windowfocus", "--sync", xid }, { display });
    AppProbe::pump(app);
    auto r = testutil::run({ "xdotool", "type", "--delay", "15", "saved.asm" }, { display });
    ASSERT_EQ(r.code, 0) << r.err;
    r = testutil::run({ "xdotool", "key", "Return" }, { display });
    ASSERT_EQ(r.code, 0) << r.err;
    std::string file = m_tmp.file("saved.asm");
    for (int i = 0; i < 400 && !testutil::file_exists(file); ++i) {
        AppProbe::pump(app);
        SDL_Delay(10);
    }
    EXPECT_EQ(testutil::read_file(file), "section .text\n");
    EXPECT_EQ(d->path, file);
    EXPECT_FALSE(d->ed.modified());
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    // A chosen path is shown with its folder (the test folder is not in HOME).
    EXPECT_EQ(AppProbe::status(app), L10n::tr("file.saved", file));

    // The question before quitting, in both themes.
    d->ed.insert("x");
    AppProbe::cmd_quit(app);
    ASSERT_EQ(AppProbe::modal(app), App::Modal::Confirm);
    picture(app, "unsaved-dark.png");
    AppProbe::set_theme(app, false);
    picture(app, "unsaved-light.png");
    AppProbe::shutdown_window(app);
}

// About with its component table, a licence page, the number converter and
// the link options dialog in the real window, in both themes.
TEST_F(DialogWindow, AboutLicenceConverterAndLinkPictures)
{
    in_child([this] { about_converter_and_link(); });
}

void DialogWindow::about_converter_and_link()
{
    App app;
    ASSERT_TRUE(AppProbe::init_window(app));
    SDL_ShowWindow(AppProbe::window(app));
    Doc* d = AppProbe::new_doc(app, false);
    d->path = m_tmp.file("hello.asm");
    d->ed.set_text("extern printf\nsection .text\nglobal main\nmain:\n  ret\n");
    AppProbe::activate(app, d);
    auto both = [&](const std::string& name) {
        AppProbe::set_theme(app, false);
        picture(app, name + "-light.png");
        AppProbe::set_theme(app, true);
        picture(app, name + "-dark.png");
    };

    AboutProbe::cmd_about(app);
    for (int i = 0; i < 500 && AboutProbe::versions(app).at(7) == "\xE2\x80\xA6"; ++i) {
        AppProbe::paint(app, 0, 0);
        SDL_Delay(10);
    }
    both("about");
    EXPECT_EQ(hits_of(app, "comp_license").size(), 10u);
    ASSERT_TRUE(AppProbe::click(app, "comp_license", 4));
    ASSERT_EQ(AppProbe::modal(app), App::Modal::License);
    both("license");
    AppProbe::key(app, SDLK_ESCAPE);
    AppProbe::key(app, SDLK_ESCAPE);

    AboutProbe::cmd_converter(app);
    AppProbe::paint(app, 0, 0);
    auto rows = hits_of(app, "conv_copy");
    ASSERT_GE(rows.size(), 2u);
    AppProbe::mouse_move(app, rows[1].x + 40, rows[1].y + 10);
    both("converter");
    AppProbe::key(app, SDLK_ESCAPE);

    AboutProbe::cmd_link(app);
    AppProbe::text_input(app, "c m");
    AppProbe::key(app, SDLK_TAB);
    AppProbe::text_input(app, "\"/opt/my libs\"");
    ASSERT_TRUE(AppProbe::click(app, "link_crt"));
    both("link");
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Link);
    AppProbe::shutdown_window(app);
}
