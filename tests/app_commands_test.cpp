// The editing and navigation commands through the application object: the
// find bar with replace, go to a line, an address, a register, a file
// offset or text in a real program, label navigation and rename, the font
// size, the program arguments, the raw-image width and load address with
// the per-file state that keeps them, and pictures of the bar and the
// prompts in a real window under Xvfb in both themes.
#include "app.h"
#include "app_probe.h"
#include "l10n.h"
#include "testutil.h"
#include "xvfb_suite.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace testutil;

namespace {

struct ConfigHome {
    TempDir dir;
    ConfigHome() { setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1); }
};

Doc* add_source(App& app, const std::string& path, const std::string& text)
{
    return AppProbe::add_source(app, path, text);
}

// Answers the open prompt with this text.
void answer(App& app, const std::string& text)
{
    ASSERT_EQ(AppProbe::modal(app), App::Modal::Prompt);
    AppProbe::dlg_field(app).set(text);
    AppProbe::key(app, SDLK_RETURN);
}

bool have(const char* tool)
{
    return run({ tool, "-v" }).code == 0 || run({ tool, "--version" }).code == 0;
}

// Runs the loop's binary share until no search is pending.
void settle(App& app)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (AppProbe::poll_binary(app) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

const Hit* find_hit(App& app, const std::string& id, int n = 0)
{
    for (const Hit& h : AppProbe::hits(app))
        if (h.id == id && h.n == n)
            return &h;
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------
// Find bar and replace.

TEST(AppFind, OpeningTakesAOneLineSelectionOnly)
{
    struct Case {
        Editor::Pos anchor, caret;
        const char* find; // the find text afterwards
    } cases[] = {
        { { 1, 4 }, { 1, 7 }, "eax" },         // one line: taken
        { { 0, 0 }, { 1, 3 }, "before" },      // two lines: kept as it was
        { { 1, 2 }, { 1, 2 }, "before" },      // no selection: kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.find);
        App app;
        Doc* d = add_source(app, "/tmp/f.asm", "start:\n    eax, 1\n");
        AppProbe::find_field(app).set("before");
        d->ed.move_caret(c.anchor, false);
        d->ed.move_caret(c.caret, true);
        AppProbe::settings(app).main_tab = 1; // the binary tab, but no binary
        AppProbe::key(app, SDLK_f, KMOD_LCTRL);
        TextField& f = AppProbe::find_field(app);
        EXPECT_TRUE(AppProbe::find_open(app));
        EXPECT_EQ(f.text, c.find);
        EXPECT_EQ(f.anchor, 0) << "the whole text selected";
        EXPECT_EQ(f.caret, int(f.text.size()));
        EXPECT_EQ(AppProbe::focus(app), App::Focus::Find);
        EXPECT_EQ(AppProbe::settings(app).main_tab, 0);
    }
}

TEST(AppFind, StepsReportInTheStatusLineAndCloseReturnsTheFocus)
{
    App app;
    add_source(app, "/tmp/f.asm", "mov eax, 1\nmov ebx, 2\n");
    EXPECT_FALSE(AppProbe::find_step(app, true, true)) << "an empty find text searches nothing";
    const struct {
        const char* text;
        bool found;
    } cases[] = { { "edx", false }, { "EBX", true } };
    for (const auto& c : cases) {
        AppProbe::find_field(app).set(c.text);
        EXPECT_EQ(AppProbe::find_step(app, true, true), c.found);
        EXPECT_EQ(AppProbe::status(app), c.found ? "" : L10n::tr("find.none"));
        EXPECT_EQ(AppProbe::status_err(app), !c.found);
    }
    AppProbe::key(app, SDLK_h, KMOD_LCTRL);
    AppProbe::key(app, SDLK_TAB);
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Replace);
    AppProbe::key(app, SDLK_ESCAPE);
    EXPECT_FALSE(AppProbe::find_open(app));
    EXPECT_FALSE(AppProbe::replace_open(app));
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Editor);
}

