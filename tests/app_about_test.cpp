// The About dialog's component table and licence viewer, driven through
// their hits and keys: versions against what the process really linked and
// what the tools really say, licence pages, keys and wheel.
#include "about_probe.h"
#include "app.h"
#include "app_probe.h"
#include "l10n.h"
#include "licenses_data.h"
#include "testutil.h"

#include <SDL.h>
#include <Zycore/Zycore.h>
#include <Zydis/Zydis.h>
#include <cairo.h>
#include <dlfcn.h>
#include <glib.h>
#include <pango/pango.h>
#include <sodium.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

namespace {

const std::string kDash = "\xE2\x80\x93";
const std::string kWaiting = "\xE2\x80\xA6";

int row_of(const std::string& name)
{
    for (int k = 0; k < licenses_data::COUNT; ++k)
        if (name == licenses_data::COMPONENTS[k].name)
            return k;
    ADD_FAILURE() << name << " is not in the table";
    return 0;
}

// Paints until no row waits for a tool's version (bounded), as the loop
// repaints when an answer arrives.
void settle(App& app)
{
    for (int i = 0; i < 3000; ++i) {
        AppProbe::paint(app, 1280, 900);
        bool waiting = false;
        for (const std::string& v : AboutProbe::versions(app))
            waiting |= v == kWaiting;
        if (!waiting)
            return;
        SDL_Delay(10);
    }
    ADD_FAILURE() << "a tool's version never arrived";
}

// The upstream part of a Debian package version: no epoch, no revision.
std::string upstream(std::string v)
{
    size_t colon = v.find(':');
    if (colon != std::string::npos)
        v = v.substr(colon + 1);
    return v.substr(0, v.find_first_of("-+~"));
}

// The version of the installed package that holds the shared object
// defining `symbol` in this process; empty when dpkg cannot tell.
std::string package_version_of(const void* symbol)
{
    Dl_info info{};
    if (!dladdr(symbol, &info) || !info.dli_fname)
        return {};
    char real[PATH_MAX];
    if (!realpath(info.dli_fname, real))
        return {};
    auto owner = testutil::run({ "dpkg-query", "-S", real });
    if (owner.code != 0)
        return {};
    std::string pkg = owner.out.substr(0, owner.out.find(':'));
    auto ver = testutil::run({ "dpkg-query", "-W", "-f=${Version}", pkg });
    return ver.code == 0 ? upstream(ver.out) : std::string();
}

// Sets PATH for one test and puts it back.
struct PathGuard {
    std::string old = getenv("PATH") ? getenv("PATH") : "";
    explicit PathGuard(const std::string& path) { setenv("PATH", path.c_str(), 1); }
    ~PathGuard() { setenv("PATH", old.c_str(), 1); }
};

} // namespace

TEST(AppAbout, VersionsAreThoseOfTheLibrariesThisProcessLinked)
{
    if (testutil::run({ "dpkg-query", "--version" }).code != 0)
        GTEST_SKIP() << "no dpkg to ask which packages the libraries come from";
    App app;
    AboutProbe::cmd_about(app);
    ASSERT_EQ(AppProbe::modal(app), App::Modal::About);
    settle(app);
    const auto& shown = AboutProbe::versions(app);
    ASSERT_EQ(shown.size(), size_t(licenses_data::COUNT));
    struct Case {
        const char* row;
        const void* symbol;
    };
    const Case cases[] = {
        { "Zydis", reinterpret_cast<const void*>(&ZydisGetVersion) },
        { "Zycore", reinterpret_cast<const void*>(&ZycoreGetVersion) },
        { "libsodium", reinterpret_cast<const void*>(&sodium_version_string) },
        { "SDL2", reinterpret_cast<const void*>(&SDL_GetVersion) },
        { "Cairo", reinterpret_cast<const void*>(&cairo_version_string) },
        { "Pango", reinterpret_cast<const void*>(&pango_version_string) },
        { "GLib / GIO", reinterpret_cast<const void*>(&g_strdup) },
    };
    for (const Case& c : cases) {
        std::string pkg = package_version_of(c.symbol);
        ASSERT_FALSE(pkg.empty()) << c.row << ": no package owns the library";
        EXPECT_EQ(shown[size_t(row_of(c.row))], pkg) << c.row;
    }
}

