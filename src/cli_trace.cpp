// "--trace <program> [steps]": runs a program under the debugger engine
// without a window and prints its entry stop, a few steps, a breakpoint hit
// and its exit. It doubles as a quick check that the debugger works here.
#include "cli.h"

#include "con.h"
#include "debugger_linux.h"
#include "disasm.h"

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

namespace {

// How long one wait for a stop or an exit may take.
constexpr int kWaitMs = 4000;

enum class Waited {
    Stopped,
    Exited,
    RanOut, // the wait ran out with the program still running
};

int64_t now_ms()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Program output goes out byte for byte, NULs included.
void print_output(const dbg::Event& e)
{
    con::print("[output] ");
    con::print(e.text);
}

// Waits for the next stop or exit until `deadline`, printing program output
// as it comes and keeping none of it, so a chatty program costs no memory.
Waited wait_event(dbg::Process& proc, int64_t deadline, dbg::Event* last)
{
    std::vector<dbg::Event> batch;
    for (;;) {
        batch.clear();
        proc.wait(&batch, int(std::max<int64_t>(deadline - now_ms(), 0)));
        for (dbg::Event& e : batch) {
            if (e.kind == dbg::Event::Output) {
                print_output(e);
                continue;
            }
            *last = std::move(e);
            return last->kind == dbg::Event::Stopped ? Waited::Stopped : Waited::Exited;
        }
        if (now_ms() >= deadline && batch.empty())
            return Waited::RanOut;
    }
}

Waited wait_event(dbg::Process& proc, dbg::Event* last)
{
    return wait_event(proc, now_ms() + kWaitMs, last);
}

bool is_signal_stop(const dbg::Event& e)
{
    return e.text.compare(0, 7, "signal:") == 0;
}

dis::Insn insn_at_pc(const dbg::Process& proc)
{
    uint8_t code[16];
    size_t n = proc.read(proc.pc(), code, sizeof code);
    dis::Insn insn;
    dis::decode(code, n, proc.pc(), proc.bits(), &insn);
    return insn;
}

uint64_t reg_or_zero(const dbg::Process& proc, const char* name)
{
    uint64_t v = 0;
    if (!proc.reg(name, &v))
        return 0;
    return v;
}

void print_stop(const dbg::Process& proc, const dbg::Event& e)
{
    con::printf("stopped: %s at %llx\n", e.text.c_str(), (unsigned long long)proc.pc());
}

// The exit line; a program that a signal ended failed.
int print_exit(const dbg::Event& e)
{
    con::printf("exited: code %d %s\n", e.code, e.text.c_str());
    return e.text.empty() ? 0 : 1;
}

// Continues until the program exits, reporting each stop on the way (a
// signal is delivered by the next continue). Returns the mode's exit code.
int run_to_exit(dbg::Process& proc)
{
    const int64_t deadline = now_ms() + kWaitMs;
    for (;;) {
        dbg::Event e;
        Waited w = proc.cont() ? wait_event(proc, deadline, &e) : Waited::RanOut;
        if (w == Waited::Exited)
            return print_exit(e);
        if (w == Waited::RanOut) {
            con::print("exited: wait ran out\n");
            return 1;
        }
        print_stop(proc, e);
    }
}

int trace(dbg::Process& proc, const char* program, int steps)
{
    std::string err;
    if (!proc.start(program, {}, std::string(), true, &err)) {
        con::printf("start failed: %s\n", err.c_str());
        return 1;
    }

    dbg::Event e;
    if (wait_event(proc, &e) != Waited::Stopped) {
        con::print("no stop at the entry\n");
        return 1;
    }
    con::printf("stopped: %s at %llx (entry %llx, bias %llx)\n", e.text.c_str(), (unsigned long long)proc.pc(),
                (unsigned long long)proc.entry(), (unsigned long long)proc.load_bias());

    const bool narrow = proc.bits() == 32;
    for (int done = 0; done < steps; ++done) {
        dis::Insn insn = insn_at_pc(proc);
        uint64_t ax = reg_or_zero(proc, narrow ? "eax" : "rax");
        uint64_t sp = reg_or_zero(proc, narrow ? "esp" : "rsp");
        con::printf("  %llx  %-28s rax=%llx rsp=%llx\n", (unsigned long long)proc.pc(), insn.text.c_str(),
                    (unsigned long long)ax, (unsigned long long)sp);
        Waited w = proc.step_over() ? wait_event(proc, &e) : Waited::RanOut;
        if (w == Waited::Exited) {
            con::printf("ended while stepping (%s, code %d)\n", e.text.empty() ? "exited" : e.text.c_str(), e.code);
            return e.text.empty() ? 0 : 1;
        }
        if (w == Waited::RanOut) {
            con::printf("ended while stepping (wait ran out, code %d)\n", proc.exit_code());
            return 1;
        }
        // A signal stops the program before it is delivered; the next step
        // delivers it.
        if (is_signal_stop(e))
            print_stop(proc, e);
    }

    dis::Insn insn = insn_at_pc(proc);
    const uint64_t target = proc.pc() + insn.len;
    proc.set_bp(target);
    const int64_t deadline = now_ms() + kWaitMs;
    for (;;) {
        Waited w = proc.cont() ? wait_event(proc, deadline, &e) : Waited::RanOut;
        if (w == Waited::Exited) // ended before it reached the breakpoint
            return print_exit(e);
        if (w == Waited::RanOut) {
            con::printf("breakpoint: wait ran out (wanted %llx)\n", (unsigned long long)target);
            return 1;
        }
        if (!is_signal_stop(e)) {
            con::printf("breakpoint: %s at %llx (wanted %llx)\n", e.text.c_str(), (unsigned long long)proc.pc(),
                        (unsigned long long)target);
            break;
        }
        print_stop(proc, e);
    }
    proc.clear_bps();
    return run_to_exit(proc);
}

// Every child of this process, through each thread's list.
std::vector<pid_t> children()
{
    std::vector<pid_t> out;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return out;
    while (dirent* t = readdir(tasks)) {
        if (t->d_name[0] == '.')
            continue;
        std::ifstream list(std::string("/proc/self/task/") + t->d_name + "/children");
        pid_t pid;
        while (list >> pid)
            out.push_back(pid);
    }
    closedir(tasks);
    return out;
}

// Descendants that left the program's process group (a daemon starts its
// own session) came to this process when their parents ended, because it is
// their subreaper: they end here, with whatever they start meanwhile.
void end_adopted()
{
    for (int round = 0; round < 100; ++round) {
        std::vector<pid_t> left = children();
        if (left.empty())
            return;
        for (pid_t pid : left) {
            ::kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
        }
    }
}

} // namespace

int cli_trace(const char* program, int steps)
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    int code;
    {
        dbg::Process proc;
        code = trace(proc, program, steps);
        // Output still in the pipe, written after the last event.
        std::vector<dbg::Event> rest;
        proc.poll(&rest);
        for (const auto& e : rest) {
            if (e.kind == dbg::Event::Output)
                print_output(e);
        }
    }
    end_adopted();
    return code;
}