TEST(AppFind, ReplaceOneAndAll)
{
    struct Case {
        const char* find;
        bool all;
        int presses;
        const char* text;   // afterwards
        const char* status; // "n" replaced, "-" found and selected, "" find.none
    } cases[] = {
        // The first press selects the next match, the second replaces it.
        { "eax", false, 1, "mov eax, 1\nadd eax, eax\n", "-" },
        { "EAX", false, 2, "mov ebx, 1\nadd eax, eax\n", "1" },
        { "eax", true, 1, "mov ebx, 1\nadd ebx, ebx\n", "3" },
        { "edx", false, 1, "mov eax, 1\nadd eax, eax\n", "" },
        { "edx", true, 1, "mov eax, 1\nadd eax, eax\n", "" },
        { "", true, 1, "mov eax, 1\nadd eax, eax\n", nullptr }, // nothing at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.find) + (c.all ? " all " : " next ") + std::to_string(c.presses));
        App app;
        Doc* d = add_source(app, "/tmp/r.asm", "mov eax, 1\nadd eax, eax\n");
        AppProbe::settings(app).main_tab = 1;
        AppProbe::find_field(app).set(c.find);
        AppProbe::replace_field(app).set("ebx");
        AppProbe::set_status(app, "before", false);
        for (int i = 0; i < c.presses; ++i)
            AppProbe::cmd_replace(app, c.all);
        EXPECT_EQ(d->ed.text(), c.text);
        if (!c.status) {
            EXPECT_EQ(AppProbe::status(app), "before");
            EXPECT_EQ(AppProbe::settings(app).main_tab, 1);
            continue;
        }
        EXPECT_EQ(AppProbe::settings(app).main_tab, 0);
        std::string want = *c.status == '-' ? "" : *c.status ? L10n::tr("find.replaced", atoi(c.status))
                                                              : L10n::tr("find.none");
        EXPECT_EQ(AppProbe::status(app), want);
        EXPECT_EQ(AppProbe::status_err(app), *c.status == 0);
    }
    // The placeholder behind the welcome page is never changed.
    App app;
    AppProbe::find_field(app).set("a");
    AppProbe::cmd_replace(app, true);
    EXPECT_EQ(AppProbe::blank_source(app).ed.text(), "");
}

TEST(AppFont, StepsClampAndZeroResets)
{
    struct Case {
        double from, step, to;
    } cases[] = {
        { 20, 0, 14 }, { 32, +1, 32 }, { 8.5, -1, 9 }, { 14, +1, 15 }, { 9, -1, 9 }, { 31.5, +1, 32 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " by " + std::to_string(c.step));
        App app;
        AppProbe::settings(app).font = c.from;
        AppProbe::cmd_font(app, c.step);
        EXPECT_EQ(AppProbe::settings(app).font, c.to);
        EXPECT_NE(AppProbe::save_at(app), 0u) << "the settings are saved soon";
    }
    App app;
    AppProbe::settings(app).font = 20;
    AppProbe::key(app, SDLK_0, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::settings(app).font, 14);
    AppProbe::key(app, SDLK_MINUS, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::settings(app).font, 13);
}

TEST(AppArgs, PromptKeepsTheTextUnchanged)
{
    App app;
    AppProbe::settings(app).args = "one";
    AppProbe::cmd_args(app);
    EXPECT_EQ(AppProbe::dlg_field(app).text, "one");
    answer(app, "  -v \"two words\" 'x'");
    EXPECT_EQ(AppProbe::settings(app).args, "  -v \"two words\" 'x'");
    EXPECT_NE(AppProbe::save_at(app), 0u);
}

// ---------------------------------------------------------------------------
// Go to a line.

TEST(AppGoto, LineNumbersAndWhatIsNoNumber)
{
    struct Case {
        const char* text;
        int line; // caret line afterwards, from 0
    } cases[] = {
        { "4", 3 }, { "  2", 1 }, { "3x", 2 }, { "0", 5 }, { "abc", 5 }, { "-2", 5 }, { "", 5 },
        { "99999999999999999999", 9 }, // past the end: the last line
    };
    std::string text;
    for (int i = 0; i < 10; ++i)
        text += "    nop ; " + std::to_string(i) + "\n";
    text.pop_back();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        App app;
        Doc* d = add_source(app, "/tmp/g.asm", text);
        d->ed.move_caret({ 5, 2 }, false);
        AppProbe::focus(app) = App::Focus::ConIn;
        AppProbe::key(app, SDLK_g, KMOD_LCTRL);
        ASSERT_EQ(AppProbe::modal(app), App::Modal::Prompt);
        EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("dlg.goto_line"));
        EXPECT_EQ(AppProbe::dlg_label(app), L10n::tr("dlg.line"));
        EXPECT_EQ(AppProbe::dlg_field(app).text, "6") << "the caret's line, from 1";
        answer(app, c.text);
        EXPECT_EQ(d->ed.caret().line, c.line);
        EXPECT_EQ(AppProbe::focus(app), App::Focus::Editor) << "the editor has the keys in every case";
    }
}