TEST(AppAbout, ToolVersionsAreWhatTheToolsSayAndADashWithoutThem)
{
    App app;
    AboutProbe::cmd_about(app);
    settle(app);
    const auto& shown = AboutProbe::versions(app);
    auto nasm = testutil::run({ "nasm", "-v" });
    auto ld = testutil::run({ "ld", "-v" });
    auto cc = testutil::run({ "cc", "-dumpfullversion" });
    ASSERT_EQ(nasm.code, 0);
    // "NASM version 2.16.01 compiled on ...": the third word.
    std::string nasm_ver = nasm.out.substr(13, nasm.out.find_first_of(" \n", 13) - 13);
    std::string ld_ver = ld.out.substr(ld.out.rfind(' ') + 1);
    ld_ver = ld_ver.substr(0, ld_ver.find('\n'));
    std::string cc_ver = cc.out.substr(0, cc.out.find('\n'));
    EXPECT_EQ(shown[size_t(row_of("NASM"))], nasm_ver);
    EXPECT_EQ(shown[size_t(row_of("GNU ld (binutils)"))], ld_ver);
    EXPECT_EQ(shown[size_t(row_of("GCC (cc)"))], cc_ver);

    // Without the tools on PATH each shows a dash; the libraries stay.
    testutil::TempDir empty;
    PathGuard guard(empty.path());
    AboutProbe::cmd_about(app);
    for (const char* tool : { "NASM", "GNU ld (binutils)", "GCC (cc)" })
        EXPECT_EQ(shown[size_t(row_of(tool))], kDash) << tool;
    EXPECT_NE(shown[size_t(row_of("SDL2"))], kDash);
}

// Fault mended: opening About ran every tool for its version on the main
// thread. Now a slow tool shows an ellipsis until its answer arrives.
TEST(AppAbout, OpeningAboutNeverWaitsForASlowTool)
{
    testutil::TempDir dir;
    std::string nasm = dir.file("nasm");
    ASSERT_TRUE(testutil::write_file(nasm, "#!/bin/sh\nsleep 1\necho 'NASM version 7.70.7 compiled on Jan 1 2000'\n"));
    chmod(nasm.c_str(), 0755);
    PathGuard guard(dir.path() + ":" + std::string(getenv("PATH")));
    App app;
    AboutProbe::cmd_about(app);
    const int row = row_of("NASM");
    EXPECT_EQ(AboutProbe::versions(app)[size_t(row)], kWaiting) << "the open waited for the tool";
    AppProbe::paint(app, 1280, 900);
    settle(app);
    EXPECT_EQ(AboutProbe::versions(app)[size_t(row)], "7.70.7");
}

