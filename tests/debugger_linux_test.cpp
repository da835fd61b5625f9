// The debugger engine against real programs built with nasm and ld at test
// time, driven through real ptrace.
#include "debugger_linux.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

using namespace testutil;
namespace fs = std::filesystem;

namespace {

// Straight-line code with a call, a rep movsb, a watched store, an int3 of
// its own and a clean exit.
const char* kFlow = R"(
section .data
value:   dq 0
other:   dq 0
src:     db "abcdefghijklmnop"
dst:     times 16 db 0
section .text
global _start, call_site, after_call, rep_site, after_rep, store, trap_site, after_trap, addone
_start:
    mov rax, 1
call_site:
    call addone
after_call:
    lea rsi, [rel src]
    lea rdi, [rel dst]
    mov ecx, 16
rep_site:
    rep movsb
after_rep:
    nop
store:
    mov qword [rel value], 42
trap_site:
    int3
after_trap:
    mov eax, 60
    mov edi, 5
    syscall
addone:
    add rax, 1
    add rax, 1
    ret
)";

// Passes the label `top` three times, then exits with the count.
const char* kLoop = R"(
section .text
global _start, top
_start:
    xor eax, eax
    mov ecx, 3
top:
    add rax, 1
    dec ecx
    jnz top
    mov edi, eax
    mov eax, 60
    syscall
)";

const char* kSegv = R"(
section .text
global _start
_start:
    mov qword [0], 1
    mov eax, 60
    xor edi, edi
    syscall
)";

// Sends itself SIGQUIT, which has no name in the engine's table.
const char* kQuit = R"(
section .text
global _start
_start:
    mov eax, 39
    syscall
    mov edi, eax
    mov esi, 3
    mov eax, 62
    syscall
    mov eax, 60
    xor edi, edi
    syscall
)";

// Maps one anonymous page, leaves its address in r12, traps and spins.
const char* kMapper = R"(
section .text
global _start
_start:
    mov eax, 9
    xor edi, edi
    mov esi, 4096
    mov edx, 3
    mov r10d, 0x22
    mov r8, -1
    xor r9d, r9d
    syscall
    mov r12, rax
    int3
spin:
    jmp spin
)";

// Echoes what arrives on standard input until end of file, exit code 0.
const char* kEcho = R"(
section .bss
buf: resb 256
section .text
global _start
_start:
    xor eax, eax
    xor edi, edi
    lea rsi, [rel buf]
    mov edx, 256
    syscall
    test rax, rax
    jle done
    mov rdx, rax
    mov eax, 1
    mov edi, 1
    lea rsi, [rel buf]
    syscall
    jmp _start
done:
    mov eax, 60
    mov edi, 7
    syscall
)";

// Writes 3 MiB of 'q' in one call, which keeps refilling the pipe while
// the reader drains it, then exits.
const char* kChatty = R"(
section .bss
buf: resb 3145728
section .text
global _start
_start:
    lea rdi, [rel buf]
    mov ecx, 3145728
    mov al, 'q'
    rep stosb
    mov eax, 1
    mov edi, 1
    lea rsi, [rel buf]
    mov edx, 3145728
    syscall
    mov eax, 60
    xor edi, edi
    syscall
)";

// Counts in `counter` and sleeps 2 ms per round, forever.
const char* kSleeper = R"(
section .data
ts: dq 0, 2000000
section .bss
counter: resq 1
section .text
global _start, counter, round, never
_start:
round:
    inc qword [rel counter]
    mov eax, 35
    lea rdi, [rel ts]
    xor esi, esi
    syscall
    jmp round
never:
    nop
)";

const char* kFlow32 = R"(
section .text
global _start
_start:
    mov eax, 0x12345678
    mov ebx, 9
    mov eax, 1
    int 0x80
)";

struct Programs {
    TempDir dir;
    std::map<std::string, std::string> path;
    std::map<std::string, std::map<std::string, uint64_t>> syms;
    std::string error;
};

Programs* g_programs = nullptr;

std::map<std::string, uint64_t> symbols(const std::string& exe)
{
    std::map<std::string, uint64_t> out;
    std::istringstream lines(run({ "nm", exe }).out);
    std::string addr, type, name;
    while (lines >> addr >> type >> name)
        out[name] = std::stoull(addr, nullptr, 16);
    return out;
}

