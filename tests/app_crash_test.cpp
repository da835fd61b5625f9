// The crash offer end to end in the real window on a private Xvfb: a run
// that dies of a fatal signal leaves its report, the next start shows the
// crash dialog, and Discard clicked in the window removes the report and
// the crashed run's log. Send is never clicked: it would hand the report
// to a mail program.
#include "app.h"
#include "app_probe.h"
#include "testutil.h"
#include "xvfb_suite.h"

#include <gtest/gtest.h>

#include <cairo.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace testutil;

extern char** environ;

namespace {

class CrashOffer : public XvfbSuite {
protected:
    // As the other window runs: no session bus, no portal, the light theme
    // for a known picture, and in the sanitizer build no leak check (SDL's
    // X11 layer leaves blocks in the libraries it unloads).
    std::vector<std::string> env() const
    {
        return { "DISPLAY=" + server().display(), "XDG_CONFIG_HOME=" + m_home.path(), "SDL_VIDEODRIVER=",
                 "SDL_RENDER_DRIVER=software", "DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=",
                 "QXASM_NO_PORTAL=1", "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1" };
    }
    std::string config(const std::string& name) const { return m_home.file("qxFerndockAssemblerIDE/" + name); }
    std::string log() const { return read_file(config("qxFerndockAssemblerIDE.log")); }

    // Starts the program in the background with env() over the test's own
    // environment; -1 when it cannot be started.
    pid_t start(const std::vector<std::string>& args) const
    {
        std::vector<std::string> vars;
        for (char** e = environ; *e; ++e) {
            std::string v = *e;
            bool replaced = false;
            for (const std::string& kv : env())
                replaced = replaced || v.compare(0, kv.find('=') + 1, kv, 0, kv.find('=') + 1) == 0;
            if (!replaced)
                vars.push_back(v);
        }
        for (const std::string& kv : env())
            if (kv.back() != '=')
                vars.push_back(kv);
        std::vector<std::string> words = { exe_path() };
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv, envp;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        for (std::string& v : vars)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        for (int fd : { 0, 1, 2 })
            posix_spawn_file_actions_addopen(&quiet, fd, "/dev/null", O_RDWR, 0);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), envp.data()) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&quiet);
        return pid;
    }

    // Polls until fn holds; false after 10 s.
    template <class Fn> static bool wait_for(Fn fn)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fn()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // The program's window once it has painted its first frame, or "".
    std::string window_of(pid_t pid) const
    {
        std::string win;
        wait_for([&] {
            auto r = run({ "xdotool", "search", "--pid", std::to_string(pid) }, { "DISPLAY=" + server().display() });
            win = r.out.substr(0, r.out.find('\n'));
            return r.code == 0 && !win.empty() && log().find("first frame") != std::string::npos;
        });
        return log().find("first frame") != std::string::npos ? win : "";
    }

    static int end_status(pid_t pid)
    {
        int status = 0;
        testutil::wait_child(pid, &status);
        return status;
    }

    TempDir m_home;
};

// The crash dialog's hit with this id, laid out by the program's own
// painting code for a window of W x H.
Hit crash_hit(const std::string& id, double W, double H)
{
    App app;
    AppProbe::show_modal(app, App::Modal::Crash);
    AppProbe::paint(app, W, H);
    auto hits = AppProbe::hits_of(app, id);
    return hits.empty() ? Hit{} : hits[0];
}

} // namespace

