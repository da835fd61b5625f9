// The link options dialog, driven through its hits and keys, with its
// effect read back from the settings file; the linker call it previews; and
// folders with blanks reaching the tools whole.
#include "about_probe.h"
#include "app.h"
#include "app_probe.h"
#include "l10n.h"
#include "settings.h"
#include "testutil.h"
#include "toolchain.h"

#include <gtest/gtest.h>

namespace {

class LinkDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_CONFIG_HOME", m_home.path().c_str(), 1);
        AppProbe::settings(m_app).m_path = m_home.file("settings.dat");
    }

    // A source document with a path (saved) or without (untitled).
    Doc* source(const std::string& path, const std::string& text = "section .text\n")
    {
        Doc* d = AppProbe::new_doc(m_app, false);
        d->path = path;
        d->ed.set_text(text);
        AppProbe::activate(m_app, d);
        return d;
    }
    // The links the settings file holds after the dialog's save.
    std::map<std::string, tc::LinkOpts> stored()
    {
        AppProbe::save_now(m_app);
        Settings s;
        s.load(m_home.file("settings.dat"));
        return s.links;
    }
    void type(const std::string& text) { AppProbe::text_input(m_app, text.c_str()); }
    void click_field(int n) { ASSERT_TRUE(AppProbe::click(m_app, "link_field", n)); }

    testutil::TempDir m_home;
    App m_app;
};

} // namespace

TEST_F(LinkDialog, FieldsTypedThroughHitsAndKeysAreStoredForTheSourcesPath)
{
    std::string path = m_home.file("prog.asm");
    source(path);
    AboutProbe::cmd_link(m_app);
    ASSERT_EQ(AppProbe::modal(m_app), App::Modal::Link);
    EXPECT_EQ(AboutProbe::link_focus(m_app), 0);
    type(" c   m "); // libs: outer blanks go, inner ones stay
    AppProbe::key(m_app, SDLK_TAB);
    type("/opt/lib");
    AppProbe::key(m_app, SDLK_TAB);
    type("-s");
    click_field(3);
    type("inc");
    click_field(4);
    type("util.asm");
    ASSERT_TRUE(AppProbe::click(m_app, "link_crt"));
    EXPECT_TRUE(AboutProbe::link_crt(m_app));
    ASSERT_TRUE(AppProbe::click(m_app, "link_ok"));
    EXPECT_EQ(AppProbe::modal(m_app), App::Modal::None);
    EXPECT_EQ(AppProbe::status(m_app), L10n::tr("link.saved", "prog.asm"));

    auto links = stored();
    ASSERT_EQ(links.count(path), 1u);
    const tc::LinkOpts& o = links[path];
    EXPECT_EQ(o.libs, "c   m");
    EXPECT_EQ(o.dirs, "/opt/lib");
    EXPECT_EQ(o.extra, "-s");
    EXPECT_EQ(o.incs, "inc");
    EXPECT_EQ(o.srcs, "util.asm");
    EXPECT_TRUE(o.crt);

    // Opened again, the dialog shows them; clearing everything and
    // unticking removes the record. Enter stores like OK.
    AboutProbe::cmd_link(m_app);
    EXPECT_EQ(AboutProbe::link_field(m_app, 0).text, "c   m");
    EXPECT_TRUE(AboutProbe::link_crt(m_app));
    for (int i = 0; i < 5; ++i)
        AboutProbe::link_field(m_app, i).set("");
    ASSERT_TRUE(AppProbe::click(m_app, "link_crt"));
    AppProbe::key(m_app, SDLK_RETURN);
    EXPECT_EQ(AppProbe::modal(m_app), App::Modal::None);
    EXPECT_EQ(stored().count(path), 0u);
}

TEST_F(LinkDialog, CancelAndEscapeStoreNothing)
{
    std::string path = m_home.file("a.asm");
    Doc* d = source(path);
    d->have_build = true;
    for (int way = 0; way < 3; ++way) {
        AboutProbe::cmd_link(m_app);
        type("m");
        if (way == 0)
            ASSERT_TRUE(AppProbe::click(m_app, "dlg_cancel"));
        else if (way == 1)
            AppProbe::key(m_app, SDLK_ESCAPE);
        else {
            AppProbe::paint(m_app, 1280, 800);
            AppProbe::mouse_down(m_app, 3, 3);
        }
        EXPECT_EQ(AppProbe::modal(m_app), App::Modal::None) << way;
    }
    EXPECT_TRUE(d->have_build);
    EXPECT_TRUE(stored().empty()) << "an opened and cancelled dialog leaves no record";
}

