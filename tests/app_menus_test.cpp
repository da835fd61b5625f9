// The menu bar's menus and the two context menus through the window's own
// hit dispatch: each row pressed as a user presses it and its effect looked
// for; the rows' states; menus taller than the window; the completion list
// near the edges; and pictures of every open menu in both themes.
#include "app.h"
#include "app_probe.h"
#include "dummy_video.h"
#include "l10n.h"
#include "testutil.h"
#include "xvfb_suite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testutil;

namespace {

const char* kProgram = "section .data\n"           // 0
                       "value dq 5\n"              // 1
                       "section .text\n"           // 2
                       "global _start\n"           // 3
                       "_start:\n"                 // 4
                       "    mov rax, [rel value]\n" // 5
                       "    call work\n"           // 6
                       "    mov eax, 60\n"         // 7
                       "    mov edi, 0x1F\n"       // 8
                       "    syscall\n"             // 9
                       "work:\n"                   // 10
                       "    ret\n";                // 11

// The program above, built once for all tests; empty when nasm or ld is missing.
const std::string& program()
{
    static TempDir dir;
    static std::string path = [] {
        std::string out = dir.file("prog");
        return nasm_build(kProgram, out, "elf64").empty() ? out : std::string();
    }();
    return path;
}

int row_of(App& app, const std::string& label)
{
    const auto& rows = AppProbe::menu_list(app);
    for (size_t i = 0; i < rows.size(); ++i)
        if (!rows[i].separator && rows[i].label == label)
            return int(i);
    return -1;
}

class Menus : public DummyVideo {
public:
    void SetUp() override
    {
        if (const char* h = getenv("HOME"))
            m_home = h;
        setenv("HOME", m_tmp.path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", m_tmp.path().c_str(), 1);
        setenv("QXASM_NO_PORTAL", "1", 1);
        SDL_SetClipboardText("");
    }
    void TearDown() override
    {
        if (m_app) {
            AppProbe::proc(*m_app).kill();
            for (int i = 0; i < 500 && (AppProbe::building(*m_app) || AppProbe::disassembling(*m_app)); ++i) {
                AppProbe::debug_tick(*m_app);
                AppProbe::poll_binary(*m_app);
                SDL_Delay(10);
            }
        }
        m_app.reset();
        setenv("HOME", m_home.c_str(), 1);
        unsetenv("QXASM_NO_PORTAL");
    }

    // A fresh window state: a saved source a.asm in front and, when asked,
    // a copy of the built program open as a binary behind it.
    void start(bool binary)
    {
        m_app = std::make_unique<App>();
        App& a = *m_app;
        std::string path = m_tmp.file("a.asm");
        ASSERT_TRUE(write_file(path, kProgram));
        m_src = AppProbe::new_doc(a, false);
        m_src->path = path;
        m_src->ed.set_text(kProgram);
        AppProbe::activate(a, m_src);
        if (binary) {
            if (program().empty())
                GTEST_SKIP() << "nasm and ld are needed";
            std::string copy = m_tmp.file("prog");
            ASSERT_TRUE(write_file(copy, read_file(program())));
            ASSERT_TRUE(AppProbe::load_binary(a, copy));
            m_bin = AppProbe::binary(a);
            ASSERT_NE(m_bin, nullptr);
            AppProbe::activate(a, m_src);
        }
        AppProbe::paint(a, 1280, 800);
    }

    // Closes the window state and starts the next case afresh.
    void next_case()
    {
        TearDown();
        SetUp();
    }

    // Opens menu n by its title and presses the row with this label; false
    // when there is no such row.
    bool choose(int menu, const std::string& label)
    {
        App& a = *m_app;
        if (AppProbe::menu(a) != menu && !AppProbe::click(a, "menubar", menu))
            return false;
        int i = row_of(a, label);
        return i >= 0 && AppProbe::click(a, "menu_item", i);
    }

    const App::MenuItem* row(int menu, const std::string& label)
    {
        m_rows = AppProbe::menu_items(*m_app, menu);
        for (const auto& r : m_rows)
            if (!r.separator && r.label == label)
                return &r;
        return nullptr;
    }

    TempDir m_tmp;
    std::string m_home;
    std::unique_ptr<App> m_app;
    Doc* m_src = nullptr;
    Doc* m_bin = nullptr;
    std::vector<App::MenuItem> m_rows;
};


// The window point of column `col` on text line `line` of the editor.
std::pair<double, double> text_point(App& a, Doc* d, int line, int col)
{
    AppProbe::paint(a, 1280, 800);
    Hit ed = AppProbe::hits_of(a, "editor").at(0);
    double lh = d->ed.line_height_px();
    double y = ed.y + (line - d->ed.scroll_line()) * lh + lh / 2;
    // The caret's painted x gives the column's place without measuring here.
    auto keep = d->ed.caret();
    d->ed.move_caret({ line, col }, false);
    AppProbe::paint(a, 1280, 800);
    double x = d->ed.caret_x() + 2;
    d->ed.move_caret(keep, false);
    return { x, y };
}

struct RowCase {
    int menu;
    const char* key;
    bool binary; // a binary is open behind the source
    std::function<void(Menus&, App&)> before;
    std::function<bool(Menus&, App&)> effect;
};

} // namespace

TEST_F(Menus, EveryMenuBarRowReachesItsCommand)
{
    using M = Menus;
    auto front = [](App& a) { return AppProbe::front(a); };
    auto modal_is = [](App::Modal m) {
        return [m](M&, App& a) { return AppProbe::modal(a) == m; };
    };
    auto building_or_live = [](M&, App& a) { return AppProbe::building(a) || AppProbe::debugging(a); };
    auto show_binary = [](M& m, App& a) { AppProbe::activate(a, m.m_bin); };
    const RowCase cases[] = {
        // File
        { 0, "menu.new", false, nullptr,
          [&](M& m, App& a) { return AppProbe::docs(a).size() == 2 && front(a) != m.m_src && front(a)->path.empty(); } },
        { 0, "menu.open", false, nullptr, [](M&, App& a) { return AppProbe::file_op(a) == App::FileOp::OpenSrc; } },
        { 0, "menu.example", false, nullptr,
          [&](M& m, App& a) { return front(a) != m.m_src && front(a)->ed.text().find("_start") != std::string::npos; } },
        { 0, "menu.save", false, [](M& m, App&) { m.m_src->ed.insert("; saved\n"); },
          [](M& m, App&) { return read_file(m.m_src->path) == m.m_src->ed.text() && !m.m_src->ed.modified(); } },
        { 0, "menu.save_as", false, nullptr,
          [](M&, App& a) { return AppProbe::file_op(a) == App::FileOp::SaveSrcAs; } },
        { 0, "menu.close", false, nullptr, [](M&, App& a) { return AppProbe::docs(a).empty(); } },
        { 0, "menu.open_binary", false, nullptr,
          [](M&, App& a) { return AppProbe::file_op(a) == App::FileOp::OpenBin; } },
        { 0, "menu.save_binary", true, nullptr,
          [](M&, App& a) { return AppProbe::modal(a) == App::Modal::Confirm; } },
        { 0, "menu.save_binary_as", true, nullptr,
          [](M&, App& a) { return AppProbe::file_op(a) == App::FileOp::SaveBinAs; } },
        { 0, "menu.disassemble", true, nullptr, [](M&, App& a) { return AppProbe::disassembling(a); } },
        { 0, "menu.quit", false, nullptr, [](M&, App& a) { return AppProbe::quitting(a); } },
        // Edit, on the source in front
        { 1, "menu.undo", false, [](M& m, App&) { m.m_src->ed.set_text("x"); m.m_src->ed.insert("y"); },
          [](M& m, App&) { return m.m_src->ed.text() == "x\n"; } },
        { 1, "menu.redo", false,
          [](M& m, App&) {
              m.m_src->ed.set_text("x");
              m.m_src->ed.insert("y");
              m.m_src->ed.undo();
          },
          [](M& m, App&) { return m.m_src->ed.text() == "yx\n"; } },
        { 1, "menu.cut", false, [](M& m, App&) { m.m_src->ed.set_text("abc"); m.m_src->ed.select_all(); },
          [](M& m, App&) { return m.m_src->ed.text().empty() && M::clip() == "abc"; } },
        { 1, "menu.copy", false, [](M& m, App&) { m.m_src->ed.set_text("abc"); m.m_src->ed.select_all(); },
          [](M& m, App&) { return m.m_src->ed.text() == "abc\n" && M::clip() == "abc"; } },
        { 1, "menu.paste", false, [](M& m, App&) { m.m_src->ed.set_text(""); SDL_SetClipboardText("pasted"); },
          [](M& m, App&) { return m.m_src->ed.text() == "pasted\n"; } },
        { 1, "menu.select_all", false, nullptr,
          [](M& m, App&) { return m.m_src->ed.selected_text() == m.m_src->ed.text(); } },
        { 1, "menu.comment", false, [](M& m, App&) { m.m_src->ed.set_text("mov eax, 1"); },
          [](M& m, App&) { return m.m_src->ed.line(0).rfind(";", 0) == 0; } },
        { 1, "menu.find", false, nullptr, [](M&, App& a) { return AppProbe::find_open(a); } },
        { 1, "menu.replace", true, show_binary,
          [](M&, App& a) {
              return AppProbe::settings(a).main_tab == 0 && AppProbe::find_open(a) && AppProbe::replace_open(a);
          } },
        { 1, "menu.goto", false, nullptr, modal_is(App::Modal::Prompt) },
        { 1, "menu.goto", true, show_binary,
          [](M&, App& a) {
              return AppProbe::modal(a) == App::Modal::Prompt && AppProbe::dlg_title(a) == L10n::tr("dlg.goto_addr");
          } },
        { 1, "menu.find", true, show_binary,
          [](M&, App& a) { return AppProbe::find_open(a) && AppProbe::focus(a) == App::Focus::Find; } },
        { 1, "menu.settings", false, nullptr, modal_is(App::Modal::Settings) },
        // Build
        { 2, "menu.build", false, nullptr, building_or_live },
        { 2, "menu.run", false, nullptr, building_or_live },
        { 2, "menu.args", false, nullptr, modal_is(App::Modal::Prompt) },
        { 2, "menu.link", false, nullptr, modal_is(App::Modal::Link) },
        { 2, "menu.fmt_bin", false, [](M& m, App&) { m.m_src->have_build = true; },
          [](M& m, App& a) { return AppProbe::settings(a).format == "bin" && !m.m_src->have_build; } },
        { 2, "menu.fmt_elf32", false, nullptr, [](M&, App& a) { return AppProbe::settings(a).format == "elf32"; } },
        { 2, "menu.fmt_elf64", false, nullptr, [](M&, App& a) { return AppProbe::settings(a).format == "elf64"; } },
        { 2, "menu.fmt_auto", false, [](M&, App& a) { AppProbe::settings(a).format = "bin"; },
          [](M&, App& a) { return AppProbe::settings(a).format == "auto"; } },
        // Debug, nothing running yet
        { 3, "menu.debug", false, nullptr, building_or_live },
        { 3, "menu.step_into", false, nullptr, building_or_live },
        { 3, "menu.step_over", false, nullptr, building_or_live },
        { 3, "menu.attach", false, nullptr, modal_is(App::Modal::Prompt) },
        { 3, "menu.toggle_bp", false, [](M& m, App&) { m.m_src->ed.move_caret({ 5, 0 }, false); },
          [](M& m, App&) { return m.m_src->ed.breakpoints.count(5) == 1; } },
        { 3, "menu.clear_bps", false, [](M& m, App&) { m.m_src->ed.breakpoints = { 5, 7 }; },
          [](M& m, App&) { return m.m_src->ed.breakpoints.empty(); } },
        // View
        { 4, "menu.view_source", true, show_binary,
          [](M&, App& a) { return AppProbe::settings(a).main_tab == 0 && AppProbe::focus(a) == App::Focus::Editor; } },
        { 4, "menu.view_binary", true, nullptr,
          [](M&, App& a) { return AppProbe::settings(a).main_tab == 1 && AppProbe::focus(a) == App::Focus::Bin; } },
        { 4, "menu.view_console", false, nullptr,
          [](M&, App& a) { return AppProbe::settings(a).bottom_tab == 2 && AppProbe::focus(a) == App::Focus::ConIn; } },
        { 4, "menu.show_side", false, [](M&, App& a) { AppProbe::settings(a).show_side = true; },
          [](M&, App& a) { return !AppProbe::settings(a).show_side; } },
        { 4, "menu.side_left", false,
          [](M&, App& a) {
              AppProbe::settings(a).show_side = false;
              AppProbe::settings(a).side_left = false;
          },
          [](M&, App& a) { return AppProbe::settings(a).side_left && AppProbe::settings(a).show_side; } },
        { 4, "menu.show_bottom", false, [](M&, App& a) { AppProbe::settings(a).show_bottom = true; },
          [](M&, App& a) { return !AppProbe::settings(a).show_bottom; } },
        { 4, "menu.font_bigger", false, [](M&, App& a) { AppProbe::settings(a).font = 14; },
          [](M&, App& a) { return AppProbe::settings(a).font == 15; } },
        { 4, "menu.font_smaller", false, [](M&, App& a) { AppProbe::settings(a).font = 14; },
          [](M&, App& a) { return AppProbe::settings(a).font == 13; } },
        { 4, "menu.font_reset", false, [](M&, App& a) { AppProbe::settings(a).font = 20; },
          [](M&, App& a) { return AppProbe::settings(a).font == 14; } },
        { 4, "menu.theme_dark", false, nullptr,
          [](M&, App& a) { return AppProbe::settings(a).theme == "dark" && AppProbe::palette(a).dark; } },
        { 4, "menu.theme_light", false, [](M&, App& a) { AppProbe::settings(a).theme = "dark"; },
          [](M&, App& a) { return AppProbe::settings(a).theme == "light" && !AppProbe::palette(a).dark; } },
        { 4, "menu.theme_auto", false, [](M&, App& a) { AppProbe::settings(a).theme = "dark"; },
          [](M&, App& a) { return AppProbe::settings(a).theme == "auto"; } },
        { 4, "menu.language", false, nullptr, modal_is(App::Modal::Language) },
        // Tools and Help
        { 5, "menu.converter", false, nullptr, modal_is(App::Modal::Convert) },
        { 6, "menu.reference", false, nullptr, [](M&, App& a) { return AppProbe::modal(a) == App::Modal::Reference; } },
        { 6, "ref.first_steps", false, nullptr,
          [](M&, App& a) { return AppProbe::modal(a) == App::Modal::Reference; } },
        { 6, "menu.help_console", false, nullptr,
          [](M&, App& a) { return AppProbe::modal(a) == App::Modal::Reference; } },
        { 6, "menu.about", false, nullptr, modal_is(App::Modal::About) },
    };
    for (const RowCase& c : cases) {
        SCOPED_TRACE(std::string(c.key) + (c.binary ? " (binary open)" : ""));
        start(c.binary);
        if (IsSkipped())
            return;
        App& a = *m_app;
        if (c.before)
            c.before(*this, a);
        AppProbe::paint(a, 1280, 800);
        ASSERT_TRUE(choose(c.menu, L10n::tr(c.key))) << "no row " << c.key;
        EXPECT_EQ(AppProbe::menu(a), -1) << "the menu closes before the row acts";
        EXPECT_TRUE(c.effect(*this, a)) << "text: " << m_src->ed.text() << " clip: " << clip();
        next_case();
    }
}

namespace {

int separators(const std::vector<App::MenuItem>& rows)
{
    return int(std::count_if(rows.begin(), rows.end(), [](const App::MenuItem& r) { return r.separator; }));
}

// Right-clicks the editor at a window point and presses the row with this
// label; false when the menu did not open or has no such row.
bool context_choose(App& a, double x, double y, const std::string& label)
{
    AppProbe::paint(a, 1280, 800);
    AppProbe::mouse_down(a, x, y, SDL_BUTTON_RIGHT);
    AppProbe::mouse_up(a, x, y);
    if (AppProbe::menu(a) != 100)
        return false;
    int i = row_of(a, label);
    return i >= 0 && AppProbe::click(a, "menu_item", i);
}

} // namespace

TEST_F(Menus, RowStatesFollowTheMomentTheMenuOpens)
{
    start(false);
    App& a = *m_app;
    // Nothing binary open: the binary rows are disabled, and without recent
    // files no separator stands above the one before Quit.
    auto file = AppProbe::menu_items(a, 0);
    EXPECT_FALSE(row(0, L10n::tr("menu.save_binary"))->enabled);
    EXPECT_FALSE(row(0, L10n::tr("menu.save_binary_as"))->enabled);
    EXPECT_FALSE(row(0, L10n::tr("menu.disassemble"))->enabled);
    EXPECT_TRUE(row(0, L10n::tr("menu.close"))->enabled);
    EXPECT_EQ(separators(file), 2);
    EXPECT_EQ(last_of(file).label, L10n::tr("menu.quit"));
    EXPECT_EQ(last_of(file).shortcut, "Ctrl+Q");

    // Eight of each: five sources and three binaries are offered.
    for (int i = 0; i < 8; ++i) {
        AppProbe::settings(a).recent.push_back(m_tmp.file("s" + std::to_string(i) + ".asm"));
        AppProbe::settings(a).recent_bin.push_back("/opt/b" + std::to_string(i));
    }
    file = AppProbe::menu_items(a, 0);
    EXPECT_EQ(separators(file), 3);
    ASSERT_EQ(file.size(), 11u + 1 + 5 + 3 + 2);
    EXPECT_EQ(file[12].label, "s0.asm   ~") << "the home folder is written ~";
    EXPECT_EQ(file[16].label, "s4.asm   ~");
    EXPECT_EQ(file[17].label, "b0   /opt");
    EXPECT_EQ(file[19].label, "b2   /opt");

    // Debug with nothing running.
    EXPECT_TRUE(row(3, L10n::tr("menu.debug"))->enabled);
    EXPECT_EQ(row(3, L10n::tr("menu.continue")), nullptr);
    EXPECT_FALSE(row(3, L10n::tr("menu.step_out"))->enabled);
    EXPECT_FALSE(row(3, L10n::tr("menu.stop"))->enabled);
    EXPECT_TRUE(row(3, L10n::tr("menu.attach"))->enabled);
    EXPECT_TRUE(row(2, L10n::tr("menu.run"))->enabled);

    // Radio choices: one format, one theme; checks for the panels.
    AppProbe::settings(a).format = "elf32";
    AppProbe::settings(a).theme = "dark";
    AppProbe::settings(a).show_side = false;
    AppProbe::settings(a).show_bottom = true;
    const std::map<std::string, bool> checked = {
        { "menu.fmt_auto", false }, { "menu.fmt_elf64", false }, { "menu.fmt_elf32", true }, { "menu.fmt_bin", false },
    };
    for (const auto& [key, on] : checked) {
        const App::MenuItem* r = row(2, L10n::tr(key.c_str()));
        ASSERT_NE(r, nullptr) << key;
        EXPECT_EQ(r->checked, on) << key;
        EXPECT_TRUE(r->radio) << key;
    }
    EXPECT_TRUE(row(4, L10n::tr("menu.theme_dark"))->checked);
    EXPECT_FALSE(row(4, L10n::tr("menu.theme_auto"))->checked);
    EXPECT_FALSE(row(4, L10n::tr("menu.show_side"))->checked);
    EXPECT_FALSE(row(4, L10n::tr("menu.show_side"))->radio);
    EXPECT_TRUE(row(4, L10n::tr("menu.show_bottom"))->checked);
    EXPECT_EQ(AppProbe::menu_items(a, 7).size(), 0u);
    EXPECT_EQ(AppProbe::menu_items(a, -1).size(), 0u);

    // Closing the last tab leaves the welcome page: nothing to close.
    AppProbe::close_doc(a, m_src, true);
    EXPECT_FALSE(row(0, L10n::tr("menu.close"))->enabled);
    // A disabled row pressed does nothing and the menu stays open.
    AppProbe::open_menu(a, 0);
    AppProbe::paint(a, 1280, 800);
    ASSERT_TRUE(AppProbe::click(a, "menu_item", row_of(a, L10n::tr("menu.close"))));
    EXPECT_EQ(AppProbe::menu(a), 0);
}

TEST_F(Menus, BinaryRowsAndDisassemblyState)
{
    start(true);
    if (IsSkipped())
        return;
    App& a = *m_app;
    EXPECT_TRUE(row(0, L10n::tr("menu.save_binary"))->enabled);
    EXPECT_TRUE(row(0, L10n::tr("menu.disassemble"))->enabled);
    ASSERT_TRUE(choose(0, L10n::tr("menu.disassemble")));
    ASSERT_TRUE(AppProbe::disassembling(a));
    EXPECT_FALSE(row(0, L10n::tr("menu.disassemble"))->enabled) << "one disassembly at a time";
}

TEST_F(Menus, RecentFilesOpenFromTheFileMenu)
{
    start(true);
    if (IsSkipped())
        return;
    App& a = *m_app;
    std::string dir = m_tmp.file("sub");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    std::string src = dir + "/b.asm", bin = dir + "/p2";
    ASSERT_TRUE(write_file(src, "; b\n"));
    ASSERT_TRUE(write_file(bin, read_file(program())));
    AppProbe::settings(a).recent = { src };
    AppProbe::settings(a).recent_bin = { bin };
    ASSERT_TRUE(choose(0, "b.asm   ~/sub"));
    EXPECT_EQ(AppProbe::front(a)->path, src);
    EXPECT_EQ(AppProbe::front(a)->ed.text(), "; b\n");
    ASSERT_TRUE(choose(0, "p2   ~/sub"));
    EXPECT_EQ(AppProbe::front(a)->img.m_path, bin);
    EXPECT_TRUE(AppProbe::front(a)->bin);
}

TEST_F(Menus, EditorContextMenuRows)
{
    struct Case {
        const char* label;      // key, or a full label when it has a word
        int line, col;          // where the right click lands
        std::function<void(Doc*)> before;
        std::function<bool(App&, Doc*)> effect;
    };
    auto text = [](const char* t) { return [t](Doc* d) { d->ed.set_text(t); }; };
    auto all = [](const char* t) {
        return [t](Doc* d) {
            d->ed.set_text(t);
            d->ed.select_all();
        };
    };
    const std::string rename = L10n::tr("ed.rename") + "   work";
    const std::string convert = L10n::tr("menu.converter") + "   0x1F";
    const Case cases[] = {
        { "menu.undo", 0, 0, [](Doc* d) { d->ed.set_text("x"); d->ed.insert("y"); },
          [](App&, Doc* d) { return d->ed.text() == "x\n"; } },
        { "menu.redo", 0, 0,
          [](Doc* d) {
              d->ed.set_text("x");
              d->ed.insert("y");
              d->ed.undo();
          },
          [](App&, Doc* d) { return d->ed.text() == "yx\n"; } },
        { "menu.cut", 0, 1, all("abc"), [](App&, Doc* d) { return d->ed.text().empty() && clip() == "abc"; } },
        { "menu.copy", 0, 1, all("abc"), [](App&, Doc* d) { return d->ed.text() == "abc\n" && clip() == "abc"; } },
        { "menu.paste", 0, 0, [](Doc* d) { d->ed.set_text(""); SDL_SetClipboardText("pasted"); },
          [](App&, Doc* d) { return d->ed.text() == "pasted\n"; } },
        { "ed.delete", 0, 1, all("abc"), [](App&, Doc* d) { return d->ed.text().empty(); } },
        { "menu.select_all", 0, 0, text("abc"), [](App&, Doc* d) { return d->ed.selected_text() == "abc"; } },
        { "ed.dup_line", 0, 0, text("a\nb"), [](App&, Doc* d) { return d->ed.text() == "a\na\nb\n"; } },
        { "ed.del_line", 0, 0, text("a\nb"), [](App&, Doc* d) { return d->ed.text() == "b\n"; } },
        { "ed.line_up", 1, 0, text("a\nb"), [](App&, Doc* d) { return d->ed.text() == "b\na\n"; } },
        { "ed.line_down", 0, 0, text("a\nb"), [](App&, Doc* d) { return d->ed.text() == "b\na\n"; } },
        { "menu.comment", 0, 0, text("mov eax, 1"), [](App&, Doc* d) { return d->ed.line(0).rfind(";", 0) == 0; } },
        { "ed.indent", 0, 0, text("mov"), [](App&, Doc* d) { return d->ed.line(0) != "mov" && d->ed.line(0).find("mov") > 0; } },
        { "ed.outdent", 0, 0, text("    mov"), [](App&, Doc* d) { return d->ed.line(0) == "mov"; } },
        { "menu.toggle_bp", 5, 4, nullptr, [](App&, Doc* d) { return d->ed.breakpoints.count(5) == 1; } },
        { "ed.goto_def", 6, 10, nullptr,
          [](App&, Doc* d) { return d->ed.caret().line == 10; } },
        { "ed.refs", 6, 10, nullptr,
          [](App& a, Doc*) { return !AppProbe::msgs(a).empty(); } },
        { nullptr, 6, 10, nullptr,
          [](App& a, Doc*) { return AppProbe::modal(a) == App::Modal::Prompt; } },
        { nullptr, 8, 14, nullptr,
          [](App& a, Doc*) {
              return (AppProbe::modal(a) == App::Modal::Convert) &&
                     AppProbe::converter_field(a).text == "0x1F";
          } },
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string label = c.label ? L10n::tr(c.label) : n++ == 0 ? rename : convert;
        SCOPED_TRACE(label);
        start(false);
        App& a = *m_app;
        auto [x, y] = text_point(a, m_src, c.line, c.col);
        if (c.before)
            c.before(m_src);
        ASSERT_TRUE(context_choose(a, x, y, label)) << "no row " << label;
        EXPECT_EQ(AppProbe::menu(a), -1);
        EXPECT_TRUE(c.effect(a, m_src)) << "text: " << m_src->ed.text() << " clip: " << clip();
        next_case();
    }

    // The word under the pointer decides the extra rows: a label offers the
    // label rows, a number the converter, any other word neither.
    start(false);
    App& a = *m_app;
    struct Word {
        int line, col;
        bool label_rows, converter;
    };
    for (const Word& w : { Word{ 6, 10, true, false }, Word{ 8, 14, false, true }, Word{ 7, 9, false, false } }) {
        auto [x, y] = text_point(a, m_src, w.line, w.col);
        AppProbe::ed_context(a, x, y);
        EXPECT_EQ(row_of(a, L10n::tr("ed.goto_def")) >= 0, w.label_rows) << w.line;
        EXPECT_EQ(row_of(a, rename) >= 0, w.label_rows) << w.line;
        bool conv = std::any_of(AppProbe::menu_list(a).begin(), AppProbe::menu_list(a).end(), [](const auto& r) {
            return r.label.rfind(L10n::tr("menu.converter"), 0) == 0;
        });
        EXPECT_EQ(conv, w.converter) << w.line;
        EXPECT_EQ(row_of(a, L10n::tr("menu.run_to_cursor")), -1) << "nothing runs";
        // Delete needs a selection.
        const auto& rows = AppProbe::menu_list(a);
        EXPECT_FALSE(rows[size_t(row_of(a, L10n::tr("ed.delete")))].enabled);
    }
    // The context menu clears the tooltip.
    AppProbe::set_tip(a, "tip");
    AppProbe::ed_context(a, 400, 200);
    EXPECT_TRUE(AppProbe::tip(a).empty());
    EXPECT_EQ(AppProbe::menu(a), 100);
}

TEST_F(Menus, BinaryContextMenuRows)
{
    start(true);
    if (IsSkipped())
        return;
    auto syms = symbols(program());
    const uint64_t start_at = syms.at("_start"), work = syms.at("work"), value = syms.at("value");
    const uint64_t call_at = start_at + 7; // mov rax, [rel value] is 7 bytes
    struct Case {
        const char* label;  // key; the follow row gets its target's name
        uint64_t at;        // the selected instruction
        std::function<bool(App&, Doc*)> effect;
    };
    const Case cases[] = {
        { nullptr, call_at, [&](App&, Doc* d) { return d->bv.selected_addr() == work; } },
        { "ctx.show_hex", start_at,
          [&](App& a, Doc* d) { return d->bv.m_hex_focus && AppProbe::focus(a) == App::Focus::Bin && value != 0; } },
        { "ctx.back", call_at,
          [&](App&, Doc* d) { return d->bv.selected_addr() == call_at; } },
        { "menu.toggle_bp", call_at, [&](App&, Doc* d) { return d->bv.has_bp && d->bv.has_bp(call_at); } },
        { "ctx.edit", call_at, [](App& a, Doc* d) { return d->bv.m_edit_active && AppProbe::focus(a) == App::Focus::Bin; } },
        { "ctx.copy_addr", call_at, [&](App&, Doc*) { return clip() == upper_hex(call_at); } },
        { "ctx.copy_insn", call_at, [](App&, Doc* d) { return clip() == d->bv.selected_insn()->text; } },
        { "ctx.copy_bytes", call_at, [](App&, Doc*) { return clip().rfind("E8", 0) == 0 && clip().size() == 10; } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label ? c.label : "ctx.follow");
        if (!m_app)
            start(true);
        App& a = *m_app;
        AppProbe::activate(a, m_bin);
        BinView& v = m_bin->bv;
        if (std::string(c.label ? c.label : "") == "ctx.back") {
            v.select_row(v.row_of_addr(call_at), true);
            v.follow();
        }
        v.select_row(v.row_of_addr(c.at), true);
        ASSERT_NE(v.selected_insn(), nullptr);
        // Through a right click on the selected row, as the user opens it.
        AppProbe::paint(a, 1280, 800);
        double y = -1;
        for (const auto& r : v.m_vis)
            if (r.key == v.m_sel)
                y = r.y + v.m_lh / 2;
        ASSERT_GE(y, 0);
        double x = v.m_dis_x + 20;
        AppProbe::mouse_down(a, x, y, SDL_BUTTON_RIGHT);
        AppProbe::mouse_up(a, x, y);
        ASSERT_EQ(AppProbe::menu(a), 100);
        std::string label = c.label ? L10n::tr(c.label) : L10n::tr("ctx.follow") + "   work";
        int i = row_of(a, label);
        ASSERT_GE(i, 0) << label;
        ASSERT_TRUE(AppProbe::click(a, "menu_item", i));
        EXPECT_EQ(AppProbe::menu(a), -1);
        EXPECT_TRUE(c.effect(a, m_bin));
        next_case();
    }
    // Nothing selected: no menu.
    start(true);
    App& a = *m_app;
    AppProbe::activate(a, m_bin);
    m_bin->bv.m_sel = BinView::Key{};
    AppProbe::bin_context(a, 300, 300);
    EXPECT_EQ(AppProbe::menu(a), -1);
    // A memory operand offers "show in hex"; a branch offers no such row.
    m_bin->bv.select_row(m_bin->bv.row_of_addr(start_at), true);
    AppProbe::bin_context(a, 300, 300);
    EXPECT_GE(row_of(a, L10n::tr("ctx.show_hex")), 0);
    EXPECT_EQ(row_of(a, L10n::tr("ctx.run_to")), -1) << "nothing runs";
    m_bin->bv.select_row(m_bin->bv.row_of_addr(call_at), true);
    AppProbe::bin_context(a, 300, 300);
    EXPECT_EQ(row_of(a, L10n::tr("ctx.show_hex")), -1);
}

// While the binary view is in front the edit rows never reach the hidden
// source: undo and redo act on the binary's own history and the clipboard
// rows are disabled.
TEST_F(Menus, EditRowsActOnTheVisibleView)
{
    start(true);
    if (IsSkipped())
        return;
    App& a = *m_app;
    m_src->ed.set_text("abc");
    m_src->ed.insert("d");
    const std::string source = m_src->ed.text();
    AppProbe::activate(a, m_bin);
    BinView& v = m_bin->bv;
    const uint64_t pos = v.hex_limit_lo();
    uint8_t before = 0, now = 0;
    ASSERT_TRUE(v.hex_read(pos, &before));
    v.m_hex_focus = true;
    v.m_cur = pos;
    v.hex_type(before == 0xAB ? 0xC : 0xA);
    v.hex_type(0xB);
    ASSERT_TRUE(v.hex_read(pos, &now));
    const uint8_t edited = now;
    ASSERT_NE(edited, before);

    SDL_SetClipboardText("pasted");
    for (const char* key : { "menu.cut", "menu.copy", "menu.paste", "menu.select_all", "menu.comment" }) {
        const App::MenuItem* r = row(1, L10n::tr(key));
        ASSERT_NE(r, nullptr) << key;
        EXPECT_FALSE(r->enabled) << key << " would act on the hidden source";
        ASSERT_TRUE(choose(1, L10n::tr(key)));
        AppProbe::open_menu(a, -1);
    }
    EXPECT_EQ(m_src->ed.text(), source);

    ASSERT_TRUE(choose(1, L10n::tr("menu.undo")));
    ASSERT_TRUE(v.hex_read(pos, &now));
    EXPECT_EQ(now, before) << "the binary's edit is undone";
    EXPECT_EQ(m_src->ed.text(), source) << "the source is not touched";
    ASSERT_TRUE(choose(1, L10n::tr("menu.redo")));
    ASSERT_TRUE(v.hex_read(pos, &now));
    EXPECT_EQ(now, edited);
    EXPECT_EQ(m_src->ed.text(), source);
    EXPECT_EQ(m_src->ed.redo_depth(), 0);
}

// A middle click closes a tab even while a menu is open: the menu closes
// with it, and rows kept from it find their document gone and do nothing.
TEST_F(Menus, ClosingATabClosesTheMenuAndItsRowsLetGo)
{
    start(true);
    if (IsSkipped())
        return;
    App& a = *m_app;
    auto [x, y] = text_point(a, m_src, 6, 10);
    AppProbe::mouse_down(a, x, y, SDL_BUTTON_RIGHT);
    AppProbe::mouse_up(a, x, y);
    ASSERT_EQ(AppProbe::menu(a), 100);
    std::vector<std::function<void()>> kept;
    for (const auto& r : AppProbe::menu_list(a))
        if (r.act)
            kept.push_back(r.act);
    auto file = AppProbe::menu_items(a, 0);
    AppProbe::paint(a, 1280, 800);
    const Doc* closed = m_src;
    bool pressed = false;
    for (const Hit& h : AppProbe::hits_of(a, "tab_main"))
        if (AppProbe::docs(a).at(size_t(h.n)).get() == closed) {
            AppProbe::mouse_down(a, h.x + 8, h.y + h.h / 2, SDL_BUTTON_MIDDLE);
            AppProbe::mouse_up(a, h.x + 8, h.y + h.h / 2);
            pressed = true;
            break;
        }
    ASSERT_TRUE(pressed);
    EXPECT_EQ(AppProbe::menu(a), -1) << "the menu of a closed tab stays open";
    for (const auto& d : AppProbe::docs(a))
        ASSERT_NE(d.get(), closed);
    const size_t docs = AppProbe::docs(a).size();
    for (auto& act : kept)
        act();
    EXPECT_EQ(AppProbe::docs(a).size(), docs);
    EXPECT_EQ(AppProbe::modal(a), App::Modal::None) << "a row of the closed tab acted";

    // Close tab of the File menu built while the source was in front.
    AppProbe::activate(a, m_bin);
    for (auto& r : file)
        if (r.label == L10n::tr("menu.close"))
            r.act();
    EXPECT_EQ(AppProbe::docs(a).size(), docs) << "the binary is not closed in the source's place";

    // The binary view's menu, its tab closed by a middle click.
    m_bin->bv.select_row(m_bin->bv.row_of_addr(symbols(program()).at("_start")), true);
    AppProbe::bin_context(a, 300, 300);
    ASSERT_EQ(AppProbe::menu(a), 100);
    kept.clear();
    for (const auto& r : AppProbe::menu_list(a))
        if (r.act)
            kept.push_back(r.act);
    AppProbe::paint(a, 1280, 800);
    Hit tab = AppProbe::hits_of(a, "tab_main").at(0);
    AppProbe::mouse_down(a, tab.x + 8, tab.y + tab.h / 2, SDL_BUTTON_MIDDLE);
    EXPECT_EQ(AppProbe::menu(a), -1);
    EXPECT_TRUE(AppProbe::docs(a).empty());
    SDL_SetClipboardText("kept");
    for (auto& act : kept)
        act();
    EXPECT_EQ(clip(), "kept");
}

namespace {

// Presses Down until row i is highlighted; false when it never is.
bool key_to(App& a, int i)
{
    for (size_t n = 0; n <= AppProbe::menu_list(a).size(); ++n) {
        if (AppProbe::menu_hover(a) == i)
            return true;
        AppProbe::key(a, SDLK_DOWN);
    }
    return AppProbe::menu_hover(a) == i;
}

// Every row of the open menu can be brought into the window by the keys and
// then lies whole inside it and inside the menu's box.
void every_row_reachable(App& a, double W, double H)
{
    const auto rows = AppProbe::menu_list(a);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].separator || !rows[i].enabled)
            continue;
        SCOPED_TRACE(rows[i].label);
        ASSERT_TRUE(key_to(a, int(i)));
        AppProbe::paint(a, W, H);
        auto box = AppProbe::hits_of(a, "menu_box");
        ASSERT_EQ(box.size(), 1u);
        EXPECT_GE(box[0].y, 0);
        EXPECT_LE(box[0].y + box[0].h, H);
        bool found = false;
        for (const Hit& h : AppProbe::hits_of(a, "menu_item"))
            if (h.n == int(i)) {
                found = true;
                EXPECT_EQ(h.h, 28) << "the highlighted row shows whole";
                EXPECT_GE(h.y, box[0].y);
                EXPECT_LE(h.y + h.h, box[0].y + box[0].h);
                EXPECT_GE(h.x, 0);
                EXPECT_LE(h.x + h.w, W);
            }
        EXPECT_TRUE(found);
    }
}

} // namespace