TEST(AppAbout, TableHitsOpenLicencesAndLinks)
{
    App app;
    AboutProbe::cmd_about(app);
    AppProbe::paint(app, 1280, 1000);
    auto lic = AppProbe::hits_of(app, "comp_license");
    auto urls = AppProbe::hits_of(app, "comp_url");
    ASSERT_EQ(lic.size(), size_t(licenses_data::COUNT));
    ASSERT_EQ(urls.size(), size_t(licenses_data::COUNT));
    for (int k = 0; k < licenses_data::COUNT; ++k) {
        EXPECT_EQ(lic[size_t(k)].n, k);
        EXPECT_EQ(urls[size_t(k)].n, k);
        EXPECT_EQ(urls[size_t(k)].tip.rfind("https://", 0), 0u) << urls[size_t(k)].tip;
        EXPECT_GT(lic[size_t(k)].w, 0);
    }
    // Rows 22 px apart, the licence column at 0.27 of the width.
    EXPECT_EQ(lic[1].y - lic[0].y, 22);

    ASSERT_TRUE(AppProbe::click(app, "comp_url", 3, 1280, 1000));
    EXPECT_EQ(AboutProbe::opened(app), licenses_data::COMPONENTS[3].url);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::About);

    ASSERT_TRUE(AppProbe::click(app, "comp_license", 0, 1280, 1000));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::License);
    EXPECT_EQ(AboutProbe::lic_comp(app), 0);
    ASSERT_TRUE(AppProbe::click(app, "lic_url", 0, 1280, 1000));
    EXPECT_EQ(AboutProbe::opened(app), licenses_data::COMPONENTS[0].url);

    // Back, Escape and the dimmed background all return to About at its top.
    struct Way {
        const char* name;
        std::function<void()> act;
    };
    const Way ways[] = {
        { "back", [&] { ASSERT_TRUE(AppProbe::click(app, "lic_back", 0, 1280, 1000)); } },
        { "escape", [&] { AppProbe::key(app, SDLK_ESCAPE); } },
        { "background",
          [&] {
              AppProbe::paint(app, 1280, 1000);
              AppProbe::mouse_down(app, 5, 5);
          } },
    };
    for (const Way& w : ways) {
        if (AppProbe::modal(app) != App::Modal::License) {
            ASSERT_TRUE(AppProbe::click(app, "comp_license", 5, 1280, 1000)) << w.name;
        }
        ASSERT_EQ(AppProbe::modal(app), App::Modal::License) << w.name;
        AppProbe::about_scroll(app) = 30;
        w.act();
        EXPECT_EQ(AppProbe::modal(app), App::Modal::About) << w.name;
        EXPECT_EQ(AppProbe::about_scroll(app), 0) << w.name;
    }
}

TEST(AppAbout, TwoLicencesArePartedByARuleOfSixtyHyphens)
{
    App app;
    AboutProbe::cmd_about(app);
    ASSERT_TRUE(AppProbe::click(app, "comp_license", row_of("Cairo"), 1280, 1000));
    const std::string& text = AboutProbe::lic_text(app);
    const std::string rule = "\n\n" + std::string(60, '-') + "\n\n";
    size_t at = text.find(rule);
    ASSERT_NE(at, std::string::npos);
    std::string lgpl = testutil::read_file("/usr/share/common-licenses/LGPL-2.1");
    std::string mpl = testutil::read_file("/usr/share/common-licenses/MPL-1.1");
    ASSERT_FALSE(lgpl.empty());
    EXPECT_EQ(text.substr(0, at), lgpl);
    EXPECT_EQ(text.substr(at + rule.size()), mpl);
    EXPECT_NE(mpl.find("MOZILLA PUBLIC LICENSE"), std::string::npos);

    // A single licence has no rule.
    AppProbe::key(app, SDLK_ESCAPE);
    ASSERT_TRUE(AppProbe::click(app, "comp_license", row_of("Pango"), 1280, 1000));
    EXPECT_EQ(AboutProbe::lic_text(app), lgpl);
}

// The copy the build embeds is byte for byte the installed text, so a
// machine without the files shows the same page.
TEST(AppAbout, EmbeddedLicenceTextsEqualTheInstalledFiles)
{
    for (int k = 0; k < licenses_data::COUNT; ++k) {
        const licenses_data::Component& c = licenses_data::COMPONENTS[k];
        std::string files = c.files, first;
        for (size_t at = 0; first.empty() && at <= files.size();) {
            size_t bar = files.find('|', at);
            first = testutil::read_file(files.substr(at, bar == std::string::npos ? std::string::npos : bar - at));
            at = bar == std::string::npos ? files.size() + 1 : bar + 1;
        }
        if (first.empty())
            continue; // built elsewhere: nothing to compare with here
        EXPECT_EQ(std::string(c.text), first) << c.name;
        if (licenses_data::ALSO[k]) {
            EXPECT_EQ(std::string(licenses_data::ALSO[k]), testutil::read_file(licenses_data::ALSO_FILES[k])) << c.name;
        }
    }
    // Zydis's notice carries a name with a non-ASCII letter.
    EXPECT_NE(std::string(licenses_data::COMPONENTS[row_of("Zydis")].text).find("H\xC3\xB6ner"), std::string::npos);
}

