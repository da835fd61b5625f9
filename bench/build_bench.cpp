// How much "--build" costs next to running the same tools directly on equal
// work, and how much of a large build the listing parse takes.
//
// Usage: build_bench [rounds [program]]   (default 15 rounds of the built program)
// Exit code 0 when both targets are met, 1 otherwise.
#include "bench_util.h"
#include "toolchain.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

void write(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

const char* kSmall = "section .data\nmsg: db \"hello\", 10\nsection .text\nglobal _start\n_start:\n"
                     "    mov eax, 1\n    mov edi, 1\n    lea rsi, [rel msg]\n    mov edx, 6\n    syscall\n"
                     "    mov eax, 60\n    xor edi, edi\n    syscall\n";

std::string large_source(int lines)
{
    std::string s = "section .text\nglobal _start\n_start:\n";
    for (int i = 0; i < lines; ++i) {
        switch (i % 4) {
        case 0: s += "    mov eax, " + std::to_string(i) + "\n"; break;
        case 1: s += "l" + std::to_string(i) + ": add rbx, rax\n"; break;
        case 2: s += "    jmp l" + std::to_string(i - 1) + "\n"; break;
        default: s += "    lea rsi, [rel l" + std::to_string(i - 2) + "]\n"; break;
        }
    }
    return s + "    mov eax, 60\n    syscall\n";
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 41;
    std::string exe = argc > 2 ? argv[2] : QX_EXE;
    char tmpl[] = "/tmp/qxbench.XXXXXX";
    std::string dir = mkdtemp(tmpl);
    write(dir + "/small.asm", kSmall);
    // A work directory of its own, so builds running elsewhere meanwhile
    // cannot overwrite the files measured here.
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);

    // Side by side in alternating pairs, so both see the same machine state,
    // on equal work: the same two tools with the same listing and debug
    // options, started directly, each round into files that do not exist
    // yet (as "--build" finds them in its fresh work directory, and as it
    // leaves its output: the old one is replaced), with their work files on
    // the same medium as "--build" has its work directory. On the sources'
    // disk (as without a desktop session, in /tmp) is the measure; in memory
    // (a desktop session keeps XDG_RUNTIME_DIR on tmpfs) and the same
    // command line typed into a shell are shown for information.
    std::string session_runtime;
    {
        char shm_tmpl[] = "/dev/shm/qxbench.XXXXXX";
        if (mkdtemp(shm_tmpl))
            session_runtime = shm_tmpl;
    }
    auto seconds = [](bool ok, double t0) { return ok ? (bench::now_ms() - t0) / 1000 : -1.0; };
    // "--build" with its work directory in `work`.
    auto ide = [&](const std::string& work) {
        setenv("XDG_RUNTIME_DIR", work.c_str(), 1);
        double t0 = bench::now_ms();
        return seconds(bench::run_quiet({ exe, "--build", "small.asm" }, dir) == 0, t0);
    };
    // nasm and ld with the listing and the object in `work`.
    auto direct = [&](const std::string& work) {
        for (const char* n : { "e.lst", "e.o" })
            unlink((work + "/" + n).c_str());
        unlink((dir + "/e").c_str());
        double t0 = bench::now_ms();
        bool ok = bench::run_quiet({ "nasm", "-f", "elf64", "-g", "-F", "dwarf", "-l", work + "/e.lst", "-o",
                                       work + "/e.o", "small.asm" }, dir) == 0
            && bench::run_quiet({ "ld", "-o", "e", work + "/e.o" }, dir) == 0;
        return seconds(ok, t0);
    };
    const char* typed_line = "nasm -f elf64 -g -F dwarf -l d.lst -o d.o small.asm && ld -o d d.o";
    auto typed = [&] {
        for (const char* n : { "d.lst", "d.o", "d" })
            unlink((dir + "/" + n).c_str());
        double t0 = bench::now_ms();
        return seconds(bench::run_quiet({ "/bin/sh", "-c", typed_line }, dir) == 0, t0);
    };
    if (ide(dir) < 0 || direct(dir) < 0 || typed() < 0) { // warm-up
        fprintf(stderr, "build failed\n");
        return 1;
    }
    const bench::Pairs disk = bench::alternate(rounds, [&] { return ide(dir); }, [&] { return direct(dir); });
    bench::Pairs memory;
    if (!session_runtime.empty())
        memory = bench::alternate(rounds, [&] { return ide(session_runtime); },
                                  [&] { return direct(session_runtime); });
    const bench::Pairs shell = bench::alternate(rounds, [&] { return ide(dir); }, typed);
    if (!disk.ok || !memory.ok || !shell.ok) {
        fprintf(stderr, "build failed\n");
        return 1;
    }
    const double ratio = bench::median(disk.ratio);
    printf("small ELF64, medians of %d alternating pairs, work files on the sources' disk for both:\n", rounds);
    printf("  --build %.2f ms, nasm and ld started directly %.2f ms, ratio %.2f (target <= 1.30)\n",
           bench::median(disk.a) * 1000, bench::median(disk.b) * 1000, ratio);
    if (!session_runtime.empty())
        printf("  work files in memory for both: --build %.2f ms, direct %.2f ms, ratio %.2f (for information)\n",
               bench::median(memory.a) * 1000, bench::median(memory.b) * 1000, bench::median(memory.ratio));
    printf("  the same typed into a shell (sh -c \"nasm && ld\") %.2f ms, ratio %.2f (for information)\n",
           bench::median(shell.b) * 1000, bench::median(shell.ratio));

    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    if (!session_runtime.empty())
        bench::run_quiet({ "rm", "-rf", session_runtime }, "/");
    write(dir + "/large.asm", large_source(100000));
    std::vector<double> total, parse;
    for (int i = 0; i < 3; ++i) {
        double t0 = bench::now_ms();
        tc::BuildResult r = tc::build(dir + "/large.asm", tc::Format::Elf64, dir + "/large", {});
        double t1 = bench::now_ms();
        if (!r.ok) {
            fprintf(stderr, "large build failed:\n%s\n", r.log.c_str());
            return 1;
        }
        std::string listing = read(tc::temp_dir() + "/build.lst");
        double t2 = bench::now_ms();
        auto entries = tc::parse_listing(listing);
        double t3 = bench::now_ms();
        if (entries.size() < 100000 || r.lines.size() != entries.size()) {
            fprintf(stderr, "unexpected parse result: %zu entries\n", entries.size());
            return 1;
        }
        total.push_back(t1 - t0);
        parse.push_back(t3 - t2);
    }
    double share = bench::median(parse) / (bench::median(total) - bench::median(parse)) * 100.0;
    printf("100k lines: build %.1f ms, listing parse %.1f ms, adds %.2f %% (target <= 5 %%)\n", bench::median(total),
           bench::median(parse), share);

    bench::run_quiet({ "rm", "-rf", dir }, "/");
    return ratio <= 1.3 && share <= 5.0 ? 0 : 1;
}
