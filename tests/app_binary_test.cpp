// Binary documents in the window, through the application object: an ELF
// built here opened with its bar and view, the bar's hits, go to, search
// while typing, edits in place written to disk, the disassembly job run to
// a new source document, and the real window's picture in both themes.
#include "app.h"
#include "app_probe.h"
#include "l10n.h"
#include "testutil.h"
#include "xserver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace testutil;

namespace {

const char* kProgram = "section .data\n"
                       "msg     db  \"Hello, binary!\", 10\n"
                       "section .text\n"
                       "global _start\n"
                       "_start:\n"
                       "    mov eax, 1\n"
                       "    mov edi, 1\n"
                       "    lea rsi, [rel msg]\n"
                       "    mov edx, 15\n"
                       "    syscall\n"
                       "    mov eax, 60\n"
                       "    xor edi, edi\n"
                       "    syscall\n";

bool have(const char* tool) { return run({ tool, "-v" }).code == 0 || run({ tool, "--version" }).code == 0; }

const Hit* find_hit(App& app, const std::string& id, int n = 0)
{
    for (const Hit& h : AppProbe::hits(app))
        if (h.id == id && h.n == n)
            return &h;
    return nullptr;
}

// A press and release in the middle of a hit of the last frame.
bool click(App& app, const std::string& id, int n = 0)
{
    const Hit* h = find_hit(app, id, n);
    if (!h)
        return false;
    double x = h->x + h->w / 2, y = h->y + h->h / 2;
    AppProbe::mouse_down(app, x, y);
    AppProbe::mouse_up(app, x, y);
    return true;
}

void type(App& app, const std::string& text)
{
    for (char c : text) {
        char s[2] = { c, 0 };
        AppProbe::text_input(app, s);
    }
}

// Runs the loop's binary share until nothing is pending (a guard, not a
// time limit the test asserts).
void settle(App& app)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (AppProbe::poll_binary(app) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
}

class AppBinary : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!have("nasm") || !have("ld"))
            GTEST_SKIP() << "nasm and ld are needed";
        m_exe = m_dir.file("prog");
        ASSERT_EQ(nasm_build(kProgram, m_exe, "elf64"), "");
        m_start = symbols(m_exe)["_start"];
        ASSERT_NE(m_start, 0u);
    }
    // Opens the program and paints one frame.
    Doc* open(App& app)
    {
        EXPECT_TRUE(AppProbe::load_binary(app, m_exe));
        AppProbe::paint(app, 1280, 800);
        return AppProbe::binary(app);
    }
    void go_to(App& app, const std::string& text)
    {
        AppProbe::paint(app, 1280, 800);
        ASSERT_TRUE(click(app, "bin_goto"));
        ASSERT_EQ(AppProbe::modal(app), App::Modal::Prompt);
        type(app, text);
        AppProbe::key(app, SDLK_RETURN);
        EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
        AppProbe::paint(app, 1280, 800);
    }
    TempDir m_dir;
    std::string m_exe;
    uint64_t m_start = 0;
};

} // namespace

