// The caret's blink painted in part: the frame after a blink-only update is
// the frame a full paint gives, pixel for pixel, in the image surface and in
// a real window's renderer under Xvfb.
#include "app.h"
#include "app_probe.h"
#include "testutil.h"
#include "xserver.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

using namespace testutil;

namespace {

// The surface's pixels, row by row without the stride's padding.
std::vector<uint32_t> pixels(cairo_surface_t* s)
{
    cairo_surface_flush(s);
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    int stride = cairo_image_surface_get_stride(s);
    const uint8_t* d = cairo_image_surface_get_data(s);
    std::vector<uint32_t> out(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        memcpy(out.data() + size_t(y) * size_t(w), d + size_t(y) * size_t(stride), size_t(w) * 4);
    return out;
}

size_t differing(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
{
    size_t n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        n += a[i] != b[i];
    return n + (a.size() > b.size() ? a.size() - b.size() : b.size() - a.size());
}

const char* kText = "section .text\nglobal _start\n_start:\n    mov eax, 60\n    xor edi, edi\n    syscall\n";

// A source in front with the caret in its fourth line, focused.
Doc* source_in_front(App& app)
{
    Doc* d = AppProbe::new_doc(app, false);
    d->ed.set_text(kText);
    AppProbe::activate(app, d);
    d->ed.set_view(3, 7, 0);
    return d;
}

} // namespace

TEST(Blink, PartialFrameEqualsAFullPaint)
{
    struct {
        const char* what;
        double scale;
        bool tooltip; // a tooltip lies over the caret
        int col;
    } cases[] = {
        { "plain", 1.0, false, 7 },
        { "fractional scale", 1.5, false, 7 },
        { "double scale", 2.0, false, 3 },
        { "tooltip over the caret", 1.0, true, 7 },
        { "caret at the line start", 1.0, false, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        App app;
        Doc* d = source_in_front(app);
        d->ed.set_view(3, c.col, 0);
        AppProbe::set_caret_on(app, true);
        AppProbe::paint_scaled(app, 1280, 800, c.scale);
        if (c.tooltip) {
            AppProbe::mouse_move(app, d->ed.caret_x() - 20, d->ed.caret_y() - 30);
            AppProbe::set_tip(app, "a tooltip lying over the caret\nsecond line of it");
            AppProbe::paint_scaled(app, 1280, 800, c.scale);
        }
        std::vector<uint32_t> on = pixels(AppProbe::surface(app));

        // Off, then on again: each blink-only frame against a full paint.
        for (bool phase : { false, true }) {
            AppProbe::set_caret_on(app, phase);
            AppProbe::paint_blink(app);
            std::vector<uint32_t> blinked = pixels(AppProbe::surface(app));
            AppProbe::paint_scaled(app, 1280, 800, c.scale);
            std::vector<uint32_t> full = pixels(AppProbe::surface(app));
            EXPECT_EQ(differing(blinked, full), 0u) << "caret " << (phase ? "on" : "off");
            if (!phase && !c.tooltip) {
                EXPECT_GT(differing(blinked, on), 0u) << "the caret went away";
                // Only the caret's few pixels changed, around where it stands.
                SDL_Rect box = AppProbe::blink_box(app);
                double cx = d->ed.caret_x() * c.scale, cy = d->ed.caret_y() * c.scale;
                EXPECT_GT(box.w * box.h, 0);
                EXPECT_LE(box.w, int(4 * c.scale) + 2);
                EXPECT_LE(box.h, int(d->ed.line_h() * c.scale) + 1);
                EXPECT_TRUE(box.x <= cx + 1 && cx <= box.x + box.w && box.y >= cy - 1
                            && box.y + box.h <= cy + d->ed.line_h() * c.scale + 1)
                    << box.x << "," << box.y << " " << box.w << "x" << box.h << " caret " << cx << "," << cy;
            }
        }
        AppProbe::shutdown_window(app);
    }
}

// The find field's caret blinks in a box of its own; a blink that changes
// nothing leaves no box; a frame of another size is painted whole.
TEST(Blink, OtherCaretsNothingChangedAndANewSize)
{
    App app;
    source_in_front(app);
    AppProbe::open_find(app);
    AppProbe::set_caret_on(app, true);
    AppProbe::paint_scaled(app, 1280, 800, 1.0);
    std::vector<uint32_t> on = pixels(AppProbe::surface(app));
    AppProbe::set_caret_on(app, false);
    AppProbe::paint_blink(app);
    SDL_Rect box = AppProbe::blink_box(app);
    EXPECT_GT(box.w * box.h, 0);
    EXPECT_LT(box.w * box.h, 200) << "the find field's caret only";
    EXPECT_GT(differing(on, pixels(AppProbe::surface(app))), 0u);
    AppProbe::paint_blink(app);
    EXPECT_EQ(AppProbe::blink_box(app).w, 0) << "nothing changed";

    // A resize since the last frame: the blink paints the new size whole.
    AppProbe::set_caret_on(app, true);
    AppProbe::paint_scaled(app, 1000, 700, 1.0);
    std::vector<uint32_t> full = pixels(AppProbe::surface(app));
    AppProbe::set_caret_on(app, false);
    AppProbe::paint_blink(app);
    EXPECT_EQ(cairo_image_surface_get_width(AppProbe::surface(app)), 1000);
    std::vector<uint32_t> blinked = pixels(AppProbe::surface(app));
    AppProbe::paint_scaled(app, 1000, 700, 1.0);
    EXPECT_EQ(differing(blinked, pixels(AppProbe::surface(app))), 0u);
    EXPECT_GT(differing(blinked, full), 0u);
    AppProbe::shutdown_window(app);
}

// The real window: the blink draws only its box over the renderer's back
// buffer when that still holds the last frame (so on Xvfb's software GL),
// and what the renderer holds afterwards is the whole frame.
TEST(Blink, RealWindowHoldsTheWholeFrameAfterPartialBlinks)
{
    XServer x;
    if (!x.start("1280x800x24"))
        GTEST_SKIP() << "Xvfb could not be started";
    // In a child: SDL's X11 and GL libraries keep blocks the sanitizer
    // build's leak check would count. Each check is one bit of the exit code.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("DISPLAY", x.display().c_str(), 1);
        unsetenv("SDL_VIDEODRIVER");
        unsetenv("SDL_RENDER_DRIVER");
        TempDir cfg;
        setenv("XDG_CONFIG_HOME", cfg.path().c_str(), 1);
        int bad = 0;
        App app;
        if (!AppProbe::init_window(app))
            _exit(1);
        source_in_front(app);
        AppProbe::paint(app, 0, 0);
        AppProbe::paint(app, 0, 0);
        for (int i = 0; i < 6; ++i) {
            AppProbe::set_caret_on(app, i % 2 == 1);
            AppProbe::paint_blink(app);
            int w = 0, h = 0;
            SDL_GetRendererOutputSize(AppProbe::renderer(app), &w, &h);
            std::vector<uint32_t> back(size_t(w) * size_t(h));
            if (SDL_RenderReadPixels(AppProbe::renderer(app), nullptr, SDL_PIXELFORMAT_ARGB8888, back.data(), w * 4)
                != 0)
                bad |= 2;
            std::vector<uint32_t> frame = pixels(AppProbe::surface(app));
            for (size_t k = 0; k < back.size() && k < frame.size(); ++k)
                if ((back[k] ^ frame[k]) & 0x00FFFFFF) {
                    bad |= 4;
                    break;
                }
        }
        const int* frames = AppProbe::blink_frames(app);
        if (frames[0] + frames[1] != 6)
            bad |= 8;
        if (frames[0] == 0)
            bad |= 16;
        AppProbe::shutdown_window(app);
        _exit(bad);
    }
    int st = 0;
    ASSERT_EQ(testutil::wait_child(pid, &st), pid);
    ASSERT_TRUE(WIFEXITED(st));
    int bad = WEXITSTATUS(st);
    ASSERT_NE(bad, 1) << "no window";
    EXPECT_FALSE(bad & 2) << "the renderer could not be read";
    EXPECT_FALSE(bad & 4) << "the renderer holds another frame than a full paint";
    EXPECT_FALSE(bad & 8) << "a blink did not draw";
    EXPECT_FALSE(bad & 16) << "no blink was drawn in part on Xvfb";
}
