// Building, running, stepping and stopping real NASM programs through the
// application's own commands without a window, the bottom pane's rows, the
// console acting on a live program and on a file, and one debug session
// painted in a real window under Xvfb in both themes.
#include "app.h"
#include "app_probe.h"
#include "testutil.h"
#include "xserver.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
// The X server's GL drivers keep allocations the leak checker cannot even
// name (they are unloaded before it reports); the window's own code paths
// are checked by the tests without a window.
#define QX_WINDOW_DRIVER_ALLOCATIONS __lsan::ScopedDisabler driver_allocations
#define QX_CHILD_LEAK_CHECK "ASAN_OPTIONS=detect_leaks=0"
#else
#define QX_WINDOW_DRIVER_ALLOCATIONS (void)0
#define QX_CHILD_LEAK_CHECK "QX_UNUSED="
#endif

using namespace testutil;

namespace {


// Exits with the code given; line numbers below count from 0.
std::string exit_program(int code)
{
    return "section .text\n"                                      // 0
           "global _start\n"                                      // 1
           "_start:\n"                                            // 2
           "    mov eax, 60\n"                                    // 3
           "    mov edi, " + std::to_string(code) + "\n"          // 4
           "    syscall\n";                                       // 5
}

const char* kHello = "section .data\n"                 // 0
                     "msg db \"Hello, pane!\", 10\n"     // 1
                     "section .text\n"                   // 2
                     "global _start\n"                   // 3
                     "_start:\n"                         // 4
                     "    mov eax, 1\n"                  // 5
                     "    mov edi, 1\n"                  // 6
                     "    lea rsi, [rel msg]\n"          // 7
                     "    mov edx, 13\n"                 // 8
                     "    syscall\n"                     // 9
                     "    mov ecx, 3\n"                  // 10
                     ".l: dec ecx\n"                     // 11
                     "    jnz .l\n"                      // 12
                     "    mov eax, 60\n"                 // 13
                     "    xor edi, edi\n"                // 14
                     "    syscall\n";                    // 15

class AppDebug : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_CONFIG_HOME", m_tmp.path().c_str(), 1);
        if (tc::find_tool("nasm").empty() || tc::find_tool("ld").empty())
            GTEST_SKIP() << "nasm and ld are needed";
    }
    TempDir m_tmp;
};

} // namespace