TEST_F(AppBinary, OpensWithBarViewAndStatus)
{
    App app;
    Doc* d = open(app);
    ASSERT_TRUE(d && d->bin);
    EXPECT_EQ(AppProbe::front(app), d);
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Bin);
    EXPECT_EQ(d->bv.m_img, &d->img);
    EXPECT_TRUE(d->bv.has_rows());

    // The bar's buttons from the right edge of the document area leftwards;
    // an ELF has no base button and no bit chips.
    const Hit* view = find_hit(app, "binview");
    const Hit* save = find_hit(app, "bin_save");
    const Hit* go = find_hit(app, "bin_goto");
    const Hit* find = find_hit(app, "bin_find");
    ASSERT_TRUE(view && save && go && find);
    EXPECT_EQ(view->y, 134);
    EXPECT_EQ(save->x + save->w, view->x + view->w - 8);
    EXPECT_EQ(save->y, 106);
    EXPECT_EQ(go->x + go->w, save->x - 4);
    EXPECT_EQ(find->x + find->w, go->x - 4);
    EXPECT_EQ(find_hit(app, "raw_base"), nullptr);
    EXPECT_EQ(find_hit(app, "bits", 16), nullptr);
    ASSERT_NE(find_hit(app, "binsplit"), nullptr);

    // A click into the hex pane puts the cursor there; the status bar shows it.
    double hx = d->bv.m_hex_x + 1, hy = view->y + d->bv.m_head + d->bv.m_lh / 2;
    AppProbe::mouse_down(app, hx, hy);
    AppProbe::mouse_up(app, hx, hy);
    EXPECT_TRUE(d->bv.m_hex_focus);
    EXPECT_EQ(d->bv.m_cur, d->bv.m_hex_top);
    EXPECT_NE(d->bv.status_line().find(L10n::tr("bin.offset")), std::string::npos);

    // A press in the gutter of an instruction row sets a breakpoint there.
    go_to(app, upper_hex(m_start));
    double gy = -1;
    for (const BinView::VisRow& r : d->bv.m_vis)
        if (r.key == d->bv.row_of_addr(m_start))
            gy = r.y + d->bv.m_lh / 2;
    ASSERT_GT(gy, 0);
    AppProbe::mouse_down(app, d->bv.m_split + 8, gy);
    AppProbe::mouse_up(app, d->bv.m_split + 8, gy);
    EXPECT_EQ(d->bps, (std::set<uint64_t>{ m_start }));
    EXPECT_TRUE(d->bv.has_bp(m_start));

    // The wheel over the list scrolls it; dragging the splitter is kept.
    BinView::Key top = d->bv.m_top;
    AppProbe::wheel(app, d->bv.m_dis_x + 40, hy + 40, -1);
    EXPECT_NE(d->bv.m_top, top);
    AppProbe::paint(app, 1280, 800);
    const Hit* split = find_hit(app, "binsplit");
    ASSERT_NE(split, nullptr);
    double sx = split->x + 5, sy = split->y + 100;
    AppProbe::mouse_down(app, sx, sy);
    AppProbe::mouse_move(app, sx - 250, sy);
    AppProbe::mouse_up(app, sx - 250, sy);
    EXPECT_GT(AppProbe::settings(app).bin_split, 0.0);
    AppProbe::paint(app, 1280, 800);
    EXPECT_EQ(d->bv.m_bpr, 8) << "narrower hex pane";
}

TEST_F(AppBinary, RawImageHasBaseAndBitChips)
{
    std::string raw = m_dir.file("boot.bin");
    ASSERT_TRUE(write_file(raw, std::string("\xB8\x01\x00\xCD\x21\xC3", 6) + std::string(58, '\x90')));
    App app;
    ASSERT_TRUE(AppProbe::load_binary(app, raw));
    AppProbe::paint(app, 1280, 800);
    Doc* d = AppProbe::binary(app);
    ASSERT_NE(find_hit(app, "raw_base"), nullptr);
    const Hit* b64 = find_hit(app, "bits", 64);
    const Hit* b32 = find_hit(app, "bits", 32);
    const Hit* b16 = find_hit(app, "bits", 16);
    ASSERT_TRUE(b64 && b32 && b16);
    EXPECT_LT(b16->x, b32->x);
    EXPECT_LT(b32->x, b64->x);
    EXPECT_EQ(d->bv.image_bits(), 16);
    ASSERT_TRUE(click(app, "bits", 32));
    EXPECT_EQ(d->bv.image_bits(), 32);
    EXPECT_EQ(AppProbe::settings(app).raw_bits, 32);

    // The base prompt starts at the current load address; a new one moves
    // the rows.
    AppProbe::paint(app, 1280, 800);
    ASSERT_TRUE(click(app, "raw_base"));
    ASSERT_EQ(AppProbe::modal(app), App::Modal::Prompt);
    type(app, "7C00"); // replaces the selected "0"
    AppProbe::key(app, SDLK_RETURN);
    EXPECT_EQ(d->bv.image_base(), 0x7C00u);
    EXPECT_EQ(d->bv.row_addr(d->bv.first_row()), 0x7C00u);
}