// ---------------------------------------------------------------------------
// Labels: definition, uses, rename.

namespace {

const char* kLabels = "start:\n"            // 0
                      "    jmp start\n"     // 1
                      "    dd start, start\n" // 2
                      "first:\n"            // 3
                      ".loop:\n"            // 4
                      "    jmp .loop\n"     // 5
                      "second:\n"           // 6
                      ".loop:\n"            // 7
                      "    jnz .loop\n"     // 8
                      "    jmp first\n";    // 9

} // namespace

TEST(AppLabels, DefinitionIsSelectedOrNamedMissing)
{
    struct Case {
        const char* word;
        int line;     // where the word was
        int def_line; // -1: not a label
        int col, len;
    } cases[] = {
        { "start", 2, 0, 0, 5 }, { "$start", 1, 0, 0, 5 }, { ".loop", 8, 7, 0, 5 },
        { ".loop", 5, 4, 0, 5 }, { "eax", 1, -1, 0, 0 },   { "nothing", 0, -1, 0, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.word) + " at " + std::to_string(c.line));
        App app;
        Doc* d = add_source(app, "/tmp/l.asm", kLabels);
        d->ed.move_caret({ 9, 4 }, false);
        AppProbe::focus(app) = App::Focus::Find;
        AppProbe::settings(app).main_tab = 1;
        AppProbe::cmd_goto_definition(app, c.word, c.line);
        if (c.def_line < 0) {
            EXPECT_EQ(AppProbe::status(app), L10n::tr("ed.no_def", std::string(c.word)));
            EXPECT_TRUE(AppProbe::status_err(app));
            EXPECT_EQ(d->ed.caret(), (Editor::Pos{ 9, 4 }));
            continue;
        }
        EXPECT_EQ(d->ed.anchor(), (Editor::Pos{ c.def_line, c.col }));
        EXPECT_EQ(d->ed.caret(), (Editor::Pos{ c.def_line, c.col + c.len }));
        EXPECT_EQ(AppProbe::settings(app).main_tab, 0);
        EXPECT_EQ(AppProbe::focus(app), App::Focus::Editor);
    }
}

TEST(AppLabels, UsesAreListedOnceALineInTheMessagesPane)
{
    App app;
    add_source(app, "/tmp/l.asm", kLabels);
    AppProbe::settings(app).bottom_tab = 2;
    AppProbe::cmd_references(app, "start", 1);
    const auto& m = AppProbe::msgs(app);
    const auto& lines = AppProbe::msg_lines(app);
    std::string title = L10n::tr("ed.refs_title", std::string("start"), 4);
    ASSERT_EQ(m.size(), 4u) << "a heading and three lines; line 3 holds the label twice";
    EXPECT_EQ(m[0], (std::pair<std::string, int>{ title, 4 }));
    EXPECT_EQ(m[1], (std::pair<std::string, int>{ L10n::tr("ed.ref_line", 1) + "   start:", 7 }));
    EXPECT_EQ(m[2], (std::pair<std::string, int>{ L10n::tr("ed.ref_line", 2) + "   jmp start", 0 }));
    EXPECT_EQ(m[3], (std::pair<std::string, int>{ L10n::tr("ed.ref_line", 3) + "   dd start, start", 0 }));
    EXPECT_EQ(lines, (std::vector<int>{ 0, 1, 2, 3 })) << "a click on an entry goes to its line";
    EXPECT_EQ(AppProbe::settings(app).bottom_tab, 0);
    EXPECT_EQ(AppProbe::msgs_top(app), 0);
    EXPECT_EQ(AppProbe::status(app), title);
    EXPECT_FALSE(AppProbe::status_err(app));

    // A local label's uses stay in their scope; the pane shows the last 8.
    for (int i = 0; i < 7; ++i)
        AppProbe::msg(app, "earlier", 0, 0);
    AppProbe::cmd_references(app, ".loop", 8);
    ASSERT_EQ(m.size(), 4u + 7u + 3u);
    EXPECT_EQ(m[11].first, L10n::tr("ed.refs_title", std::string(".loop"), 2));
    EXPECT_EQ(m[12].first, L10n::tr("ed.ref_line", 8) + "   .loop:");
    EXPECT_EQ(m[13].first, L10n::tr("ed.ref_line", 9) + "   jnz .loop");
    EXPECT_EQ(AppProbe::msgs_top(app), 14 - 8);

    AppProbe::cmd_references(app, "nowhere", 0);
    EXPECT_EQ(m.size(), 14u) << "nothing listed for a word that is no label";
    EXPECT_EQ(AppProbe::status(app), L10n::tr("ed.no_def", std::string("nowhere")));
    EXPECT_TRUE(AppProbe::status_err(app));
}

