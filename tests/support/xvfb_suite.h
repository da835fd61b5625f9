#pragma once
// A test suite that shares one private Xvfb of 1280x800; its tests skip
// when the server cannot be started.
#include "xserver.h"

#include <gtest/gtest.h>

namespace testutil {

class XvfbSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { have() = server().start("1280x800x24"); }
    static void TearDownTestSuite() { server().stop(); }
    void SetUp() override
    {
        if (!have())
            GTEST_SKIP() << "Xvfb could not be started";
    }
    static XServer& server()
    {
        static XServer x;
        return x;
    }
    static bool& have()
    {
        static bool up = false;
        return up;
    }
};

} // namespace testutil