TEST_F(AppBinary, GoToAddressesOffsetsAndText)
{
    App app;
    Doc* d = open(app);
    go_to(app, upper_hex(m_start + 5));
    EXPECT_EQ(d->bv.selected_addr(), m_start + 5);
    EXPECT_FALSE(d->bv.m_hex_focus);
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Bin);

    // 0 is no address of the program: it is taken as a file offset.
    go_to(app, "0");
    EXPECT_TRUE(d->bv.m_hex_focus);
    EXPECT_EQ(d->bv.m_cur, 0u);

    // Quoted text is searched for.
    go_to(app, "'binary'");
    settle(app);
    std::string bytes(d->img.m_data.begin(), d->img.m_data.end());
    EXPECT_EQ(d->bv.m_hit, bytes.find("binary"));
    EXPECT_EQ(AppProbe::find_field(app).text, "binary");

    // Escape leaves the question without going anywhere.
    AppProbe::paint(app, 1280, 800);
    ASSERT_TRUE(click(app, "bin_goto"));
    type(app, "1");
    AppProbe::key(app, SDLK_ESCAPE);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    EXPECT_EQ(d->bv.m_hit, bytes.find("binary"));
}

TEST_F(AppBinary, SearchRunsWhileTyping)
{
    App app;
    Doc* d = open(app);
    ASSERT_TRUE(click(app, "bin_find"));
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Find);
    AppProbe::paint(app, 1280, 800);
    ASSERT_NE(find_hit(app, "find_in"), nullptr);
    ASSERT_EQ(find_hit(app, "find_replace_toggle"), nullptr) << "no replace on the binary tab";

    std::string bytes(d->img.m_data.begin(), d->img.m_data.end());
    type(app, "Hello, b");
    settle(app);
    EXPECT_FALSE(AppProbe::searching(app));
    EXPECT_EQ(d->bv.m_hit, bytes.find("Hello, b"));
    EXPECT_EQ(d->bv.m_hit_len, 8u);
    EXPECT_FALSE(AppProbe::status_err(app));

    // Bytes as hex digits: the syscall instruction.
    AppProbe::key(app, SDLK_a, KMOD_CTRL);
    type(app, "0F 05");
    settle(app);
    EXPECT_EQ(d->bv.m_hit, bytes.find("\x0F\x05"));
    AppProbe::key(app, SDLK_RETURN); // the next one
    settle(app);
    EXPECT_EQ(d->bv.m_hit, bytes.find("\x0F\x05", bytes.find("\x0F\x05") + 1));

    AppProbe::key(app, SDLK_a, KMOD_CTRL);
    type(app, "no such words");
    settle(app);
    EXPECT_EQ(AppProbe::status(app), L10n::tr("find.none"));
    EXPECT_TRUE(AppProbe::status_err(app));

    // Escape closes the bar, drops the highlight and gives the view the keys.
    AppProbe::key(app, SDLK_ESCAPE);
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Bin);
    EXPECT_EQ(d->bv.m_hit_len, 0u);
}