class Debugger : public testing::Test {
public:
    static void SetUpTestSuite()
    {
        // The program ignores SIGPIPE; so does the test, like the real thing.
        signal(SIGPIPE, SIG_IGN);
        g_programs = new Programs;
        const std::pair<const char*, const char*> sources[] = {
            { "flow", kFlow }, { "loop", kLoop }, { "segv", kSegv }, { "quit", kQuit },
            { "mapper", kMapper }, { "echo", kEcho }, { "chatty", kChatty },
            { "sleeper", kSleeper },
        };
        for (const auto& [name, src] : sources) {
            std::string exe = g_programs->dir.file(name);
            std::string err = nasm_build(src, exe, "elf64");
            if (!err.empty()) {
                g_programs->error += std::string(name) + ": " + err;
                continue;
            }
            g_programs->path[name] = exe;
            g_programs->syms[name] = symbols(exe);
        }
        std::string exe32 = g_programs->dir.file("flow32");
        std::string err = nasm_build(kFlow32, exe32, "elf32");
        if (err.empty())
            g_programs->path["flow32"] = exe32;
        else
            g_programs->error += "flow32: " + err;
    }

    static void TearDownTestSuite()
    {
        delete g_programs;
        g_programs = nullptr;
    }

    void SetUp() override { ASSERT_TRUE(g_programs->error.empty()) << g_programs->error; }

    void TearDown() override
    {
        // Every test leaves no child behind, running or zombie.
        int status;
        EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << "a child process was left behind";
    }

    static std::string exe(const std::string& name) { return g_programs->path[name]; }
    static uint64_t sym(const std::string& prog, const std::string& name)
    {
        auto& table = g_programs->syms[prog];
        auto it = table.find(name);
        EXPECT_NE(it, table.end()) << name;
        return it == table.end() ? 0 : it->second;
    }
};

// Polls until an event that is not output arrives (within five seconds);
// program output is gathered into *output.
dbg::Event next_stop(dbg::Process& p, std::string* output = nullptr, std::vector<size_t>* sizes = nullptr)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        std::vector<dbg::Event> ev;
        p.poll(&ev);
        for (auto& e : ev) {
            if (e.kind == dbg::Event::Output) {
                if (output)
                    *output += e.text;
                if (sizes)
                    sizes->push_back(e.text.size());
                continue;
            }
            return e;
        }
        usleep(500);
    }
    return { dbg::Event::Output, "timeout", -1, 0 };
}

// Starts a traced program and takes it to its entry stop.
void start_at_entry(dbg::Process& p, const std::string& path)
{
    std::string err;
    ASSERT_TRUE(p.start(path, {}, "", true, &err)) << err;
    dbg::Event e = next_stop(p);
    ASSERT_EQ(e.kind, dbg::Event::Stopped);
    ASSERT_EQ(e.text, "entry");
}

uint64_t reg(const dbg::Process& p, const char* name)
{
    uint64_t v = ~uint64_t(0);
    EXPECT_TRUE(p.reg(name, &v)) << name;
    return v;
}

uint8_t byte_at(const dbg::Process& p, uint64_t addr)
{
    uint8_t b = 0;
    EXPECT_EQ(p.read(addr, &b, 1), 1u);
    return b;
}

bool process_exists(int pid)
{
    return access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0;
}

std::string status_field(int pid, const std::string& key)
{
    std::istringstream lines(read_file("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            size_t at = line.find_first_not_of(" \t", key.size() + 1);
            return at == std::string::npos ? std::string() : line.substr(at);
        }
    }
    return {};
}

uint64_t peek_debugreg(int pid, int i)
{
    long off = long(offsetof(struct user, u_debugreg) + size_t(i) * sizeof(long));
    return uint64_t(ptrace(PTRACE_PEEKUSER, pid, reinterpret_cast<void*>(off), nullptr));
}

// ---- start, entry and exit -------------------------------------------------------

TEST_F(Debugger, TracedStartStopsAtTheElfEntryWithoutRandomisation)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    EXPECT_EQ(p.state(), dbg::State::Stopped);
    EXPECT_TRUE(p.traced());
    EXPECT_EQ(p.bits(), 64);
    EXPECT_EQ(p.entry(), sym("flow", "_start"));
    EXPECT_EQ(p.load_bias(), 0u);
    EXPECT_EQ(p.pc(), p.entry());
    EXPECT_EQ(p.sp(), reg(p, "rsp"));
    // Randomisation is off for the child, not for us.
    unsigned long persona = std::stoul(read_file("/proc/" + std::to_string(p.pid()) + "/personality"), nullptr, 16);
    EXPECT_EQ(persona & 0x40000, 0x40000u);
    EXPECT_EQ(std::stoul(read_file("/proc/self/personality"), nullptr, 16) & 0x40000, 0u);
    EXPECT_EQ(status_field(p.pid(), "TracerPid"), std::to_string(getpid()));
}

