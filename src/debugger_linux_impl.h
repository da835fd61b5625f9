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
    // What the program started: its forks (and clones that do not share its
    // memory) are traced too, so that PTRACE_O_EXITKILL ends them with this
    // process however it ends, and kill and the program's exit end them.
    // `started` once the first stop of the new process was taken; `let_go`
    // for the program's own threads, which are released at that stop.
    struct Kid {
        int pid = 0;
        bool started = false;
        bool let_go = false;
    };
    std::vector<Kid> kids;
    int last_request = 0; // the ptrace request of the last resume
    bool plain_started = false; // a plain run's first stop (its exec) was taken
    bool let_go_now = false;    // the last look let a stopped process run on
    // The last resume was a single step of an instruction that does not
    // enter the kernel: its stop comes at once, so it is waited for
    // blocking, without a look at the output or the signal descriptor.
    bool quick = false;
    // Step out of a frame whose return address is not on top of the stack:
    // single steps (calls stepped over) until a ret leaves the stack
    // pointer above where it was when the step out began.
    bool out_active = false;
    uint64_t out_sp = 0;
    bool out_after_ret = false;
    // A vfork child runs in the program's memory: the breakpoints are out
    // of it until the child has let go of it.
    bool refill_after_vfork = false;
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

    // The program's descendants (debugger_linux_kids.cpp).
    // The trace options of a started program.
    static long trace_options();
    // An event stop of a traced process (fork, vfork, clone, exec, vfork done).
    void take_event(int pid, int event);
    void adopt(int parent, int child, int event);
    // Takes the stops and exits of the traced descendants and lets them run.
    void service_kids();
    // Resumes a process that is traced only to be ended with this one, from
    // a stop with that wait status; `first` for its first stop.
    void let_run(int pid, int status, bool first);
    // SIGKILL to every traced descendant, each waited for.
    void end_kids();

    // The code cache (debugger_linux_code.cpp).
    void forget_code(bool with_maps);
    void fill_code();
    bool cached_code(uint64_t addr, uint8_t* buf, size_t n, size_t* got) const;
    // Called before resuming: what of the cache survives the program's run.
    // True for a single step of an instruction that does not enter the
    // kernel.
    bool code_before_resume(bool single_step);
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
    // Whether `ret` is where a call returns to: code, right behind a call
    // that reaches the current function (or an indirect one).
    bool returns_to(uint64_t ret);
    // The next single step of a step out, from a stop; false when the
    // program could not be resumed.
    bool step_out_next();
    // Classifies a ptrace stop. Returns false when the stop was only the
    // single step off a breakpoint and the program was continued silently.
    bool classify_stop(int sig, std::string* reason);
};

} // namespace dbg