TEST_F(AppBinary, EditsInPlaceAreSavedToDisk)
{
    App app;
    Doc* d = open(app);
    uint64_t off = 0;
    ASSERT_TRUE(d->img.addr_to_off(m_start, &off));

    // Same length: written at once.
    go_to(app, upper_hex(m_start));
    AppProbe::key(app, SDLK_RETURN);
    ASSERT_TRUE(d->bv.m_edit_active);
    AppProbe::paint(app, 1280, 800);
    type(app, "mov eax, 2");
    AppProbe::key(app, SDLK_RETURN);
    EXPECT_FALSE(d->bv.m_edit_active);
    EXPECT_EQ(d->img.m_data[off + 1], 2);
    EXPECT_TRUE(d->img.m_dirty);

    // Longer than the instruction: asked first, written after the yes.
    go_to(app, upper_hex(m_start + 5));
    AppProbe::key(app, SDLK_RETURN);
    type(app, "mov rax, 0x1122334455667788");
    AppProbe::key(app, SDLK_RETURN);
    ASSERT_EQ(AppProbe::bin_ask(app), AppProbe::BinAsk::Overwrite);
    EXPECT_EQ(d->img.m_data[off + 5], 0xBF) << "nothing written before the answer";
    AppProbe::paint(app, 1280, 800);
    ASSERT_TRUE(click(app, "bin_ask_ok"));
    EXPECT_EQ(AppProbe::bin_ask(app), AppProbe::BinAsk::None);
    EXPECT_EQ(d->img.m_data[off + 5], 0x48);
    EXPECT_EQ(d->img.m_data[off + 7], 0x88);

    // Save asks before it overwrites the file; then the bytes are on disk.
    AppProbe::paint(app, 1280, 800);
    ASSERT_TRUE(click(app, "bin_save"));
    ASSERT_EQ(AppProbe::bin_ask(app), AppProbe::BinAsk::Save);
    EXPECT_EQ(read_file(m_exe)[off + 1], 1) << "not before the answer";
    AppProbe::key(app, SDLK_RETURN);
    std::string disk = read_file(m_exe);
    ASSERT_GT(disk.size(), off + 16);
    EXPECT_EQ(disk[off + 1], 2);
    EXPECT_EQ(uint8_t(disk[off + 5]), 0x48);
    EXPECT_EQ(uint8_t(disk[off + 7]), 0x88);
    EXPECT_FALSE(d->img.m_dirty);
    EXPECT_FALSE(AppProbe::status_err(app));
}

TEST_F(AppBinary, DisassemblyOpensANewSourceDocument)
{
    App app;
    // Nothing to convert on the placeholder.
    AppProbe::cmd_disassemble(app);
    EXPECT_FALSE(AppProbe::disassembling(app));
    EXPECT_TRUE(AppProbe::status_err(app));

    Doc* b = open(app);
    setenv("QXASM_TEST_MEMAVAIL", "1", 1);
    AppProbe::cmd_disassemble(app);
    unsetenv("QXASM_TEST_MEMAVAIL");
    EXPECT_FALSE(AppProbe::disassembling(app));
    // Too long for the status line: the error dialog says it.
    ASSERT_EQ(AppProbe::modal(app), App::Modal::Message);
    EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("dlg.error"));
    EXPECT_NE(AppProbe::dlg_text(app).find("prog.asm"), std::string::npos) << AppProbe::dlg_text(app);
    AppProbe::close_modal(app);

    AppProbe::cmd_disassemble(app);
    ASSERT_TRUE(AppProbe::disassembling(app)) << AppProbe::status(app);
    AppProbe::cmd_disassemble(app);
    EXPECT_EQ(AppProbe::status(app), L10n::tr("dis.busy"));
    size_t docs = AppProbe::docs(app).size();
    settle(app);
    EXPECT_FALSE(AppProbe::disassembling(app));
    ASSERT_EQ(AppProbe::docs(app).size(), docs + 1);
    Doc* s = AppProbe::front(app);
    ASSERT_FALSE(s->bin);
    EXPECT_EQ(s->name_hint, "prog.asm");
    EXPECT_TRUE(s->path.empty());
    EXPECT_NE(s->ed.text().find("syscall"), std::string::npos);
    EXPECT_EQ(AppProbe::status(app), L10n::tr("dis.done", "prog.asm"));
    EXPECT_FALSE(AppProbe::status_err(app)) << "the NASM program rebuilds to the same bytes";
    EXPECT_EQ(AppProbe::binary(app), b);
    // Its text is nowhere else: it counts as unsaved, so quitting asks
    // (and the autosave keeps it for a start after a crash).
    EXPECT_TRUE(s->ed.modified());
    AppProbe::cmd_quit(app);
    EXPECT_FALSE(AppProbe::quitting(app));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Confirm);
    EXPECT_EQ(AppProbe::dlg_text(app), L10n::tr("dlg.unsaved_text", "prog.asm"));
}