TEST_F(Debugger, ProgramThatCannotBeExecutedFailsWithExec)
{
    dbg::Process p;
    std::string err;
    EXPECT_FALSE(p.start(g_programs->dir.file("missing"), {}, "", true, &err));
    EXPECT_EQ(err, "exec");
    EXPECT_EQ(p.exit_code(), 127);
    EXPECT_EQ(p.state(), dbg::State::Exited);
    EXPECT_FALSE(p.cont());
    EXPECT_FALSE(p.step_over());
    EXPECT_FALSE(p.run_to(0x1000));

    err.clear();
    EXPECT_FALSE(p.start(exe("flow"), {}, g_programs->dir.file("no-such-dir"), true, &err));
    EXPECT_EQ(err, "exec");
    EXPECT_EQ(p.exit_code(), 126);

    // A plain run starts, and the failure arrives as an exit.
    ASSERT_TRUE(p.start(g_programs->dir.file("missing"), {}, "", false, &err));
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.kind, dbg::Event::Exited);
    EXPECT_EQ(e.code, 127);
    EXPECT_EQ(e.text, "");
}

TEST_F(Debugger, PipeShortageIsReportedWithAWordAndLeaksNothing)
{
    // Runs in a child so the descriptor limit does not touch the test.
    pid_t child = fork();
    if (child == 0) {
        int a = open("/dev/null", O_RDONLY), b = open("/dev/null", O_RDONLY);
        int c = open("/dev/null", O_RDONLY);
        close(a);
        close(b);
        close(c);
        if (b != a + 1 || c != b + 1)
            _exit(3);
        dbg::Process p;
        std::string err;
        rlimit lim {};
        getrlimit(RLIMIT_NOFILE, &lim);
        lim.rlim_cur = rlim_t(a);
        setrlimit(RLIMIT_NOFILE, &lim);
        if (p.start(exe("flow"), {}, "", false, &err) || err != "pipe")
            _exit(1);
        // Room for the first pipe but not the second: its ends are closed again.
        lim.rlim_cur = rlim_t(a + 2);
        setrlimit(RLIMIT_NOFILE, &lim);
        err.clear();
        if (p.start(exe("flow"), {}, "", false, &err) || err != "pipe")
            _exit(2);
        int again = open("/dev/null", O_RDONLY);
        _exit(again == a ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1/2: wrong result for the first/second pipe, 3: setup, 4: leaked";
}

TEST_F(Debugger, PlainRunDeliversOutputAndExitCode)
{
    std::error_code ec;
    dbg::Process p;
    std::string err;
    ASSERT_TRUE(p.start(exe("echo"), {}, "", false, &err)) << err;
    EXPECT_FALSE(p.traced());
    // The program ignores SIGPIPE (so does this test); its children must not.
    std::string link = "/proc/" + std::to_string(p.pid()) + "/exe";
    for (int i = 0; i < 2000 && fs::read_symlink(link, ec) != exe("echo"); ++i)
        usleep(1000);
    unsigned long long ignored = std::stoull(status_field(p.pid(), "SigIgn"), nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u);
    p.send_input("ping\n");
    p.close_input();
    std::string out;
    dbg::Event e = next_stop(p, &out);
    EXPECT_EQ(e.kind, dbg::Event::Exited);
    EXPECT_EQ(e.code, 7);
    EXPECT_EQ(p.exit_code(), 7);
    // Output can trail the exit in the pipe.
    std::vector<dbg::Event> rest;
    p.poll(&rest);
    for (auto& r : rest)
        out += r.text;
    EXPECT_EQ(out, "ping\n");
    EXPECT_FALSE(p.step());
    EXPECT_FALSE(p.cont());
}

// ---- breakpoints --------------------------------------------------------------------

TEST_F(Debugger, BreakpointsStopAndLeaveNoTraceInMemory)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    uint64_t addone = sym("flow", "addone"), after_rep = sym("flow", "after_rep");
    uint8_t addone_byte = byte_at(p, addone), after_rep_byte = byte_at(p, after_rep);
    p.set_bp(addone);
    p.set_bp(after_rep);
    p.set_bp(0x10); // unmapped: skipped without harm

    ASSERT_TRUE(p.cont());
    EXPECT_EQ(p.state(), dbg::State::Running);
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.text, "breakpoint");
    EXPECT_EQ(e.addr, addone);
    EXPECT_EQ(p.pc(), addone);
    EXPECT_EQ(byte_at(p, addone), addone_byte);
    EXPECT_EQ(byte_at(p, after_rep), after_rep_byte);
    EXPECT_NE(addone_byte, 0xCC);

    // Continuing from a breakpoint runs its instruction once and stops at
    // the next one, not at the same place again.
    ASSERT_TRUE(p.cont());
    e = next_stop(p);
    EXPECT_EQ(e.text, "breakpoint");
    EXPECT_EQ(p.pc(), after_rep);
    EXPECT_EQ(reg(p, "rax"), 3u);
    EXPECT_EQ(byte_at(p, after_rep), after_rep_byte);

    p.clear_bps();
    ASSERT_TRUE(p.cont());
    e = next_stop(p);
    EXPECT_EQ(e.text, "trap");
    ASSERT_TRUE(p.cont());
    e = next_stop(p);
    EXPECT_EQ(e.kind, dbg::Event::Exited);
    EXPECT_EQ(e.code, 5);
}

