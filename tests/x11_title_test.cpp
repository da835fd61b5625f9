// The plain X11 title and the portal's window handle, with a real SDL window
// on an X server of the test's own (Xvfb), read back with xprop and xwininfo.
#include "x11_title.h"
#include "testutil.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

constexpr int kGuardMs = 30000; // hang guard for the X server's start

// An X server on a free display (Xvfb picks it and tells through -displayfd).
class Xvfb {
public:
    ~Xvfb()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            waitpid(m_pid, &status, 0);
        }
    }

    // The display name (":N"), or empty when the server did not start.
    std::string start()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return {};
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], 9);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "9", "-nolisten", "tcp", "-screen", "0", "640x480x24",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd p { fds[0], POLLIN, 0 };
        char c;
        while (poll(&p, 1, kGuardMs) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        return number.empty() ? std::string() : ":" + number;
    }

private:
    pid_t m_pid = -1;
};

bool installed(const char* path) { return access(path, X_OK) == 0; }

// One property of the window as xprop prints it.
std::string property(const std::string& id, const char* name)
{
    auto r = testutil::run({ "xprop", "-id", id, name });
    std::string out = r.out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

class X11Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : { "/usr/bin/Xvfb", "/usr/bin/xprop", "/usr/bin/xwininfo" })
            if (!installed(tool))
                GTEST_SKIP() << tool << " is not installed (packages xvfb, x11-utils)";
        m_display = m_server.start();
        ASSERT_FALSE(m_display.empty()) << "Xvfb did not start";
        setenv("DISPLAY", m_display.c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        m_window = SDL_CreateWindow("SDL title", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 320, 200,
                                    SDL_WINDOW_HIDDEN);
        ASSERT_NE(m_window, nullptr) << SDL_GetError();
    }

    void TearDown() override
    {
        if (m_window)
            SDL_DestroyWindow(m_window);
        SDL_Quit();
    }

    Xvfb m_server;
    std::string m_display;
    SDL_Window* m_window = nullptr;
};

TEST_F(X11Window, HandleNamesTheWindowOnTheServer)
{
    std::string handle = x11_window_handle(m_window);
    ASSERT_EQ(handle.rfind("x11:", 0), 0u) << handle;
    std::string id = handle.substr(4);
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << handle;
    EXPECT_NE(id[0], '0') << "no leading zeros: " << handle;

    // The server, asked by name, finds the window with that id.
    x11_plain_title(m_window, "Find me by name");
    auto r = testutil::run({ "xwininfo", "-name", "Find me by name" });
    ASSERT_EQ(r.code, 0) << r.err;
    // (xwininfo prints the window's UTF-8 name, which SDL keeps.)
    EXPECT_NE(r.out.find("Window id: 0x" + id + " "), std::string::npos) << r.out;
}

TEST_F(X11Window, PlainTitleSetsOnlyWmName)
{
    std::string id = "0x" + x11_window_handle(m_window).substr(4);
    const char* titles[] = { "qxFerndockAssemblerIDE", "prog.asm - qxFerndockAssemblerIDE", "x" };
    for (const char* title : titles) {
        SCOPED_TRACE(title);
        x11_plain_title(m_window, title);
        EXPECT_EQ(property(id, "WM_NAME"), std::string("WM_NAME(STRING) = \"") + title + "\"");
        // SDL's own UTF-8 title is left as it was.
        EXPECT_EQ(property(id, "_NET_WM_NAME"), "_NET_WM_NAME(UTF8_STRING) = \"SDL title\"");
    }
}

TEST(X11Title, NothingWithoutAnX11Window)
{
    EXPECT_EQ(x11_window_handle(nullptr), "");
    x11_plain_title(nullptr, "ignored");

    unsetenv("DISPLAY");
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_Window* w = SDL_CreateWindow("t", 0, 0, 64, 64, SDL_WINDOW_HIDDEN);
    ASSERT_NE(w, nullptr) << SDL_GetError();
    EXPECT_EQ(x11_window_handle(w), "");
    x11_plain_title(w, "ignored");
    SDL_DestroyWindow(w);
    SDL_Quit();
}

// libX11 is loaded at run time: neither the program nor this test binary,
// which calls the title code, names it as a needed library.
TEST(X11Title, NoLinkTimeDependencyOnLibX11)
{
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    for (const std::string& binary : { testutil::exe_path(), std::string(self) }) {
        SCOPED_TRACE(binary);
        auto r = testutil::run({ "readelf", "-d", binary });
        ASSERT_EQ(r.code, 0) << r.err;
        ASSERT_NE(r.out.find("(NEEDED)"), std::string::npos);
        EXPECT_EQ(r.out.find("libX11"), std::string::npos) << r.out;
    }
}

} // namespace