// At the smallest window height the File menu with its recent files and
// the editor's context menu opened low in the window still offer every row.
TEST_F(Menus, TallMenusScrollSoEveryRowStaysReachable)
{
    start(false);
    App& a = *m_app;
    const double W = 1280, H = 480;
    for (int i = 0; i < 8; ++i) {
        AppProbe::settings(a).recent.push_back(m_tmp.file("s" + std::to_string(i) + ".asm"));
        AppProbe::settings(a).recent_bin.push_back(m_tmp.file("b" + std::to_string(i)));
    }
    AppProbe::paint(a, W, H);
    ASSERT_TRUE(AppProbe::click(a, "menubar", 0, W, H));
    ASSERT_EQ(AppProbe::menu(a), 0);
    every_row_reachable(a, W, H);

    // The wheel over the menu scrolls it; the last row, Quit, then shows
    // whole and is pressed with the pointer.
    AppProbe::open_menu(a, 0);
    AppProbe::paint(a, W, H);
    const int last = int(AppProbe::menu_list(a).size()) - 1;
    auto shown_whole = [&](int n) {
        for (const Hit& h : AppProbe::hits_of(a, "menu_item"))
            if (h.n == n && h.h == 28)
                return true;
        return false;
    };
    EXPECT_FALSE(shown_whole(last)) << "the menu is taller than the window";
    Hit box = AppProbe::hits_of(a, "menu_box").at(0);
    for (int turn = 0; turn < 20 && !shown_whole(last); ++turn) {
        AppProbe::wheel(a, box.x + 20, box.y + box.h / 2, -1);
        AppProbe::paint(a, W, H);
    }
    ASSERT_TRUE(shown_whole(last));
    EXPECT_EQ(AppProbe::menu(a), 0) << "the wheel over a tall menu keeps it open";
    ASSERT_TRUE(AppProbe::click(a, "menu_item", last, W, H));
    EXPECT_TRUE(AppProbe::quitting(a));

    // The arrow strips scroll too.
    AppProbe::open_menu(a, 0);
    ASSERT_TRUE(AppProbe::click(a, "menu_down", 0, W, H));
    EXPECT_GT(AppProbe::menu_scroll(a), 0);
    ASSERT_TRUE(AppProbe::click(a, "menu_up", 0, W, H));
    EXPECT_EQ(AppProbe::menu_scroll(a), 0);

    // The context menu on a label near the bottom: its top stays inside.
    next_case();
    start(false);
    App& b = *m_app;
    auto [x, y] = text_point(b, m_src, 6, 10);
    AppProbe::paint(b, W, H);
    // Built on the label, then asked for as low in the window as a click
    // on the last visible line would.
    AppProbe::ed_context(b, x, y);
    ASSERT_GE(row_of(b, L10n::tr("ed.goto_def")), 0);
    AppProbe::open_context(b, AppProbe::menu_list(b), x, H - 30);
    AppProbe::paint(b, W, H);
    Hit cbox = AppProbe::hits_of(b, "menu_box").at(0);
    EXPECT_GE(cbox.y, 0) << "the context menu's top is inside the window";
    EXPECT_LE(cbox.y + cbox.h, H);
    every_row_reachable(b, W, H);
}