// The debugging tests' view of the application's inside.
struct AppDebugProbe {
    static Doc* source(App& a, const std::string& path, const std::string& text)
    {
        Doc* d = a.new_doc(false);
        d->path = path;
        d->ed.set_text(text);
        d->ed.set_modified(true); // the build writes it first
        a.activate(d);
        return d;
    }
    // Runs the build and waits for its tools, as the loop would.
    static void build(App& a)
    {
        a.cmd_build({});
        finish_build(a);
    }
    static void finish_build(App& a)
    {
        for (int i = 0; i < 6000 && a.building(); ++i) {
            a.poll_build();
            if (a.building())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // Loop turns until cond holds or about ten seconds passed.
    template <class Cond>
    static bool pump(App& a, Cond cond)
    {
        for (int i = 0; i < 2000; ++i) {
            a.debug_tick();
            if (cond())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    static bool stopped(App& a) { return a.m_proc.state() == dbg::State::Stopped && !a.stepping() && !a.building(); }
    static bool ended(App& a) { return !a.m_proc.alive() && !a.building(); }
    static void key(App& a, SDL_Keycode sym, Uint16 mod = KMOD_NONE)
    {
        SDL_Keysym k{};
        k.sym = sym;
        k.mod = mod;
        a.key_down(k);
    }
    static void caret_to(App& a, int line) { a.m_s->ed.set_view(line, 0, 0); }
    static void paint(App& a, double W, double H) { AppProbe::paint(a, W, H); }
    static std::string console_text(App& a)
    {
        std::string out;
        for (const auto& l : a.m_con.lines())
            out += l.text + "\n";
        return out;
    }
    static int pc_line(App& a) { return a.line_of_addr(a.m_proc.pc()); }
    static void activate_build(App& a, Doc* d)
    {
        a.activate(d);
        build(a);
    }

    static void BuildListsOutputAndMarksEachDiagnosticAtItsOwnLine(const TempDir& m_tmp)
    {
        App app;
        std::string path = m_tmp.file("bad.asm");
        // The same message twice, and one that holds the source path itself.
        Doc* d = AppDebugProbe::source(app, path,
                           "section .text\n"
                           "    bogus1 eax\n"
                           "    nop\n"
                           "    bogus2 eax\n");
        // The tools run off the main thread: the window paints meanwhile.
        app.cmd_build({});
        EXPECT_TRUE(app.building());
        AppDebugProbe::paint(app, 1280, 800);
        AppDebugProbe::finish_build(app);
        EXPECT_FALSE(app.building());
        ASSERT_TRUE(d->have_build);
        EXPECT_FALSE(d->build.ok);
        EXPECT_TRUE(d->ed.marks.count(1) && d->ed.marks.count(3));
        // Each message line leads to the line its own diagnostic names,
        // though both say the same.
        std::vector<int> error_lines;
        for (size_t i = 0; i < app.m_msgs.size(); ++i)
            if (app.m_msgs[i].second == 1 && app.m_msg_line_of[i] > 0) {
                error_lines.push_back(app.m_msg_line_of[i]);
                EXPECT_EQ(app.m_msgs[i].first.rfind("bad.asm:", 0), 0u) << "the path shown by its base name";
            }
        EXPECT_EQ(error_lines, (std::vector<int>{ 2, 4 }));
        EXPECT_EQ(last_of(app.m_msgs).first, "Build failed: 2 errors");
        EXPECT_TRUE(app.m_status_err);
        EXPECT_EQ(d->ed.caret().line, 1) << "the first error";
        EXPECT_EQ(app.m_settings.bottom_tab, 0);

        // The tab label counts the errors; clicking an error line goes there.
        AppDebugProbe::paint(app, 1280, 800);
        const Hit* goto4 = nullptr;
        for (const Hit& h : app.m_hits)
            if (h.id == "msg_line" && h.n == 4)
                goto4 = &h;
        ASSERT_NE(goto4, nullptr);
        EXPECT_EQ(goto4->tip, "Go to the line");
        app.mouse_down(goto4->x + 5, goto4->y + 2, SDL_BUTTON_LEFT, 1);
        EXPECT_EQ(d->ed.caret().line, 3);

        // A message that holds the source path still leads to its line.
        d->ed.set_text("nop\n%error \"" + path + "\"\n");
        d->ed.set_modified(true);
        AppDebugProbe::build(app);
        bool found = false;
        for (size_t i = 0; i < app.m_msgs.size(); ++i)
            if (app.m_msgs[i].first == "bad.asm:2: error: bad.asm") {
                found = true;
                EXPECT_EQ(app.m_msgs[i].second, 1);
                EXPECT_EQ(app.m_msg_line_of[i], 2);
            }
        EXPECT_TRUE(found);
        EXPECT_TRUE(d->ed.marks.count(1));

        // An error on line 3 of an included file is not this file's line 3.
        ASSERT_TRUE(write_file(m_tmp.file("part.inc"), "nop\nnop\nbogus3 eax\n"));
        d->ed.set_text("nop\n%include \"part.inc\"\nnop\nnop\n");
        d->ed.set_modified(true);
        AppDebugProbe::build(app);
        EXPECT_FALSE(d->build.ok);
        EXPECT_TRUE(d->ed.marks.empty());
        EXPECT_EQ(d->ed.caret().line, 0);
        for (size_t i = 0; i < app.m_msgs.size(); ++i)
            EXPECT_EQ(app.m_msg_line_of[i], 0) << app.m_msgs[i].first;

        // A clean build: marks go, the program loads as a hidden binary.
        d->ed.set_text(exit_program(0));
        d->ed.set_modified(true);
        AppDebugProbe::build(app);
        EXPECT_TRUE(d->build.ok);
        EXPECT_TRUE(d->ed.marks.empty());
        EXPECT_EQ(d->ed.code_lines, (std::set<int>{ 3, 4, 5 }));
        EXPECT_EQ(d->build.output, m_tmp.file("bad"));
        EXPECT_EQ(last_of(app.m_msgs).second, 3);
        EXPECT_EQ(app.m_status, "Built: bad");
        Doc* out = app.find_doc(m_tmp.file("bad"), true);
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(out->hidden);
        EXPECT_TRUE(app.build_is_current());
        d->ed.text_input(" ");
        EXPECT_FALSE(app.build_is_current());
    }

    static void OutputNamesFollowTheWindowsRule(const TempDir& m_tmp)
    {
        struct Case {
            std::string file, format, text, output;
        } cases[] = {
            { "prog.asm", "elf64", exit_program(0), "prog" },
            { "rel.2/prog", "elf64", exit_program(0), "rel.2/prog.out" },
            { "boot.bin", "bin", "org 0x7c00\nnop\n", "boot.bin.out" },
            { "dos.asm", "bin", "ORG 100h\nnop\n", "dos.com" },
            { "flat.asm", "auto", "bits 16\nnop\n", "flat.bin" },
        };
        mkdir(m_tmp.file("rel.2").c_str(), 0700);
        for (const Case& c : cases) {
            App app;
            app.m_settings.format = c.format;
            Doc* d = AppDebugProbe::source(app, m_tmp.file(c.file), c.text);
            d->ed.set_modified(true);
            AppDebugProbe::build(app);
            EXPECT_TRUE(d->build.ok) << c.file << "\n" << d->build.log;
            EXPECT_EQ(d->build.output, m_tmp.file(c.output)) << c.file;
        }
    }

    static void UntitledDocumentsBuildTheirOwnPrograms(const TempDir&)
    {
        App app;
        Doc* a = AppDebugProbe::source(app, "", exit_program(3));
        Doc* b = AppDebugProbe::source(app, "", exit_program(4));
        AppDebugProbe::activate_build(app, a);
        AppDebugProbe::activate_build(app, b);
        EXPECT_NE(a->build.output, b->build.output);
        EXPECT_EQ(base_name(a->build.output), "untitled");
        app.activate(a);
        app.cmd_run();
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::ended(app); }));
        EXPECT_EQ(last_of(app.m_prog).first, "Program ended with exit code 3");
        // Marks apply to diagnostics of untitled.asm.
        a->ed.set_text("section .text\n    bogus2\n");
        a->ed.set_modified(true);
        AppDebugProbe::activate_build(app, a);
        EXPECT_TRUE(a->ed.marks.count(1));
    }

    static void ASourceThatCannotBeWrittenIsNotBuilt(const TempDir&)
    {
        App app;
        Doc* d = AppDebugProbe::source(app, "", exit_program(0));
        std::string src = app.untitled_source(d);
        ASSERT_FALSE(src.empty());
        unlink(src.c_str()); // an earlier test's build
        ASSERT_EQ(mkdir(src.c_str(), 0700), 0);
        app.cmd_build({});
        EXPECT_FALSE(app.building());
        EXPECT_FALSE(d->have_build);
        EXPECT_TRUE(app.m_status_err);
        EXPECT_EQ(app.m_status, "Cannot save " + src);
        rmdir(src.c_str());
    }

    static void DebugBreakStepAndEnd(const TempDir& m_tmp)
    {
        App app;
        Doc* d = AppDebugProbe::source(app, m_tmp.file("hello.asm"), kHello);
        AppDebugProbe::caret_to(app, 10);
        AppDebugProbe::key(app, SDLK_F9);
        EXPECT_TRUE(d->ed.breakpoints.count(10));

        AppDebugProbe::key(app, SDLK_F5); // builds, then starts at the entry
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        EXPECT_EQ(app.m_status.rfind("Stopped at the program entry", 0), 0u) << app.m_status;
        EXPECT_EQ(d->ed.pc_line, 5);
        EXPECT_EQ(app.m_settings.bottom_tab, 2);

        AppDebugProbe::key(app, SDLK_F5); // on to the breakpoint
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        EXPECT_EQ(app.m_status.rfind("Stopped at a breakpoint", 0), 0u) << app.m_status;
        EXPECT_EQ(d->ed.pc_line, 10);
        ASSERT_FALSE(app.m_prog.empty());
        EXPECT_EQ(app.m_prog[0].second, 5);
        EXPECT_EQ(app.m_prog[1].first, "Hello, pane!");
        EXPECT_NE(AppDebugProbe::console_text(app).find("Hello, pane!"), std::string::npos);

        // A source-line step over the counting loop: one line per key.
        AppDebugProbe::key(app, SDLK_F10);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        EXPECT_EQ(d->ed.pc_line, 11);
        AppDebugProbe::key(app, SDLK_F10);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        EXPECT_EQ(d->ed.pc_line, 12);
        EXPECT_FALSE(app.m_fx.line_effects.empty()) << "each step records its effect";

        // The notes at the ends of lines: operand values at the pc, the
        // recorded effect on a stepped line; the program's binary view is the
        // live one and stands at the pc.
        int kind = 0;
        EXPECT_EQ(d->ed.note(12, &kind), app.operand_values(app.m_proc.pc()));
        EXPECT_EQ(kind, 1);
        kind = 0;
        int stepped = app.m_fx.line_effects.begin()->first;
        if (stepped != 12) {
            EXPECT_EQ(d->ed.note(stepped, &kind), app.m_fx.line_effects.begin()->second);
            EXPECT_EQ(kind, 2);
        }
        ASSERT_NE(app.m_dbin, nullptr);
        EXPECT_TRUE(app.m_dbin->bv.m_target);
        EXPECT_TRUE(app.m_dbin->bv.live());
        const BinView::Row* at_pc = app.m_dbin->bv.row(app.m_dbin->bv.m_sel);
        ASSERT_NE(at_pc, nullptr);
        EXPECT_EQ(app.m_dbin->bv.row_addr(app.m_dbin->bv.m_sel), app.m_proc.pc());

        // The run ends while another source is in front: the marker of the
        // debugged one goes.
        Doc* other = AppDebugProbe::source(app, m_tmp.file("other.asm"), exit_program(0));
        app.activate(d);
        AppDebugProbe::caret_to(app, 14);
        AppDebugProbe::key(app, SDLK_F4); // run to cursor
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        EXPECT_EQ(d->ed.pc_line, 14);
        // The notes of the steps before belong to their stops, not to this one.
        kind = 0;
        EXPECT_EQ(d->ed.note(stepped, &kind), "");
        EXPECT_TRUE(app.m_fx.line_effects.empty());
        app.m_s = other;
        app.m_dsrc = d;
        app.m_proc.cont();
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::ended(app); }));
        EXPECT_EQ(d->ed.pc_line, -1);
        EXPECT_FALSE(app.m_dbin->bv.live());
        kind = 0;
        EXPECT_EQ(d->ed.note(12, &kind), "") << "no notes once the program has ended";
        EXPECT_EQ(last_of(app.m_prog).first, "Program ended with exit code 0");
        EXPECT_EQ(last_of(app.m_prog).second, 3);
    }

    static void RunToCursorWithoutCodeRefuses(const TempDir& m_tmp)
    {
        App app;
        Doc* d = AppDebugProbe::source(app, m_tmp.file("hello.asm"), kHello);
        AppDebugProbe::key(app, SDLK_F11);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        uint64_t pc = app.m_proc.pc();
        AppDebugProbe::caret_to(app, 3); // "global _start": no code
        AppDebugProbe::key(app, SDLK_F4);
        EXPECT_TRUE(app.m_status_err);
        EXPECT_EQ(app.m_status, "No code on this line.");
        EXPECT_EQ(app.m_proc.state(), dbg::State::Stopped);
        EXPECT_EQ(app.m_proc.pc(), pc);
        (void)d;
        // In the program's binary view F4 runs to the selected row.
        uint64_t to = 0;
        ASSERT_TRUE(app.addr_of_line(14, &to));
        ASSERT_NE(app.m_dbin, nullptr);
        app.m_settings.main_tab = 1;
        app.m_b = app.m_dbin;
        app.m_dbin->bv.goto_addr(to);
        ASSERT_EQ(app.m_dbin->bv.selected_addr(), to);
        AppDebugProbe::key(app, SDLK_F4);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        EXPECT_EQ(app.m_proc.pc(), to) << app.m_status;
        AppDebugProbe::key(app, SDLK_F5, KMOD_LSHIFT);
        EXPECT_FALSE(app.m_proc.alive());
        EXPECT_EQ(last_of(app.m_prog).first, "Program stopped.");
    }

    // F11 into a function, F11 over its push rbp, Shift+F11: the program
    // stops behind the call with the result, it does not run to its end.
    static void StepOutPastThePushStopsBehindTheCall(const TempDir& m_tmp)
    {
        App app;
        Doc* d = AppDebugProbe::source(app, m_tmp.file("square.asm"),
                           "section .text\n"
                           "global _start\n"
                           "_start:\n"
                           "    mov edi, 5\n"      // 3
                           "    call square\n"     // 4
                           "    mov edi, eax\n"    // 5
                           "    mov eax, 60\n"
                           "    syscall\n"
                           "square:\n"
                           "    push rbp\n"        // 9
                           "    mov rbp, rsp\n"    // 10
                           "    mov eax, edi\n"
                           "    imul eax, edi\n"
                           "    pop rbp\n"
                           "    ret\n");
        for (int line : { 3, 4, 9, 10 }) {
            AppDebugProbe::key(app, SDLK_F11);
            ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); })) << line;
            ASSERT_EQ(d->ed.pc_line, line);
        }
        AppDebugProbe::key(app, SDLK_F11, KMOD_LSHIFT);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app) || AppDebugProbe::ended(app); }));
        ASSERT_TRUE(app.m_proc.alive()) << app.m_status;
        EXPECT_EQ(d->ed.pc_line, 5);
        uint64_t rax = 0;
        EXPECT_TRUE(app.m_proc.reg("rax", &rax));
        EXPECT_EQ(rax, 25u);
        AppDebugProbe::key(app, SDLK_F5, KMOD_LSHIFT);
    }

    static void LongLineStepRunsInBatchesAndStopEndsIt(const TempDir& m_tmp)
    {
        App app;
        Doc* d = AppDebugProbe::source(app, m_tmp.file("spin.asm"),
                           "section .text\n"
                           "global _start\n"
                           "_start:\n"
                           "    mov ecx, 20000\n"             // 3
                           ".a: loop .a\n"                      // 4
                           "    mov ecx, 100000000\n"         // 5
                           ".b: loop .b\n"                      // 6
                           "    mov eax, 60\n"                  // 7
                           "    xor edi, edi\n"
                           "    syscall\n");
        AppDebugProbe::key(app, SDLK_F11);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        AppDebugProbe::key(app, SDLK_F10);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        ASSERT_EQ(d->ed.pc_line, 4);
        // 20000 steps on one line finish within a few turns.
        AppDebugProbe::key(app, SDLK_F10);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        EXPECT_EQ(d->ed.pc_line, 5);
        AppDebugProbe::key(app, SDLK_F10);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        ASSERT_EQ(d->ed.pc_line, 6);

        // A hundred million: the step goes on turn after turn, says so, and
        // Shift+F5 ends it where it is without ending the program.
        AppDebugProbe::key(app, SDLK_F10);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return app.m_status == "Running…"; }));
        EXPECT_TRUE(app.stepping());
        EXPECT_LE(app.debug_wait_ms(100), 1);
        AppDebugProbe::key(app, SDLK_F5, KMOD_LSHIFT);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        EXPECT_TRUE(app.m_proc.alive());
        EXPECT_EQ(d->ed.pc_line, 6);
        AppDebugProbe::key(app, SDLK_F5, KMOD_LSHIFT);
        EXPECT_FALSE(app.m_proc.alive());
    }

    static void PositionIndependentBreakpointsKeepFileAddresses(const TempDir& m_tmp)
    {
        if (tc::find_tool("gcc").empty() && tc::find_tool("cc").empty())
            GTEST_SKIP() << "no C compiler";
        App app;
        Doc* d = AppDebugProbe::source(app, m_tmp.file("pie.asm"),
                           "section .text\n"
                           "global main\n"
                           "main:\n"
                           "    mov eax, 7\n"       // 3
                           "    add eax, 1\n"       // 4
                           "    xor eax, eax\n"     // 5
                           "    ret\n");
        d->link.crt = true;
        d->link.extra = "-pie"; // after the driver's own -no-pie
        AppDebugProbe::caret_to(app, 4);
        AppDebugProbe::key(app, SDLK_F9);
        AppDebugProbe::key(app, SDLK_F5);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); })) << d->build.log;
        ASSERT_NE(app.m_proc.load_bias(), 0u) << "the C compiler builds position-independent programs";
        AppDebugProbe::key(app, SDLK_F5);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        EXPECT_EQ(app.m_status.rfind("Stopped at a breakpoint", 0), 0u) << app.m_status;
        uint64_t pc = app.m_proc.pc();
        EXPECT_EQ(AppDebugProbe::pc_line(app), 4);
        uint64_t a = 0;
        ASSERT_TRUE(app.addr_of_line(4, &a));
        EXPECT_EQ(a, pc) << "line and address agree both ways";

        // The console speaks run-time addresses, the document keeps file ones.
        uint64_t file_pc = pc - app.m_proc.load_bias();
        app.toggle_bp(pc + 5, true);
        EXPECT_TRUE(app.m_dbin->bps.count(file_pc + 5));
        auto listed = app.bps();
        EXPECT_NE(std::find(listed.begin(), listed.end(), pc + 5), listed.end());
        EXPECT_TRUE(app.m_proc.has_bp(pc + 5));
        uint64_t sym = 0;
        ASSERT_TRUE(app.symbol("main", &sym));
        EXPECT_GE(sym, app.m_proc.load_bias());
        EXPECT_EQ(app.symbol_at(sym), "main");
        EXPECT_EQ(app.symbol_at(0x10), "");
        app.cmd_stop();
        // Without a program the same breakpoint reads as the file address.
        listed = app.bps();
        EXPECT_NE(std::find(listed.begin(), listed.end(), file_pc + 5), listed.end());
    }

    static void ConsoleTracesALiveProgramAndReadsAFile(const TempDir& m_tmp)
    {
        App app;
        AppDebugProbe::source(app, m_tmp.file("hello.asm"), kHello);
        EXPECT_FALSE(app.has_target());
        std::string msg;
        EXPECT_FALSE(app.write_file("", &msg));
        EXPECT_EQ(msg, "Nothing loaded — build a program or open a binary.");

        app.m_con.exec("t");
        EXPECT_NE(AppDebugProbe::console_text(app).find("Nothing loaded"), std::string::npos);
        AppDebugProbe::key(app, SDLK_F11);
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        size_t before = app.m_con.lines().size();
        // Three traced steps print three register displays and stop once.
        app.run_script("t 3");
        ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
        std::string text;
        for (size_t i = before; i < app.m_con.lines().size(); ++i)
            text += app.m_con.lines()[i].text + "\n";
        size_t displays = 0;
        for (size_t at = text.find("RIP="); at != std::string::npos; at = text.find("RIP=", at + 1))
            ++displays;
        EXPECT_EQ(displays, 3u) << text;
        EXPECT_EQ(app.m_proc.pc(), app.m_proc.entry() + 5 + 5 + 7) << "three instructions on";

        // A register changed from the console does not show as changed.
        app.run_script("r rax 1234");
        EXPECT_EQ(app.m_snap.regs_now.at("rax"), 0x1234u);
        EXPECT_EQ(app.m_snap.prev_regs.at("rax"), 0x1234u);
        app.cmd_stop();

        // Without a program the console reads the built file's image; a read
        // past the mapped bytes is short.
        EXPECT_TRUE(app.has_target());
        const BinImage& img = app.m_b->img;
        uint64_t end_addr = 0;
        for (const auto& s : img.m_sections)
            if (s.size > 0 && s.addr + s.size > end_addr && s.addr != 0)
                end_addr = s.addr + s.size;
        ASSERT_NE(end_addr, 0u);
        uint8_t buf[16];
        EXPECT_EQ(app.read(end_addr - 5, buf, 16), 5u);
        EXPECT_EQ(app.here(), img.m_entry);
    }

    static void ConsoleScriptGoldenOnALiveProgram(const TempDir& m_tmp)
    {
        // Commands given at start act on the shown source, built and
        // stopped at its entry; the echo, the RIP rows and the current
        // instruction rows are fixed by the program (the rest holds stack
        // addresses that depend on the environment).
        App app;
        AppDebugProbe::source(app, m_tmp.file("hello.asm"), kHello);
        app.run_script("r;t;r");
        std::vector<std::string> got;
        for (const auto& l : app.m_con.lines())
            if (l.kind == Console::kEcho || l.text.rfind("RIP=", 0) == 0 || l.text.rfind("00401", 0) == 0)
                got.push_back(l.text);
        const std::vector<std::string> golden = {
            // the stop at the entry shows the state once by itself
            "RIP=0000000000401000  ",
            "00401000  B801000000            mov eax, 0x1    ; _start",
            "-r",
            "RIP=0000000000401000  ",
            "00401000  B801000000            mov eax, 0x1    ; _start",
            "-t",
            "RIP=0000000000401005  ",
            "00401005  BF01000000            mov edi, 0x1",
            "-r",
            "RIP=0000000000401005  ",
            "00401005  BF01000000            mov edi, 0x1",
        };
        EXPECT_EQ(got, golden);
        EXPECT_EQ(app.m_settings.bottom_tab, 2);
    }

    // Formats Linux cannot run are refused with a message; an edited
    // binary starts only after the user agreed to save it first.
    static void BinariesThatCannotRunOrAreEditedAsk(const TempDir& m_tmp)
    {
        App app;
        std::string raw = m_tmp.file("boot.bin");
        ASSERT_EQ(sh("printf '\\353\\376' > " + raw).code, 0);
        ASSERT_TRUE(app.load_binary(raw, false, false));
        key(app, SDLK_F5);
        EXPECT_EQ(app.m_modal, App::Modal::Message);
        EXPECT_EQ(app.m_dlg_title, "Cannot run this format");
        EXPECT_FALSE(app.m_proc.alive());
        app.close_modal();

        Doc* d = AppDebugProbe::source(app, m_tmp.file("exit.asm"), exit_program(5));
        AppDebugProbe::activate_build(app, d);
        ASSERT_TRUE(d->build.ok) << d->build.log;
        std::string exe = m_tmp.file("exit-copy");
        ASSERT_EQ(sh("cp " + d->build.output + " " + exe).code, 0);
        ASSERT_TRUE(app.load_binary(exe, false, false));
        Doc* bin = app.find_doc(exe, true);
        ASSERT_NE(bin, nullptr);
        bin->img.m_dirty = true;
        key(app, SDLK_F5, KMOD_LCTRL);
        ASSERT_EQ(app.m_modal, App::Modal::Confirm);
        EXPECT_FALSE(app.m_proc.alive()) << "nothing starts before the answer";
        ASSERT_EQ(app.m_dlg_buttons.size(), 2u);
        EXPECT_EQ(app.m_dlg_buttons[0].label, "Save and start");
        app.run_button(1); // Cancel
        EXPECT_FALSE(app.m_proc.alive());
        key(app, SDLK_F5, KMOD_LCTRL);
        ASSERT_EQ(app.m_modal, App::Modal::Confirm);
        app.run_button(0); // Save and start
        EXPECT_FALSE(bin->img.m_dirty) << "saved before it started";
        ASSERT_TRUE(pump(app, [&] { return ended(app); }));
        EXPECT_EQ(last_of(app.m_prog).first, "Program ended with exit code 5");
    }

    static void InputReachesTheProgramAndABinaryTabRuns(const TempDir& m_tmp)
    {
        App app;
        Doc* d = AppDebugProbe::source(app, m_tmp.file("echo.asm"),
                                       "section .bss\nbuf resb 64\nsection .text\nglobal _start\n_start:\n"
                                       "    xor eax, eax\n    xor edi, edi\n    lea rsi, [rel buf]\n"
                                       "    mov edx, 64\n    syscall\n    mov edx, eax\n    mov eax, 1\n"
                                       "    mov edi, 1\n    syscall\n    mov eax, 60\n    xor edi, edi\n"
                                       "    syscall\n");
        key(app, SDLK_F5, KMOD_LCTRL); // run without the debugger
        ASSERT_TRUE(pump(app, [&] { return app.m_proc.state() == dbg::State::Running; }));
        EXPECT_EQ(app.m_focus, App::Focus::ProgIn);
        EXPECT_EQ(app.m_settings.bottom_tab, 1);
        app.text_input("typed");
        key(app, SDLK_RETURN);
        ASSERT_TRUE(pump(app, [&] { return ended(app); }));
        ASSERT_GE(app.m_prog.size(), 3u);
        EXPECT_EQ(app.m_prog[1].first, "typed");
        EXPECT_EQ(last_of(app.m_prog).first, "Program ended with exit code 0");

        // Another program opened in a tab of its own starts from there,
        // without the source's lines.
        std::string exe = m_tmp.file("copy");
        ASSERT_EQ(sh("cp " + d->build.output + " " + exe).code, 0);
        ASSERT_TRUE(app.load_binary(exe, false, false));
        Doc* bin = app.find_doc(exe, true);
        ASSERT_NE(bin, nullptr);
        EXPECT_EQ(app.m_settings.main_tab, 1);
        key(app, SDLK_F5);
        ASSERT_TRUE(pump(app, [&] { return stopped(app); }));
        EXPECT_EQ(app.m_dsrc, nullptr);
        EXPECT_EQ(app.m_dbin, bin);
        EXPECT_FALSE(app.m_debug_src);
        EXPECT_EQ(app.m_proc.pc(), bin->img.m_entry);

        // Without a binary document of its own (its load failed) the
        // debugger's commands, the console and Stop still work.
        app.m_dbin = nullptr;
        app.m_con.exec("bp " + std::to_string(0));
        app.m_con.exec("bl");
        key(app, SDLK_F11);
        ASSERT_TRUE(pump(app, [&] { return stopped(app); }));
        key(app, SDLK_F5, KMOD_LSHIFT);
        EXPECT_FALSE(app.m_proc.alive());
        EXPECT_EQ(last_of(app.m_prog).first, "Program stopped.");
    }

    static void OutputIsCappedWrappedAndEscaped()
    {
        App app;
        app.add_output(std::string(5000, 'x'));
        EXPECT_LE(app.m_prog_partial.size(), 2000u);
        EXPECT_EQ(app.m_prog.size(), 2u);
        app.add_output("\n\xFF ok \xC3\xA4\x01\n");
        EXPECT_EQ(last_of(app.m_prog).first, "\\xFF ok \xC3\xA4\\x01");
        for (int i = 0; i < 20001; ++i)
            app.add_output("line\n");
        EXPECT_LE(app.m_prog.size(), 20000u);
        EXPECT_GE(app.m_prog.size(), 15000u);

        // Only the rows that show are painted; the view follows the end.
        app.m_settings.bottom_tab = 1;
        app.add_output("y");
        AppDebugProbe::paint(app, 1280, 800);
        int short_top = app.m_prog_top;
        EXPECT_TRUE(app.m_prog_follow);
        EXPECT_LT(short_top, int(app.m_prog.size()));
        app.add_output(std::string(600, 'y'));
        AppDebugProbe::paint(app, 1280, 800);
        EXPECT_TRUE(app.m_prog_follow);
        EXPECT_GE(app.m_prog_top, short_top + 2) << "the wrapped partial line takes several rows";
        const Hit* in = nullptr;
        for (const Hit& h : app.m_hits)
            if (h.id == "prog_in")
                in = &h;
        ASSERT_NE(in, nullptr);
        // Scrolling up stops following; the wheel over the pane moves it.
        int top = app.m_prog_top;
        app.wheel(in->x + 20, in->y - 40, 2);
        EXPECT_FALSE(app.m_prog_follow);
        AppDebugProbe::paint(app, 1280, 800);
        EXPECT_EQ(app.m_prog_top, top - 6);
    }

    static void OnlyTheShownRowsAreAskedFor()
    {
        App app;
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 400, 200);
        cairo_t* cr = cairo_create(s);
        std::string row = "row";
        size_t asked = 0;
        App::PaneLines pl;
        pl.count = 100000;
        pl.text = [&](size_t) -> const std::string& {
            ++asked;
            return row;
        };
        pl.kind = [](size_t) { return 0; };
        int top = 0;
        bool follow = true;
        app.paint_lines(cr, 0, 0, 400, 200, pl, top, follow, "pane_prog");
        EXPECT_GT(top, 99980);
        EXPECT_GT(asked, 0u);
        EXPECT_LT(asked, 30u);
        cairo_destroy(cr);
        cairo_surface_destroy(s);
    }

    static void HeaderTabsAndInputRows()
    {
        App app;
        AppDebugProbe::paint(app, 1280, 800);
        std::vector<Hit> tabs;
        for (const Hit& h : app.m_hits)
            if (h.id == "tab_bottom")
                tabs.push_back(h);
        ASSERT_EQ(tabs.size(), 3u);
        EXPECT_EQ(tabs[0].x, 6);
        EXPECT_EQ(tabs[1].x, tabs[0].x + tabs[0].w + 2);
        app.mouse_down(tabs[2].x + 3, tabs[2].y + 15, SDL_BUTTON_LEFT, 1);
        EXPECT_EQ(app.m_settings.bottom_tab, 2);
        AppDebugProbe::paint(app, 1280, 800);
        const Hit* con = nullptr;
        for (const Hit& h : app.m_hits)
            if (h.id == "con_in")
                con = &h;
        ASSERT_NE(con, nullptr);
        app.mouse_down(con->x + 30, con->y + 5, SDL_BUTTON_LEFT, 1);
        EXPECT_EQ(app.m_focus, App::Focus::ConIn);
        app.text_input("?");
        AppDebugProbe::key(app, SDLK_RETURN);
        EXPECT_NE(AppDebugProbe::console_text(app).find("-?\n"), std::string::npos) << AppDebugProbe::console_text(app);
        EXPECT_TRUE(app.m_con_in.text.empty());
    }

    static void DebugSessionInAWindowInBothThemes(const TempDir& m_tmp)
    {
        XServer x;
        if (!x.start("1280x800x24"))
            GTEST_SKIP() << "Xvfb could not be started";
        std::string old_display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
        setenv("DISPLAY", x.display().c_str(), 1);
        unsetenv("SDL_VIDEODRIVER");
        QX_WINDOW_DRIVER_ALLOCATIONS;
        for (bool dark : { false, true }) {
            App app;
            ASSERT_TRUE(app.init_window());
            app.m_system_dark = dark;
            app.update_theme();
            Doc* d = AppDebugProbe::source(app, m_tmp.file("hello.asm"), kHello);
            AppDebugProbe::caret_to(app, 11);
            AppDebugProbe::key(app, SDLK_F9);
            AppDebugProbe::key(app, SDLK_F5);
            ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
            AppDebugProbe::key(app, SDLK_F5);
            ASSERT_TRUE(AppDebugProbe::pump(app, [&] { return AppDebugProbe::stopped(app); }));
            ASSERT_EQ(d->ed.pc_line, 11);
            app.run_script("r");
            app.screenshot = m_tmp.file(dark ? "debug-dark.png" : "debug-light.png");
            app.paint();
            ASSERT_TRUE(app.write_screenshot());
            if (const char* keep = getenv("QXASM_KEEP_SHOTS"))
                sh("cp " + app.screenshot + " " + std::string(keep) + "/");
            app.m_proc.kill();
            app.shutdown_window();
        }
        if (!old_display.empty())
            setenv("DISPLAY", old_display.c_str(), 1);
    }

    static void ConsoleOptionEndToEndUnderXvfb(const TempDir& m_tmp)
    {
        XServer x;
        if (!x.start("1280x800x24"))
            GTEST_SKIP() << "Xvfb could not be started";
        std::string png = m_tmp.file("console.png");
        std::string src = m_tmp.file("hello.asm");
        ASSERT_TRUE(write_file(src, read_file(source_dir() + "/examples/hello.asm")));
        auto r = run_exe({ "--console", "r;t;r", "--screenshot", png, src },
                         { "DISPLAY=" + x.display(), "XDG_CONFIG_HOME=" + m_tmp.path(), "SDL_VIDEODRIVER=",
                           "DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=", QX_CHILD_LEAK_CHECK });
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(file_exists(png));
        EXPECT_TRUE(file_exists(m_tmp.file("hello"))) << "the example was built to be traced";
        if (const char* keep = getenv("QXASM_KEEP_SHOTS"))
            sh("cp " + png + " " + std::string(keep) + "/");
    }
};