TEST(AppLabels, RenameChecksTheNewName)
{
    const std::string bad_local = L10n::tr("ed.rename_local");
    struct Case {
        const char* word;
        int line;
        const char* typed;
        const char* message; // message dialog text key; "" none
        int renamed;         // places, -1 for no rename
    } cases[] = {
        { ".loop", 5, "loop2", "ed.rename_local", -1 },
        { "first", 3, ".first", "ed.rename_local", -1 },
        { "start", 1, "eax", "ed.rename_bad", -1 },
        { "start", 1, "EAX", "ed.rename_bad", -1 },
        { "start", 1, "db", "ed.rename_bad", -1 },
        { "start", 1, "section", "ed.rename_bad", -1 },
        { "start", 1, "1abc", "ed.rename_bad", -1 },
        { "start", 1, "a-b", "ed.rename_bad", -1 },
        { "start", 1, "st\xC3\xA4rt", "ed.rename_bad", -1 },
        { "start", 1, "second", "ed.rename_exists", -1 },
        { "start", 1, "  start\t", "", -1 }, // the old name with blanks: nothing
        { "start", 1, "   ", "", -1 },
        { "start", 1, "mov", "", 4 },
        { "$start", 1, " _go.on$#@~? ", "", 4 },
        { ".loop", 8, ".again", "", 2 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.word) + " -> " + c.typed);
        App app;
        Doc* d = add_source(app, "/tmp/l.asm", kLabels);
        d->have_build = true;
        AppProbe::cmd_rename(app, c.word, c.line);
        ASSERT_EQ(AppProbe::modal(app), App::Modal::Prompt);
        std::string old = c.word[0] == '$' ? c.word + 1 : c.word;
        EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("ed.rename_title", old));
        EXPECT_EQ(AppProbe::dlg_field(app).text, old);
        EXPECT_EQ(AppProbe::dlg_field(app).anchor, 0) << "the name entirely selected";
        AppProbe::set_status(app, "", false);
        answer(app, c.typed);
        if (*c.message) {
            EXPECT_EQ(AppProbe::modal(app), App::Modal::Message);
            EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("ed.rename"));
            std::string name = c.typed;
            std::string want = std::string(c.message) == "ed.rename_local" ? bad_local : L10n::tr(c.message, name);
            EXPECT_EQ(AppProbe::dlg_text(app), want);
        } else {
            EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
        }
        if (c.renamed < 0) {
            EXPECT_EQ(d->ed.text(), kLabels);
            EXPECT_TRUE(d->have_build);
            continue;
        }
        std::string name = c.typed;
        name = name.substr(name.find_first_not_of(' '));
        name = name.substr(0, name.find_last_not_of(' ') + 1);
        EXPECT_EQ(AppProbe::status(app), L10n::tr("ed.renamed", std::to_string(c.renamed), name));
        EXPECT_FALSE(AppProbe::status_err(app));
        EXPECT_FALSE(d->have_build) << "the build is stale";
        EXPECT_NE(d->ed.text().find(name), std::string::npos);
        EXPECT_EQ(AppProbe::focus(app), App::Focus::Editor);
    }
}

