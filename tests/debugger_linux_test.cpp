// The debugger engine against real programs built with nasm and ld at test
// time (their sources are in tests/data/debugger/), driven through real ptrace.
#include "debugger_linux.h"
#include "disasm.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
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

using namespace testutil;

namespace {

class Debugger : public testing::Test {
public:
    static void SetUpTestSuite()
    {
        // The program ignores SIGPIPE; so does the test, like the real thing.
        signal(SIGPIPE, SIG_IGN);
        s_dir = new TempDir;
        for (std::string name : { "flow", "loop", "quit", "mapper", "echo", "chatty", "sleeper", "flow32", "forker", "patcher", "kids", "daemon", "frames" }) {
            std::string err = nasm_build(read_file(tests_dir() + "/data/debugger/" + name + ".s"), exe(name),
                                         name == "flow32" ? "elf32" : "elf64");
            s_error += err.empty() ? "" : name + ": " + err;
            std::istringstream lines(run({ "nm", exe(name) }).out);
            std::string addr, type, sym;
            while (lines >> addr >> type >> sym)
                s_syms[name][sym] = std::stoull(addr, nullptr, 16);
        }
    }

    static void TearDownTestSuite() { delete s_dir; }

    void SetUp() override { ASSERT_TRUE(s_error.empty()) << s_error; }

    void TearDown() override
    {
        // Every test leaves no child behind, running or zombie.
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child process was left behind";
    }

    static std::string exe(const std::string& name) { return s_dir->file(name); }
    static uint64_t sym(const std::string& prog, const std::string& name)
    {
        auto& table = s_syms[prog];
        auto it = table.find(name);
        EXPECT_NE(it, table.end()) << name;
        return it == table.end() ? 0 : it->second;
    }
    static uint64_t flow(const std::string& name) { return sym("flow", name); }

    static inline TempDir* s_dir = nullptr;
    static inline std::string s_error;
    static inline std::map<std::string, std::map<std::string, uint64_t>> s_syms;
};

// Program output as it arrived, chunk by chunk.
struct Output {
    std::string text;
    std::vector<size_t> sizes;
    void add(const dbg::Event& e)
    {
        text += e.text;
        sizes.push_back(e.text.size());
    }
};

// Polls until an event that is not output arrives (within five seconds).
dbg::Event next_stop(dbg::Process& p, Output* out = nullptr)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        std::vector<dbg::Event> ev;
        p.poll(&ev);
        for (auto& e : ev) {
            if (e.kind != dbg::Event::Output)
                return e;
            if (out)
                out->add(e);
        }
        usleep(500);
    }
    return { dbg::Event::Output, "timeout", -1, 0 };
}

std::string hex(uint64_t v)
{
    std::ostringstream text;
    text << std::hex << v;
    return text.str();
}

// After a resume that `resumed`, the next event must be a stop for `reason`
// with the program standing at `at`.
testing::AssertionResult stops(bool resumed, dbg::Process& p, const std::string& reason, uint64_t at)
{
    if (!resumed)
        return testing::AssertionFailure() << "the program was not resumed";
    dbg::Event e = next_stop(p);
    if (e.kind != dbg::Event::Stopped || e.text != reason || e.addr != at || p.pc() != at)
        return testing::AssertionFailure() << "event " << e.kind << " '" << e.text << "' at " << hex(e.addr)
                                           << " (pc " << hex(p.pc()) << "), wanted '" << reason << "' at " << hex(at);
    return testing::AssertionSuccess();
}