TEST_F(LinkDialog, AnUntitledSourceKeepsItsOptionsInTheDocument)
{
    Doc* d = source("");
    d->have_build = true;
    AboutProbe::cmd_link(m_app);
    type("c");
    ASSERT_TRUE(AppProbe::click(m_app, "link_ok"));
    EXPECT_EQ(d->link.libs, "c");
    EXPECT_FALSE(d->have_build) << "the next run builds again";
    EXPECT_EQ(AppProbe::status(m_app), L10n::tr("link.saved", L10n::tr("file.untitled")));
    EXPECT_TRUE(stored().empty());
    AboutProbe::cmd_link(m_app);
    AboutProbe::link_field(m_app, 0).set("  ");
    ASSERT_TRUE(AppProbe::click(m_app, "link_ok"));
    EXPECT_TRUE(d->link.empty());
}

TEST_F(LinkDialog, TabOrderIsTheIndexOrder)
{
    source(m_home.file("t.asm"));
    AboutProbe::cmd_link(m_app);
    struct Step {
        Uint16 mod;
        int focus;
    };
    // Shift+Tab on libs goes to srcs; Tab on srcs back to libs.
    const Step steps[] = { { KMOD_LSHIFT, 4 }, { KMOD_NONE, 0 }, { KMOD_NONE, 1 }, { KMOD_RSHIFT, 0 } };
    for (const Step& s : steps) {
        AppProbe::key(m_app, SDLK_TAB, s.mod);
        EXPECT_EQ(AboutProbe::link_focus(m_app), s.focus);
    }
    EXPECT_EQ(AppProbe::modal(m_app), App::Modal::Link);
    // Clicking a field gives it the keys.
    click_field(2);
    EXPECT_EQ(AboutProbe::link_focus(m_app), 2);
    type("-x");
    EXPECT_EQ(AboutProbe::link_field(m_app, 2).text, "-x");
}

TEST_F(LinkDialog, PreviewIsTheLinkerCallOfTheFieldsAsTyped)
{
    struct Case {
        std::string path, hint;
        std::string expect;
    };
    const Case cases[] = {
        { "/home/u/prog.asm", "", "ld -o prog prog.o" },
        { "/home/u/.hidden", "", "ld -o .hidden .hidden.o" },
        { "", "", "ld -o untitled untitled.o" },
        { "", "hello.asm", "ld -o hello hello.o" },
    };
    for (const Case& c : cases) {
        Doc* d = source(c.path);
        d->name_hint = c.hint;
        AboutProbe::cmd_link(m_app);
        AppProbe::paint(m_app, 1280, 800);
        EXPECT_EQ(AboutProbe::link_preview(m_app), c.expect) << c.path;
        AppProbe::key(m_app, SDLK_ESCAPE);
    }
    // The check box makes it a cc call; a typed option appears at once.
    source("/home/u/prog.asm");
    AboutProbe::cmd_link(m_app);
    ASSERT_TRUE(AppProbe::click(m_app, "link_crt"));
    click_field(2);
    type("-s");
    AppProbe::paint(m_app, 1280, 800);
    EXPECT_EQ(AboutProbe::link_preview(m_app), "cc -no-pie -o prog prog.o -s");
}

// A flat binary is not linked: a note says so and the rows move below it.
TEST_F(LinkDialog, FlatBinaryNotePushesTheRowsDown)
{
    source(m_home.file("boot.asm"), "org 0x7c00\nbits 16\njmp $\ntimes 510-($-$$) db 0\ndw 0xAA55\n");
    auto first_row_y = [&](const std::string& format) {
        AppProbe::settings(m_app).format = format;
        AboutProbe::cmd_link(m_app);
        AppProbe::paint(m_app, 1280, 800);
        double y = AppProbe::hits_of(m_app, "link_field").at(0).y;
        AppProbe::key(m_app, SDLK_ESCAPE);
        return y;
    };
    double elf = first_row_y("elf64");
    double bin = first_row_y("bin");
    double autodetected = first_row_y("auto");
    EXPECT_GT(bin, elf + 6);
    EXPECT_EQ(autodetected, bin) << "this source is detected as a flat binary";
}