TEST(AppAbout, LicenceViewerKeysAndWheel)
{
    App app;
    AboutProbe::cmd_about(app);
    ASSERT_TRUE(AppProbe::click(app, "comp_license", row_of("GCC (cc)"), 1280, 800));
    int& scroll = AboutProbe::lic_scroll(app);
    struct Step {
        const char* what;
        std::function<void()> act;
        int expect; // -1: the last page's first line
    };
    auto key = [&](SDL_Keycode k) { return [&app, k] { AppProbe::key(app, k); }; };
    auto set = [&](int v) { return [&scroll, v] { scroll = v; }; };
    const Step steps[] = {
        { "down", key(SDLK_DOWN), 1 },
        { "down again", key(SDLK_DOWN), 2 },
        { "up", key(SDLK_UP), 1 },
        { "page down", key(SDLK_PAGEDOWN), 21 },
        { "home", key(SDLK_HOME), 0 },
        { "up at the top", key(SDLK_UP), 0 },
        { "line 5", set(5), 5 },
        { "page up at line 5", key(SDLK_PAGEUP), 0 },
        { "wheel down", [&] { AppProbe::wheel(app, 600, 400, -1); }, 3 },
        { "wheel up past the top", [&] { AppProbe::wheel(app, 600, 400, 2); }, 0 },
        { "far down", set(100000), -1 },
        { "page down at the end", key(SDLK_PAGEDOWN), -1 },
    };
    int last = -2;
    for (const Step& s : steps) {
        s.act();
        AppProbe::paint(app, 1280, 800); // clamps to the text
        if (s.expect >= 0) {
            EXPECT_EQ(scroll, s.expect) << s.what;
        } else {
            EXPECT_GT(scroll, 600) << s.what << ": the GPL is long";
            if (last >= 0) {
                EXPECT_EQ(scroll, last) << s.what;
            }
            last = scroll;
        }
        EXPECT_EQ(AppProbe::modal(app), App::Modal::License) << s.what;
    }
}

TEST(AppAbout, SnapSourcesPage)
{
    const char* old = getenv("SNAP");
    std::string saved = old ? old : "";
    unsetenv("SNAP");
    EXPECT_EQ(AboutProbe::snap_sources_path(), "/usr/share/doc/qxferndockassembleride/SOURCES.txt");

    testutil::TempDir snap;
    setenv("SNAP", snap.path().c_str(), 1);
    std::string path = snap.path() + "/usr/share/doc/qxferndockassembleride/SOURCES.txt";
    EXPECT_EQ(AboutProbe::snap_sources_path(), path);
    App app;
    AboutProbe::cmd_about(app);
    // Without the file the page shows its path as the only line.
    ASSERT_TRUE(AppProbe::click(app, "snap_sources", 0, 1280, 1000));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::License);
    EXPECT_EQ(AboutProbe::lic_comp(app), -1);
    EXPECT_EQ(AboutProbe::lic_text(app), path);
    AppProbe::paint(app, 1280, 1000);
    EXPECT_TRUE(AppProbe::hits_of(app, "lic_url").empty());

    AppProbe::key(app, SDLK_ESCAPE);
    testutil::sh("mkdir -p '" + snap.path() + "/usr/share/doc/qxferndockassembleride'");
    ASSERT_TRUE(testutil::write_file(path, "zydis 4.0.0 https://example.org/zydis\nsdl2\n"));
    ASSERT_TRUE(AppProbe::click(app, "snap_sources", 0, 1280, 1000));
    EXPECT_EQ(AboutProbe::lic_text(app), "zydis 4.0.0 https://example.org/zydis\nsdl2\n");
    if (old)
        setenv("SNAP", saved.c_str(), 1);
    else
        unsetenv("SNAP");
}
