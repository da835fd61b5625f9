// "--trace <program> [steps]": runs a program under the debugger engine
// without a window and prints its entry stop, a few steps, a breakpoint hit
// and its exit. It doubles as a quick check that the debugger works here.
#include "cli.h"

#include "con.h"
#include "debugger_linux.h"
#include "disasm.h"

#include <unistd.h>

#include <vector>

namespace {

constexpr int kMaxPolls = 2000;

// Program output goes out byte for byte, NULs included.
void print_output(const dbg::Event& e)
{
    con::print("[output] ");
    con::print(e.text);
}

// Collects events until the first one that is not output (true), printing
// output as it comes; false after kMaxPolls polls without such an event.
bool wait_event(dbg::Process& proc, std::vector<dbg::Event>* events)
{
    for (int i = 0; i < kMaxPolls; ++i) {
        std::vector<dbg::Event> batch;
        proc.poll(&batch);
        for (auto& e : batch) {
            events->push_back(e);
            if (e.kind == dbg::Event::Output) {
                print_output(e);
                continue;
            }
            return true;
        }
        usleep(2000);
    }
    return false;
}

bool last_is(const std::vector<dbg::Event>& events, dbg::Event::Kind kind)
{
    return !events.empty() && events.back().kind == kind;
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

// Why stepping ended: the last stop or exit collected, "exited" for an
// exit without a signal, "?" when none came. Program output that arrived
// before a timeout is not a reason and was printed already.
const char* ending_reason(const std::vector<dbg::Event>& events)
{
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        if (it->kind != dbg::Event::Output)
            return it->text.empty() ? "exited" : it->text.c_str();
    }
    return "?";
}

void print_exit(const dbg::Event& e)
{
    con::printf("exited: code %d %s\n", e.code, e.text.c_str());
}

} // namespace

int cli_trace(const char* program, int steps)
{
    dbg::Process proc;
    std::string err;
    if (!proc.start(program, {}, std::string(), true, &err)) {
        con::printf("start failed: %s\n", err.c_str());
        return 1;
    }

    std::vector<dbg::Event> events;
    if (!wait_event(proc, &events) || !last_is(events, dbg::Event::Stopped)) {
        con::print("no stop at the entry\n");
        return 1;
    }
    con::printf("stopped: %s at %llx (entry %llx, bias %llx)\n", events.back().text.c_str(),
                (unsigned long long)proc.pc(), (unsigned long long)proc.entry(),
                (unsigned long long)proc.load_bias());

    const bool narrow = proc.bits() == 32;
    for (int done = 0; done < steps; ++done) {
        dis::Insn insn = insn_at_pc(proc);
        uint64_t ax = reg_or_zero(proc, narrow ? "eax" : "rax");
        uint64_t sp = reg_or_zero(proc, narrow ? "esp" : "rsp");
        con::printf("  %llx  %-28s rax=%llx rsp=%llx\n", (unsigned long long)proc.pc(), insn.text.c_str(),
                    (unsigned long long)ax, (unsigned long long)sp);
        events.clear();
        if (!proc.step_over() || !wait_event(proc, &events) || !last_is(events, dbg::Event::Stopped)) {
            con::printf("ended while stepping (%s, code %d)\n", ending_reason(events), proc.exit_code());
            return 0;
        }
    }

    dis::Insn insn = insn_at_pc(proc);
    uint64_t target = proc.pc() + insn.len;
    proc.set_bp(target);
    events.clear();
    bool exited = false;
    if (proc.cont() && wait_event(proc, &events)) {
        if (last_is(events, dbg::Event::Stopped)) {
            con::printf("breakpoint: %s at %llx (wanted %llx)\n", events.back().text.c_str(),
                        (unsigned long long)proc.pc(), (unsigned long long)target);
        } else if (last_is(events, dbg::Event::Exited)) {
            // The program ended before it reached the breakpoint: say so
            // now instead of waiting for a stop that cannot come.
            print_exit(events.back());
            exited = true;
        }
    }

    if (!exited) {
        proc.clear_bps();
        events.clear();
        proc.cont();
        wait_event(proc, &events);
        if (last_is(events, dbg::Event::Exited))
            print_exit(events.back());
    }

    std::vector<dbg::Event> rest;
    proc.poll(&rest);
    for (const auto& e : rest) {
        if (e.kind == dbg::Event::Output)
            print_output(e);
    }
    return 0;
}