// The same for an exit; output that trails the exit in the pipe is collected too.
testing::AssertionResult exits(bool resumed, dbg::Process& p, int code, const std::string& text = "",
                               Output* out = nullptr)
{
    if (!resumed)
        return testing::AssertionFailure() << "the program was not resumed";
    dbg::Event e = next_stop(p, out);
    std::vector<dbg::Event> rest;
    p.poll(&rest);
    for (size_t i = 0; out && i < rest.size(); ++i)
        out->add(rest[i]);
    if (e.kind != dbg::Event::Exited || e.code != code || e.text != text || p.exit_code() != code
        || p.state() != dbg::State::Exited)
        return testing::AssertionFailure() << "event " << e.kind << " '" << e.text << "' code " << e.code
                                           << ", wanted exit " << code << " '" << text << "'";
    return testing::AssertionSuccess();
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

// "name:size " for every register the engine lists.
std::string layout(dbg::Process& p)
{
    std::string text;
    for (const auto& r : p.reg_list())
        text += std::string(r.name) + ":" + std::to_string(r.size) + " ";
    return text;
}

// ---- start, entry and exit -------------------------------------------------------

TEST_F(Debugger, ProgramThatCannotBeExecutedFailsWithExec)
{
    dbg::Process p;
    std::string err;
    EXPECT_FALSE(p.start(exe("missing"), {}, "", true, &err));
    EXPECT_EQ(err, "exec");
    EXPECT_EQ(p.exit_code(), 127);
    EXPECT_EQ(p.state(), dbg::State::Exited);
    EXPECT_FALSE(p.cont() || p.step_over() || p.run_to(0x1000));
    err.clear();
    EXPECT_FALSE(p.start(exe("flow"), {}, exe("no-such-dir"), true, &err));
    EXPECT_EQ(err, "exec");
    EXPECT_EQ(p.exit_code(), 126);
    // A plain run starts, and the failure arrives as an exit.
    ASSERT_TRUE(p.start(exe("missing"), {}, "", false, &err)) << err;
    EXPECT_TRUE(exits(true, p, 127));
}

TEST_F(Debugger, PipeShortageIsReportedWithAWordAndLeaksNothing)
{
    // Runs in a child so the descriptor limit does not touch the test.
    pid_t child = fork();
    if (child == 0) {
        int a = open("/dev/null", O_RDONLY), b = open("/dev/null", O_RDONLY), c = open("/dev/null", O_RDONLY);
        close(a);
        close(b);
        close(c);
        if (b != a + 1 || c != b + 1)
            _exit(3);
        dbg::Process p;
        std::string err;
        rlimit lim {};
        getrlimit(RLIMIT_NOFILE, &lim);
        // No room for a pipe, then room for the first pipe but not the second:
        // its ends are closed again.
        for (int room : { 0, 2 }) {
            lim.rlim_cur = rlim_t(a + room);
            setrlimit(RLIMIT_NOFILE, &lim);
            err.clear();
            if (p.start(exe("flow"), {}, "", false, &err) || err != "pipe")
                _exit(room ? 2 : 1);
        }
        int again = open("/dev/null", O_RDONLY);
        _exit(again == a ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(testutil::wait_child(child, &status), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1/2: wrong result for the first/second pipe, 3: setup, 4: leaked";
}

TEST_F(Debugger, PlainRunsDeliverOutputAndExitCode)
{
    dbg::Process p;
    std::string err;
    ASSERT_TRUE(p.start(exe("echo"), {}, "", false, &err)) << err;
    EXPECT_FALSE(p.traced());
    // The program ignores SIGPIPE (so does this test); its children must not.
    std::error_code ec;
    std::string link = "/proc/" + std::to_string(p.pid()) + "/exe";
    for (int i = 0; i < 2000 && std::filesystem::read_symlink(link, ec) != exe("echo"); ++i)
        usleep(1000);
    unsigned long long ignored = std::stoull(status_field(p.pid(), "SigIgn"), nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u);
    p.send_input("ping\n");
    p.close_input();
    Output out;
    EXPECT_TRUE(exits(true, p, 7, "", &out));
    EXPECT_EQ(out.text, "ping\n");
    EXPECT_FALSE(p.step() || p.cont());

    // A flood through the ordinary pipe arrives whole, in bounded chunks.
    ASSERT_TRUE(p.start(exe("chatty"), {}, "", false, &err)) << err;
    Output flood;
    EXPECT_TRUE(exits(true, p, 0, "", &flood));
    EXPECT_EQ(flood.text.size(), 3145728u);
    EXPECT_EQ(flood.text.find_first_not_of('q'), std::string::npos);
    EXPECT_GE(flood.sizes.size(), 3u);
    for (size_t n : flood.sizes)
        EXPECT_LE(n, 1048576u + 4096u);
}

// ---- breakpoints, stepping and signals -------------------------------------------

TEST_F(Debugger, TracedStartAndBreakpointsLeaveNoTraceInMemory)
{
    dbg::Process p;
    // A user breakpoint on the entry neither replaces the entry stop nor shows its int3.
    p.set_bp(flow("_start"));
    start_at_entry(p, exe("flow"));
    EXPECT_EQ(p.pc(), flow("_start"));
    EXPECT_EQ(byte_at(p, p.pc()), 0xB8); // nasm encodes mov rax, 1 as mov eax, 1
    // Address randomisation is off for the program, not for us.
    unsigned long persona = std::stoul(read_file("/proc/" + std::to_string(p.pid()) + "/personality"), nullptr, 16);
    EXPECT_EQ(persona & 0x40000, 0x40000u);
    EXPECT_EQ(std::stoul(read_file("/proc/self/personality"), nullptr, 16) & 0x40000, 0u);
    EXPECT_EQ(status_field(p.pid(), "TracerPid"), std::to_string(getpid()));

    uint8_t addone_byte = byte_at(p, flow("addone")), after_rep_byte = byte_at(p, flow("after_rep"));
    EXPECT_NE(addone_byte, 0xCC);
    p.set_bp(flow("addone"));
    p.set_bp(flow("after_rep"));
    p.set_bp(0x10); // unmapped: skipped without harm
    ASSERT_TRUE(p.cont());
    EXPECT_EQ(p.state(), dbg::State::Running);
    ASSERT_TRUE(stops(true, p, "breakpoint", flow("addone")));
    EXPECT_EQ(byte_at(p, flow("addone")), addone_byte);
    EXPECT_EQ(byte_at(p, flow("after_rep")), after_rep_byte);
    ASSERT_TRUE(stops(p.cont(), p, "breakpoint", flow("after_rep")));
    EXPECT_EQ(reg(p, "rax"), 3u);

    // The program's own int3 is a trap, reported behind the byte.
    p.clear_bps();
    ASSERT_TRUE(stops(p.cont(), p, "trap", flow("after_trap")));
    uint64_t value = 0;
    EXPECT_EQ(p.read(flow("value"), reinterpret_cast<uint8_t*>(&value), 8), 8u);
    EXPECT_EQ(value, 42u);
    EXPECT_TRUE(exits(p.cont(), p, 5));
}

TEST_F(Debugger, EachContinueOfALoopPassesTheBreakpointOnce)
{
    dbg::Process p;
    p.set_bp(sym("loop", "top"));
    start_at_entry(p, exe("loop"));
    for (uint64_t round = 0; round < 3; ++round) {
        ASSERT_TRUE(stops(p.cont(), p, "breakpoint", sym("loop", "top")));
        EXPECT_EQ(reg(p, "rax"), round);
    }
    EXPECT_TRUE(exits(p.cont(), p, 3));
}

TEST_F(Debugger, InterruptedStepOverAndRunToForgetTheirTargets)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    ASSERT_TRUE(stops(p.run_to(flow("call_site")), p, "step", flow("call_site")));
    // Stepping over a call stops earlier at a breakpoint inside; the
    // temporary stop behind the call is gone then.
    p.set_bp(flow("addone") + 4);
    ASSERT_TRUE(stops(p.step_over(), p, "breakpoint", flow("addone") + 4));
    p.clear_bps();
    p.set_bp(flow("rep_site"));
    ASSERT_TRUE(stops(p.cont(), p, "breakpoint", flow("rep_site")));
    // The same for a run_to target behind a user breakpoint.
    p.clear_bps();
    p.set_bp(flow("after_rep"));
    ASSERT_TRUE(stops(p.run_to(flow("store")), p, "breakpoint", flow("after_rep")));
    p.clear_bps();
    EXPECT_TRUE(stops(p.cont(), p, "trap", flow("after_trap")));
}

TEST_F(Debugger, SignalWithoutANameStopsFirstThenEndsTheProgram)
{
    dbg::Process p;
    start_at_entry(p, exe("quit"));
    EXPECT_TRUE(stops(p.cont(), p, "signal:signal", sym("quit", "after_kill")));
    EXPECT_TRUE(exits(p.cont(), p, 128 + SIGQUIT, "signal:signal"));
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
        EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1) << "not reaped";
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
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1) << "not reaped";
}

// Gone, or a zombie left for init to reap.
bool ended(int pid)
{
    for (int i = 0; i < 100; ++i) {
        std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        if (stat.empty() || (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z'))
            return true;
        usleep(20000);
    }
    return false;
}

// What a program forks stays in its process group, and the group ends with
// the program: when it is killed and when it exits by itself.
TEST_F(Debugger, ForkedChildrenEndWithTheProgram)
{
    for (bool stay : { true, false }) {
        dbg::Process p;
        start_at_entry(p, exe("forker"));
        const uint8_t one = 1;
        if (stay) {
            ASSERT_TRUE(p.write(sym("forker", "stay"), &one, 1));
        }
        p.set_bp(sym("forker", "parent"));
        ASSERT_TRUE(stops(p.cont(), p, "breakpoint", sym("forker", "parent")));
        uint64_t child = 0;
        ASSERT_TRUE(p.reg("rax", &child));
        ASSERT_GT(child, 0u);
        p.clear_bps();
        if (stay) {
            ASSERT_TRUE(p.cont());
            p.kill();
        } else {
            ASSERT_TRUE(exits(p.cont(), p, 0));
        }
        EXPECT_TRUE(ended(int(child))) << (stay ? "after kill" : "after the exit");
    }
}

// A forked child is a copy of the program with the breakpoints' int3 bytes
// in it, and a vfork child runs in the program's own memory: neither may
// trap on them. The parent exits with the child's code, 100 + signal when
// the child was killed.
TEST_F(Debugger, ChildrenNeverMeetTheProgramsBreakpoints)
{
    for (uint8_t how : { 57, 58 }) {
        dbg::Process p;
        start_at_entry(p, exe("kids"));
        ASSERT_TRUE(p.write(sym("kids", "how"), &how, 1));
        p.set_bp(sym("kids", "shared"));
        // The child's end may stop the parent with SIGCHLD first.
        dbg::Event e;
        for (int i = 0; i < 3 && (i == 0 || e.text == "signal:SIGCHLD"); ++i)
            e = p.cont() ? next_stop(p) : dbg::Event {};
        EXPECT_EQ(e.text, "breakpoint") << int(how);
        EXPECT_EQ(p.pc(), sym("kids", "shared"));
        EXPECT_NE(reg(p, "r12"), 0u) << "the parent stops, not the child";
        for (int i = 0; i < 3 && (i == 0 || e.text == "signal:SIGCHLD"); ++i)
            e = p.cont() ? next_stop(p) : dbg::Event {};
        EXPECT_EQ(e.kind, dbg::Event::Exited);
        EXPECT_EQ(e.code, 7) << int(how);
    }
}

// Starts the daemon program, traced or not, and gives the program's pid and
// the two it reports (its daemon and the daemon's child); empty on failure.
std::vector<int> start_daemon(dbg::Process& p, const std::string& path, bool trace)
{
    std::string err;
    if (!p.start(path, {}, "", trace, &err))
        return {};
    if (trace && (next_stop(p).text != "entry" || !p.cont()))
        return {};
    std::string out;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (out.size() < 8 && std::chrono::steady_clock::now() < until) {
        std::vector<dbg::Event> ev;
        p.wait(&ev, 100);
        for (const auto& e : ev)
            out += e.kind == dbg::Event::Output ? e.text : std::string();
    }
    if (out.size() != 8)
        return {};
    std::vector<int> pids { p.pid() };
    for (size_t i = 0; i < 8; i += 4) {
        int32_t pid = 0;
        memcpy(&pid, out.data() + i, 4);
        pids.push_back(pid);
    }
    return pids;
}

// A daemon the program starts (its own session, every signal ignored) and
// the daemon's child end with the program, and with the debugger however
// it ends: a quit, or kill -9 (here of a process that runs the engine).
TEST_F(Debugger, DaemonsEndWithTheProgramAndWithTheDebugger)
{
    enum class End { Quit, ProgramEnds, KilledDebugger };
    for (bool trace : { true, false }) {
        for (End end : { End::Quit, End::ProgramEnds, End::KilledDebugger }) {
            std::vector<int> pids;
            if (end == End::KilledDebugger) {
                int fds[2];
                ASSERT_EQ(pipe(fds), 0);
                pid_t debugger = fork();
                if (debugger == 0) {
                    close(fds[0]);
                    dbg::Process p;
                    std::vector<int> got = start_daemon(p, exe("daemon"), trace);
                    if (got.size() == 3 && write(fds[1], got.data(), 12) == 12)
                        pause();
                    _exit(1);
                }
                close(fds[1]);
                pids.resize(3);
                pollfd in { fds[0], POLLIN, 0 };
                bool told = poll(&in, 1, 10000) > 0 && read(fds[0], pids.data(), 12) == 12;
                close(fds[0]);
                ::kill(debugger, SIGKILL);
                waitpid(debugger, nullptr, 0);
                ASSERT_TRUE(told) << trace;
            } else {
                dbg::Process p;
                pids = start_daemon(p, exe("daemon"), trace);
                ASSERT_EQ(pids.size(), 3u) << trace;
                if (end == End::ProgramEnds) {
                    ::kill(p.pid(), SIGKILL);
                    EXPECT_TRUE(exits(true, p, 128 + SIGKILL, "signal:SIGKILL"));
                }
            }
            for (int pid : pids)
                EXPECT_TRUE(ended(pid)) << "traced " << trace << ", ending " << int(end) << ", pid " << pid;
        }
    }
}

// wait sleeps until the stop and hands it over at once; with nothing to
// come it returns empty when its time is up, the program still running.
TEST_F(Debugger, WaitDeliversStopsAndExitsAndRunsOutOnASleeper)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(p.step());
        std::vector<dbg::Event> ev;
        p.wait(&ev, 5000);
        ASSERT_EQ(ev.size(), 1u);
        EXPECT_EQ(ev[0].kind, dbg::Event::Stopped);
        EXPECT_EQ(ev[0].text, "step");
        EXPECT_EQ(p.state(), dbg::State::Stopped);
    }
    ASSERT_TRUE(p.cont());
    std::vector<dbg::Event> ev;
    for (int i = 0; i < 10 && (ev.empty() || ev.back().kind == dbg::Event::Output); ++i)
        p.wait(&ev, 5000);
    ASSERT_FALSE(ev.empty());
    EXPECT_NE(ev.back().kind, dbg::Event::Output);

    dbg::Process s;
    start_at_entry(s, exe("sleeper"));
    ASSERT_TRUE(s.cont());
    ev.clear();
    s.wait(&ev, 30);
    EXPECT_TRUE(ev.empty());
    EXPECT_EQ(s.state(), dbg::State::Running);
    // Not running: nothing to wait for, returns at once.
    dbg::Process idle;
    idle.wait(&ev, 60000);
    EXPECT_TRUE(ev.empty());
}

// ---- registers and memory ---------------------------------------------------------------

TEST_F(Debugger, RegistersRunToAndStepOut)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    EXPECT_EQ(layout(p), "rax:8 rbx:8 rcx:8 rdx:8 rsi:8 rdi:8 rbp:8 rsp:8 r8:8 r9:8 r10:8 r11:8 r12:8 r13:8 r14:8 "
                         "r15:8 rip:8 eflags:4 cs:2 ss:2 ds:2 es:2 fs:2 gs:2 fs_base:8 gs_base:8 ");
    EXPECT_EQ(reg(p, "rip"), p.pc());
    EXPECT_EQ(reg(p, "rsp"), p.sp());
    EXPECT_EQ(reg(p, "eflags"), p.flags());

    // To the current address: one single step, which a breakpoint on the
    // next instruction does not disturb.
    p.set_bp(flow("call_site"));
    ASSERT_TRUE(stops(p.run_to(p.pc()), p, "step", flow("call_site")));
    p.clear_bps();
    ASSERT_TRUE(stops(p.run_to(flow("addone")), p, "step", flow("addone")));
    ASSERT_TRUE(p.set_reg("rax", 0x1122334455667788));
    EXPECT_EQ(reg(p, "eax"), 0x55667788u);
    uint64_t v;
    EXPECT_FALSE(p.set_reg("eax", 1) || p.set_reg("xmm0", 1) || p.reg("st0", &v));
    // The change reached the program: its next instruction adds one.
    ASSERT_TRUE(stops(p.step(), p, "step", flow("addone") + 4));
    EXPECT_EQ(reg(p, "rax"), 0x1122334455667789u);
    ASSERT_TRUE(stops(p.step_out(), p, "step", flow("after_call")));
    EXPECT_EQ(reg(p, "rax"), 0x112233445566778Au);
    // A target that is also a user breakpoint stops as a breakpoint.
    p.set_bp(flow("after_rep"));
    ASSERT_TRUE(stops(p.run_to(flow("after_rep")), p, "breakpoint", flow("after_rep")));

    // Registers are not readable while the program runs.
    ASSERT_TRUE(p.cont());
    EXPECT_FALSE(p.reg("rax", &v));
    EXPECT_EQ(p.pc(), 0u);
    next_stop(p);
}

