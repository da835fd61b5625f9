// Single-stepping speed: "--trace prog 20000" as a whole next to gdb's
// "stepi 20000" and to a bare PTRACE_SINGLESTEP + waitpid loop over the same
// program, in alternating pairs; the engine's own stepping loop
// through the wait that "--trace" uses; and a check that killing, detaching
// and a crashing program leave no process behind.
//
// Usage: debugger_bench [steps]   (default 20000)
// Each comparison is a median of pair ratios over alternating runs. Exit
// code 0 when "--trace" is at least 2.5 times as fast as gdb (when gdb is
// installed), takes at most 1.15 times the bare loop's time, prints the same
// bytes on every run, and nothing is left behind; 1 otherwise.
#include "bench_util.h"
#include "debugger_linux.h"

#include <algorithm>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

bool build(const std::string& dir, const std::string& name, const std::string& source)
{
    std::string base = dir + "/" + name;
    std::ofstream(base + ".asm") << source;
    return bench::run_quiet({ "nasm", "-f", "elf64", "-o", base + ".o", base + ".asm" }) == 0
        && bench::run_quiet({ "ld", "-o", base, base + ".o" }) == 0;
}

// Three instructions per round; the round count is set so the program ends
// soon after the steps asked for, as the trace runs it to its exit.
std::string loop_source(int steps)
{
    return "section .text\nglobal _start\n_start:\n    xor eax, eax\n    mov ecx, " + std::to_string(steps / 3 + 100)
        + "\ntop:\n    add rax, 1\n    dec ecx\n    jnz top\n    mov eax, 60\n    xor edi, edi\n    syscall\n";
}

const char* kCrash = "section .text\nglobal _start\n_start:\n    mov qword [0], 1\n";
const char* kSleep = "section .data\nts: dq 1, 0\nsection .text\nglobal _start\n_start:\n"
                     "    mov eax, 35\n    lea rdi, [rel ts]\n    xor esi, esi\n    syscall\n    jmp _start\n";

// The next event that is not output, through the engine's wait as the
// headless trace uses it.
dbg::Event wait_event(dbg::Process& p)
{
    for (;;) {
        std::vector<dbg::Event> ev;
        p.wait(&ev, 4000);
        if (ev.empty() && p.state() == dbg::State::Running)
            return { dbg::Event::Output, "timeout", -1, 0 };
        for (auto& e : ev) {
            if (e.kind != dbg::Event::Output)
                return e;
        }
    }
}

// The engine's stepping loop as a front end drives it: step, wait for the
// stop, read a register and the code at the new address.
double engine_rate(const std::string& exe, int steps)
{
    dbg::Process p;
    std::string err;
    if (!p.start(exe, {}, "", true, &err) || wait_event(p).text != "entry")
        return 0;
    uint8_t code[16];
    uint64_t rax = 0;
    double t0 = bench::now_s();
    for (int i = 0; i < steps; ++i) {
        if (!p.step() || wait_event(p).text != "step")
            return 0;
        p.reg("rax", &rax);
        p.read(p.pc(), code, sizeof code);
    }
    double t = bench::now_s() - t0;
    // Two of every three instructions in the loop add to rax.
    if (rax < uint64_t(steps) / 3)
        return 0;
    return steps / t;
}

