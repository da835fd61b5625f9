// The real window on a private Xvfb display of 1920x1080: the program run
// with --screenshot, its X11 properties and geometry, the themes, a clean
// end by signal and by a failed start; in-process, the texture and the
// environment the window leaves to child processes.
#include "app.h"
#include "app_probe.h"
#include "sealed_file.h"
#include "testutil.h"
#include "xserver.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>

using namespace testutil;

namespace {

testutil::XServer g_x;
bool g_have_x = false;

struct Png {
    int w = 0, h = 0;
    std::set<uint32_t> colours;
    cairo_surface_t* s = nullptr;
    explicit Png(const std::string& path)
    {
        s = cairo_image_surface_create_from_png(path.c_str());
        if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS)
            return;
        w = cairo_image_surface_get_width(s);
        h = cairo_image_surface_get_height(s);
        for (int y = 0; y < h; y += 7)
            for (int x = 0; x < w; x += 7)
                colours.insert(pixel(x, y));
    }
    ~Png() { cairo_surface_destroy(s); }
    uint32_t pixel(int x, int y) const
    {
        const unsigned char* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
        return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
    }
};

class Window : public ::testing::Test {
protected:
    static void SetUpTestSuite() { g_have_x = g_x.start("1920x1080x24"); }
    static void TearDownTestSuite() { g_x.stop(); }
    void SetUp() override
    {
        if (!g_have_x)
            GTEST_SKIP() << "Xvfb could not be started";
    }
    std::vector<std::string> env() const
    {
        // SDL's software renderer: the picture is the same, and no GL driver
        // is loaded. In the sanitizer build the program's leak check is off:
        // SDL's X11 layer leaves a few small blocks in the libraries it
        // unloads at its end, which the checker can neither name nor
        // suppress; the other checks stay on.
        return { "DISPLAY=" + g_x.display(), "XDG_CONFIG_HOME=" + m_tmp.path(), "SDL_VIDEODRIVER=",
                 "SDL_RENDER_DRIVER=software", "DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=",
                 "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1" };
    }
    std::string config(const std::string& name) const { return m_tmp.file("qxFerndockAssemblerIDE/" + name); }
    // Settings as a previous run would have left them.
    template <class Fill> bool save_settings(Fill fill) const
    {
        if (run_exe({ "--version" }, env()).code != 0) // makes the folder
            return false;
        Settings s;
        s.m_path = config("settings.dat");
        fill(s);
        return s.save();
    }
    TempDir m_tmp;
};

} // namespace

TEST_F(Window, ScreenshotAtTheDefaultGeometry)
{
    std::string png = m_tmp.file("shot.png");
    auto r = run_exe({ "--screenshot", png, source_dir() + "/examples/hello.asm" }, env());
    ASSERT_EQ(r.code, 0) << r.err;
    Png p(png);
    // 80 % of 1920 wide, 10/16 of that is more than 85 % of 1080.
    EXPECT_EQ(p.w, 1536);
    EXPECT_EQ(p.h, 918);
    EXPECT_GT(p.colours.size(), 8u) << "a blank picture";
    // A normal end: the settings were saved with the opened file as a tab.
    Settings s;
    s.load(config("settings.dat"));
    EXPECT_EQ(s.open_tabs, (std::vector<std::string>{ "s:" + source_dir() + "/examples/hello.asm" }));
}

TEST_F(Window, SizeAndThemeFromTheCommandLine)
{
    write_file(m_tmp.file("a.asm"), "nop\n");
    for (bool dark : { false, true }) {
        SCOPED_TRACE(dark ? "dark" : "light");
        std::string png = m_tmp.file(dark ? "dark.png" : "light.png");
        auto r = run_exe({ "--size", "1000x700", "--theme", dark ? "dark" : "light", "--screenshot", png,
                           m_tmp.file("a.asm") },
                         env());
        ASSERT_EQ(r.code, 0) << r.err;
        Png p(png);
        EXPECT_EQ(p.w, 1000);
        EXPECT_EQ(p.h, 700);
        Palette pal = Palette::make(dark);
        // Inside the editor below its one line, and the status line.
        EXPECT_EQ(p.pixel(400, 400), rgb(pal.panel));
        EXPECT_EQ(p.pixel(500, 690), rgb(pal.panel2));
    }
}