// ---------------------------------------------------------------------------
// Go to in a real program, and raw images.

namespace {

// Writes its greeting and ends; the text is found by go to.
const char* kProgram = "section .text\n"
                       "global _start\n"
                       "_start: mov eax, 1\n"
                       "        mov edi, eax\n"
                       "        lea rsi, [rel greeting]\n"
                       "        mov edx, greeting_len\n"
                       "        syscall\n"
                       "        mov eax, 60\n"
                       "        xor edi, edi\n"
                       "        syscall\n"
                       "section .data\n"
                       "greeting: db \"Hello, binary!\", 10\n"
                       "greeting_len equ $ - greeting\n";

class AppBinaryCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!have("nasm") || !have("ld"))
            GTEST_SKIP() << "nasm and ld are needed";
        m_exe = m_home.dir.file("prog");
        ASSERT_EQ(nasm_build(kProgram, m_exe, "elf64"), "");
        m_start = symbols(m_exe)["_start"];
        ASSERT_NE(m_start, 0u);
    }
    Doc* open(App& app, const std::string& path, bool debug = false)
    {
        AppProbe::settings(app).auto_debug = debug;
        EXPECT_TRUE(AppProbe::load_binary(app, path));
        AppProbe::paint(app, 1280, 800);
        return AppProbe::binary(app);
    }
    void go_to(App& app, const std::string& text)
    {
        AppProbe::cmd_goto(app);
        ASSERT_EQ(AppProbe::modal(app), App::Modal::Prompt);
        EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("dlg.goto_addr"));
        EXPECT_EQ(AppProbe::dlg_field(app).text, "");
        answer(app, text);
        settle(app);
    }
    std::string raw_file(const std::string& name, size_t size)
    {
        std::string path = m_home.dir.file(name);
        std::string bytes(size, '\x90');
        bytes.replace(0, 6, "\xB8\x01\x00\xCD\x21\xC3", 6);
        EXPECT_TRUE(write_file(path, bytes));
        return path;
    }
    ConfigHome m_home;
    std::string m_exe;
    uint64_t m_start = 0;
};

} // namespace

TEST_F(AppBinaryCommands, GoToAddressSymbolOffsetAndText)
{
    App app;
    Doc* d = open(app, m_exe);
    ASSERT_FALSE(d->bv.live());
    std::string bytes(d->img.m_data.begin(), d->img.m_data.end());
    uint64_t msg_off = bytes.find("Hello, binary!");
    struct Case {
        std::string text;
        uint64_t addr;   // selected row afterwards (0: not checked)
        int64_t offset;  // hex cursor afterwards, -1 not checked
        uint64_t hit;    // search hit offset, ~0 not checked
        std::string find; // find text afterwards, "" not checked
    } cases[] = {
        { upper_hex(m_start + 5), m_start + 5, -1, ~0ull, "" },
        { "_start", m_start, -1, ~0ull, "" },
        { "_start+7", m_start + 7, -1, ~0ull, "" },
        { "0", 0, 0, ~0ull, "" },                   // no address of the program: a file offset
        { upper_hex(msg_off), 0, int64_t(msg_off), ~0ull, "" },
        { "'binary'", 0, -1, bytes.find("binary"), "binary" },
        { "\"Hello\"", 0, -1, msg_off, "Hello" },
        { "Hello", 0, -1, msg_off, "Hello" },       // no value: searched as text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        AppProbe::focus(app) = App::Focus::ConIn;
        go_to(app, c.text);
        EXPECT_EQ(AppProbe::focus(app), App::Focus::Bin);
        if (c.addr) {
            EXPECT_EQ(d->bv.selected_addr(), c.addr);
        }
        if (c.offset >= 0) {
            EXPECT_TRUE(d->bv.m_hex_focus);
            EXPECT_EQ(d->bv.m_cur, uint64_t(c.offset));
        }
        if (c.hit != ~0ull) {
            EXPECT_EQ(d->bv.m_hit, c.hit);
            EXPECT_GT(d->bv.m_hit_len, 0u);
        }
        if (!c.find.empty()) {
            EXPECT_EQ(AppProbe::find_field(app).text, c.find);
        }
    }
    // An unknown word is searched and not found.
    go_to(app, "zzqq");
    EXPECT_EQ(AppProbe::find_field(app).text, "zzqq");
    EXPECT_EQ(AppProbe::status(app), L10n::tr("find.none"));
    EXPECT_TRUE(AppProbe::status_err(app));

    // The bar's button and Ctrl+G ask the same.
    AppProbe::paint(app, 1280, 800);
    ASSERT_NE(find_hit(app, "bin_goto"), nullptr);
    ASSERT_TRUE(AppProbe::click(app, "bin_goto"));
    EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("dlg.goto_addr"));
    AppProbe::key(app, SDLK_ESCAPE);
    AppProbe::key(app, SDLK_g, KMOD_LCTRL);
    EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("dlg.goto_addr"));
}

