// The Settings and Language dialogs driven through their hits and keys, the
// settings file they change, the tool versions found in the background, the
// sandbox hints and the link opener.
#include "app.h"
#include "app_probe.h"
#include "l10n.h"
#include "links.h"
#include "set_probe.h"
#include "testutil.h"
#include "toolprobe.h"
#include "xvfb_suite.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <functional>

using testutil::first_of;
using testutil::TempDir;

namespace {

// The language choice deletes its start-up guard in the configuration
// folder: these tests keep their own.
struct OwnConfig {
    TempDir dir;
    OwnConfig() { setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1); }
} g_config;

// A folder put first on PATH for one test.
struct PathFirst {
    std::string old;
    explicit PathFirst(const std::string& dir)
    {
        const char* p = getenv("PATH");
        old = p ? p : "";
        setenv("PATH", (dir + ":" + old).c_str(), 1);
    }
    ~PathFirst() { setenv("PATH", old.c_str(), 1); }
};

void script(const std::string& path, const std::string& body)
{
    ASSERT_TRUE(testutil::write_file(path, "#!/bin/sh\n" + body));
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

void press(App& a, SDL_Keycode sym, Uint16 mod = KMOD_NONE)
{
    AppProbe::key(a, sym, mod);
}

bool click(App& a, const std::string& id, int n = 0)
{
    return AppProbe::click(a, id, n);
}

// A press on the dimmed window beside the dialog's box.
void click_outside(App& a)
{
    AppProbe::paint(a, 1280, 800);
    AppProbe::mouse_down(a, 5, 5);
    AppProbe::mouse_up(a, 5, 5);
}

// The settings as the file holds them after the application saved.
Settings saved(App& a)
{
    AppProbe::save_now(a);
    Settings s;
    s.load(AppProbe::settings(a).m_path);
    return s;
}

Doc* add_source(App& a, const std::string& path)
{
    Doc* d = AppProbe::new_doc(a, false);
    d->path = path;
    d->ed.set_text("mov eax, 1\n");
    AppProbe::activate(a, d);
    return d;
}

// Waits (bounded) for the background probe to answer about a program.
bool probe_answered(const std::string& path)
{
    for (int i = 0; i < 1500; ++i) {
        if (toolprobe::version(path))
            return true;
        usleep(20000);
    }
    return false;
}

std::string code_of(int i)
{
    return i < 0 ? "auto" : L10n::available()[size_t(i)].code;
}

std::vector<std::string> codes(App& a)
{
    std::vector<std::string> out;
    for (int i : SetProbe::filtered(a))
        out.push_back(code_of(i));
    return out;
}

int index_of(const std::string& code)
{
    auto langs = L10n::available();
    for (size_t i = 0; i < langs.size(); ++i)
        if (langs[i].code == code)
            return int(i);
    return -2;
}

} // namespace

// ---- Settings ----

