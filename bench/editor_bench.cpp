// Editor speed and undo memory on a generated 100,000-line NASM file, next to
// a peer that keeps whole-text copies as undo snapshots (equal work: the same
// edits on the same text), and what a 50 MB source costs.
//
// Usage: editor_bench [megabytes for the large source, default 50]
// Exit code 0 when every target on the 100,000-line file is met, 1 otherwise.
#include "bench_util.h"
#include "editor.h"

#include <SDL.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::string make_source(size_t lines)
{
    static const char* body[] = {
        "    mov rax, [rbx+8]        ; load the next pointer",
        "    add ecx, 1",
        "    cmp rdx, 0x1F",
        "    jz short .done",
        "    lea rsi, [rel msg]",
        "    call near helper",
        "    push strict dword 5",
        "    db 'some text', 10, 0",
    };
    std::string s;
    s.reserve(lines * 30);
    std::mt19937 rng(7);
    int fn = 0;
    for (size_t i = 0; i < lines; ++i) {
        if (i % 40 == 0)
            s += "func" + std::to_string(fn++) + ":\n";
        else if (i % 10 == 0)
            s += ".l" + std::to_string(i % 40) + ":\n";
        else
            s += std::string(body[rng() % 8]) + "\n";
    }
    return s;
}

size_t heap_bytes() { return mallinfo2().uordblks; }

// Microseconds per call: median of rounds of reps calls.
double time_us(int rounds, int reps, const std::function<void()>& fn)
{
    std::vector<double> v;
    for (int r = 0; r < rounds; ++r) {
        double t0 = bench::now_s();
        for (int i = 0; i < reps; ++i)
            fn();
        v.push_back((bench::now_s() - t0) * 1e6 / reps);
    }
    return bench::median(v);
}

struct Check {
    int failed = 0;
    void row(const char* what, double value, const char* unit, double limit)
    {
        bool ok = value <= limit;
        if (!ok)
            ++failed;
        printf("  %-44s %10.3f %-3s (target <= %g) %s\n", what, value, unit, limit, ok ? "ok" : "MISSED");
    }
};