TEST_F(AppBinaryCommands, GoToARegisterOfTheStoppedProgram)
{
    App app;
    Doc* d = open(app, m_exe, true);
    dbg::Process& p = AppProbe::proc(app);
    for (int i = 0; i < 2000 && !(p.state() == dbg::State::Stopped && d->bv.live()); ++i) {
        AppProbe::debug_tick(app);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (p.state() != dbg::State::Stopped)
        GTEST_SKIP() << "the program could not be stopped under the debugger here";
    ASSERT_TRUE(d->bv.live());
    uint64_t pc = p.pc();
    ASSERT_EQ(pc, m_start);
    go_to(app, "_start+7");
    ASSERT_EQ(d->bv.selected_addr(), pc + 7);
    go_to(app, "rip");
    EXPECT_EQ(d->bv.selected_addr(), pc);
    go_to(app, "rip+5");
    EXPECT_EQ(d->bv.selected_addr(), pc + 5);
    p.kill();
}

TEST_F(AppBinaryCommands, RawWidthGoesToThePaintedImageAndTheBaseMovesBreakpoints)
{
    App app;
    std::string pa = raw_file("a.bin", 64), pb = raw_file("b.bin", 64);
    Doc* b = open(app, pb);
    Doc* a = open(app, pa);
    ASSERT_EQ(a->img.m_bits, 16);
    // A press on the chips of the last frame reaches the image painted
    // there, even when the tabs changed before the next frame.
    const Hit* chip = find_hit(app, "bits", 32);
    ASSERT_NE(chip, nullptr);
    Hit h = *chip;
    AppProbe::activate(app, b);
    AppProbe::mouse_down(app, h.x + h.w / 2, h.y + h.h / 2);
    AppProbe::mouse_up(app, h.x + h.w / 2, h.y + h.h / 2);
    EXPECT_EQ(a->img.m_bits, 32);
    EXPECT_EQ(b->img.m_bits, 16);
    EXPECT_EQ(AppProbe::settings(app).raw_bits, 32);
    AppProbe::set_raw_bits(app, 64);
    EXPECT_EQ(b->img.m_bits, 64) << "the current image";
    EXPECT_EQ(a->img.m_bits, 32);

    // The base prompt starts at the load address; a breakpoint moves with
    // the bytes; a wrong value is named and changes nothing.
    AppProbe::activate(app, a);
    a->bps = { 3, 0x1000 };
    AppProbe::paint(app, 1280, 800);
    ASSERT_TRUE(AppProbe::click(app, "raw_base"));
    EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("bin.base_title"));
    EXPECT_EQ(AppProbe::dlg_field(app).text, "0");
    answer(app, "7C00");
    EXPECT_EQ(a->img.m_base, 0x7C00u);
    EXPECT_EQ(a->bv.row_addr(a->bv.first_row()), 0x7C00u);
    EXPECT_EQ(a->bps, (std::set<uint64_t>{ 0x7C03, 0x1000 })) << "outside the image: kept";
    AppProbe::cmd_raw_base(app);
    EXPECT_EQ(AppProbe::dlg_field(app).text, "7C00");
    answer(app, "7C00+)");
    EXPECT_EQ(AppProbe::status(app), L10n::tr("con.err.value"));
    EXPECT_TRUE(AppProbe::status_err(app));
    EXPECT_EQ(a->img.m_base, 0x7C00u);

    // Asked for one image, answered after the tabs changed: that image.
    AppProbe::cmd_raw_base(app);
    AppProbe::activate(app, b);
    answer(app, "100");
    EXPECT_EQ(a->img.m_base, 0x100u);
    EXPECT_EQ(b->img.m_base, 0u);
    // Closed meanwhile: nothing.
    AppProbe::cmd_raw_base(app);
    AppProbe::close_doc(app, b, true);
    answer(app, "200");
    EXPECT_EQ(a->img.m_base, 0x100u);

    // An executable has no load address to set.
    Doc* exe = open(app, m_exe);
    AppProbe::cmd_raw_base(app);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    EXPECT_NE(exe->img.m_base, 0x200u);
}