TEST(SettingsDialog, FieldsReachTheSettingsFileThroughTabEnterAndClicks)
{
    TempDir t;
    App app;
    AppProbe::settings(app).m_path = t.file("settings.dat");
    AppProbe::settings(app).args = "old";
    SetProbe::cmd_settings(app);
    ASSERT_EQ(AppProbe::modal(app), App::Modal::Settings);
    EXPECT_EQ(SetProbe::field(app, 2).text, "old");
    EXPECT_EQ(SetProbe::focus(app), -1);

    press(app, SDLK_TAB, KMOD_LSHIFT);
    EXPECT_EQ(SetProbe::focus(app), 1) << "Shift+Tab from no field: the linker path";
    press(app, SDLK_TAB);
    EXPECT_EQ(SetProbe::focus(app), 2);
    press(app, SDLK_TAB);
    EXPECT_EQ(SetProbe::focus(app), 0);

    // A NASM path with blanks around is stored trimmed; arguments keep theirs.
    AppProbe::text_input(app, "  /opt/nasm/bin/nasm \t");
    ASSERT_TRUE(click(app, "set_field", 2));
    EXPECT_EQ(SetProbe::focus(app), 2);
    EXPECT_EQ(AppProbe::settings(app).nasm_path, "/opt/nasm/bin/nasm") << "leaving the field applied it";
    SetProbe::field(app, 2).set("");
    AppProbe::text_input(app, "  -v  two ");
    press(app, SDLK_RETURN);
    EXPECT_EQ(SetProbe::focus(app), -1);
    Settings s = saved(app);
    EXPECT_EQ(s.nasm_path, "/opt/nasm/bin/nasm");
    EXPECT_EQ(s.args, "  -v  two ");
    // The configured path is no program: the row says so and builds miss it.
    EXPECT_TRUE(SetProbe::found(app, 0).empty());
    EXPECT_NE(SetProbe::install_command(app).find("nasm"), std::string::npos);

    // Blanks only mean automatic search; Escape applies before it closes.
    ASSERT_TRUE(click(app, "set_field", 0));
    SetProbe::field(app, 0).set("   ");
    press(app, SDLK_ESCAPE);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    EXPECT_EQ(saved(app).nasm_path, "");
    EXPECT_EQ(SetProbe::found(app, 0), tc::find_tool_auto("nasm"));

    // A click beside the box applies too, and typing without a focused field
    // goes nowhere.
    SetProbe::cmd_settings(app);
    AppProbe::text_input(app, "stray");
    EXPECT_EQ(SetProbe::field(app, 0).text, "");
    SetProbe::field(app, 1).set("/nowhere/ld");
    click_outside(app);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    EXPECT_EQ(saved(app).ld_path, "/nowhere/ld");
    tc::set_tool_path("ld", "");
}

// Fault mended: the Choose and Automatic buttons of both tool rows carried
// index 0, so the linker row's buttons acted on NASM.
TEST(SettingsDialog, EachToolRowsButtonsActOnTheirOwnRow)
{
    TempDir t;
    setenv("QXASM_NO_PORTAL", "1", 1);
    App app;
    AppProbe::settings(app).m_path = t.file("settings.dat");
    AppProbe::settings(app).nasm_path = "/x/nasm";
    AppProbe::settings(app).ld_path = "/x/ld";
    SetProbe::cmd_settings(app);
    AppProbe::paint(app, 1280, 800);
    for (const char* id : { "set_browse", "set_auto", "set_field" }) {
        auto hits = AppProbe::hits_of(app, id);
        ASSERT_GE(hits.size(), 2u) << id;
        EXPECT_EQ(hits[0].n, 0) << id;
        EXPECT_EQ(hits[1].n, 1) << id;
    }

    ASSERT_TRUE(click(app, "set_auto", 1));
    EXPECT_EQ(SetProbe::field(app, 1).text, "");
    EXPECT_EQ(SetProbe::field(app, 0).text, "/x/nasm");
    Settings s = saved(app);
    EXPECT_EQ(s.ld_path, "");
    EXPECT_EQ(s.nasm_path, "/x/nasm");

    // Choose on the linker row picks the linker: without the portal a path
    // prompt stands in, and its answer lands in the linker field.
    ASSERT_TRUE(click(app, "set_browse", 1));
    EXPECT_EQ(AppProbe::file_op(app), App::FileOp::PickLd);
    for (int i = 0; i < 500 && AppProbe::file_op(app) != App::FileOp::None; ++i) {
        AppProbe::poll_file_dialog(app);
        usleep(5000);
    }
    ASSERT_EQ(AppProbe::modal(app), App::Modal::Prompt);
    EXPECT_EQ(AppProbe::dlg_field(app).text, "/usr/bin/");
    AppProbe::dlg_field(app).set("/usr/bin/ld.bfd");
    press(app, SDLK_RETURN);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Settings) << "the dialog comes back with the answer";
    EXPECT_EQ(SetProbe::field(app, 1).text, "/usr/bin/ld.bfd");
    EXPECT_EQ(SetProbe::field(app, 0).text, "/x/nasm");
    s = saved(app);
    EXPECT_EQ(s.ld_path, "/usr/bin/ld.bfd");
    EXPECT_EQ(s.nasm_path, "/x/nasm");
    unsetenv("QXASM_NO_PORTAL");
    tc::set_tool_path("nasm", "");
    tc::set_tool_path("ld", "");
}