TEST_F(CrashOffer, RealCrashIsOfferedAtTheNextStartAndDiscardRemovesIt)
{
    if (run({ "xdotool", "--version" }).code != 0)
        GTEST_SKIP() << "xdotool is not installed";
    TempDir work;
    std::string src = work.file("crashing.asm");
    ASSERT_TRUE(write_file(src, "section .text\nglobal _start\n_start:\n    nop\n"));

    // A run on a file, ended by a real fatal signal once its window is up.
    pid_t pid = start({ "--theme", "light", src });
    ASSERT_GT(pid, 0);
    std::string win = window_of(pid);
    if (win.empty()) {
        kill(pid, SIGKILL);
        end_status(pid);
        FAIL() << "no first frame:\n" << log();
    }
    ASSERT_EQ(kill(pid, SIGSEGV), 0);
    int status = end_status(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << "status " << status;
    std::string report = read_file(config("crash_report.txt"));
    ASSERT_FALSE(report.empty()) << "no crash_report.txt";
    EXPECT_NE(report.find("\nSignal: SIGSEGV (Segmentation fault)\n"), std::string::npos) << report;
    EXPECT_NE(report.find("first frame"), std::string::npos) << "the log's last lines are quoted\n" << report;
    // The program's own unwinder walks out of the handler into the code the
    // signal interrupted: the handler's frames and those below it.
    size_t from = report.find("\nBacktrace:\n");
    ASSERT_NE(from, std::string::npos) << report;
    std::string frames = report.substr(from, report.find("\n---", from) - from);
    EXPECT_GE(std::count(frames.begin(), frames.end(), '\n'), 5) << frames;

    // The next start offers the report: the picture shows the crash dialog,
    // and the crashed run's log is kept beside the report.
    std::string shot = work.file("offer.png");
    auto r = run_exe({ "--theme", "light", "--screenshot", shot, src }, env());
    ASSERT_EQ(r.code, 0) << r.err;
    cairo_surface_t* png = cairo_image_surface_create_from_png(shot.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS) << "no picture written";
    int W = cairo_image_surface_get_width(png), H = cairo_image_surface_get_height(png);
    Hit box = crash_hit("dlg_box", W, H);
    Hit discard = crash_hit("crash_discard", W, H);
    ASSERT_GT(box.w, 0);
    ASSERT_GT(discard.w, 0);
    Palette pal = Palette::make(false);
    // Inside the box, below the report's text and left of the buttons, is
    // the dialog's own colour; the window behind it is dimmed, so its
    // status line is not.
    EXPECT_EQ(pixel(png, int(box.x + 12), int(box.y + box.h - 12)), rgb(pal.panel));
    EXPECT_NE(pixel(png, W / 2, H - 4), rgb(pal.panel2)) << "the window behind the dialog is not dimmed";
    // The Discard button's label: text pixels inside its border.
    int inked = 0;
    for (int y = int(discard.y) + 6; y < int(discard.y + discard.h) - 6; ++y)
        for (int x = int(discard.x) + 6; x < int(discard.x + discard.w) - 6; ++x)
            inked += pixel(png, x, y) != rgb(pal.panel);
    EXPECT_GT(inked, 20) << "no label on the Discard button";
    cairo_surface_destroy(png);
    if (const char* keep = getenv("QX_TEST_SHOTS"))
        run({ "cp", shot, std::string(keep) + "/" });
    EXPECT_EQ(read_file(config("crash_report.txt")), report) << "the offer alone keeps the report";
    std::string crashed_log = read_file(config("crash_log.txt"));
    EXPECT_NE(crashed_log.find("first frame"), std::string::npos) << "crash_log.txt is the crashed run's log";

    // A third start: Discard clicked in the real window removes both files.
    // The screenshot run's log goes first, so its "first frame" is not
    // taken for this run's.
    unlink(config("qxFerndockAssemblerIDE.log").c_str());
    pid = start({ "--theme", "light", src });
    ASSERT_GT(pid, 0);
    win = window_of(pid);
    bool removed = false;
    if (!win.empty()) {
        std::string x = std::to_string(int(discard.x + discard.w / 2)), y = std::to_string(int(discard.y + discard.h / 2));
        auto click = run({ "xdotool", "mousemove", "--window", win, x, y, "click", "1" },
                         { "DISPLAY=" + server().display() });
        EXPECT_EQ(click.code, 0) << click.err;
        removed = wait_for([&] {
            return !file_exists(config("crash_report.txt")) && !file_exists(config("crash_log.txt"));
        });
    }
    // A clean end by SIGTERM: the program was still running after the click.
    kill(pid, SIGTERM);
    status = end_status(pid);
    ASSERT_FALSE(win.empty()) << "no first frame:\n" << log();
    EXPECT_TRUE(removed) << "the report or its log is still there";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}
