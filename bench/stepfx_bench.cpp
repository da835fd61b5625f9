// The cost of a single step with step effects on: arming (registers, the
// decoded instruction, its memory operands), the step, recording the
// effect and the register and memory snapshots that mark changes, on a
// program with an 8 MiB stack. Next to it the same steps with effects off
// (step and wait only), so the difference is the effects' own price, and
// the same with ten more writable regions of 1 MiB, where the memory
// snapshot takes its whole 8 MiB budget.
//
// Usage: stepfx_bench [steps]   (default 2000)
// Exit code 0 when a step with effects on takes 2 ms or less (median) on the
// program with the 8 MiB stack; 1 otherwise.
#include "bench_util.h"
#include "debugger_linux.h"
#include "stepfx.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Grows the stack to 8 MiB (a byte written on every page), maps `regions`
// separate writable megabytes, then pushes and pops in a loop.
std::string program(int regions)
{
    return "section .text\nglobal _start\n_start:\n"
           "    mov rbx, rsp\n    mov rcx, 2048\n"
           ".touch:\n    sub rbx, 4096\n    mov byte [rbx], 1\n    dec rcx\n    jnz .touch\n"
           "    xor r12d, r12d\n"
           ".map:\n    cmp r12d, "
        + std::to_string(regions)
        + "\n    je .loop\n"
          "    mov eax, 9\n    mov rdi, r12\n    shl rdi, 21\n    add rdi, 0x10000000\n"
          "    mov esi, 1048576\n    mov edx, 3\n    mov r10d, 0x22\n    mov r8, -1\n    xor r9d, r9d\n"
          "    syscall\n    mov byte [rax], 1\n    inc r12d\n    jmp .map\n"
          ".loop:\n    inc r13\n    push r13\n    pop r14\n    mov [rsp-64], r13\n    jmp .loop\n";
}

bool build(const std::string& dir, const std::string& name, const std::string& source)
{
    std::string base = dir + "/" + name;
    std::ofstream(base + ".asm") << source;
    return bench::run_quiet({ "nasm", "-f", "elf64", "-o", base + ".o", base + ".asm" }) == 0
        && bench::run_quiet({ "ld", "-o", base, base + ".o" }) == 0;
}

bool wait_stop(dbg::Process& p)
{
    for (;;) {
        if (p.state() == dbg::State::Running) {
            siginfo_t info {};
            waitid(P_PID, id_t(p.pid()), &info, WSTOPPED | WEXITED | WNOWAIT);
        }
        std::vector<dbg::Event> ev;
        p.poll(&ev);
        for (auto& e : ev) {
            if (e.kind == dbg::Event::Stopped)
                return true;
            if (e.kind == dbg::Event::Exited)
                return false;
        }
    }
}

struct Figures {
    double step_ms = 0;     // median of one whole step
    double snapshot_ms = 0; // median of the memory snapshot alone
    uint64_t bytes = 0;     // bytes in the memory snapshot
    uint64_t stack = 0;     // size of the stack mapping
};

enum class Effects { Off, On };

Figures measure(const std::string& exe, int steps, Effects effects)
{
    Figures f;
    dbg::Process p;
    std::string err;
    if (!p.start(exe, {}, "", true, &err) || !wait_stop(p))
        return f;
    // Step through the set-up into the loop: r13 is 0 until the loop runs.
    uint64_t r13 = 0;
    while (p.reg("r13", &r13) && r13 == 0) {
        if (!p.step() || !wait_stop(p))
            return f;
    }
    stepfx::StepState st;
    stepfx::Snapshot snap;
    stepfx::snapshot_memory(snap, p);
    std::vector<double> whole, mem;
    for (int i = 0; i < steps; ++i) {
        double t0 = bench::now_ms();
        if (effects == Effects::On)
            stepfx::arm_step(st, p);
        if (!p.step() || !wait_stop(p))
            break;
        if (effects == Effects::On) {
            stepfx::record_effect(st, p, -1, nullptr);
            stepfx::snapshot_regs(snap, p);
            double t1 = bench::now_ms();
            stepfx::snapshot_memory(snap, p);
            mem.push_back(bench::now_ms() - t1);
        } else {
            stepfx::snapshot_regs(snap, p);
        }
        whole.push_back(bench::now_ms() - t0);
    }
    for (const auto& [start, bytes] : snap.mem_snap)
        f.bytes += bytes.size();
    for (const auto& r : p.regions()) {
        if (r.name == "[stack]")
            f.stack = r.end - r.start;
    }
    p.kill();
    f.step_ms = bench::median(whole);
    f.snapshot_ms = bench::median(mem);
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    int steps = argc > 1 ? atoi(argv[1]) : 2000;
    char tmpl[] = "/tmp/stepfx_bench.XXXXXX";
    if (!mkdtemp(tmpl)) {
        perror("mkdtemp");
        return 1;
    }
    std::string dir = tmpl;
    if (!build(dir, "stack8", program(0)) || !build(dir, "stack8big", program(10))) {
        fprintf(stderr, "nasm or ld failed\n");
        return 1;
    }
    // Room for the 8 MiB stack above the default limit of 8 MiB.
    rlimit rl {};
    getrlimit(RLIMIT_STACK, &rl);
    if (rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur < (64u << 20)) {
        rl.rlim_cur = rl.rlim_max == RLIM_INFINITY ? (64u << 20) : std::min<rlim_t>(rl.rlim_max, 64u << 20);
        setrlimit(RLIMIT_STACK, &rl);
    }

    Figures off = measure(dir + "/stack8", steps, Effects::Off);
    Figures on = measure(dir + "/stack8", steps, Effects::On);
    Figures big = measure(dir + "/stack8big", steps / 4, Effects::On);
    printf("8 MiB stack (mapping %.1f MiB), %d steps:\n", double(on.stack) / 1048576.0, steps);
    printf("  step, effects off:         %.3f ms median\n", off.step_ms);
    printf("  step, effects on:          %.3f ms median (memory snapshot %.3f ms, %llu KiB)\n", on.step_ms,
           on.snapshot_ms, static_cast<unsigned long long>(on.bytes / 1024));
    printf("8 MiB stack and 10 MiB more writable memory, %d steps:\n", steps / 4);
    printf("  step, effects on:          %.3f ms median (memory snapshot %.3f ms, %llu KiB)\n", big.step_ms,
           big.snapshot_ms, static_cast<unsigned long long>(big.bytes / 1024));
    bool ok = on.step_ms > 0 && on.step_ms <= 2.0 && on.stack >= (8u << 20);
    printf("target: a step with effects on <= 2 ms on the 8 MiB stack program: %s\n", ok ? "met" : "NOT met");
    bench::run_quiet({ "rm", "-rf", dir });
    return ok ? 0 : 1;
}