TEST_F(Debugger, EachContinueOfALoopPassesTheBreakpointOnce)
{
    dbg::Process p;
    p.set_bp(sym("loop", "top"));
    start_at_entry(p, exe("loop"));
    for (uint64_t round = 0; round < 3; ++round) {
        ASSERT_TRUE(p.cont());
        dbg::Event e = next_stop(p);
        ASSERT_EQ(e.text, "breakpoint");
        EXPECT_EQ(reg(p, "rax"), round);
    }
    ASSERT_TRUE(p.cont());
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.kind, dbg::Event::Exited);
    EXPECT_EQ(e.code, 3);
}

TEST_F(Debugger, UserBreakpointAtTheEntryStillReportsEntry)
{
    dbg::Process p;
    p.set_bp(sym("flow", "_start"));
    start_at_entry(p, exe("flow"));
    EXPECT_EQ(byte_at(p, p.pc()), 0xB8); // nasm encodes mov rax, 1 as mov eax, 1
    p.set_bp(sym("flow", "after_call"));
    ASSERT_TRUE(p.cont());
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.text, "breakpoint");
    EXPECT_EQ(p.pc(), sym("flow", "after_call"));
}

// ---- stepping -----------------------------------------------------------------------

TEST_F(Debugger, StepOverTakesCallsAndRepeatedStringsWhole)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    // A plain instruction is one step, and a breakpoint on the next one
    // does not disturb it.
    p.set_bp(sym("flow", "call_site"));
    ASSERT_TRUE(p.step_over());
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.text, "step");
    EXPECT_EQ(p.pc(), sym("flow", "call_site"));
    p.clear_bps();

    ASSERT_TRUE(p.step_over());
    e = next_stop(p);
    EXPECT_EQ(e.text, "step");
    EXPECT_EQ(p.pc(), sym("flow", "after_call"));
    EXPECT_EQ(reg(p, "rax"), 3u);

    ASSERT_TRUE(p.run_to(sym("flow", "rep_site")));
    e = next_stop(p);
    EXPECT_EQ(e.text, "step");
    EXPECT_EQ(reg(p, "rcx"), 16u);
    ASSERT_TRUE(p.step_over());
    e = next_stop(p);
    EXPECT_EQ(e.text, "step");
    EXPECT_EQ(p.pc(), sym("flow", "after_rep"));
    EXPECT_EQ(reg(p, "rcx"), 0u);
    char copied[16] = {};
    EXPECT_EQ(p.read(sym("flow", "dst"), reinterpret_cast<uint8_t*>(copied), 16), 16u);
    EXPECT_EQ(std::string(copied, 16), "abcdefghijklmnop");
}

TEST_F(Debugger, StepOverACallStopsEarlierAtABreakpointInside)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    uint64_t second_add = sym("flow", "addone") + 4;
    p.set_bp(second_add);
    ASSERT_TRUE(p.run_to(sym("flow", "call_site")));
    ASSERT_EQ(next_stop(p).text, "step");
    ASSERT_TRUE(p.step_over());
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.text, "breakpoint");
    EXPECT_EQ(p.pc(), second_add);
    // The temporary stop behind the call is gone: the next continue runs to the trap.
    ASSERT_TRUE(p.cont());
    EXPECT_EQ(next_stop(p).text, "trap");
}

TEST_F(Debugger, StepOutReturnsToTheCaller)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    ASSERT_TRUE(p.run_to(sym("flow", "addone")));
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.text, "step");
    EXPECT_EQ(p.pc(), sym("flow", "addone"));
    ASSERT_TRUE(p.step_out());
    e = next_stop(p);
    EXPECT_EQ(e.text, "step");
    EXPECT_EQ(p.pc(), sym("flow", "after_call"));
    EXPECT_EQ(reg(p, "rax"), 3u);
}

