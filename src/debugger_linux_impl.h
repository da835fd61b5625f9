#pragma once
// Private state of dbg::Process, shared by the engine's process-control half
// (debugger_linux.cpp) and its breakpoint and stepping half
// (debugger_linux_step.cpp). Nothing outside these two files includes it.
#include "debugger_linux.h"
#include "disasm.h"

#include <sys/user.h>

#include <map>
#include <utility>
#include <vector>

namespace dbg {

struct Process::Impl {
    // Why the program was last resumed; poll reads it at the next stop.
    enum class Action : int {
        None = 0,
        Cont = 1,
        Step = 2,
        StepThenCont = 3, // a single step off a breakpoint, then a continue
        StartToEntry = 4,
    };

    explicit Impl(Process* owner)
        : p(owner)
    {
    }

    Process* p;
    int in = -1;    // write end of the program's standard input, non-blocking
    std::string in_queue;    // typed input the program has not taken yet
    bool in_close = false;   // close the input once the queue is written
    int out = -1;   // read end of its merged output, non-blocking
    int memfd = -1; // its /proc/<pid>/mem, read-write
    user_regs_struct regs {};
    bool regs_ok = false;
    Action action = Action::None;
    uint64_t temp_bp = 0;
    bool has_temp = false;
    std::map<uint64_t, uint8_t> inserted; // int3 bytes written now, with the bytes they replaced
    int pending_sig = 0;
    std::vector<RegInfo> list;
    bool dr7_set = false;
    int sigfd = -1; // SIGCHLD for wait, opened at its first sleep
    // SIGCHLD is blocked in the engine's thread from the first wait that
    // sleeps until kill; `chld_restore` when it was not blocked before.
    bool chld_blocked = false;
    bool chld_restore = false;
    // The code around the instruction pointer (debugger_linux_code.cpp): the
    // front end and step_over look at it at every stop. Where the program
    // cannot change it, the whole page is read once and outlives single
    // steps until the instruction pointer leaves it.
    static constexpr size_t kPage = 4096;
    static constexpr size_t kInsnMax = 16; // longest instruction, and one
    uint8_t code[kPage + kInsnMax] {};
    uint64_t code_start = 0;
    size_t code_len = 0;
    size_t code_want = 0; // asked for: a shorter read means the memory ends
    bool code_ok = false;
    bool code_keep = false; // nothing the program does in one step changes it
    // What may change under the program's own steps: writable or shared
    // ranges, and whether other threads run. Read again after a continue or
    // a system call, once a few stops have passed without either.
    std::vector<std::pair<uint64_t, uint64_t>> changeable;
    bool maps_ok = false;
    bool threaded = false;
    int stops_unsure = 0;
    // The instruction at the instruction pointer, decoded once per stop.
    dis::Insn insn;
    bool insn_ok = false;
    // A single-stepped pushf stores the trap flag the step itself set; the
    // slot it pushed is put right at the next stop (see note_pushf).
    bool pushf_pending = false;
    uint64_t pushf_sp = 0;
    int pushf_size = 0;
    // Processes whose attach stop did not come in time: still traced, they
    // are let go at the stop that is on its way (release_late_stops).
    std::vector<int> late;
    // An attach whose stop has not been taken yet (attach_poll); -1: none.
    int attach_pid = -1;
    std::string attach_exe;
    int64_t attach_since_ms = 0;

    // Process control (debugger_linux.cpp).
    void forget_run_state();
    void drain_output(std::vector<Event>* ev);
    bool load_regs();
    bool store_regs();
    void open_memory();
    void close_memory();
    void read_entry_and_bias(const std::string& exe);
    void unblock_chld();
    void release_late_stops();

    // The code cache (debugger_linux_code.cpp).
    void forget_code(bool with_maps);
    void fill_code();
    bool cached_code(uint64_t addr, uint8_t* buf, size_t n, size_t* got) const;
    // Called before resuming: what of the cache survives the program's run.
    void code_before_resume(bool single_step);
    void load_maps();

    // Breakpoints, watches and resuming (debugger_linux_step.cpp).
    void insert_breakpoints();
    void remove_breakpoints();
    void program_watches();
    void clear_watch_registers();
    bool resume(int request);
    void note_pushf();
    void fix_pushf();
    bool stopped_under_trace() const;
    // Classifies a ptrace stop. Returns false when the stop was only the
    // single step off a breakpoint and the program was continued silently.
    bool classify_stop(int sig, std::string* reason);
};

} // namespace dbg