TEST_F(Window, TitleClassGeometryAndACleanEndBySignal)
{
    // A saved language arms the start-up guard; a clean end disarms it.
    ASSERT_TRUE(save_settings([](Settings& s) { s.language = "de"; }));
    const char* script = "\"$1\" \"$2\" & p=$!\n"
                         "w=$(timeout 20 xdotool search --sync --onlyvisible --classname qxFerndockAssemblerIDE"
                         " | head -n 1)\n"
                         // Shown, placed and titled follow each other closely: wait for all three.
                         "for i in $(seq 100); do\n"
                         "  xprop -id \"$w\" WM_NAME | grep -q STRING && xwininfo -id \"$w\" | grep -q 'Width: 1536'"
                         " && break\n"
                         "  sleep 0.05\n"
                         "done\n"
                         "xprop -id \"$w\" WM_NAME WM_CLASS\n"
                         "xwininfo -id \"$w\" | grep -E 'Absolute|Width|Height'\n"
                         "kill -TERM $p; wait $p; echo \"exit=$?\"\n";
    auto r = run({ "/bin/sh", "-c", script, "sh", exe_path(), source_dir() + "/examples/hello.asm" }, env());
    EXPECT_NE(r.out.find("WM_NAME(STRING) = \"qxFerndockAssemblerIDE\""), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("WM_CLASS(STRING) = \"qxFerndockAssemblerIDE\", \"qxFerndockAssemblerIDE\""),
              std::string::npos)
        << r.out;
    // 1536 x 918 centred on 1920 x 1080.
    EXPECT_NE(r.out.find("Absolute upper-left X:  192\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Absolute upper-left Y:  81\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Width: 1536\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Height: 918\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("exit=0"), std::string::npos) << r.out;
    EXPECT_FALSE(file_exists(config("language-guard")));
    EXPECT_FALSE(file_exists(config("crash_report.txt")));
    EXPECT_NE(read_file(config("qxFerndockAssemblerIDE.log")).find("INFO  terminated"), std::string::npos);
}

TEST_F(Window, FailedStartClearsTheLanguageGuard)
{
    ASSERT_TRUE(save_settings([](Settings& s) { s.language = "de"; }));
    // A driver that does not exist, and a display nobody answers on (SDL's
    // own fallback would be an invisible off-screen window).
    for (const char* bad : { "SDL_VIDEODRIVER=bogus", "DISPLAY=:4711" }) {
        SCOPED_TRACE(bad);
        auto e = env();
        e.push_back(bad);
        auto r = run_exe({ m_tmp.file("x.asm") }, e);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("cannot open the window"), std::string::npos) << r.err;
        EXPECT_FALSE(file_exists(config("language-guard")));
        EXPECT_NE(read_file(config("qxFerndockAssemblerIDE.log")).find("ERROR SDL_Init: "), std::string::npos);
    }
}

TEST_F(Window, UnwritableScreenshotEndsWithOne)
{
    auto r = run_exe({ "--screenshot", m_tmp.file("no/such/dir/shot.png") }, env());
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot write the screenshot"), std::string::npos) << r.err;
    // Still a normal end: the settings were saved.
    EXPECT_TRUE(file_exists(config("settings.dat")));
}

TEST_F(Window, CommandLineFilesJoinTheRememberedTabs)
{
    write_file(m_tmp.file("a.asm"), "nop\n");
    write_file(m_tmp.file("old.asm"), "nop\n");
    std::string old = m_tmp.file("old.asm");
    ASSERT_TRUE(save_settings([&](Settings& s) { s.open_tabs = { "s:" + old }; }));
    auto r = run_exe({ "--screenshot", m_tmp.file("s.png"), "./a.asm", "a.asm" }, env(), m_tmp.path());
    ASSERT_EQ(r.code, 0) << r.err;
    Settings after;
    after.load(config("settings.dat"));
    EXPECT_EQ(after.open_tabs,
              (std::vector<std::string>{ "s:" + m_tmp.file("old.asm"), "s:" + m_tmp.file("a.asm") }));
    EXPECT_EQ(after.active_tab, 1);
}

TEST_F(Window, InProcessTextureRetryAndNothingLeftInTheEnvironment)
{
    // In a child process: SDL's X11 layer leaves a few blocks behind in the
    // libraries it unloads, which the sanitizer build's leak check at this
    // process's end would count. Each check is one bit of the exit code.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("DISPLAY", g_x.display().c_str(), 1);
        setenv("SDL_RENDER_DRIVER", "software", 1);
        unsetenv("SDL_VIDEODRIVER");
        unsetenv("SDL_VIDEO_X11_WMCLASS");
        unsetenv("QXASM_PARENT_WINDOW");
        int bad = 0;
        App app;
        if (!AppProbe::init_window(app))
            _exit(1);
        const char* driver = SDL_GetCurrentVideoDriver();
        if (!driver || std::string(driver) != "x11")
            bad |= 2;
        // What the window chose is not handed down to programs it starts.
        if (getenv("SDL_VIDEODRIVER") || getenv("SDL_VIDEO_X11_WMCLASS") || getenv("QXASM_PARENT_WINDOW"))
            bad |= 4;
        AppProbe::paint(app, 0, 0);
        if (!AppProbe::texture(app))
            bad |= 8;
        // A texture that could not be made is tried again on the next frame.
        AppProbe::drop_texture(app);
        AppProbe::paint(app, 0, 0);
        if (!AppProbe::texture(app))
            bad |= 16;
        AppProbe::shutdown_window(app);
        _exit(bad);
    }
    int st = 0;
    ASSERT_EQ(testutil::wait_child(pid, &st), pid);
    ASSERT_TRUE(WIFEXITED(st));
    int bad = WEXITSTATUS(st);
    EXPECT_NE(bad, 1) << "no window";
    EXPECT_FALSE(bad & 2) << "not the X11 driver";
    EXPECT_FALSE(bad & 4) << "window settings left in the environment";
    EXPECT_FALSE(bad & 8) << "no texture";
    EXPECT_FALSE(bad & 16) << "the texture was not made again";
}

