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
    // The environment of a window run on the private display.
    std::vector<std::string> env() const
    {
        return { "DISPLAY=" + x().display(), "XDG_CONFIG_HOME=" + m_tmp.path(), "SDL_VIDEODRIVER=",
                 "DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=" };
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