// Step out from anywhere in a frame: at its first instruction the return
// address is on top of the stack; past a push it is not, and the program
// must still stop right behind the call, not run to a saved rbp.
TEST_F(Debugger, StepOutLeavesTheFrameWhereverItStarts)
{
    auto at = [](const char* name) { return sym("frames", name); };
    const struct {
        const char* from;
        const char* breakpoint; // or null
        const char* reason;
        const char* to;
    } cases[] = {
        { "square", nullptr, "step", "after_square" },
        { "after_push", nullptr, "step", "after_square" },
        { "in_multiply", nullptr, "step", "after_multiply" },
        { "after_push", "before_ret", "breakpoint", "before_ret" },
    };
    for (const auto& c : cases) {
        dbg::Process p;
        start_at_entry(p, exe("frames"));
        ASSERT_TRUE(stops(p.run_to(at(c.from)), p, "step", at(c.from)));
        if (c.breakpoint)
            p.set_bp(at(c.breakpoint));
        ASSERT_TRUE(stops(p.step_out(), p, c.reason, at(c.to))) << c.from;
        if (std::string(c.to) == "after_square") {
            EXPECT_EQ(reg(p, "rax"), 25u);
        }
        p.clear_bps();
        EXPECT_TRUE(exits(p.cont(), p, 25)) << c.from;
    }
}