namespace {

// The screen as the X server shows it (xwd's format): only what the tests
// compare, four bytes a pixel.
struct Xwd {
    int w = 0, h = 0, bpl = 0;
    std::string data;
    size_t at = 0;
    explicit Xwd(const std::string& bytes) : data(bytes)
    {
        auto u32 = [&](size_t i) {
            const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data()) + 4 * i;
            return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        };
        if (data.size() < 100 || u32(12) < 4 * u32(4))
            return;
        w = int(u32(4));
        h = int(u32(5));
        bpl = int(u32(12));
        at = u32(0) + 12 * size_t(u32(19));
        if (data.size() < at + size_t(bpl) * size_t(h))
            w = h = 0;
    }
    uint32_t pixel(int x, int y) const
    {
        uint32_t v = 0;
        memcpy(&v, data.data() + at + size_t(y) * size_t(bpl) + 4 * size_t(x), 4);
        return v & 0xFFFFFF;
    }
};

int field(const std::string& text, const std::string& name)
{
    size_t at = text.find(name);
    return at == std::string::npos ? -1 : atoi(text.c_str() + at + name.size());
}

} // namespace

// With a window manager: a start after the window was left maximized or
// near the screen's bottom shows the whole window, status line included,
// and its first frame is the one a repaint would draw.
TEST_F(Window, RestartUnderAWindowManagerShowsTheWholeWindowRight)
{
    if (run({ "sh", "-c", "command -v openbox && command -v xwd" }).code != 0)
        GTEST_SKIP() << "openbox and xwd are needed";
    struct Case {
        const char* name;
        Geometry g;
    } cases[] = {
        { "maximized", { 200, 100, 1536, 918, true, true } },
        { "near the bottom", { 300, 400, 1536, 918, true, false } },
    };
    const char* script = "openbox & wm=$!; sleep 1\n"
                         "\"$1\" \"$2\" & p=$!\n"
                         "w=$(timeout 20 xdotool search --sync --onlyvisible --classname qxFerndockAssemblerIDE"
                         " | head -n 1)\n"
                         "sleep 2\n"
                         "xwininfo -id \"$w\" | grep -E 'Absolute|Width|Height'\n"
                         "xwd -root -silent > \"$3/first.xwd\"\n"
                         "eval $(xdotool getwindowgeometry --shell \"$w\")\n"
                         "xdotool mousemove $((X + 300)) $((Y + HEIGHT - 60)); sleep 0.8\n"
                         "xwd -root -silent > \"$3/again.xwd\"\n"
                         "kill -TERM $p; wait $p; kill $wm; wait $wm\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(save_settings([&](Settings& s) { s.win = c.g; }));
        auto r = run({ "/bin/sh", "-c", script, "sh", exe_path(), source_dir() + "/examples/hello.asm", m_tmp.path() },
                     env());
        int x = field(r.out, "Absolute upper-left X:"), y = field(r.out, "Absolute upper-left Y:");
        int w = field(r.out, "Width:"), h = field(r.out, "Height:");
        ASSERT_GT(w, 0) << r.out << r.err;
        EXPECT_GE(x, 0);
        EXPECT_GE(y, 0);
        EXPECT_LE(x + w, 1920) << r.out;
        EXPECT_LE(y + h, 1080) << "the status line is under the screen's edge\n" << r.out;
        if (c.g.maximized) {
            EXPECT_GT(w, 1536) << "maximized again";
        }
        Xwd first(read_file(m_tmp.file("first.xwd"))), again(read_file(m_tmp.file("again.xwd")));
        ASSERT_EQ(first.w, 1920);
        ASSERT_EQ(again.w, 1920);
        // Only the blinking caret may differ.
        int differ = 0;
        for (int py = std::max(y, 0); py < std::min(y + h, 1080); ++py)
            for (int px = std::max(x, 0); px < std::min(x + w, 1920); ++px)
                differ += first.pixel(px, py) != again.pixel(px, py);
        EXPECT_LT(differ, 200) << "the first frame is not the repainted one";
    }
}