// Starting an edited binary saves it first and says so in the program's
// output; a save that fails is an error dialog and nothing starts.
TEST_F(AppBinary, StartingAnEditedBinarySavesItFirst)
{
    App app;
    AppProbe::settings(app).auto_debug = false;
    Doc* d = open(app);
    ASSERT_TRUE(d);
    uint8_t first = d->img.m_data[0];
    struct Case {
        const char* name;
        bool fails;
    } cases[] = { { "saved", false }, { "cannot save", true } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(d->img.write_off(0, &first, 1));
        if (c.fails) { // the folder is gone: no file can be written there
            ASSERT_EQ(rename(m_dir.path().c_str(), (m_dir.path() + ".gone").c_str()), 0);
        }
        auto output = AppProbe::prog_lines(app);
        AppProbe::key(app, SDLK_F5, KMOD_LCTRL);
        ASSERT_EQ(AppProbe::modal(app), App::Modal::Confirm);
        AppProbe::paint(app, 1280, 800);
        ASSERT_TRUE(click(app, "dlg_button", 0)); // Save and start
        if (c.fails) {
            EXPECT_EQ(AppProbe::modal(app), App::Modal::Message);
            EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("dlg.error"));
            EXPECT_EQ(AppProbe::prog_lines(app), output) << "nothing starts";
            ASSERT_EQ(rename((m_dir.path() + ".gone").c_str(), m_dir.path().c_str()), 0);
        } else {
            EXPECT_FALSE(d->img.m_dirty);
            bool said = false;
            for (const auto& [line, kind] : AppProbe::prog_lines(app))
                said = said || line == L10n::tr("run.saved_patch", m_exe);
            EXPECT_TRUE(said) << "the line stays after the start";
            // The program prints and ends; the next start waits for that.
            for (int i = 0; i < 2000 && AppProbe::debugging(app); ++i) {
                AppProbe::debug_tick(app);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }
}

// The window goes while the worker runs: the job is cancelled, nothing waits
// on the window.
TEST_F(AppBinary, EndingDuringAJobDoesNotHang)
{
    auto app = std::make_unique<App>();
    open(*app);
    AppProbe::cmd_disassemble(*app);
    ASSERT_TRUE(AppProbe::disassembling(*app));
    app.reset();
    SUCCEED();
}

TEST_F(AppBinary, WindowPictureInBothThemes)
{
    XServer x;
    if (!x.start("1600x1000x24"))
        GTEST_SKIP() << "Xvfb could not be started";
    const char* keep = getenv("QXASM_KEEP_SHOTS"); // a folder to look at the pictures
    for (bool dark : { false, true }) {
        SCOPED_TRACE(dark ? "dark" : "light");
        std::string png = (keep ? std::string(keep) : m_dir.path()) + (dark ? "/bin-dark.png" : "/bin-light.png");
        auto r = run_exe({ "--size", "1200x800", "--theme", dark ? "dark" : "light", "--screenshot", png, m_exe },
                         { "DISPLAY=" + x.display(), "XDG_CONFIG_HOME=" + m_dir.path(), "SDL_VIDEODRIVER=",
                           "DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=",
                           // The X server's graphics driver is unloaded before a
                           // leak check could name what it keeps.
                           "ASAN_OPTIONS=detect_leaks=0" });
        ASSERT_EQ(r.code, 0) << r.err;
        cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
        ASSERT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
        Palette pal = Palette::make(dark);
        EXPECT_EQ(pixel(s, 4, 110), rgb(pal.panel)) << "the binary bar";
        EXPECT_EQ(pixel(s, 4, 140), rgb(pal.panel2)) << "the view's header band";
        cairo_surface_destroy(s);
    }
}