TEST_F(Debugger, RunToReasonsAndInterruptions)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));

    // To the current address: one single step.
    uint64_t here = p.pc();
    ASSERT_TRUE(p.run_to(here));
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.text, "step");
    EXPECT_EQ(p.pc(), sym("flow", "call_site"));

    // A target that is also a user breakpoint stops as a breakpoint.
    p.set_bp(sym("flow", "after_call"));
    ASSERT_TRUE(p.run_to(sym("flow", "after_call")));
    e = next_stop(p);
    EXPECT_EQ(e.text, "breakpoint");
    EXPECT_EQ(p.pc(), sym("flow", "after_call"));
    p.clear_bps();

    // Interrupted by a user breakpoint, the old target is forgotten.
    p.set_bp(sym("flow", "rep_site"));
    ASSERT_TRUE(p.run_to(sym("flow", "store")));
    e = next_stop(p);
    EXPECT_EQ(e.text, "breakpoint");
    EXPECT_EQ(p.pc(), sym("flow", "rep_site"));
    p.clear_bps();
    ASSERT_TRUE(p.cont());
    e = next_stop(p);
    EXPECT_EQ(e.text, "trap");
    EXPECT_EQ(p.pc(), sym("flow", "after_trap"));
}

// ---- signals, traps and the end of a program -------------------------------------

TEST_F(Debugger, ProgramsOwnInt3IsATrapBehindTheByte)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    ASSERT_TRUE(p.cont());
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.text, "trap");
    EXPECT_EQ(e.addr, sym("flow", "trap_site") + 1);
    uint64_t value = 0;
    EXPECT_EQ(p.read(sym("flow", "value"), reinterpret_cast<uint8_t*>(&value), 8), 8u);
    EXPECT_EQ(value, 42u);
}

TEST_F(Debugger, SegfaultStopsThenEndsTheProgramWithoutAZombie)
{
    dbg::Process p;
    start_at_entry(p, exe("segv"));
    uint64_t fault_pc = p.pc();
    ASSERT_TRUE(p.cont());
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.kind, dbg::Event::Stopped);
    EXPECT_EQ(e.text, "signal:SIGSEGV");
    EXPECT_EQ(p.pc(), fault_pc);
    int pid = p.pid();
    ASSERT_TRUE(p.cont());
    e = next_stop(p);
    EXPECT_EQ(e.kind, dbg::Event::Exited);
    EXPECT_EQ(e.code, 139);
    EXPECT_EQ(e.text, "signal:SIGSEGV");
    EXPECT_EQ(p.exit_code(), 139);
    EXPECT_EQ(p.state(), dbg::State::Exited);
    EXPECT_FALSE(process_exists(pid));
}

TEST_F(Debugger, SignalWithoutANameIsCalledSignal)
{
    dbg::Process p;
    start_at_entry(p, exe("quit"));
    ASSERT_TRUE(p.cont());
    EXPECT_EQ(next_stop(p).text, "signal:signal");
    ASSERT_TRUE(p.cont());
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.kind, dbg::Event::Exited);
    EXPECT_EQ(e.code, 128 + SIGQUIT);
    EXPECT_EQ(e.text, "signal:signal");
    EXPECT_STREQ(dbg::signal_name(SIGCHLD), "SIGCHLD");
    EXPECT_STREQ(dbg::signal_name(18), "signal");
}

TEST_F(Debugger, KillEndsRunningAndStoppedProgramsCompletely)
{
    for (bool trace : { false, true }) {
        dbg::Process p;
        std::string err;
        ASSERT_TRUE(p.start(exe("sleeper"), {}, "", trace, &err)) << err;
        if (trace) {
            ASSERT_EQ(next_stop(p).text, "entry");
            ASSERT_TRUE(p.cont());
        }
        usleep(2000);
        int pid = p.pid();
        p.kill();
        EXPECT_EQ(p.state(), dbg::State::Exited);
        EXPECT_EQ(p.exit_code(), 137);
        EXPECT_FALSE(process_exists(pid));
        std::vector<dbg::Event> ev;
        p.poll(&ev);
        EXPECT_TRUE(ev.empty());
    }
    // The destructor does the same for a program left stopped.
    int pid;
    {
        dbg::Process p;
        start_at_entry(p, exe("sleeper"));
        pid = p.pid();
    }
    EXPECT_FALSE(process_exists(pid));
}

