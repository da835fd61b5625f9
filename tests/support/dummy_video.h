#pragma once
// A test suite whose tests run with SDL's video on the dummy driver, for the
// clipboard without a display; clip() reads the clipboard as a string.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace testutil {

class DummyVideo : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }
    static void TearDownTestSuite() { SDL_Quit(); }
    static std::string clip()
    {
        char* t = SDL_GetClipboardText();
        std::string s = t ? t : "";
        SDL_free(t);
        return s;
    }
};

} // namespace testutil