TEST(SettingsDialog, ChipsCheckBoxFontAndLanguageRowsActAtOnce)
{
    TempDir t;
    App app;
    AppProbe::settings(app).m_path = t.file("settings.dat");
    Doc* d = add_source(app, t.file("a.asm"));
    d->have_build = true;
    SetProbe::cmd_settings(app);
    bool debug_before = AppProbe::settings(app).auto_debug;

    ASSERT_TRUE(click(app, "set_fmt", 3));
    EXPECT_FALSE(d->have_build) << "another format makes the source build again";
    ASSERT_TRUE(click(app, "set_theme", 2));
    EXPECT_TRUE(AppProbe::palette(app).dark);
    ASSERT_TRUE(click(app, "set_autodebug"));
    Settings s = saved(app);
    EXPECT_EQ(s.format, "bin");
    EXPECT_EQ(s.theme, "dark");
    EXPECT_EQ(s.auto_debug, !debug_before);
    ASSERT_TRUE(click(app, "set_theme", 1));
    EXPECT_FALSE(AppProbe::palette(app).dark);
    ASSERT_TRUE(click(app, "set_fmt", 1));
    EXPECT_EQ(saved(app).format, "elf64");

    // A theme given on the command line for this run gives way to the
    // user's own choice, even of the theme already saved.
    AppProbe::settings(app).theme = "dark";
    app.force_theme = "light";
    AppProbe::set_theme(app, false);
    ASSERT_FALSE(AppProbe::palette(app).dark);
    ASSERT_TRUE(click(app, "set_theme", 2));
    EXPECT_TRUE(AppProbe::palette(app).dark);

    AppProbe::settings(app).font = 14;
    ASSERT_TRUE(click(app, "set_font", 1));
    EXPECT_EQ(AppProbe::settings(app).font, 15);
    ASSERT_TRUE(click(app, "set_font", -1));
    ASSERT_TRUE(click(app, "set_font", -1));
    EXPECT_EQ(AppProbe::settings(app).font, 13);

    ASSERT_TRUE(click(app, "set_lang"));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Language);
    EXPECT_TRUE(SetProbe::lang_back(app));
    ASSERT_TRUE(click(app, "dlg_cancel"));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Settings) << "Close goes back to Settings";
    ASSERT_TRUE(click(app, "set_close"));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);

    // Ctrl+, opens the dialog; a second time leaves it as it is.
    press(app, SDLK_COMMA, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Settings);
    press(app, SDLK_COMMA, KMOD_LCTRL);
    AppProbe::close_modal(app);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
}

// Faults mended: opening the dialog, and every Tab, Enter, click and
// Escape in it, ran the three tools for their versions on the main thread
// (3 s each), and opening it alone made the next build run again.
TEST(SettingsDialog, SlowToolNeverHoldsTheWindowAndIsAskedOnce)
{
    TempDir t;
    std::string nasm = t.file("nasm");
    script(nasm, "echo run >> '" + t.file("runs") + "'\n"
                 "while [ ! -e '" + t.file("gate") + "' ]; do sleep 0.02; done\n"
                 "echo 'NASM version 9.99-slow compiled on Jan  1 2026'\n");
    PathFirst first(t.path());
    App app;
    AppProbe::settings(app).m_path = t.file("settings.dat");
    Doc* d = add_source(app, t.file("a.asm"));
    d->have_build = true;

    SetProbe::cmd_settings(app);
    ASSERT_EQ(SetProbe::found(app, 0), nasm);
    // The tool is still answering: the window paints on and shows "…".
    for (int i = 0; i < 5; ++i)
        AppProbe::paint(app, 1280, 800);
    EXPECT_TRUE(SetProbe::waiting(app, 0));
    EXPECT_EQ(SetProbe::version(app, 0), "");

    press(app, SDLK_TAB);
    press(app, SDLK_TAB);
    press(app, SDLK_RETURN);
    ASSERT_TRUE(click(app, "set_field", 1));
    ASSERT_TRUE(click(app, "set_field", 0));
    press(app, SDLK_ESCAPE);
    EXPECT_TRUE(d->have_build) << "looking at the settings is no reason to build again";
    SetProbe::cmd_settings(app);
    ASSERT_TRUE(click(app, "set_close"));
    EXPECT_TRUE(d->have_build);

    ASSERT_TRUE(testutil::write_file(t.file("gate"), ""));
    ASSERT_TRUE(probe_answered(nasm));
    SetProbe::cmd_settings(app);
    AppProbe::paint(app, 1280, 800);
    EXPECT_FALSE(SetProbe::waiting(app, 0));
    EXPECT_EQ(SetProbe::version(app, 0), "NASM version 9.99-slow");
    EXPECT_EQ(testutil::read_file(t.file("runs")), "run\n") << "one question per program";

    // Another NASM does make the last build stale.
    SetProbe::field(app, 0).set("/usr/bin/true");
    press(app, SDLK_RETURN);
    EXPECT_FALSE(d->have_build);
    AppProbe::close_modal(app);
    tc::set_tool_path("nasm", "");
}