// The completion list keeps inside the window at its right edge and opens
// above the caret line near the bottom of the document area.
TEST_F(Menus, CompletionListStaysInsideTheWindow)
{
    start(false);
    App& a = *m_app;
    AppProbe::settings(a).show_side = false;
    std::string line(300, 'x');
    m_src->ed.set_text("mov eax, 1\n" + line + "\n");
    m_src->ed.move_caret({ 1, 300 }, false);
    AppProbe::completion(a) = { "a_rather_long_label_for_the_list", "movsb" };
    AppProbe::paint(a, 1280, 800);
    auto box = AppProbe::completion_box(a);
    ASSERT_GT(box[2], 0) << "the list was painted";
    EXPECT_GT(m_src->ed.caret_x() + box[2], 1280) << "the caret is near the right edge";
    EXPECT_LE(box[0] + box[2], 1280 - 4);
    EXPECT_GE(box[0], 0);
    EXPECT_GT(box[1], m_src->ed.caret_y()) << "room below: the list opens under the caret line";

    std::string many;
    for (int i = 0; i < 200; ++i)
        many += "mov eax, " + std::to_string(i) + "\n";
    m_src->ed.set_text(many);
    m_src->ed.move_caret({ 199, 3 }, false);
    m_src->ed.ensure_caret_visible();
    AppProbe::paint(a, 1280, 800);
    box = AppProbe::completion_box(a);
    EXPECT_LT(box[1] + box[3], m_src->ed.caret_y()) << "near the bottom the list opens above the line";
    EXPECT_GE(box[0], 0);
}

