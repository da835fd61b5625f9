// "--trace <program> [steps]": runs a program under the debugger engine
// without a window and prints its entry stop, a few steps, a breakpoint hit
// and its exit. It doubles as a quick check that the debugger works here.
#include "cli.h"

#include "con_buffer.h"
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
#include <new>
#include <string>
#include <vector>

namespace {

// How long one wait for a stop or an exit may take.
constexpr int kWaitMs = 4000;
// Output is collected and written in blocks, but not held back while the
// program takes longer than this to stop.
constexpr int kQuickMs = 50;

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

// Everything the mode prints goes through here, in order.
con::Buffer& out()
{
    static con::Buffer buffer;
    return buffer;
}

void print(std::string_view s) { out().add(s); }
void print_hex(uint64_t v) { out().hex(v); }
void print_int(int v)
{
    if (v < 0)
        out().add('-');
    out().dec(v < 0 ? 0 - uint64_t(v) : uint64_t(v));
}

// Program output goes out byte for byte, NULs included.
void print_output(const dbg::Event& e)
{
    print("[output] ");
    print(e.text);
}

// Waits for the next stop or exit until `deadline`, printing program output
// as it comes and keeping none of it, so a chatty program costs no memory.
Waited wait_event(dbg::Process& proc, int64_t deadline, dbg::Event* last)
{
    // Kept from wait to wait: a step costs no allocation.
    static std::vector<dbg::Event> batch;
    for (bool quick = true;; quick = false) {
        batch.clear();
        int64_t left = std::max<int64_t>(deadline - now_ms(), 0);
        if (quick) {
            proc.wait(&batch, int(std::min<int64_t>(left, kQuickMs)));
            if (batch.empty())
                out().flush(); // a slow stop: what is known so far goes out now
        } else {
            proc.wait(&batch, int(left));
        }
        for (dbg::Event& e : batch) {
            if (e.kind == dbg::Event::Output) {
                print_output(e);
                continue;
            }
            *last = std::move(e);
            return last->kind == dbg::Event::Stopped ? Waited::Stopped : Waited::Exited;
        }
        // Output without a stop: the program runs on and may take a while.
        out().flush();
        if (now_ms() >= deadline) // a program that only prints still ends the wait
            return Waited::RanOut;
    }
}

Waited wait_event(dbg::Process& proc, dbg::Event* last)
{
    return wait_event(proc, now_ms() + kWaitMs, last);
}

// A program that the wait gave up on ends here, and what it printed until
// then goes out before the line that says so.
void end_program(dbg::Process& proc)
{
    proc.kill();
    std::vector<dbg::Event> rest;
    proc.poll(&rest);
    for (const auto& e : rest) {
        if (e.kind == dbg::Event::Output)
            print_output(e);
    }
}

bool is_signal_stop(const dbg::Event& e)
{
    return e.text.compare(0, 7, "signal:") == 0;
}

uint64_t reg_or_zero(const dbg::Process& proc, const std::string& name)
{
    uint64_t v = 0;
    if (!proc.reg(name, &v))
        return 0;
    return v;
}

void print_stop(const dbg::Process& proc, const dbg::Event& e)
{
    print("stopped: ");
    print(e.text);
    print(" at ");
    print_hex(proc.pc());
    print("\n");
}

void print_ended(std::string_view why, int code)
{
    print("ended while stepping (");
    print(why);
    print(", code ");
    print_int(code);
    print(")\n");
}

// The exit line; a program that a signal ended failed.
int print_exit(const dbg::Event& e)
{
    print("exited: code ");
    print_int(e.code);
    print(" ");
    print(e.text);
    print("\n");
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
            end_program(proc);
            print("exited: wait ran out\n");
            return 1;
        }
        print_stop(proc, e);
    }
}

int trace(dbg::Process& proc, const char* program, int steps)
{
    std::string err;
    if (!proc.start(program, {}, std::string(), true, &err)) {
        print("start failed: ");
        print(err);
        print("\n");
        return 1;
    }

    dbg::Event e;
    if (wait_event(proc, &e) != Waited::Stopped) {
        print("no stop at the entry\n");
        return 1;
    }
    print("stopped: ");
    print(e.text);
    print(" at ");
    print_hex(proc.pc());
    print(" (entry ");
    print_hex(proc.entry());
    print(", bias ");
    print_hex(proc.load_bias());
    print(")\n");

    const bool narrow = proc.bits() == 32;
    const std::string ax_name = narrow ? "eax" : "rax", sp_name = narrow ? "esp" : "rsp";
    for (int done = 0; done < steps; ++done) {
        const dis::Insn& insn = proc.insn_at_pc();
        uint64_t ax = reg_or_zero(proc, ax_name);
        uint64_t sp = reg_or_zero(proc, sp_name);
        // "  %llx  %-28s rax=%llx rsp=%llx\n"
        print("  ");
        print_hex(proc.pc());
        print("  ");
        out().pad(insn.text, 28);
        print(" rax=");
        print_hex(ax);
        print(" rsp=");
        print_hex(sp);
        print("\n");
        Waited w = proc.step_over() ? wait_event(proc, &e) : Waited::RanOut;
        if (w == Waited::Exited) {
            print_ended(e.text.empty() ? "exited" : e.text, e.code);
            return e.text.empty() ? 0 : 1;
        }
        if (w == Waited::RanOut) {
            const int code = proc.exit_code();
            end_program(proc);
            print_ended("wait ran out", code);
            return 1;
        }
        // A signal stops the program before it is delivered; the next step
        // delivers it.
        if (is_signal_stop(e))
            print_stop(proc, e);
    }

    const uint64_t target = proc.pc() + proc.insn_at_pc().len;
    proc.set_bp(target);
    const int64_t deadline = now_ms() + kWaitMs;
    for (;;) {
        Waited w = proc.cont() ? wait_event(proc, deadline, &e) : Waited::RanOut;
        if (w == Waited::Exited) // ended before it reached the breakpoint
            return print_exit(e);
        if (w == Waited::RanOut) {
            end_program(proc);
            print("breakpoint: wait ran out (wanted ");
            print_hex(target);
            print(")\n");
            return 1;
        }
        if (!is_signal_stop(e)) {
            print("breakpoint: ");
            print(e.text);
            print(" at ");
            print_hex(proc.pc());
            print(" (wanted ");
            print_hex(target);
            print(")\n");
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
    // The engine ends the program on the way out of the block, also when
    // the memory runs out.
    try {
        dbg::Process proc;
        code = trace(proc, program, steps);
        // Output still in the pipe, written after the last event.
        std::vector<dbg::Event> rest;
        proc.poll(&rest);
        for (const auto& e : rest) {
            if (e.kind == dbg::Event::Output)
                print_output(e);
        }
    } catch (const std::bad_alloc&) {
        print("ended: not enough memory\n");
        code = 1;
    }
    end_adopted();
    out().flush();
    return code;
}
