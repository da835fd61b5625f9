#pragma once
// The debugger engine: runs a program as a child process, plainly or under
// ptrace, and gives access to a traced program's registers, memory,
// breakpoints, hardware watchpoints and stepping. Everything happens on the
// thread that started or attached the program; nothing here blocks while the
// program runs, the caller collects what happened through poll, or through
// wait, which sleeps until something happened for at most the time it is given.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace dis {
struct Insn;
}

namespace dbg {

enum class State : int {
    Idle = 0,    // no process yet
    Running = 1,
    Stopped = 2, // traced and stopped: registers and memory are readable
    Exited = 3,  // ended, killed or detached
};

struct Event {
    enum Kind : int {
        Output = 0,
        Stopped = 1,
        Exited = 2,
    };

    Kind kind = Output;
    // Output: the bytes written (stdout and stderr merged). Stopped: the stop
    // reason. Exited: empty, or "signal:" and the signal's name.
    std::string text;
    int code = 0;      // Exited: exit status, or 128 + signal
    uint64_t addr = 0; // Stopped: the instruction pointer
};

struct Region {
    uint64_t start = 0;
    uint64_t end = 0; // exclusive
    bool r = false;
    bool w = false;
    bool x = false;
    std::string name; // mapped file, "[stack]"-like pseudo name, or empty
};

// "SIGSEGV" and the like for the common signals, "signal" for the rest.
const char* signal_name(int sig);

class Process {
public:
    struct RegInfo {
        const char* name = nullptr;
        int size = 0; // bytes: 8, 4 or 2
    };

    struct Watch {
        uint64_t addr = 0;
        int len = 1;             // 1, 2, 4 or 8
        bool any_access = false; // reads too, not only writes
    };

    static constexpr int kMaxWatches = 4;
    // How long attach waits for the process to stop before it answers
    // "wait"; a stop that comes later is released (the process runs on).
    static constexpr int kAttachWaitMs = 500;

    Process();
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts exe with args (no PATH search). With `trace` the program runs
    // under ptrace with address randomisation off and stops at its entry.
    bool start(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
               bool trace, std::string* err);
    // Waits at most kAttachWaitMs for the stop; poll lets a late one go.
    bool attach(int pid, std::string* exe, std::string* err);
    // The same in two halves for a window that must not wait: begin sends
    // the attach request (false when it was refused at once, with the error
    // word), poll takes the stop when it came. Pending until then, Failed
    // with "wait" once kAttachWaitMs passed without it. start, attach and
    // kill give up an attach under way.
    enum class AttachWait : int { Done, Pending, Failed };
    bool attach_begin(int pid, std::string* exe, std::string* err);
    AttachWait attach_poll(std::string* err);
    bool attaching() const;
    // Kills a started program with its process group; an attached one is
    // detached and runs on.
    void kill();
    void detach_output();
    void poll(std::vector<Event>* ev);
    // The last poll let a stopped process of the program run on (a fork, a
    // signal): more of that may follow at once, so the next poll should
    // come soon.
    bool busy() const;
    // Like poll, but when nothing has happened yet and the program runs,
    // sleeps until its next stop or exit, or until it writes output, for at
    // most timeout_ms (0 is poll). For loops that drive the program without
    // a window; a window's turn keeps calling poll.
    void wait(std::vector<Event>* ev, int timeout_ms);

    State state() const { return m_state; }
    bool traced() const { return m_trace; }
    bool alive() const { return m_state == State::Running || m_state == State::Stopped; }
    int pid() const { return m_pid; }
    int bits() const { return m_bits; }
    int exit_code() const { return m_exit; }
    bool attached() const { return m_attached; }
    uint64_t entry() const { return m_entry; }
    uint64_t load_bias() const { return m_bias; }

    const std::vector<RegInfo>& reg_list();
    bool reg(const std::string& name, uint64_t* v) const;
    bool set_reg(const std::string& name, uint64_t v);
    uint64_t pc() const;
    uint64_t sp() const;
    uint64_t flags() const;

    size_t read(uint64_t addr, uint8_t* buf, size_t n) const;
    // The instruction at the instruction pointer of a stopped program,
    // decoded once per stop (length 0 when there is none).
    const dis::Insn& insn_at_pc() const;
    bool write(uint64_t addr, const uint8_t* buf, size_t n);
    std::vector<Region> regions() const;

    // Input to the program never blocks: what its pipe cannot take now is
    // queued and written by later calls of flush_input (poll calls it).
    void send_input(const std::string& s);
    // Writes what the pipe takes; true while input is still queued.
    bool flush_input();
    size_t input_queued() const;
    // Closes the program's input once the queued input is written.
    void close_input();

    // The breakpoint set is only written into the program while it runs.
    void set_bp(uint64_t a) { m_bps.insert(a); }
    void clear_bp(uint64_t a) { m_bps.erase(a); }
    bool has_bp(uint64_t a) const { return m_bps.count(a) != 0; }
    bool toggle_bp(uint64_t a);
    const std::set<uint64_t>& bps() const { return m_bps; }
    void clear_bps() { m_bps.clear(); }

    void set_watches(const std::vector<Watch>& w);
    const std::vector<Watch>& watches() const { return m_watches; }

    bool cont();
    bool step();
    bool step_over();
    bool step_out();
    bool run_to(uint64_t addr);

private:
    struct Impl;

    // The part of poll after the output: the program's stop or exit, if any.
    void take_status(std::vector<Event>* ev);

    std::unique_ptr<Impl> m;
    std::vector<Watch> m_watches;
    bool m_attached = false;
    State m_state = State::Idle;
    bool m_trace = false;
    int m_pid = -1;
    int m_bits = 64;
    int m_exit = 0;
    uint64_t m_entry = 0;
    uint64_t m_bias = 0;
    std::set<uint64_t> m_bps;
};

// The debug control register (DR7) value that arms the given watches in
// slots 0 to 3, and the address each slot watches (aligned down to its length).
uint64_t debug_control(const std::vector<Process::Watch>& watches);
uint64_t watch_address(const Process::Watch& w);

// 32 for an ELF file of class 1, 64 for anything else.
int elf_bits(const std::string& path);

} // namespace dbg