// A desktop scaled to 200 % on X11 (its resources, or GDK_SCALE) scales the
// window: its size is given in points and painted in device pixels.
TEST(HiDpi, TheDesktopsScaleSizesAndPaintsTheWindow)
{
    testutil::XServer x;
    if (!x.start("2560x1600x24", testutil::XServer::Reset::Never))
        GTEST_SKIP() << "Xvfb could not be started";
    TempDir tmp;
    write_file(tmp.file("a.asm"), "mov eax, 1\n");
    struct Case {
        const char* name;
        const char* resources; // empty: none
        const char* gdk_scale; // empty: unset
        int w, h;
    } cases[] = {
        { "Xft.dpi 192", "Xft.dpi:\t192\n", "", 2000, 1400 },
        { "Xft.dpi 144", "Xcursor.size: 24\nXft.dpi: 144\n", "", 1500, 1050 },
        { "GDK_SCALE 2", "", "2", 2000, 1400 },
        { "no scale", "", "", 1000, 700 },
    };
    std::string display = "DISPLAY=" + x.display();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto set = *c.resources
                       ? run({ "xprop", "-root", "-f", "RESOURCE_MANAGER", "8s", "-set", "RESOURCE_MANAGER", c.resources },
                             { display })
                       : run({ "xprop", "-root", "-remove", "RESOURCE_MANAGER" }, { display });
        ASSERT_EQ(set.code, 0) << set.err;
        std::string png = tmp.file("shot.png");
        auto r = run_exe({ "--size", "1000x700", "--screenshot", png, tmp.file("a.asm") },
                         { display, "XDG_CONFIG_HOME=" + tmp.path(), "SDL_VIDEODRIVER=", "SDL_RENDER_DRIVER=software",
                           "DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=", std::string("GDK_SCALE=") + c.gdk_scale,
                           "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1" });
        ASSERT_EQ(r.code, 0) << r.err;
        Png p(png);
        EXPECT_EQ(p.w, c.w);
        EXPECT_EQ(p.h, c.h);
        // The status line (24 points) stays at the bottom: its colour fills
        // the last device rows whatever the scale.
        Palette pal = Palette::make(false);
        EXPECT_EQ(p.pixel(c.w / 2, c.h - 2), rgb(pal.panel2));
        EXPECT_EQ(p.pixel(c.w / 2, c.h * 680 / 700 - 1), rgb(pal.panel2));
    }
}