// The peer: whole-text snapshots, as a plain vector of strings.
struct Peer {
    std::vector<std::string> lines;
    std::vector<std::vector<std::string>> undo;
    void load(const std::string& t)
    {
        lines.clear();
        size_t a = 0;
        for (;;) {
            size_t b = t.find('\n', a);
            lines.push_back(t.substr(a, b == std::string::npos ? std::string::npos : b - a));
            if (b == std::string::npos)
                break;
            a = b + 1;
        }
    }
    void enter(int line)
    {
        undo.push_back(lines);
        if (undo.size() > 400)
            undo.erase(undo.begin());
        lines.insert(lines.begin() + line + 1, std::string());
    }
};

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    const double big_mb = argc > 1 ? atof(argv[1]) : 50;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        fprintf(stderr, "SDL: %s (clipboard commands will not copy)\n", SDL_GetError());

    const std::string src = make_source(100000);
    printf("editor on a generated NASM file: 100000 lines, %.2f MB\n", double(src.size()) / 1e6);
    Check c;
    uint32_t clock_ms = 1;
    auto fresh = [&](Editor& e) {
        e.set_clock([&] { return clock_ms; });
        e.set_text(src);
    };
    std::mt19937 rng(1);
    auto any_line = [&](const Editor& e) { return int(rng() % unsigned(e.line_count() - 1)); };

    {
        // Loading into a new document's editor; the editors are destroyed
        // outside the timed part.
        std::vector<double> load;
        for (int r = 0; r < 41; ++r) {
            auto e = std::make_unique<Editor>();
            double t0 = bench::now_ms();
            e->set_text(src);
            load.push_back(bench::now_ms() - t0);
        }
        c.row("set_text into a new editor", bench::median(load), "ms", 5);
        std::vector<double> peer;
        for (int r = 0; r < 41; ++r) {
            auto p = std::make_unique<Peer>();
            double t0 = bench::now_ms();
            p->load(src);
            peer.push_back(bench::now_ms() - t0);
        }
        printf("  %-44s %10.3f ms (the same lines as a plain vector of strings)\n", "peer: loading",
               bench::median(peer));
        Editor e;
        fresh(e);
        printf("  %-44s %10.3f ms (also frees the old text)\n", "set_text replacing a text",
               time_us(11, 1, [&] { e.set_text(src); }) / 1000);
    }
    {
        Editor e;
        fresh(e);
        // Groups of 20 characters at random places; each group starts with a
        // pushed snapshot and copies the chunk it types into.
        int n = 0;
        c.row("typed character (group of 20)", time_us(5, 2000, [&] {
                  if (n++ % 20 == 0) {
                      clock_ms += 2000;
                      e.move_caret({ any_line(e), 4 }, false);
                  }
                  e.text_input("x");
              }), "us", 50);
    }
    {
        Editor e;
        fresh(e);
        SDL_SetClipboardText("    mov eax, 1\n    mov ebx, 2\n    int 0x80\n");
        struct Edit {
            const char* name;
            std::function<void()> fn;
        } edits[] = {
            { "structural edit: Enter", [&] { e.move_caret({ any_line(e), 6 }, false); e.newline(); } },
            { "structural edit: paste of 3 lines", [&] { e.move_caret({ any_line(e), 0 }, false); e.paste(); } },
            { "structural edit: cut of a line", [&] { e.move_caret({ any_line(e), 2 }, false); e.cut(); } },
            { "structural edit: Tab over 3 lines (indent)", [&] {
                  int l = any_line(e);
                  e.move_caret({ l, 0 }, false);
                  e.move_caret({ l + 3, 0 }, true);
                  e.indent(false);
              } },
        };
        for (auto& ed : edits)
            c.row(ed.name, time_us(5, 200, ed.fn) / 1000, "ms", 1);
        c.row("undo", time_us(5, 100, [&] { e.undo(); }) / 1000, "ms", 1);
        c.row("redo", time_us(5, 100, [&] { e.redo(); }) / 1000, "ms", 1);

        e.labels();
        c.row("labels() unchanged", time_us(5, 1000, [&] { e.labels(); }), "us", 100);
        printf("  %-44s %10.3f ms (after one typed key: only the edited chunk is re-read)\n",
               "labels() after a typed key", time_us(5, 20, [&] {
                   e.move_caret({ any_line(e), 4 }, false);
                   e.text_input("x");
                   e.labels();
               }) / 1000);
        c.row("find without a hit", time_us(5, 3, [&] { e.find("no such text", true, true); }) / 1000, "ms", 10);
    }
    {
        Editor e;
        fresh(e);
        const size_t before = heap_bytes();
        for (int i = 0; i < 400; ++i) {
            e.move_caret({ any_line(e), 6 }, false);
            e.newline();
        }
        const double undo_mb = double(heap_bytes() - before) / 1e6;
        c.row("undo memory after 400 Enter edits", undo_mb, "MB", 2 * double(src.size()) / 1e6);

        Peer p;
        p.load(src);
        const size_t pb = heap_bytes();
        double t0 = bench::now_s();
        // 40 steps only: the peer's 400 would take some 2.5 GB.
        for (int i = 0; i < 40; ++i)
            p.enter(int(rng() % 90000));
        double per = (bench::now_s() - t0) * 1000 / 40;
        printf("  peer (whole-text snapshots): %.3f ms per Enter, %.1f MB after 40 edits\n", per,
               double(heap_bytes() - pb) / 1e6);
    }

    // A large source, such as a disassembled big program.
    const size_t big_lines = size_t(big_mb * 1e6 / (double(src.size()) / 100000));
    const std::string big = make_source(big_lines);
    printf("large source: %zu lines, %.1f MB\n", big_lines, double(big.size()) / 1e6);
    {
        const size_t h0 = heap_bytes();
        Editor e;
        e.set_clock([&] { return clock_ms; });
        double t0 = bench::now_ms();
        e.set_text(big);
        printf("  set_text %.1f ms, text held in %.1f MB\n", bench::now_ms() - t0,
               double(heap_bytes() - h0) / 1e6);
        // Each figure in its own statement: printf's arguments would run in
        // no fixed order.
        const double typed = time_us(3, 200, [&] { clock_ms += 5; e.text_input("x"); });
        const double enter = time_us(3, 50, [&] { e.move_caret({ any_line(e), 3 }, false); e.newline(); }) / 1000;
        const double undo = time_us(3, 20, [&] { e.undo(); }) / 1000;
        printf("  typed character %.3f us, Enter %.3f ms, undo %.3f ms\n", typed, enter, undo);
        t0 = bench::now_ms();
        e.labels();
        const double first = bench::now_ms() - t0;
        e.text_input("y");
        t0 = bench::now_ms();
        e.labels();
        const double again = bench::now_ms() - t0;
        const double miss = time_us(1, 1, [&] { e.find("no such text", true, true); }) / 1000;
        const double whole = time_us(1, 1, [&] { (void)e.text(); }) / 1000;
        printf("  labels() first %.1f ms, after a typed key %.1f ms; find without a hit %.1f ms; text() %.1f ms\n",
               first, again, miss, whole);
        const size_t h1 = heap_bytes();
        for (int i = 0; i < 400; ++i) {
            e.move_caret({ any_line(e), 6 }, false);
            e.newline();
        }
        printf("  undo memory after 400 Enter edits %.1f MB\n", double(heap_bytes() - h1) / 1e6);
    }
    SDL_Quit();
    printf(c.failed ? "%d target(s) missed\n" : "all targets met\n", c.failed);
    return c.failed ? 1 : 0;
}
