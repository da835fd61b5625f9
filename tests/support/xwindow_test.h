#pragma once
// A test suite that runs the program's window on a private Xvfb display of
// 1920x1080, started once per suite, with a fresh configuration folder and
// no session bus for every test. Tests skip when Xvfb cannot start.
#include "testutil.h"
#include "xserver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testutil {

class XWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { have_x() = x().start("1920x1080x24"); }
    static void TearDownTestSuite() { x().stop(); }
    void SetUp() override
    {
        if (!have_x())
            GTEST_SKIP() << "Xvfb could not be started";
    }
    // The environment of a window run on the private display. SDL's
    // software renderer: the picture is the same, and no GL driver is
    // loaded. In the sanitizer build the program's leak check is off: SDL's
    // X11 layer leaves a few small blocks in the libraries it unloads at its
    // end, which the checker can neither name nor suppress; the other
    // checks stay on.
    std::vector<std::string> env() const
    {
        return { "DISPLAY=" + x().display(), "XDG_CONFIG_HOME=" + m_tmp.path(), "SDL_VIDEODRIVER=",
                 "SDL_RENDER_DRIVER=software", "DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=",
                 "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1" };
    }
    static XServer& x()
    {
        static XServer server;
        return server;
    }
    static bool& have_x()
    {
        static bool have = false;
        return have;
    }
    TempDir m_tmp;
};

} // namespace testutil