// Fault mended: the placeholder of an empty path field searched PATH on
// every frame; it shows what the last apply found.
TEST(SettingsDialog, PlaceholderIsWhatTheLastApplyFound)
{
    TempDir t;
    App app;
    SetProbe::cmd_settings(app);
    std::string before = SetProbe::auto_path(app, 0);
    EXPECT_EQ(before, tc::find_tool_auto("nasm"));
    script(t.file("nasm"), "echo 'NASM version 0'\n");
    PathFirst first(t.path());
    AppProbe::paint(app, 1280, 800);
    AppProbe::paint(app, 1280, 800);
    EXPECT_EQ(SetProbe::auto_path(app, 0), before) << "painting does not search";
    press(app, SDLK_TAB);
    EXPECT_EQ(SetProbe::auto_path(app, 0), t.file("nasm")) << "applying does";
    EXPECT_EQ(SetProbe::found(app, 0), t.file("nasm"));
    AppProbe::close_modal(app);
}

TEST(SettingsDialog, SmallWindowScrollsAndHiddenControlsTakeNoClicks)
{
    App app;
    SetProbe::cmd_settings(app);
    AppProbe::paint(app, 900, 420);
    AppProbe::paint(app, 900, 420); // the content height of the first frame
    ASSERT_GT(SetProbe::content_h(app), SetProbe::view_h(app));
    EXPECT_TRUE(AppProbe::hits_of(app, "set_lang").empty()) << "below the band";
    EXPECT_EQ(AppProbe::hits_of(app, "set_close").size(), 1u);
    const Hit box = first_of(AppProbe::hits_of(app, "dlg_box"));
    for (int i = 0; i < 40; ++i)
        AppProbe::wheel(app, box.x + 50, box.y + 100, -1);
    AppProbe::paint(app, 900, 420);
    EXPECT_EQ(SetProbe::scroll(app), SetProbe::content_h(app) - SetProbe::view_h(app)) << "clamped at the end";
    EXPECT_EQ(AppProbe::hits_of(app, "set_lang").size(), 1u);
    EXPECT_TRUE(AppProbe::hits_of(app, "set_browse").empty()) << "above the band";
    for (const Hit& h : AppProbe::hits(app))
        if (h.id.rfind("set_", 0) == 0 && h.id != "set_close") {
            EXPECT_GT(h.y + h.h, box.y + 50) << h.id;
            EXPECT_LT(h.y, box.y + box.h - 64) << h.id;
        }
    AppProbe::close_modal(app);
}

// ---- Language ----

TEST(LanguageDialog, FilterRanksCodesNamesAndWords)
{
    App app;
    SetProbe::cmd_language(app);
    std::vector<std::string> all = codes(app);
    ASSERT_EQ(all.size(), 84u);
    EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 6),
              (std::vector<std::string>{ "auto", "af", "sq", "am", "ar", "hy" }));

    struct Case {
        const char* filter;
        std::vector<std::string> first;
    };
    const Case cases[] = {
        { "de", { "de" } },
        { "DE", { "de" } },
        { "zh", { "zh", "zh_TW" } },
        { "sys", { "auto" } },
        { "Tai", { "zh_TW" } },           // a later word of the English name
        { "Рус", { "ru" } },              // the native name, bytes as they are
        { "español", { "es" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        SetProbe::filter(app).set(c.filter);
        std::vector<std::string> got = codes(app);
        ASSERT_GE(got.size(), c.first.size());
        EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + long(c.first.size())), c.first);
    }
    SetProbe::filter(app).set("qqqq");
    EXPECT_TRUE(SetProbe::filtered(app).empty());
    AppProbe::paint(app, 1280, 800);
    press(app, SDLK_RETURN);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Language) << "nothing to pick";
    AppProbe::close_modal(app);
}