// ---------------------------------------------------------------------------
// The real window on a private Xvfb: a picture of every open menu, the two
// context menus, the File menu scrolled at the smallest height and the
// completion list, in both themes (copied to QX_TEST_SHOTS when set).

namespace {

class MenuWindow : public XvfbSuite {
protected:
    void SetUp() override
    {
        XvfbSuite::SetUp();
        if (IsSkipped())
            return;
        setenv("DISPLAY", server().display().c_str(), 1);
        setenv("XDG_CONFIG_HOME", m_tmp.path().c_str(), 1);
        unsetenv("SDL_VIDEODRIVER");
    }
    void pictures();
    TempDir m_tmp;
};

} // namespace

// In a child process, as the other window tests do: SDL's X11 layer leaves
// blocks behind that the sanitizer build's leak check would count.
TEST_F(MenuWindow, PicturesOfEveryOpenMenuInBothThemes)
{
    if (program().empty())
        GTEST_SKIP() << "nasm and ld are needed";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("SDL_RENDER_DRIVER", "software", 1);
        pictures();
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int st = 0;
    ASSERT_EQ(testutil::wait_child(pid, &st), pid);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0) << "the window part failed: see above";
}

void MenuWindow::pictures()
{
    App app;
    ASSERT_TRUE(AppProbe::init_window(app));
    SDL_ShowWindow(AppProbe::window(app));
    SDL_SetWindowSize(AppProbe::window(app), 1280, 800);
    AppProbe::pump(app);
    Doc* src = AppProbe::new_doc(app, false);
    src->path = m_tmp.file("a.asm");
    src->ed.set_text(kProgram);
    AppProbe::settings(app).auto_debug = false;
    ASSERT_TRUE(AppProbe::load_binary(app, program()));
    Doc* bin = AppProbe::binary(app);
    AppProbe::activate(app, src);
    for (int i = 0; i < 5; ++i) {
        AppProbe::settings(app).recent.push_back("/home/user/src/prog" + std::to_string(i) + ".asm");
        AppProbe::settings(app).recent_bin.push_back("/home/user/bin/tool" + std::to_string(i));
    }
    const char* keep = getenv("QX_TEST_SHOTS");
    auto picture = [&](const std::string& name) {
        AppProbe::paint(app, 0, 0);
        std::string path = m_tmp.file(name);
        std::string why;
        ASSERT_TRUE(gfx::write_png(AppProbe::surface(app), path, &why)) << why;
        EXPECT_TRUE(file_exists(path));
        if (keep)
            sh("cp '" + path + "' '" + keep + "/'");
    };
    auto visible_rows = [&] {
        size_t n = 0;
        for (const auto& r : AppProbe::menu_list(app))
            n += !r.separator;
        return n;
    };
    for (bool dark : { false, true }) {
        AppProbe::set_theme(app, dark);
        const std::string theme = dark ? "-dark.png" : "-light.png";
        for (int m = 0; m < 7; ++m) {
            AppProbe::activate(app, m == 1 ? bin : src);
            AppProbe::open_menu(app, m);
            AppProbe::key(app, SDLK_DOWN);
            picture("menu" + std::to_string(m) + theme);
            EXPECT_EQ(AppProbe::hits_of(app, "menu_item").size(), visible_rows()) << "menu " << m;
        }
        AppProbe::activate(app, src);
        auto [x, y] = text_point(app, src, 6, 10);
        AppProbe::ed_context(app, x, y);
        picture("context-editor" + theme);
        EXPECT_EQ(AppProbe::hits_of(app, "menu_item").size(), visible_rows());
        AppProbe::activate(app, bin);
        bin->bv.select_row(bin->bv.row_of_addr(symbols(program()).at("_start")), true);
        AppProbe::paint(app, 0, 0);
        AppProbe::bin_context(app, 700, 300);
        picture("context-binary" + theme);
        EXPECT_EQ(AppProbe::hits_of(app, "menu_item").size(), visible_rows());
        AppProbe::open_menu(app, -1);

        AppProbe::activate(app, src);
        src->ed.move_caret({ 5, 7 }, false);
        AppProbe::completion(app) = { "mov", "movzx", "movsb", "value" };
        picture("completion" + theme);
        AppProbe::completion(app).clear();
    }
    // The smallest height: the File menu scrolls.
    SDL_SetWindowSize(AppProbe::window(app), 1000, 480);
    AppProbe::pump(app);
    AppProbe::open_menu(app, 0);
    for (int i = 0; i < 18; ++i)
        AppProbe::key(app, SDLK_DOWN);
    picture("menu0-480-scrolled-dark.png");
    EXPECT_GT(AppProbe::menu_scroll(app), 0);
    EXPECT_LT(AppProbe::hits_of(app, "menu_item").size(), visible_rows());
}