// ---- registers and memory ---------------------------------------------------------------

TEST_F(Debugger, RegistersByNameInA64BitProgram)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    const auto& list = p.reg_list();
    ASSERT_EQ(list.size(), 26u);
    EXPECT_STREQ(list[0].name, "rax");
    EXPECT_STREQ(list[16].name, "rip");
    EXPECT_STREQ(list[17].name, "eflags");
    EXPECT_EQ(list[17].size, 4);
    EXPECT_STREQ(list[18].name, "cs");
    EXPECT_EQ(list[18].size, 2);
    EXPECT_STREQ(list[25].name, "gs_base");
    EXPECT_EQ(list[25].size, 8);
    EXPECT_EQ(reg(p, "rip"), p.pc());
    EXPECT_EQ(reg(p, "eflags"), p.flags());

    ASSERT_TRUE(p.run_to(sym("flow", "addone")));
    ASSERT_EQ(next_stop(p).text, "step");
    ASSERT_TRUE(p.set_reg("rax", 0x1122334455667788));
    EXPECT_EQ(reg(p, "rax"), 0x1122334455667788u);
    EXPECT_EQ(reg(p, "eax"), 0x55667788u);
    EXPECT_FALSE(p.set_reg("eax", 1));
    EXPECT_FALSE(p.set_reg("xmm0", 1));
    uint64_t v;
    EXPECT_FALSE(p.reg("st0", &v));
    // The change reached the program: its next instruction adds one.
    ASSERT_TRUE(p.step());
    ASSERT_EQ(next_stop(p).text, "step");
    EXPECT_EQ(reg(p, "rax"), 0x1122334455667789u);
    // Registers are not readable while the program runs.
    ASSERT_TRUE(p.cont());
    EXPECT_FALSE(p.reg("rax", &v));
    EXPECT_EQ(p.pc(), 0u);
    next_stop(p);
}

TEST_F(Debugger, ThirtyTwoBitProgram)
{
    dbg::Process p;
    std::string err;
    bool started = p.start(exe("flow32"), {}, "", true, &err);
    EXPECT_EQ(p.bits(), 32);
    const auto& list = p.reg_list();
    const char* names[] = { "eax", "ebx", "ecx", "edx", "esi", "edi", "ebp", "esp",
                            "eip", "eflags", "cs", "ss", "ds", "es", "fs", "gs" };
    ASSERT_EQ(list.size(), 16u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_STREQ(list[i].name, names[i]);
        EXPECT_EQ(list[i].size, i >= 10 ? 2 : 4) << names[i];
    }
    EXPECT_EQ(dbg::elf_bits(exe("flow32")), 32);
    EXPECT_EQ(dbg::elf_bits(exe("flow")), 64);
    EXPECT_EQ(dbg::elf_bits(g_programs->dir.file("missing")), 64);
    if (!started)
        GTEST_SKIP() << "32-bit programs cannot execute on this machine (" << err << ")";
    ASSERT_EQ(next_stop(p).text, "entry");
    ASSERT_TRUE(p.step());
    ASSERT_EQ(next_stop(p).text, "step");
    EXPECT_EQ(reg(p, "eax"), 0x12345678u);
    EXPECT_EQ(reg(p, "eip"), p.pc());
    // Values written into a 32-bit program are cut to 32 bits.
    ASSERT_TRUE(p.set_reg("eax", 0x100000005ull));
    EXPECT_EQ(reg(p, "eax"), 5u);
    ASSERT_TRUE(p.cont());
    dbg::Event e = next_stop(p);
    EXPECT_EQ(e.kind, dbg::Event::Exited);
    EXPECT_EQ(e.code, 9);
}