// Fault mended: the filter folded case with tolower, which follows the
// locale: in a Turkish one "I" stays "I", so "ID" found no Indonesian.
TEST(LanguageDialog, CaseFoldingIsAsciiWhateverTheLocale)
{
    TempDir t;
    std::string locale_dir = t.file("loc");
    mkdir(locale_dir.c_str(), 0700);
    auto r = testutil::run({ "localedef", "-i", "tr_TR", "-f", "UTF-8", locale_dir + "/tr_TR.UTF-8" });
    setenv("LOCPATH", locale_dir.c_str(), 1);
    bool turkish = setlocale(LC_CTYPE, "tr_TR.UTF-8") != nullptr;
    unsetenv("LOCPATH");
    if (!turkish)
        GTEST_SKIP() << "no Turkish locale could be made: " << r.err;
    App app;
    SetProbe::cmd_language(app);
    SetProbe::filter(app).set("ID");
    std::vector<std::string> got = codes(app);
    SetProbe::filter(app).set("INDONES");
    std::vector<std::string> by_name = codes(app);
    setlocale(LC_CTYPE, "C");
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], "id");
    ASSERT_FALSE(by_name.empty());
    EXPECT_EQ(by_name[0], "id");
    AppProbe::close_modal(app);
}

// Fault mended: a key that left the filter as it was (Shift, Ctrl) sent the
// highlight back to the first entry.
TEST(LanguageDialog, KeysMoveTheHighlightAndOnlyATextChangeResetsIt)
{
    App app;
    SetProbe::cmd_language(app);
    AppProbe::paint(app, 1280, 800);
    ASSERT_EQ(SetProbe::cols(app), 3);
    EXPECT_EQ(SetProbe::sel(app), 0) << "the system entry is the current setting";
    press(app, SDLK_DOWN);
    EXPECT_EQ(SetProbe::sel(app), 3);
    press(app, SDLK_RIGHT);
    EXPECT_EQ(SetProbe::sel(app), 4);
    press(app, SDLK_LSHIFT, KMOD_LSHIFT);
    press(app, SDLK_LCTRL, KMOD_LCTRL);
    press(app, SDLK_HOME);
    EXPECT_EQ(SetProbe::sel(app), 4) << "the filter did not change";
    press(app, SDLK_PAGEDOWN);
    EXPECT_EQ(SetProbe::sel(app), 22);
    press(app, SDLK_PAGEUP);
    press(app, SDLK_UP);
    EXPECT_EQ(SetProbe::sel(app), 1);
    press(app, SDLK_LEFT);
    press(app, SDLK_LEFT);
    EXPECT_EQ(SetProbe::sel(app), 0) << "floored at the first entry";
    for (int i = 0; i < 40; ++i)
        press(app, SDLK_PAGEDOWN);
    EXPECT_EQ(SetProbe::sel(app), 83);
    AppProbe::paint(app, 1280, 800);
    EXPECT_GT(SetProbe::lang_scroll(app), 0) << "the highlight was brought into view";

    AppProbe::text_input(app, "en");
    EXPECT_EQ(SetProbe::sel(app), 0);
    EXPECT_EQ(SetProbe::lang_scroll(app), 0);
    press(app, SDLK_DOWN);
    int down = SetProbe::sel(app);
    ASSERT_GT(down, 0);
    press(app, SDLK_LEFT);
    press(app, SDLK_LEFT);
    EXPECT_EQ(SetProbe::filter(app).caret, 0);
    EXPECT_EQ(SetProbe::sel(app), down) << "Left moved the filter's caret first";
    press(app, SDLK_LEFT);
    EXPECT_EQ(SetProbe::sel(app), down - 1);
    press(app, SDLK_BACKSPACE);
    EXPECT_EQ(SetProbe::filter(app).text, "en") << "at the start nothing is deleted";
    EXPECT_EQ(SetProbe::sel(app), down - 1);
    press(app, SDLK_DELETE);
    EXPECT_EQ(SetProbe::filter(app).text, "n");
    EXPECT_EQ(SetProbe::sel(app), 0);

    // Escape empties the filter first, then closes.
    press(app, SDLK_ESCAPE);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Language);
    EXPECT_EQ(SetProbe::filter(app).text, "");
    press(app, SDLK_ESCAPE);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
}