// A program stopped under the debugger: the Debug menu offers Continue and
// Step out, refuses a second start and an attach, and the two context
// menus run to a line and to an instruction of the stopped program.
TEST_F(Menus, DebugRowsWhileAProgramIsStopped)
{
    start(false);
    if (program().empty())
        GTEST_SKIP() << "nasm and ld are needed";
    App& a = *m_app;
    dbg::Process& p = AppProbe::proc(a);
    auto pump_until = [&](auto cond) {
        for (int i = 0; i < 1000 && !cond(); ++i) {
            AppProbe::debug_tick(a);
            SDL_Delay(10);
        }
        return cond();
    };
    auto stopped = [&] { return p.traced() && p.state() == dbg::State::Stopped && !AppProbe::building(a); };
    ASSERT_TRUE(choose(3, L10n::tr("menu.step_into")));
    ASSERT_TRUE(pump_until(stopped));
    const int first = m_src->ed.pc_line;
    ASSERT_GE(first, 5);

    auto debug = AppProbe::menu_items(a, 3);
    EXPECT_EQ(debug[0].label, L10n::tr("menu.continue"));
    EXPECT_TRUE(debug[0].enabled);
    EXPECT_TRUE(row(3, L10n::tr("menu.step_out"))->enabled);
    EXPECT_TRUE(row(3, L10n::tr("menu.stop"))->enabled);
    EXPECT_FALSE(row(3, L10n::tr("menu.attach"))->enabled);
    EXPECT_TRUE(row(2, L10n::tr("menu.run"))->enabled) << "a traced program may be run on";

    // Run to cursor from the editor's menu, on the line of "mov edi, 0x1F".
    auto [x, y] = text_point(a, m_src, 8, 5);
    ASSERT_TRUE(context_choose(a, x, y, L10n::tr("menu.run_to_cursor")));
    ASSERT_TRUE(pump_until([&] { return stopped() && m_src->ed.pc_line == 8; }));

    // Run to here from the binary view of the program: the syscall after it.
    Doc* shown = AppProbe::debugged_binary(a);
    ASSERT_NE(shown, nullptr);
    AppProbe::activate(a, shown);
    uint64_t syscall_at = symbols(program()).at("_start") + 7 + 5 + 5 + 5;
    shown->bv.select_row(shown->bv.row_of_addr(syscall_at), true);
    ASSERT_NE(shown->bv.selected_insn(), nullptr);
    AppProbe::bin_context(a, 600, 300);
    int i = row_of(a, L10n::tr("ctx.run_to"));
    ASSERT_GE(i, 0);
    ASSERT_TRUE(AppProbe::click(a, "menu_item", i));
    ASSERT_TRUE(pump_until([&] { return stopped() && p.pc() == syscall_at; }));

    ASSERT_TRUE(choose(3, L10n::tr("menu.stop")));
    EXPECT_TRUE(pump_until([&] { return !p.alive(); }));
    EXPECT_EQ(row(3, L10n::tr("menu.debug"))->enabled, true);
}