// Fault mended: the painter joined the whole source and detected its format
// on every frame. Now once per change of the text.
TEST_F(LinkDialog, FormatIsDetectedOncePerTextChange)
{
    Doc* d = source(m_home.file("f.asm"), "global _start\n_start:\n  mov eax, 60\n  syscall\n");
    AppProbe::settings(m_app).format = "auto";
    AboutProbe::cmd_link(m_app);
    int before = AboutProbe::link_format_runs(m_app);
    for (int i = 0; i < 5; ++i) {
        type("x");
        AppProbe::paint(m_app, 1280, 800);
    }
    EXPECT_EQ(AboutProbe::link_format_runs(m_app), before + 1);
    AppProbe::key(m_app, SDLK_ESCAPE);
    d->ed.insert("; more\n");
    AboutProbe::cmd_link(m_app);
    AppProbe::paint(m_app, 1280, 800);
    AppProbe::paint(m_app, 1280, 800);
    EXPECT_EQ(AboutProbe::link_format_runs(m_app), before + 2);
}

// Fault mended: a value holding the settings file's record separators or a
// line break was stored and came back as something else.
TEST_F(LinkDialog, ValuesWithSeparatorsOrLineBreaksAreRefused)
{
    std::string path = m_home.file("s.asm");
    source(path);
    for (const char* bad : { "c\nm", "c\rm", "c\x1Fm", "a\x1E" "b" }) {
        AboutProbe::cmd_link(m_app);
        click_field(1);
        type(bad);
        ASSERT_TRUE(AppProbe::click(m_app, "link_ok"));
        EXPECT_EQ(AppProbe::modal(m_app), App::Modal::Link) << "the dialog stays open";
        EXPECT_EQ(AboutProbe::link_error(m_app), L10n::tr("link.bad_value", L10n::tr("link.dirs")));
        EXPECT_TRUE(AppProbe::status_err(m_app));
        EXPECT_EQ(AboutProbe::link_focus(m_app), 1);
        AppProbe::key(m_app, SDLK_ESCAPE);
    }
    EXPECT_TRUE(stored().empty());
}

// Fault mended: folder lists were split at every blank, so a folder whose
// name holds one could not be named. Quotes keep it whole.
TEST(LinkFolders, QuotedFoldersKeepTheirBlanks)
{
    struct Case {
        std::string text;
        std::vector<std::string> folders;
    };
    const Case cases[] = {
        { "/a /b", { "/a", "/b" } },
        { "/a:/b,/c", { "/a", "/b", "/c" } },
        { "\"/opt/my libs\" /usr/x", { "/opt/my libs", "/usr/x" } },
        { "'/a b:c' \"it's\"", { "/a b:c", "it's" } },
        { "\"\" /z", { "/z" } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(tc::folders(c.text), c.folders) << c.text;

    tc::LinkOpts o;
    o.dirs = "\"/opt/my libs\"";
    auto argv = tc::link_command("ld", tc::Format::Elf64, o, "p.o", "p");
    EXPECT_NE(std::find(argv.begin(), argv.end(), "-L/opt/my libs"), argv.end());
    auto dirs = tc::lib_dirs(o, tc::Format::Elf64);
    ASSERT_FALSE(dirs.empty());
    EXPECT_EQ(dirs[0], "/opt/my libs");
}

// The real assembler finds an include file in a quoted folder with a blank.
TEST(LinkFolders, AnIncludeFolderWithABlankReachesNasm)
{
    testutil::TempDir t;
    testutil::sh("mkdir -p '" + t.path() + "/my inc'");
    ASSERT_TRUE(testutil::write_file(t.file("my inc/exit.inc"), "%define EXIT_CODE 7\n"));
    ASSERT_TRUE(testutil::write_file(t.file("p.asm"), "%include \"exit.inc\"\nglobal _start\nsection .text\n"
                                                       "_start:\n  mov edi, EXIT_CODE\n  mov eax, 60\n  syscall\n"));
    tc::LinkOpts o;
    o.incs = "\"my inc\"";
    tc::BuildResult r = tc::build(t.file("p.asm"), tc::Format::Elf64, t.file("p"), o);
    EXPECT_TRUE(r.ok) << r.log;
    auto run = testutil::run({ t.file("p") });
    EXPECT_EQ(run.code, 7);
}