TEST(LanguageDialog, PickingStoresTheLanguageAndReturnsToSettings)
{
    TempDir t;
    App app;
    AppProbe::settings(app).m_path = t.file("settings.dat");
    SetProbe::cmd_settings(app);
    ASSERT_TRUE(click(app, "set_lang"));
    ASSERT_EQ(AppProbe::modal(app), App::Modal::Language);
    press(app, SDLK_ESCAPE);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Settings) << "Escape with an empty filter goes back";

    ASSERT_TRUE(click(app, "set_lang"));
    ASSERT_TRUE(click(app, "lang", index_of("de")));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Settings);
    EXPECT_EQ(L10n::currentLanguage(), "de");
    EXPECT_EQ(saved(app).language, "de");
    AppProbe::paint(app, 1280, 800);
    auto row = AppProbe::hits_of(app, "set_lang");
    ASSERT_EQ(row.size(), 1u);

    // From the menu: the current language is highlighted, Return on the
    // system entry goes back to it, and nothing reopens.
    AppProbe::close_modal(app);
    SetProbe::cmd_language(app);
    EXPECT_EQ(code_of(SetProbe::filtered(app)[size_t(SetProbe::sel(app))]), "de");
    AppProbe::text_input(app, "system");
    press(app, SDLK_RETURN);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    EXPECT_EQ(saved(app).language, "auto");

    // A click beside the box closes without a change and forgets Settings.
    SetProbe::cmd_settings(app);
    ASSERT_TRUE(click(app, "set_lang"));
    click_outside(app);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    EXPECT_EQ(saved(app).language, "auto");
}

// ---- links and sandbox hints ----

// Fault mended: a link was reported opened when no opener existed, and a
// link beginning with "-" reached the opener as an option.
TEST(Links, OpenerGetsTheLinkAsItsOnlyArgumentOrTheLinkIsShown)
{
    TempDir t;
    std::string record = t.file("args");
    script(t.file("xdg-open"), "for a in \"$@\"; do echo \"[$a]\" >> '" + record + "'; done\n"
                               "case \"$1\" in *fail*) exit 3;; esac\n");
    PathFirst first(t.path());
    App app;

    struct Case {
        const char* url;
        bool started;   // an opener was started
        bool recorded;  // it received the link
        bool shown;     // the link is shown for copying
    };
    const Case cases[] = {
        { "https://example.org/a?b=1&c='x';$(id)", true, true, false },
        { "mailto:support@example.org", true, true, false },
        { "https://example.org/fail", true, true, true },
        { "--help", false, false, true },
        { "-https://example.org", false, false, true },
        { "file:///etc/passwd", false, false, true },
        { "https://exa mple.org", false, false, true },
        { "https://", false, false, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        unlink(record.c_str());
        uint64_t gen = links::generation();
        EXPECT_EQ(SetProbe::open_url(app, c.url), c.started);
        if (c.started)
            for (int i = 0; i < 1000 && links::generation() == gen; ++i)
                usleep(10000);
        SetProbe::poll_links(app);
        EXPECT_EQ(testutil::read_file(record), c.recorded ? "[" + std::string(c.url) + "]\n" : "");
        EXPECT_EQ(AppProbe::modal(app) == App::Modal::Confirm, c.shown);
        if (c.shown) {
            EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("url.title"));
            EXPECT_NE(AppProbe::dlg_text(app).find(c.url), std::string::npos);
            ASSERT_TRUE(click(app, "dlg_button", 0));
            EXPECT_EQ(AppProbe::status(app), L10n::tr("conv.copied") + ": " + c.url);
        }
        EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    }

    // An opener that cannot start (a script whose interpreter is missing).
    script(t.file("xdg-open"), "");
    ASSERT_TRUE(testutil::write_file(t.file("xdg-open"), "#!/nonexistent/shell\n"));
    EXPECT_FALSE(SetProbe::open_url(app, "https://example.org/"));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Confirm);
}

namespace {

using testutil::run_in_child;

#define CHILD_CHECK(cond) \
    do { \
        if (!(cond)) \
            out += std::string("failed: ") + #cond + "\n"; \
    } while (0)

} // namespace