TEST_F(Debugger, ThirtyTwoBitProgram)
{
    EXPECT_EQ(dbg::elf_bits(exe("flow32")), 32);
    EXPECT_EQ(dbg::elf_bits(exe("flow")), 64);
    EXPECT_EQ(dbg::elf_bits(exe("missing")), 64);
    dbg::Process p;
    std::string err;
    bool started = p.start(exe("flow32"), {}, "", true, &err);
    EXPECT_EQ(p.bits(), 32);
    EXPECT_EQ(layout(p), "eax:4 ebx:4 ecx:4 edx:4 esi:4 edi:4 ebp:4 esp:4 eip:4 eflags:4 cs:2 ss:2 ds:2 es:2 fs:2 gs:2 ");
    if (!started)
        GTEST_SKIP() << "32-bit programs cannot execute on this machine (" << err << ")";
    ASSERT_EQ(next_stop(p).text, "entry");
    // The header's entry is a 4-byte field here; a static program has no bias.
    EXPECT_EQ(p.load_bias(), 0u);
    ASSERT_TRUE(p.step());
    ASSERT_EQ(next_stop(p).text, "step");
    EXPECT_EQ(reg(p, "eax"), 0x12345678u);
    EXPECT_EQ(reg(p, "eip"), p.pc());
    // Values written into a 32-bit program are cut to 32 bits.
    ASSERT_TRUE(p.set_reg("eax", 0x100000005ull));
    EXPECT_EQ(reg(p, "eax"), 5u);
    EXPECT_TRUE(exits(p.cont(), p, 9));
}