TEST_F(Debugger, RegionsAndReadsAtTheirEdges)
{
    dbg::Process p;
    start_at_entry(p, exe("mapper"));
    ASSERT_TRUE(p.cont());
    ASSERT_EQ(next_stop(p).text, "trap");
    uint64_t page = reg(p, "r12");
    auto regions = p.regions();
    const dbg::Region* anon = nullptr;
    const dbg::Region* code = nullptr;
    const dbg::Region* stack = nullptr;
    for (const auto& r : regions) {
        if (page >= r.start && page < r.end)
            anon = &r;
        if (p.pc() >= r.start && p.pc() < r.end)
            code = &r;
        if (r.name == "[stack]")
            stack = &r;
    }
    ASSERT_TRUE(anon && code && stack);
    EXPECT_EQ(anon->name, "");
    EXPECT_TRUE(anon->r && anon->w && !anon->x);
    EXPECT_EQ(code->name, exe("mapper"));
    EXPECT_TRUE(code->r && !code->w && code->x);
    EXPECT_TRUE(stack->r && stack->w);

    // A read running off the end of the stack gives the bytes that can be read.
    uint8_t buf[16];
    EXPECT_EQ(p.read(stack->end - 5, buf, sizeof buf), 5u);
    EXPECT_EQ(p.read(0, buf, sizeof buf), 0u);
    const uint8_t data[3] = { 1, 2, 3 };
    EXPECT_TRUE(p.write(page + 100, data, 3));
    EXPECT_EQ(p.read(page + 100, buf, 3), 3u);
    EXPECT_EQ(memcmp(buf, data, 3), 0);
    EXPECT_FALSE(p.write(0, data, 3));

    // The map is readable while the program runs; memory is not.
    ASSERT_TRUE(p.cont());
    EXPECT_EQ(p.regions().size(), regions.size());
    EXPECT_EQ(p.read(page, buf, 1), 0u);
}

// ---- output ---------------------------------------------------------------------------------

TEST_F(Debugger, FloodThroughAnOrdinaryPipeArrivesWholeInBoundedChunks)
{
    dbg::Process p;
    std::string err;
    ASSERT_TRUE(p.start(exe("chatty"), {}, "", false, &err)) << err;
    std::string out;
    std::vector<size_t> sizes;
    dbg::Event e = next_stop(p, &out, &sizes);
    EXPECT_EQ(e.kind, dbg::Event::Exited);
    std::vector<dbg::Event> rest;
    p.poll(&rest);
    for (auto& r : rest) {
        out += r.text;
        sizes.push_back(r.text.size());
    }
    EXPECT_EQ(out.size(), 3145728u);
    EXPECT_EQ(out.find_first_not_of('q'), std::string::npos);
    EXPECT_GE(sizes.size(), 3u);
    for (size_t n : sizes)
        EXPECT_LE(n, 1048576u + 4096u);
}

// ---- attaching --------------------------------------------------------------------------------