TEST(SandboxHints, SnapExplainsRemovableDrivesAndHiddenFolders)
{
    TempDir t;
    std::string record = t.file("args");
    script(t.file("xdg-open"), "echo \"$1\" >> '" + record + "'\n");
    PathFirst first(t.path());
    auto snap = std::vector<std::pair<const char*, const char*>>{ { "SNAP", "/snap/qxferndockassembleride/1" },
                                                                  { "SNAP_REAL_HOME", "/home/u" } };
    std::string got = run_in_child(snap, [&] {
        std::string out;
        App app;
        CHILD_CHECK(SetProbe::snap_file_hint(app, "/run/media/u/stick/a.asm"));
        CHILD_CHECK(AppProbe::dlg_title(app) == L10n::tr("snap.title"));
        CHILD_CHECK(AppProbe::dlg_text(app).find("sudo snap connect qxferndockassembleride:removable-media")
                    != std::string::npos);
        CHILD_CHECK(AppProbe::dlg_buttons(app)
                    == (std::vector<std::string>{ L10n::tr("snap.copy"), L10n::tr("btn.ok") + "*" }));
        CHILD_CHECK(AppProbe::click(app, "dlg_button", 0));
        CHILD_CHECK(AppProbe::status(app) == L10n::tr("settings.copied"));

        CHILD_CHECK(SetProbe::snap_file_hint(app, "/home/u/.config/x.asm"));
        CHILD_CHECK(AppProbe::dlg_buttons(app)
                    == (std::vector<std::string>{ L10n::tr("snap.website"), L10n::tr("btn.ok") + "*" }));
        uint64_t gen = links::generation();
        CHILD_CHECK(AppProbe::click(app, "dlg_button", 0));
        for (int i = 0; i < 1000 && links::generation() == gen; ++i)
            usleep(10000);
        CHILD_CHECK(testutil::read_file(record) == "https://qxferndock.dev\n");
        CHILD_CHECK(AppProbe::modal(app) == App::Modal::None);

        CHILD_CHECK(!SetProbe::snap_file_hint(app, "/home/u/dir/x.asm"));
        CHILD_CHECK(AppProbe::modal(app) == App::Modal::None);
        // A file that cannot be opened from a drive: the hint, not the error.
        AppProbe::open_any(app, "/media/none/a.asm");
        CHILD_CHECK(AppProbe::dlg_title(app) == L10n::tr("snap.title"));
        return out;
    });
    EXPECT_EQ(got, "");

    for (const char* kind : { "FLATPAK_ID", "APPDIR" }) {
        SCOPED_TRACE(kind);
        got = run_in_child({ { "SNAP", nullptr }, { kind, "x" }, { "HOME", "/home/u" } }, [&] {
            std::string out;
            App app;
            CHILD_CHECK(!SetProbe::snap_file_hint(app, "/media/stick/a.asm"));
            CHILD_CHECK(!SetProbe::snap_file_hint(app, "/home/u/.hidden/a.asm"));
            AppProbe::open_any(app, "/media/none/a.asm");
            CHILD_CHECK(AppProbe::dlg_title(app) == L10n::tr("dlg.error"));
            return out;
        });
        EXPECT_EQ(got, "");
    }
}

TEST(SandboxHints, PathNamesForDialogs)
{
    std::string home = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(short_dir("/home/u/src/a.asm"), "~/src");
    EXPECT_EQ(short_dir("/home/u/a.asm"), "~");
    EXPECT_EQ(short_dir("/home/user2/a.asm"), "/home/user2");
    EXPECT_EQ(dir_name("a.asm"), "");
    EXPECT_EQ(dir_name("/x"), "");
    EXPECT_EQ(base_name("a.asm"), "a.asm");
    setenv("HOME", home.c_str(), 1);
}

// ---- the real window ----

namespace {

class SettingsWindow : public testutil::XvfbSuite {
protected:
    void SetUp() override
    {
        XvfbSuite::SetUp();
        if (IsSkipped())
            return;
        setenv("DISPLAY", server().display().c_str(), 1);
        unsetenv("SDL_VIDEODRIVER");
    }