TEST_F(Debugger, RegionsAndReadsAtTheirEdges)
{
    dbg::Process p;
    start_at_entry(p, exe("mapper"));
    ASSERT_TRUE(p.cont());
    ASSERT_EQ(next_stop(p).text, "trap");
    uint64_t page = reg(p, "r12");
    auto regions = p.regions();
    const dbg::Region *anon = nullptr, *code = nullptr, *stack = nullptr;
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

// ---- attaching --------------------------------------------------------------------------------

// Single steps keep the code page they read; whatever changes it must show
// at the next stop: the debugger's own write, a store after mprotect made
// the page writable, and a store into a page known to be writable.
TEST_F(Debugger, SteppedCodeIsNeverSeenStale)
{
    dbg::Process p;
    start_at_entry(p, exe("patcher"));
    std::map<uint64_t, uint8_t> seen; // immediate byte of each changed mov when it is reached
    const uint64_t poked = sym("patcher", "poked"), stored = sym("patcher", "stored"), late = sym("patcher", "late");
    for (int i = 0; i < 400 && p.state() == dbg::State::Stopped; ++i) {
        // Well inside the first loop the page is kept across steps: the
        // debugger changes it there.
        if (i == 60) {
            const uint8_t imm = 41;
            ASSERT_TRUE(p.write(poked + 1, &imm, 1));
        }
        if (p.pc() == poked || p.pc() == stored || p.pc() == late) {
            const auto& insn = p.insn_at_pc();
            ASSERT_EQ(insn.len, 5);
            seen[p.pc()] = insn.bytes[1];
            EXPECT_EQ(byte_at(p, p.pc() + 1), insn.bytes[1]);
        }
        if (!p.step())
            break;
        dbg::Event e = next_stop(p);
        if (e.kind == dbg::Event::Exited)
            break;
        ASSERT_EQ(e.text, "step");
    }
    EXPECT_EQ(seen, (std::map<uint64_t, uint8_t> { { poked, 41 }, { stored, 42 }, { late, 43 } }));
    p.kill();
}

TEST_F(Debugger, AttachStopsASleeperAndDetachLetsItRunOn)
{
    dbg::Process nobody;
    std::string path, err;
    EXPECT_FALSE(nobody.attach(999999999, &path, &err));
    EXPECT_EQ(err, strerror(ENOENT));
    EXPECT_EQ(nobody.state(), dbg::State::Idle);

    uint64_t counter = sym("sleeper", "counter"), round = sym("sleeper", "round"), never = sym("sleeper", "never");
    pid_t child = fork();
    if (child == 0) {
        execl(exe("sleeper").c_str(), "sleeper", static_cast<char*>(nullptr));
        _exit(127);
    }
    while (peek_u64(child, counter) < 2)
        usleep(1000);

    for (bool leave_running : { false, true }) {
        dbg::Process p;
        ASSERT_TRUE(p.attach(child, &path, &err)) << err;
        EXPECT_EQ(path, exe("sleeper"));
        EXPECT_TRUE(p.attached() && p.traced() && p.state() == dbg::State::Stopped);
        EXPECT_EQ(p.entry(), sym("sleeper", "_start"));
        p.set_bp(round);
        EXPECT_TRUE(stops(p.cont(), p, "breakpoint", round));
        if (leave_running) {
            // Detach while running with a breakpoint written in that is
            // never reached: it must be taken out on the way.
            p.clear_bps();
            p.set_bp(never);
            ASSERT_TRUE(p.cont());
            std::vector<dbg::Event> ev;
            for (int i = 0; i < 10; ++i, usleep(1000))
                p.poll(&ev);
            EXPECT_TRUE(ev.empty());
            EXPECT_EQ(p.state(), dbg::State::Running);
        }
        p.kill();
        EXPECT_EQ(p.state(), dbg::State::Exited);
        EXPECT_FALSE(p.attached());

        // Detached, unmarked and counting again.
        EXPECT_EQ(status_field(child, "TracerPid"), "0");
        EXPECT_NE(peek_u64(child, round) & 0xFF, 0xCCu);
        EXPECT_NE(peek_u64(child, never) & 0xFF, 0xCCu);
        uint64_t now = peek_u64(child, counter);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (peek_u64(child, counter) <= now + 2 && std::chrono::steady_clock::now() < until)
            usleep(1000);
        EXPECT_GT(peek_u64(child, counter), now + 2);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

// ---- watchpoints ----------------------------------------------------------------------------------

uint64_t peek_debugreg(int pid, int i)
{
    long off = long(offsetof(struct user, u_debugreg) + size_t(i) * sizeof(long));
    return uint64_t(ptrace(PTRACE_PEEKUSER, pid, reinterpret_cast<void*>(off), nullptr));
}

using W = dbg::Process::Watch;

TEST_F(Debugger, DebugControlComposition)
{
    EXPECT_EQ(dbg::debug_control({}), 0u);
    EXPECT_EQ(dbg::debug_control({ W { 0x1000, 1, false } }), 0x10001u);
    EXPECT_EQ(dbg::debug_control({ W { 0x1000, 4, true } }), 0xF0001u);
    // Slot 1, 8 bytes, writes: L1 = bit 2, R/W1 = 01 at 20, LEN1 = 10 at 22.
    EXPECT_EQ(dbg::debug_control({ W { 0, 1, false }, W { 0x1000, 8, false } }), 0x910005u);
    EXPECT_EQ(dbg::debug_control(std::vector<W>(4, W { 0, 2, true })), 0x77770055u);
    // An unknown length counts as four.
    EXPECT_EQ(dbg::debug_control({ W { 0, 3, false } }), 0xD0001u);
    EXPECT_EQ(dbg::watch_address(W { 0x1003, 4, false }), 0x1000u);
    EXPECT_EQ(dbg::watch_address(W { 0x100F, 8, false }), 0x1008u);
    EXPECT_EQ(dbg::watch_address(W { 0x1003, 1, false }), 0x1003u);

    dbg::Process p;
    p.set_watches(std::vector<W>(5, W { 5, 1, false }));
    EXPECT_EQ(p.watches().size(), 4u);
}

TEST_F(Debugger, WatchRegistersAreWrittenAtResumeAndAHitNamesTheLowestSlot)
{
    dbg::Process p;
    start_at_entry(p, exe("flow"));
    uint64_t value = flow("value"), other = flow("other");
    // The second list puts another length into the same slot, which must
    // replace the old one; the last clears everything.
    const std::vector<W> lists[] = {
        { W { value, 8, false }, W { other + 3, 4, true } },
        { W { value + 1, 1, true } },
        {},
    };
    for (const auto& w : lists) {
        p.set_watches(w);
        ASSERT_TRUE(p.step());
        EXPECT_EQ(next_stop(p).text, "step");
        for (size_t i = 0; i < w.size(); ++i)
            EXPECT_EQ(peek_debugreg(p.pid(), int(i)), i == 1 ? other : w[i].addr);
        EXPECT_EQ(peek_debugreg(p.pid(), 7), dbg::debug_control(w));
    }

    p.set_watches({ W { other, 8, false }, W { value, 8, false }, W { value + 4, 4, true } });
    ASSERT_TRUE(p.cont());
    dbg::Event e = next_stop(p);
    if (e.text == "trap" && p.pc() == flow("after_trap"))
        GTEST_SKIP() << "hardware watchpoints do not fire on this machine (the watched store ran unnoticed)";
    EXPECT_EQ(e.text, "watch:1");
    EXPECT_EQ(p.pc(), flow("trap_site"));
    EXPECT_TRUE(stops(p.cont(), p, "trap", flow("after_trap")));
}

} // namespace