// Each test's body is a member of the probe, which may look inside App.
#define DEBUG_TEST(name)                                                                                              \
    TEST_F(AppDebug, name) { AppDebugProbe::name(m_tmp); }
#define PANE_TEST(name)                                                                                               \
    TEST(AppDebugPane, name) { AppDebugProbe::name(); }

DEBUG_TEST(BuildListsOutputAndMarksEachDiagnosticAtItsOwnLine)
DEBUG_TEST(OutputNamesFollowTheWindowsRule)
DEBUG_TEST(UntitledDocumentsBuildTheirOwnPrograms)
DEBUG_TEST(ASourceThatCannotBeWrittenIsNotBuilt)
DEBUG_TEST(DebugBreakStepAndEnd)
DEBUG_TEST(RunToCursorWithoutCodeRefuses)
DEBUG_TEST(StepOutPastThePushStopsBehindTheCall)
DEBUG_TEST(LongLineStepRunsInBatchesAndStopEndsIt)
DEBUG_TEST(PositionIndependentBreakpointsKeepFileAddresses)
DEBUG_TEST(ConsoleTracesALiveProgramAndReadsAFile)
DEBUG_TEST(ConsoleScriptGoldenOnALiveProgram)
DEBUG_TEST(InputReachesTheProgramAndABinaryTabRuns)
DEBUG_TEST(BinariesThatCannotRunOrAreEditedAsk)
PANE_TEST(OutputIsCappedWrappedAndEscaped)
PANE_TEST(OnlyTheShownRowsAreAskedFor)
PANE_TEST(HeaderTabsAndInputRows)
DEBUG_TEST(DebugSessionInAWindowInBothThemes)
DEBUG_TEST(ConsoleOptionEndToEndUnderXvfb)