    // Paints a frame of the window and keeps its picture (also in
    // QX_TEST_SHOTS when set).
    static std::string picture(App& app, const TempDir& t, const std::string& name)
    {
        AppProbe::paint(app, 0, 0);
        std::string path = t.file(name);
        std::string why;
        if (!gfx::write_png(AppProbe::surface(app), path, &why))
            return "picture " + name + ": " + why + "\n";
        if (const char* keep = getenv("QX_TEST_SHOTS"))
            testutil::sh("cp '" + path + "' '" + keep + "/'");
        return "";
    }

    std::string display() const { return "DISPLAY=" + server().display(); }
};

} // namespace

// In a child process, as the other window tests: SDL's X11 layer leaves
// blocks behind that the sanitizer build's leak check would count.
TEST_F(SettingsWindow, DialogsInBothThemesAndALanguageTypedIntoTheWindow)
{
    TempDir t;
    std::string got = run_in_child({ { "SDL_RENDER_DRIVER", "software" }, { "SNAP", "/snap/x/1" } }, [&] {
        std::string out;
        App app;
        AppProbe::settings(app).m_path = t.file("settings.dat");
        if (!AppProbe::init_window(app))
            return std::string("no window: ") + SDL_GetError();
        SDL_ShowWindow(AppProbe::window(app));
        for (bool dark : { false, true }) {
            AppProbe::set_theme(app, dark);
            std::string theme = dark ? "-dark.png" : "-light.png";
            SetProbe::cmd_settings(app);
            SetProbe::field(app, 1).set("/nowhere/ld");
            press(app, SDLK_TAB);
            out += picture(app, t, "settings" + theme);
            AppProbe::close_modal(app);
            SetProbe::cmd_language(app);
            AppProbe::text_input(app, "ch");
            press(app, SDLK_DOWN);
            out += picture(app, t, "language" + theme);
            AppProbe::close_modal(app);
            CHILD_CHECK(SetProbe::snap_file_hint(app, "/media/stick/a.asm"));
            out += picture(app, t, "snap" + theme);
            AppProbe::close_modal(app);
            CHILD_CHECK(!SetProbe::open_url(app, "-not-a-link"));
            out += picture(app, t, "link" + theme);
            AppProbe::close_modal(app);
        }
        SetProbe::cmd_settings(app);
        CHILD_CHECK(AppProbe::click(app, "set_auto", 1, 0, 0));
        AppProbe::close_modal(app);
        CHILD_CHECK(AppProbe::settings(app).ld_path.empty());

        // The language picked with keys typed into the window.
        SetProbe::cmd_settings(app);
        AppProbe::paint(app, 0, 0);
        AppProbe::wheel(app, 640, 400, -20); // the lower rows into view
        out += picture(app, t, "settings-scrolled.png");
        CHILD_CHECK(AppProbe::click(app, "set_lang", 0, 0, 0));
        AppProbe::pump(app);
        auto found = testutil::run({ "xdotool", "search", "--pid", std::to_string(getpid()) }, { display() });
        std::string xid = found.out.substr(0, found.out.find('\n'));
        CHILD_CHECK(!xid.empty());
        testutil::run({ "xdotool", "windowfocus", "--sync", xid }, { display() });
        AppProbe::pump(app);
        CHILD_CHECK(testutil::run({ "xdotool", "type", "--delay", "15", "deutsch" }, { display() }).code == 0);
        for (int i = 0; i < 200 && SetProbe::filter(app).text != "deutsch"; ++i) {
            AppProbe::pump(app);
            SDL_Delay(10);
        }
        CHILD_CHECK(SetProbe::filter(app).text == "deutsch");
        CHILD_CHECK(testutil::run({ "xdotool", "key", "Return" }, { display() }).code == 0);
        for (int i = 0; i < 200 && AppProbe::modal(app) != App::Modal::Settings; ++i) {
            AppProbe::pump(app);
            SDL_Delay(10);
        }
        CHILD_CHECK(AppProbe::modal(app) == App::Modal::Settings);
        out += picture(app, t, "settings-german.png");
        AppProbe::save_now(app);
        Settings s;
        s.load(t.file("settings.dat"));
        CHILD_CHECK(s.language == "de");
        AppProbe::shutdown_window(app);
        return out;
    });
    EXPECT_EQ(got, "");
}