TEST_F(AppBinaryCommands, RawBaseAndBreakpointsSurviveARestartAndAReload)
{
    std::string path = raw_file("boot.bin", 512);
    std::string settings = m_home.dir.file("settings.dat");
    {
        App app;
        AppProbe::settings(app).load(settings);
        Doc* d = open(app, path);
        AppProbe::cmd_raw_base(app);
        answer(app, "7C00");
        AppProbe::set_raw_bits(app, 32);
        d->bps = { 0x7C03 };
        AppProbe::save_now(app);
        EXPECT_EQ(AppProbe::settings(app).fstate[path], "a:7c03;r:7c00,32");
        // Read again from disk: the view and the breakpoint stay.
        ASSERT_TRUE(AppProbe::load_binary(app, path));
        EXPECT_EQ(d->img.m_base, 0x7C00u);
        EXPECT_EQ(d->img.m_bits, 32);
        EXPECT_EQ(d->bps, (std::set<uint64_t>{ 0x7C03 }));
    }
    App again;
    AppProbe::settings(again).load(settings);
    ASSERT_EQ(AppProbe::settings(again).fstate.count(path), 1u) << "written to the settings file";
    AppProbe::settings(again).raw_bits = 16;
    Doc* d = open(again, path);
    EXPECT_EQ(d->img.m_base, 0x7C00u);
    EXPECT_EQ(d->img.m_bits, 32);
    EXPECT_EQ(d->bps, (std::set<uint64_t>{ 0x7C03 }));
    EXPECT_EQ(d->bv.row_addr(d->bv.first_row()), 0x7C00u);

    // A base of 0 and no breakpoints leave no entry.
    AppProbe::cmd_raw_base(again);
    answer(again, "0");
    d->bps.clear();
    AppProbe::store_file_state(again, d);
    EXPECT_EQ(AppProbe::settings(again).fstate.count(path), 0u);
}

TEST_F(AppBinaryCommands, QuestionsAndSearchesStayWithTheirDocument)
{
    App app;
    std::string pa = raw_file("a.bin", 64), pb = raw_file("b.bin", 64);
    Doc* b = open(app, pb);
    Doc* a = open(app, pa);
    // An edited byte, and the question whether to write it.
    a->img.m_data[10] = 0xCC;
    a->img.m_dirty = true;
    AppProbe::paint(app, 1280, 800);
    ASSERT_TRUE(AppProbe::click(app, "bin_save"));
    ASSERT_EQ(AppProbe::bin_ask(app), AppProbe::BinAsk::Save);
    AppProbe::activate(app, b);
    AppProbe::key(app, SDLK_RETURN);
    EXPECT_EQ(uint8_t(read_file(pa)[10]), 0xCC) << "the document that asked is written";
    EXPECT_EQ(uint8_t(read_file(pb)[10]), 0x90) << "the one in front is not";

    // A search that is still running when its document closes: the next
    // search in another document does not touch the closed one.
    std::string big = raw_file("big.bin", 48u << 20);
    Doc* g = open(app, big);
    AppProbe::cmd_find(app, true);
    AppProbe::find_field(app).set("no such bytes anywhere");
    AppProbe::find_step(app, true, true);
    if (!AppProbe::searching(app))
        GTEST_SKIP() << "the search ended in its first slice";
    AppProbe::close_doc(app, g, true);
    AppProbe::activate(app, a);
    AppProbe::cmd_find(app, true);
    AppProbe::find_field(app).set("\xCD\x21");
    AppProbe::find_step(app, true, true); // before any loop turn noticed the close
    settle(app);
    EXPECT_EQ(a->bv.m_hit, 3u);
    AppProbe::cmd_find(app, false);
    EXPECT_EQ(a->bv.m_hit_len, 0u) << "closing the bar drops the highlight";
    EXPECT_EQ(AppProbe::focus(app), App::Focus::Bin);
}