// The kernel's own limit: PTRACE_SINGLESTEP and waitpid, nothing else.
// Returns the seconds from the start of the program to its end, like a
// whole "--trace" run, or the stepping alone in *stepping.
double raw_seconds(const std::string& exe, int steps, double* stepping = nullptr)
{
    double t0 = bench::now_s();
    pid_t pid = fork();
    if (pid == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    double t1 = bench::now_s();
    for (int i = 0; i < steps; ++i) {
        ptrace(PTRACE_SINGLESTEP, pid, nullptr, nullptr);
        waitpid(pid, &st, 0);
    }
    if (stepping)
        *stepping = bench::now_s() - t1;
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    return bench::now_s() - t0;
}

// "--trace" with its output in a file, which *out receives.
double trace_seconds(const std::string& exe, int steps, const std::string& out_file, std::string* out)
{
    double t0 = bench::now_s();
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        execl(QX_EXE, QX_EXE, "--trace", exe.c_str(), std::to_string(steps).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    double t = bench::now_s() - t0;
    std::ifstream in(out_file);
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return WIFEXITED(st) && WEXITSTATUS(st) == 0 ? t : -1;
}

bool have_gdb()
{
    return bench::run_quiet({ "gdb", "--version" }) == 0;
}

double gdb_seconds(const std::string& exe, int steps)
{
    double t0 = bench::now_s();
    bench::run_quiet({ "gdb", "-nx", "-batch", "-ex", "starti", "-ex", "stepi " + std::to_string(steps), exe });
    return bench::now_s() - t0;
}

bool no_children()
{
    int st;
    return waitpid(-1, &st, WNOHANG) == -1 && errno == ECHILD;
}

bool gone(int pid)
{
    return access(("/proc/" + std::to_string(pid)).c_str(), F_OK) != 0;
}

// Kill, a crash and a detach, each checked for leftovers.
bool leaves_nothing(const std::string& dir)
{
    bool ok = true;
    {
        dbg::Process p;
        std::string err;
        p.start(dir + "/loop", {}, "", true, &err);
        wait_event(p);
        p.cont();
        int pid = p.pid();
        p.kill();
        ok &= gone(pid) && no_children();
        printf("  after kill of a running program:   %s\n", gone(pid) && no_children() ? "nothing left" : "LEFTOVER");
    }
    {
        dbg::Process p;
        std::string err;
        p.start(dir + "/crash", {}, "", true, &err);
        wait_event(p);
        p.cont();
        wait_event(p); // the SIGSEGV stop
        p.cont();
        dbg::Event e = wait_event(p);
        bool clean = e.kind == dbg::Event::Exited && e.code == 139 && gone(p.pid()) && no_children();
        ok &= clean;
        printf("  after the program's crash:         %s\n", clean ? "nothing left" : "LEFTOVER");
    }
    {
        pid_t child = fork();
        if (child == 0) {
            std::string exe = dir + "/sleep";
            execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        usleep(20000);
        dbg::Process p;
        std::string exe, err;
        bool attached = p.attach(child, &exe, &err);
        p.kill();
        std::ifstream status("/proc/" + std::to_string(child) + "/status");
        std::string line, tracer;
        while (std::getline(status, line))
            if (line.rfind("TracerPid:", 0) == 0)
                tracer = line.substr(10);
        bool clean = attached && tracer.find_first_not_of(" \t") != std::string::npos
            && tracer.substr(tracer.find_first_not_of(" \t")) == "0";
        kill(child, SIGKILL);
        int st;
        waitpid(child, &st, 0);
        clean = clean && no_children();
        ok &= clean;
        printf("  after detaching an attached one:   %s\n", clean ? "released, nothing left" : "LEFTOVER");
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    int steps = argc > 1 ? atoi(argv[1]) : 20000;
    if (steps < 100)
        steps = 100;
    char tmpl[] = "/tmp/qxdbgbench.XXXXXX";
    if (!mkdtemp(tmpl)) {
        perror("mkdtemp");
        return 1;
    }
    std::string dir = tmpl;
    if (!build(dir, "loop", loop_source(steps)) || !build(dir, "crash", kCrash) || !build(dir, "sleep", kSleep)) {
        printf("nasm or ld failed\n");
        return 1;
    }
    std::string loop = dir + "/loop";
    const bool gdb = have_gdb();

    // Pairs side by side, the first of each alternating, so the machine's
    // load falls on both alike; the median of the pair ratios is the figure.
    constexpr int kRounds = 11;
    std::string first_out, out;
    bool same_output = true;
    auto trace_run = [&] {
        double t = trace_seconds(loop, steps, dir + "/trace.txt", &out);
        if (first_out.empty())
            first_out = out;
        same_output &= out == first_out;
        return t;
    };
    std::vector<double> raw_step_t;
    auto raw_run = [&] {
        double stepping = 0;
        double t = raw_seconds(loop, steps, &stepping);
        raw_step_t.push_back(stepping);
        return t;
    };
    const bench::Pairs vs_raw = bench::alternate(kRounds, trace_run, raw_run);
    std::vector<double> engine_r;
    for (int i = 0; i < 3; ++i)
        engine_r.push_back(engine_rate(loop, steps));
    // One line per step, between the entry line and the breakpoint line.
    size_t step_lines = 0;
    for (size_t p = first_out.find("\n  "); p != std::string::npos; p = first_out.find("\n  ", p + 1))
        ++step_lines;
    const bool complete = vs_raw.ok && step_lines == size_t(steps)
        && first_out.find("\nexited: code 0 \n") != std::string::npos;

    printf("%d single steps, medians of %d alternating pairs:\n", steps, kRounds);
    printf("  --trace prog %d (whole run, output to a file):  %.3f s  %.0f steps/s\n", steps,
        bench::median(vs_raw.a), steps / bench::median(vs_raw.a));
    printf("  bare PTRACE_SINGLESTEP + waitpid, start to end:  %.3f s  %.0f steps/s stepping alone\n",
        bench::median(vs_raw.b), steps / bench::median(raw_step_t));
    printf("  engine step + wait + registers + code read:                        %.0f steps/s\n",
        *std::max_element(engine_r.begin(), engine_r.end()));
    const double trace_vs_raw = bench::median(vs_raw.ratio);
    printf("  --trace / bare loop: %.2fx the time, median of pair ratios (target at most 1.15x)\n", trace_vs_raw);
    printf("  --trace output: %zu step lines, %s on every run\n", step_lines, same_output ? "the same bytes" : "DIFFERENT");
    bool ok = complete && same_output && trace_vs_raw <= 1.15;
    if (gdb) {
        const bench::Pairs vs_gdb = bench::alternate(kRounds, [&] { return gdb_seconds(loop, steps); }, trace_run);
        const double g = bench::median(vs_gdb.ratio);
        printf("  gdb -batch -ex starti -ex 'stepi %d':          %.3f s\n", steps, bench::median(vs_gdb.a));
        printf("  --trace / gdb: %.2fx as fast, median of pair ratios (target at least 2.5x)\n", g);
        ok = ok && vs_gdb.ok && same_output && g >= 2.5;
    } else {
        printf("  gdb is not installed: no comparison\n");
    }

    printf("leftover processes:\n");
    ok = leaves_nothing(dir) && ok;

    bench::run_quiet({ "rm", "-rf", dir });
    printf("%s\n", ok ? "all targets met" : "TARGETS MISSED");
    return ok ? 0 : 1;
}
