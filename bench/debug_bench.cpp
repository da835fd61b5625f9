// The window's build and debug commands against their peers on equal work:
// a source-line step over a loop of 1,000,000 iterations against the
// engine's own single steps; F7 on the example to its marks against
// "--build" of the same file; 100 MB of program output through the pane,
// with the longest turn (events, output, a painted frame) measured.
#include "app.h"
#include "bench_util.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

struct AppDebugProbe {
    static Doc* source(App& a, const std::string& path, const std::string& text)
    {
        Doc* d = a.new_doc(false);
        d->path = path;
        d->ed.set_text(text);
        d->ed.set_modified(true);
        a.activate(d);
        return d;
    }
    static void build(App& a)
    {
        a.cmd_build({});
        while (a.building()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            a.poll_build();
        }
    }
    static bool stopped(App& a) { return a.m_proc.state() == dbg::State::Stopped && !a.stepping() && !a.building(); }
    static void until_stopped(App& a)
    {
        while (!stopped(a) && a.m_proc.alive() | a.building())
            a.debug_tick();
    }
    static void key(App& a, SDL_Keycode sym)
    {
        SDL_Keysym k{};
        k.sym = sym;
        a.key_down(k);
    }

    static void line_step(const std::string& dir)
    {
        const long n = 1000000;
        App app;
        Doc* d = source(app, dir + "/loop.asm",
                        "section .text\nglobal _start\n_start:\n    mov ecx, " + std::to_string(n)
                            + "\n.l: loop .l\n    mov eax, 60\n    xor edi, edi\n    syscall\n");
        key(app, SDLK_F11);
        until_stopped(app);
        key(app, SDLK_F10);
        until_stopped(app);
        double t0 = bench::now_s();
        key(app, SDLK_F10); // the whole loop is one source line
        until_stopped(app);
        double app_s = bench::now_s() - t0;
        bool ok = d->ed.pc_line == 5;
        app.m_proc.kill();

        // The engine alone: the same single steps, each waited for.
        dbg::Process p;
        std::string err;
        p.start(d->build.output, {}, dir, true, &err);
        std::vector<dbg::Event> ev;
        while (p.state() != dbg::State::Stopped) {
            ev.clear();
            p.wait(&ev, 100);
        }
        p.step();
        ev.clear();
        p.wait(&ev, 1000);
        t0 = bench::now_s();
        for (long i = 0; i < n; ++i) {
            p.step();
            ev.clear();
            while (ev.empty())
                p.wait(&ev, 1000);
        }
        double raw_s = bench::now_s() - t0;
        p.kill();
        printf("line step over %ld iterations: window %.2f s (%.0f steps/s), engine %.2f s (%.0f steps/s), "
               "ratio %.2f (target <= 2.0)%s\n",
               n, app_s, n / app_s, raw_s, n / raw_s, app_s / raw_s, ok ? "" : "  [pc line wrong]");
    }

    static void f7(const std::string& dir)
    {
        std::ifstream in(std::string(QX_SOURCE_DIR) + "/examples/hello.asm");
        std::stringstream ss;
        ss << in.rdbuf();
        std::vector<double> window, cli;
        for (int round = 0; round < 7; ++round) {
            App app;
            Doc* d = source(app, dir + "/hello.asm", ss.str());
            double t0 = bench::now_ms();
            build(app);
            window.push_back(bench::now_ms() - t0);
            if (!d->build.ok || d->ed.code_lines.empty())
                printf("  [build failed]\n");
            t0 = bench::now_ms();
            bench::run_quiet({ QX_EXE, "--build", dir + "/hello.asm" });
            cli.push_back(bench::now_ms() - t0);
        }
        double w = bench::median(window), c = bench::median(cli);
        printf("F7 on the example to marks: %.1f ms, --build %.1f ms (medians of 7), ratio %.2f (target <= 1.5)\n", w,
               c, w / c);
    }

    static void output(const std::string& dir)
    {
        App app;
        // 1600 writes of 64 KiB of 64-byte lines: 100 MiB.
        source(app, dir + "/chatty.asm",
               "section .bss\nbuf resb 65536\nsection .text\nglobal _start\n_start:\n"
               "    lea rdi, [rel buf]\n    mov ecx, 65536\n    mov al, 'x'\n    rep stosb\n"
               "    lea rdi, [rel buf + 63]\n    mov ecx, 1024\n.nl: mov byte [rdi], 10\n    add rdi, 64\n"
               "    loop .nl\n    mov r12d, 1600\n.w: mov eax, 1\n    mov edi, 1\n    lea rsi, [rel buf]\n"
               "    mov edx, 65536\n    syscall\n    dec r12d\n    jnz .w\n"
               "    mov eax, 60\n    xor edi, edi\n    syscall\n");
        build(app);
        app.m_ww = 1280;
        app.m_wh = 800;
        app.m_k = 1;
        app.cmd_run();
        std::vector<double> turns;
        double t0 = bench::now_s();
        while (app.m_proc.alive()) {
            double a = bench::now_ms();
            app.debug_tick();
            app.paint();
            turns.push_back(bench::now_ms() - a);
        }
        double total = bench::now_s() - t0;
        std::sort(turns.begin(), turns.end());
        printf("100 MiB of output through the pane: %.2f s, %zu turns, turn median %.1f ms, p99 %.1f ms, longest "
               "%.1f ms (target <= 50), %zu lines kept\n",
               total, turns.size(), turns[turns.size() / 2], turns[turns.size() * 99 / 100], turns.back(),
               app.m_prog.size());
    }
};

int main()
{
    char tmpl[] = "/tmp/qxdbgbench-XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    std::string dir = tmpl;
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    AppDebugProbe::f7(dir);
    AppDebugProbe::output(dir);
    AppDebugProbe::line_step(dir);
    bench::run_quiet({ "rm", "-rf", dir });
    return 0;
}