pid_t spawn(const std::string& path)
{
    pid_t pid = fork();
    if (pid == 0) {
        execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

uint64_t peek_counter(int pid, uint64_t addr)
{
    uint64_t v = 0;
    int fd = open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
    if (fd >= 0) {
        if (pread(fd, &v, 8, off_t(addr)) != 8)
            v = 0;
        close(fd);
    }
    return v;
}

void end_child(pid_t pid)
{
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
}

TEST_F(Debugger, AttachStopsASleeperAndDetachLetsItRunOn)
{
    uint64_t counter = sym("sleeper", "counter"), round = sym("sleeper", "round");
    pid_t child = spawn(exe("sleeper"));
    while (peek_counter(child, counter) < 2)
        usleep(1000);

    for (bool leave_running : { false, true }) {
        dbg::Process p;
        std::string path, err;
        ASSERT_TRUE(p.attach(child, &path, &err)) << err;
        EXPECT_EQ(path, exe("sleeper"));
        EXPECT_EQ(p.state(), dbg::State::Stopped);
        EXPECT_TRUE(p.attached());
        EXPECT_TRUE(p.traced());
        EXPECT_EQ(p.entry(), sym("sleeper", "_start"));
        uint64_t before = 0;
        EXPECT_EQ(p.read(counter, reinterpret_cast<uint8_t*>(&before), 8), 8u);

        p.set_bp(round);
        ASSERT_TRUE(p.cont());
        dbg::Event e = next_stop(p);
        EXPECT_EQ(e.text, "breakpoint");
        EXPECT_EQ(p.pc(), round);
        if (leave_running) {
            // Detach while running with a breakpoint written in that is
            // never reached: it must be taken out on the way.
            p.clear_bps();
            p.set_bp(sym("sleeper", "never"));
            ASSERT_TRUE(p.cont());
            for (int i = 0; i < 10; ++i) {
                std::vector<dbg::Event> ev;
                p.poll(&ev);
                EXPECT_TRUE(ev.empty());
                usleep(1000);
            }
            EXPECT_EQ(p.state(), dbg::State::Running);
        }
        p.kill();
        EXPECT_EQ(p.state(), dbg::State::Exited);
        EXPECT_FALSE(p.attached());

        // Detached, unmarked and counting again.
        EXPECT_EQ(status_field(child, "TracerPid"), "0");
        EXPECT_NE(peek_counter(child, round) & 0xFF, 0xCCu);
        EXPECT_NE(peek_counter(child, sym("sleeper", "never")) & 0xFF, 0xCCu);
        uint64_t now = peek_counter(child, counter);
        EXPECT_GE(now, before);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (peek_counter(child, counter) <= now + 2 && std::chrono::steady_clock::now() < until)
            usleep(1000);
        EXPECT_GT(peek_counter(child, counter), now + 2);
        std::string state = status_field(child, "State");
        EXPECT_TRUE(state[0] == 'S' || state[0] == 'R') << state;
    }
    end_child(child);
}

TEST_F(Debugger, AttachToNothingFailsWithTheSystemsText)
{
    dbg::Process p;
    std::string path, err;
    EXPECT_FALSE(p.attach(999999999, &path, &err));
    EXPECT_EQ(err, strerror(ENOENT));
    EXPECT_EQ(p.state(), dbg::State::Idle);
}

// ---- watchpoints ----------------------------------------------------------------------------------

TEST_F(Debugger, DebugControlComposition)
{
    using W = dbg::Process::Watch;
    EXPECT_EQ(dbg::debug_control({}), 0u);
    EXPECT_EQ(dbg::debug_control({ W { 0x1000, 1, false } }), 0x10001u);
    EXPECT_EQ(dbg::debug_control({ W { 0x1000, 4, true } }), 0xF0001u);
    // Slot 1, 8 bytes, writes: L1 = bit 2, R/W1 = 01 at 20, LEN1 = 10 at 22.
    EXPECT_EQ(dbg::debug_control({ W { 0, 1, false }, W { 0x1000, 8, false } }), 0x910005u);
    EXPECT_EQ(dbg::debug_control({ W { 0, 2, true }, W { 0, 2, true }, W { 0, 2, true }, W { 0, 2, true } }),
              0x77770055u);
    // An unknown length counts as four.
    EXPECT_EQ(dbg::debug_control({ W { 0, 3, false } }), 0xD0001u);
    EXPECT_EQ(dbg::watch_address(W { 0x1003, 4, false }), 0x1000u);
    EXPECT_EQ(dbg::watch_address(W { 0x100F, 8, false }), 0x1008u);
    EXPECT_EQ(dbg::watch_address(W { 0x1003, 1, false }), 0x1003u);

    dbg::Process p;
    p.set_watches({ W {}, W {}, W {}, W {}, W { 5, 1, false } });
    EXPECT_EQ(p.watches().size(), 4u);
}

TEST_F(Debugger, WatchRegistersAreWrittenAtResumeAndCleared)
{
    using W = dbg::Process::Watch;
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    uint64_t value = sym("flow", "value"), other = sym("flow", "other");
    std::vector<W> w { W { value, 8, false }, W { other + 3, 4, true } };
    p.set_watches(w);
    ASSERT_TRUE(p.step());
    EXPECT_EQ(next_stop(p).text, "step");
    EXPECT_EQ(peek_debugreg(p.pid(), 0), value);
    EXPECT_EQ(peek_debugreg(p.pid(), 1), other);
    EXPECT_EQ(peek_debugreg(p.pid(), 7), dbg::debug_control(w));

    // A new list in the same slot with another length replaces the old one.
    w = { W { value + 1, 1, true } };
    p.set_watches(w);
    ASSERT_TRUE(p.step());
    EXPECT_EQ(next_stop(p).text, "step");
    EXPECT_EQ(peek_debugreg(p.pid(), 0), value + 1);
    EXPECT_EQ(peek_debugreg(p.pid(), 7), dbg::debug_control(w));

    p.set_watches({});
    ASSERT_TRUE(p.step());
    EXPECT_EQ(next_stop(p).text, "step");
    EXPECT_EQ(peek_debugreg(p.pid(), 7), 0u);
}

TEST_F(Debugger, WatchpointHitNamesTheLowestSlot)
{
    using W = dbg::Process::Watch;
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    uint64_t value = sym("flow", "value"), other = sym("flow", "other");
    p.set_watches({ W { other, 8, false }, W { value, 8, false }, W { value + 4, 4, true } });
    ASSERT_TRUE(p.cont());
    dbg::Event e = next_stop(p);
    if (e.text == "trap" && p.pc() == sym("flow", "after_trap"))
        GTEST_SKIP() << "hardware watchpoints do not fire on this machine (the watched store ran unnoticed)";
    EXPECT_EQ(e.text, "watch:1");
    EXPECT_EQ(p.pc(), sym("flow", "trap_site"));
    ASSERT_TRUE(p.cont());
    EXPECT_EQ(next_stop(p).text, "trap");
}

} // namespace