// ---------------------------------------------------------------------------
// Pictures of the find and replace bar and the prompts in a real window.

namespace {

class CommandWindow : public XvfbSuite {
protected:
    void SetUp() override
    {
        XvfbSuite::SetUp();
        if (IsSkipped())
            return;
        setenv("DISPLAY", server().display().c_str(), 1);
        unsetenv("SDL_VIDEODRIVER");
    }
    void pictures();
    void picture(App& app, const std::string& name)
    {
        AppProbe::paint(app, 0, 0);
        std::string why;
        ASSERT_TRUE(write_picture(AppProbe::surface(app), m_home.dir.file(name), &why)) << why;
    }
    ConfigHome m_home;
};

} // namespace

TEST_F(CommandWindow, FindBarAndPromptsInBothThemes)
{
    EXPECT_TRUE(passes_in_child([this] {
        setenv("SDL_RENDER_DRIVER", "software", 1);
        pictures();
    })) << "the window part failed: see above";
}

void CommandWindow::pictures()
{
    App app;
    ASSERT_TRUE(AppProbe::init_window(app));
    SDL_ShowWindow(AppProbe::window(app));
    Doc* d = add_source(app, m_home.dir.file("hello.asm"), kLabels);
    AppProbe::paint(app, 0, 0); // the editor's height, before the caret moves
    d->ed.move_caret({ 1, 8 }, false);
    d->ed.move_caret({ 1, 13 }, true);
    for (bool dark : { false, true }) {
        SCOPED_TRACE(dark ? "dark" : "light");
        AppProbe::set_theme(app, dark);
        std::string theme = dark ? "-dark.png" : "-light.png";
        AppProbe::key(app, SDLK_h, KMOD_LCTRL);
        AppProbe::replace_field(app).set("begin");
        picture(app, "find" + theme);
        EXPECT_EQ(AppProbe::find_field(app).text, "start");
        for (const char* id : { "find_in", "replace_in", "replace_one", "replace_all", "find_close" })
            EXPECT_NE(find_hit(app, id), nullptr) << id;
        AppProbe::key(app, SDLK_ESCAPE);

        AppProbe::key(app, SDLK_g, KMOD_LCTRL);
        picture(app, "goto" + theme);
        EXPECT_NE(find_hit(app, "dlg_ok"), nullptr);
        AppProbe::key(app, SDLK_ESCAPE);

        AppProbe::cmd_rename(app, "start", 1);
        picture(app, "rename" + theme);
        EXPECT_NE(find_hit(app, "dlg_ok"), nullptr);
        answer(app, "eax");
        picture(app, "rename-refused" + theme);
        EXPECT_EQ(AppProbe::modal(app), App::Modal::Message);
        AppProbe::key(app, SDLK_RETURN);
        EXPECT_EQ(AppProbe::modal(app), App::Modal::None);

        AppProbe::cmd_references(app, "start", 1);
        picture(app, "uses" + theme);
        EXPECT_NE(find_hit(app, "msg_line", 3), nullptr) << "the entries can be clicked";
    }
    // The binary tab: go to an address and the load address of a raw image.
    std::string raw = m_home.dir.file("boot.bin");
    ASSERT_TRUE(write_file(raw, std::string(512, '\x90')));
    ASSERT_TRUE(AppProbe::load_binary(app, raw));
    for (bool dark : { false, true }) {
        AppProbe::set_theme(app, dark);
        std::string theme = dark ? "-dark.png" : "-light.png";
        AppProbe::key(app, SDLK_g, KMOD_LCTRL);
        EXPECT_EQ(AppProbe::dlg_label(app), L10n::tr("dlg.goto_hint"));
        picture(app, "goto-address" + theme);
        AppProbe::key(app, SDLK_ESCAPE);
        AppProbe::cmd_raw_base(app);
        picture(app, "base" + theme);
        answer(app, "7C00");
    }
}