// Whatever the window manager did to the window, a whole frame is painted
// again once it is quiet (a driver may have drawn the first one into a
// buffer of the old size).
TEST(WindowEvents, AWholeFrameFollowsOnceTheWindowManagerIsQuiet)
{
    for (Uint8 ev : { SDL_WINDOWEVENT_MOVED, SDL_WINDOWEVENT_SIZE_CHANGED, SDL_WINDOWEVENT_MAXIMIZED,
                      SDL_WINDOWEVENT_RESTORED, SDL_WINDOWEVENT_SHOWN, SDL_WINDOWEVENT_EXPOSED }) {
        SCOPED_TRACE(int(ev));
        App app;
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.event = ev;
        Uint32 now = SDL_GetTicks();
        AppProbe::handle(app, e);
        AppProbe::paint(app, 800, 600);
        ASSERT_FALSE(AppProbe::dirty(app));
        AppProbe::window_timers(app, now + 1);
        EXPECT_FALSE(AppProbe::dirty(app)) << "not while it may still move";
        AppProbe::window_timers(app, now + 1000);
        EXPECT_TRUE(AppProbe::dirty(app));
    }
}

TEST(ThemeQuery, SilentSessionBusDoesNotHoldUpTheWindow)
{
    // A bus socket that takes connections and never answers. The colour
    // scheme is asked for off the main thread: asking and looking for the
    // answer return at once, and the question stays open.
    TempDir tmp;
    std::string path = tmp.file("silent");
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(fd, 4), 0);
    std::string old = getenv("DBUS_SESSION_BUS_ADDRESS") ? getenv("DBUS_SESSION_BUS_ADDRESS") : "";
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
    {
        App app;
        AppProbe::start_theme_query(app);
        AppProbe::poll_theme_query(app, 20);
        EXPECT_TRUE(AppProbe::theme_query_open(app));
        // A focus change while the question is open asks nothing more.
        AppProbe::start_theme_query(app);
        EXPECT_FALSE(AppProbe::palette(app).dark);
    }
    if (old.empty())
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        setenv("DBUS_SESSION_BUS_ADDRESS", old.c_str(), 1);
    close(fd);
}

TEST(ThemeQuery, MissingBusCostsNothing)
{
    std::string old = getenv("DBUS_SESSION_BUS_ADDRESS") ? getenv("DBUS_SESSION_BUS_ADDRESS") : "";
    std::string run = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
    App app;
    AppProbe::start_theme_query(app);
    EXPECT_FALSE(AppProbe::theme_query_open(app)) << "no thread, no question";
    if (!old.empty())
        setenv("DBUS_SESSION_BUS_ADDRESS", old.c_str(), 1);
    if (run.empty())
        unsetenv("XDG_RUNTIME_DIR");
    else
        setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
}
